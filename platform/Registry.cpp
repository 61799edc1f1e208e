#include "platform/Registry.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstring>

namespace {

// File format, one record a line, names and data in hex so that any bytes survive:
//   LMX207-STORE 1
//   K <hex key path>
//   V <type> <hex value name> <hex data>      (belongs to the last K line)
const char kMagic[] = "LMX207-STORE 1";

struct Value {
    DWORD type = REG_NONE;
    QByteArray data;
};
using Key = QMap<QString, Value>; // by value name, case-insensitive (names folded to upper case)
using Store = QMap<QString, Key>; // by key path, case-insensitive

QString fold(const QString& s) {
    return s.toUpper();
}

// Value names keep their spelling for the file; the map key is the folded name.
struct Loaded {
    bool readable = true;
    Store keys;
    QMap<QString, QString> keyNames;                  // folded -> spelling
    QMap<QString, QMap<QString, QString>> valueNames; // folded key -> folded value -> spelling
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

bool parse(const QByteArray& bytes, Loaded& out) {
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.isEmpty() || lines.first() != kMagic)
        return false;
    QString current;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split(' ');
        if (f[0] == "K" && f.size() == 2) {
            const QByteArray raw = QByteArray::fromHex(f[1]);
            if (raw.isEmpty() || raw.toHex() != f[1].toLower())
                return false;
            const QString name = QString::fromUtf8(raw);
            current = fold(name);
            out.keys[current];
            out.keyNames[current] = name;
        } else if (f[0] == "V" && (f.size() == 4 || f.size() == 3) && !current.isEmpty()) {
            bool ok = false;
            const DWORD type = f[1].toUInt(&ok);
            const QByteArray rawName = QByteArray::fromHex(f[2]);
            const QByteArray hexData = f.size() == 4 ? f[3] : QByteArray();
            const QByteArray data = QByteArray::fromHex(hexData);
            if (!ok || rawName.toHex() != f[2].toLower() || data.toHex() != hexData.toLower())
                return false;
            const QString name = QString::fromUtf8(rawName);
            out.keys[current][fold(name)] = Value{type, data};
            out.valueNames[current][fold(name)] = name;
        } else {
            return false;
        }
    }
    return true;
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
    if (!parse(bytes, out)) {
        out = Loaded();
        keepAside(path);
    }
    return out;
}

bool save(const Loaded& store) {
    QByteArray bytes = kMagic;
    bytes += '\n';
    for (auto k = store.keys.cbegin(); k != store.keys.cend(); ++k) {
        bytes += "K " + store.keyNames.value(k.key(), k.key()).toUtf8().toHex() + '\n';
        const auto& names = store.valueNames.value(k.key());
        for (auto v = k.value().cbegin(); v != k.value().cend(); ++v) {
            bytes += "V " + QByteArray::number(v.value().type) + ' ' +
                     names.value(v.key(), v.key()).toUtf8().toHex() + ' ' + v.value().data.toHex() + '\n';
        }
    }
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
    Loaded store = load();
    if (!store.readable)
        return ERROR_ACCESS_DENIED;
    const QString k = fold(subKey);
    if (!store.keys.contains(k)) {
        store.keys[k];
        store.keyNames[k] = subKey;
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
    if (subKey.isEmpty() || !store.keys.contains(fold(subKey)))
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
    const auto k = store.keys.constFind(fold(key.path));
    if (k == store.keys.cend())
        return ERROR_FILE_NOT_FOUND;
    const auto v = k->constFind(fold(name));
    if (v == k->cend())
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
    Loaded store = load();
    if (!store.readable)
        return ERROR_ACCESS_DENIED;
    const QString k = fold(key.path);
    if (!store.keys.contains(k))
        store.keyNames[k] = key.path;
    store.keys[k][fold(name)] =
        Value{type, QByteArray(reinterpret_cast<const char*>(data), data ? int(cbData) : 0)};
    store.valueNames[k][fold(name)] = name;
    return save(store) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegDeleteValue(const HKEY& key, const QString& name) {
    if (!key.isValid())
        return ERROR_INVALID_HANDLE;
    Loaded store = load();
    if (!store.readable)
        return ERROR_ACCESS_DENIED;
    const QString k = fold(key.path);
    if (!store.keys.contains(k) || !store.keys[k].contains(fold(name)))
        return ERROR_FILE_NOT_FOUND;
    store.keys[k].remove(fold(name));
    store.valueNames[k].remove(fold(name));
    return save(store) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}
