#include "platform/Registry.h"

#include "platform/RegistryText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstring>

namespace {

struct Loaded {
    bool readable = true;
    RegFile file;
};

QString configFolder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.config";
    return base + "/lmx207";
}

void keepAside(const QString& path) {
    const QString aside = path + ".damaged-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz");
    QFile::rename(path, aside);
}

Loaded load() {
    Loaded out;
    const QString path = RegStorePath();
    QFile file(path);
    if (!file.exists())
        return out;
    // Permission bits, not access(): the tool may run as root, which access() lets through.
    if (!(file.permissions() & QFileDevice::ReadOwner) || !file.open(QIODevice::ReadOnly)) {
        out.readable = false;
        return out;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (!ParseRegFile(bytes, &out.file))
        keepAside(path);
    return out;
}

bool save(const Loaded& store) {
    const QByteArray bytes = SerialiseRegFile(store.file);
    if (!QDir().mkpath(configFolder()))
        return false;
    const QFileInfo existing(RegStorePath());
    if (existing.exists() && !(existing.permissions() & QFileDevice::WriteOwner))
        return false; // a store made read-only by its owner stays as it is
    QSaveFile file(RegStorePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
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
