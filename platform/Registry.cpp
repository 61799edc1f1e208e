#include "platform/Registry.h"

#include "platform/RegistryText.h"
#include "platform/SafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstring>

namespace {

// A settings file larger than this is damaged: a person's edits never come near it.
constexpr qint64 kMostStoreBytes = 1 << 20;
// How long to wait before a second look at a file that did not read.
constexpr unsigned long kSecondLookMs = 75;

struct Loaded {
    bool readable = true;
    bool writable = true; // false while the file is being written by someone else
    RegFile file;
};

QString configFolder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.config";
    return base + "/lmx207";
}

// The last store file of this process that read, by its path.
struct LastGood {
    QString path;
    RegFile file;
};
LastGood& lastGood() {
    static LastGood last;
    return last;
}

bool parsed(const FileReading& reading, RegFile* file) {
    return reading.status == FileReading::Read && !reading.bytes.isEmpty() &&
           ParseRegFile(reading.bytes, file);
}

Loaded load() {
    Loaded out;
    const QString path = RegStorePath();
    const FileReading first = ReadOwnFile(path, kMostStoreBytes);
    if (first.status == FileReading::Missing)
        return out;
    if (first.status == FileReading::Refused) {
        out.readable = false;
        return out;
    }
    RegFile file;
    if (!parsed(first, &file)) {
        // Empty, unreadable, too large or not a file at all. An editor that truncates and then
        // writes leaves such a file for a moment: a second look after a pause tells a file being
        // written from a damaged one.
        QThread::msleep(kSecondLookMs);
        const FileReading second = ReadOwnFile(path, kMostStoreBytes);
        if (second.status == FileReading::Refused) {
            out.readable = false;
            return out;
        }
        if (!parsed(second, &file)) {
            const bool changed = !second.sameFileAs(first);
            if (changed || (second.status == FileReading::Read && second.bytes.isEmpty())) {
                // Being written: this call goes on with what the file last said, or the factory
                // values, and keeps nothing aside; it writes nothing over a file that is changing.
                if (lastGood().path == path)
                    out.file = lastGood().file;
                out.writable = !changed;
                return out;
            }
            MoveAside(path, path + ".damaged-" +
                                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
            return out;
        }
    }
    lastGood() = LastGood{path, file};
    out.file = file;
    return out;
}

bool save(const Loaded& store) {
    if (!store.writable)
        return false;
    const QByteArray bytes = SerialiseRegFile(store.file);
    // The store holds the login password's record: its folder is the user's alone, made 0700.
    if (!MakeOwnFolder(configFolder(), nullptr))
        return false;
    const QFileInfo existing(RegStorePath());
    if (existing.exists() && !(existing.permissions() & QFileDevice::WriteOwner))
        return false; // a store made read-only by its owner stays as it is
    if (!ReplaceFile(RegStorePath(), bytes, 0600, InPlaceWrite::Never, nullptr))
        return false;
    lastGood() = LastGood{RegStorePath(), store.file};
    return true;
}

} // namespace

QString RegStorePath() {
    return configFolder() + "/registry";
}

LONG RegCreateKeyEx(const QString& subKey, HKEY* result) {
    result->path.clear();
    if (subKey.isEmpty())
        return ERROR_INVALID_HANDLE;
    if (!IsRegName(subKey))
        return ERROR_INVALID_PARAMETER;
    Loaded store = load();
    if (!store.readable)
        return ERROR_ACCESS_DENIED;
    if (!HasRegKey(store.file, subKey)) {
        AddRegKey(&store.file, subKey);
        if (!save(store))
            return ERROR_ACCESS_DENIED;
    }
    result->path = subKey;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(const QString& subKey, HKEY* result) {
    result->path.clear();
    const Loaded store = load();
    if (!store.readable)
        return ERROR_ACCESS_DENIED;
    if (subKey.isEmpty() || !HasRegKey(store.file, subKey))
        return ERROR_FILE_NOT_FOUND;
    result->path = subKey;
    return ERROR_SUCCESS;
}

void RegCloseKey(HKEY* key) {
    key->path.clear();
}

LONG RegQueryValueEx(const HKEY& key, const QString& name, DWORD* type, BYTE* data, DWORD* cbData) {
    if (!key.isValid())
        return ERROR_INVALID_HANDLE;
    const Loaded store = load();
    if (!store.readable)
        return ERROR_ACCESS_DENIED;
    const std::optional<RegValue> v = FindRegValue(store.file, key.path, name);
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    const DWORD size = DWORD(v->data.size());
    if (type)
        *type = v->type;
    if (data) {
        if (!cbData || *cbData < size) {
            if (cbData)
                *cbData = size;
            return ERROR_MORE_DATA;
        }
        if (size)
            std::memcpy(data, v->data.constData(), size);
    }
    if (cbData)
        *cbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueEx(const HKEY& key, const QString& name, DWORD type, const BYTE* data, DWORD cbData) {
    if (!key.isValid())
        return ERROR_INVALID_HANDLE;
    if (!IsRegName(name))
        return ERROR_INVALID_PARAMETER;
    Loaded store = load();
    if (!store.readable)
        return ERROR_ACCESS_DENIED;
    SetRegValue(
        &store.file, key.path, name,
        RegValue{type, QByteArray(reinterpret_cast<const char*>(data), data ? qsizetype(cbData) : 0)});
    return save(store) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegDeleteValue(const HKEY& key, const QString& name) {
    if (!key.isValid())
        return ERROR_INVALID_HANDLE;
    Loaded store = load();
    if (!store.readable)
        return ERROR_ACCESS_DENIED;
    if (!DeleteRegValue(&store.file, key.path, name))
        return ERROR_FILE_NOT_FOUND;
    return save(store) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}
