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
    return QString::fromUtf8(ReadLogbookValue(name).value_or(QByteArray()));
}

bool WriteLogbookText(const QString& name, const QString& text) {
    return WriteLogbookValue(name, text.toUtf8());
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
