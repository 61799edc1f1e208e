#include "logbook/LogbookLanguage.h"

#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/SettingsKey.h"

bool StoredLanguageIsChinese() {
    HKEY key;
    if (RegOpenKeyEx(SETTINGS_KEY, &key) != ERROR_SUCCESS)
        return false;
    BYTE data[4] = {};
    DWORD cb = sizeof data;
    const bool chinese =
        RegQueryValueEx(key, QStringLiteral("m_Language"), nullptr, data, &cb) == ERROR_SUCCESS;
    RegCloseKey(&key);
    return chinese;
}

extern int g_bChinese; // the process-wide language flag the platform layer's dialogs follow

void UseFrameworkLanguage(Lang lang) {
    g_bChinese = lang == Lang::Chinese ? 1 : 0;
    SyncFrameworkTranslation();
}
