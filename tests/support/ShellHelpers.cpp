#include "support/ShellHelpers.h"

#include "app/KelpApp.h"

MessageBoxRecorder::MessageBoxRecorder(int answerWith) : answer(answerWith) {
    SetMessageBoxHook([this](const MessageBoxCall& call) {
        calls.append(call);
        return answer;
    });
}

MessageBoxRecorder::~MessageBoxRecorder() {
    SetMessageBoxHook(nullptr);
}

StoredValue ReadSetting(const QString& name, const QString& key) {
    StoredValue v;
    HKEY k;
    if (RegOpenKeyEx(key.isEmpty() ? SETTINGS_KEY : key, &k) != ERROR_SUCCESS)
        return v;
    DWORD cb = 0;
    if (RegQueryValueEx(k, name, &v.type, nullptr, &cb) == ERROR_SUCCESS) {
        v.data.resize(int(cb));
        RegQueryValueEx(k, name, &v.type, reinterpret_cast<BYTE*>(v.data.data()), &cb);
        v.present = true;
    }
    RegCloseKey(&k);
    return v;
}

void WriteSetting(const QString& name, DWORD type, const QByteArray& data, const QString& key) {
    HKEY k;
    if (RegCreateKeyEx(key.isEmpty() ? SETTINGS_KEY : key, &k) != ERROR_SUCCESS)
        return;
    RegSetValueEx(k, name, type, reinterpret_cast<const BYTE*>(data.constData()), DWORD(data.size()));
    RegCloseKey(&k);
}
