#pragma once

#include "platform/Lang.h"

#include <QString>

// The logbook speaks the language the service program stores: Chinese exactly when the value
// "m_Language" under the service program's settings key can be read as at most 4 bytes, as the
// service program decides at its start. The store is only read, never created or written: the
// logbook keeps no setting of its own there.
bool StoredLanguageIsChinese();

// The same as a language.
inline Lang StoredLanguage() {
    return StoredLanguageIsChinese() ? Lang::Chinese : Lang::English;
}

// A text of the logbook's windows in the language chosen: `english` or `chinese` (UTF-8).
inline QString LbText(Lang lang, const char* english, const char* chinese) {
    return QString::fromUtf8(lang == Lang::Chinese ? chinese : english);
}

// Qt's own dialogs and standard buttons (the file chooser, the print dialog, message boxes) in the
// language of the logbook's window: Qt's Chinese translation is installed for Chinese (when the
// system has it), and dropped again for English.
void UseFrameworkLanguage(Lang lang);
