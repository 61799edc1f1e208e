#include "access/Password.h"

#include "app/KelpApp.h"
#include "platform/Registry.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>

QByteArray ReadStoredPassword(bool* readOk) {
    char buffer[16] = {};
    DWORD cb = 15;
    HKEY key;
    bool ok = false;
    if (RegOpenKeyEx(SETTINGS_KEY, &key) == ERROR_SUCCESS) {
        ok = RegQueryValueEx(key, QStringLiteral("Password"), nullptr, reinterpret_cast<BYTE*>(buffer),
                             &cb) == ERROR_SUCCESS;
        RegCloseKey(&key);
    }
    ok = ok && buffer[0] != '\0'; // an empty password is no password: it must never let anyone in
    if (readOk)
        *readOk = ok;
    if (!ok)
        return FACTORY_PASSWORD.toLatin1();
    buffer[15] = '\0';
    return QByteArray(buffer); // up to the first zero byte
}

QByteArray PasswordBytes(const QString& typed) {
    const QByteArray bytes = typed.toUtf8();
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

void RestrictPasswordEdit(QLineEdit* edit) {
    if (!edit)
        return;
    static const QRegularExpression printable(QStringLiteral("[\\x20-\\x7E]*"));
    edit->setValidator(new QRegularExpressionValidator(printable, edit));
}
