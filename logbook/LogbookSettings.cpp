#include "logbook/LogbookSettings.h"

#include "archive/ServerArchive.h"
#include "platform/Registry.h"

QString LogbookSettingsKey() {
    return QStringLiteral("SOFTWARE\\LMX207\\Logbook");
}

std::optional<QByteArray> ReadLogbookValue(const QString& name) {
    HKEY key;
    if (RegOpenKeyEx(LogbookSettingsKey(), &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD cb = 0;
    std::optional<QByteArray> value;
    if (RegQueryValueEx(key, name, nullptr, nullptr, &cb) == ERROR_SUCCESS) {
        QByteArray bytes(int(cb) + 1, '\0');
        if (RegQueryValueEx(key, name, nullptr, reinterpret_cast<BYTE*>(bytes.data()), &cb) == ERROR_SUCCESS)
            value = bytes.left(int(cb));
    }
    RegCloseKey(&key);
    return value;
}

bool WriteLogbookValue(const QString& name, const QByteArray& bytes) {
    HKEY key;
    if (RegCreateKeyEx(LogbookSettingsKey(), &key) != ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueEx(key, name, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.constData()),
                                  DWORD(bytes.size())) == ERROR_SUCCESS;
    RegCloseKey(&key);
    return ok;
}

QString ReadLogbookText(const QString& name) {
    QByteArray bytes = ReadLogbookValue(name).value_or(QByteArray());
    if (bytes.endsWith('\0'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

bool WriteLogbookText(const QString& name, const QString& text) {
    // A string value (REG_SZ, UTF-8 with its terminating NUL): the settings file shows it as text
    // a person can read and edit.
    HKEY key;
    if (RegCreateKeyEx(LogbookSettingsKey(), &key) != ERROR_SUCCESS)
        return false;
    const QByteArray bytes = text.toUtf8() + '\0';
    const bool ok = RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const BYTE*>(bytes.constData()),
                                  DWORD(bytes.size())) == ERROR_SUCCESS;
    RegCloseKey(&key);
    return ok;
}

QStringList RecentArchives() {
    QStringList list =
        ReadLogbookText(QStringLiteral("RecentArchives")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (list.size() > kRecentArchives)
        list.resize(kRecentArchives);
    return list;
}

void AddRecentArchive(const QString& location) {
    const QString kept = IsServerLocation(location)
                             ? ServerLocation(ConninfoWithoutPassword(ConninfoOfLocation(location)))
                             : location;
    QStringList list = RecentArchives();
    list.removeAll(kept);
    list.prepend(kept);
    if (list.size() > kRecentArchives)
        list.resize(kRecentArchives);
    WriteLogbookText(QStringLiteral("RecentArchives"), list.join(QLatin1Char('\n')));
}
