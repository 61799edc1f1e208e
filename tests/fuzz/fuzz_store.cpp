// Arbitrary bytes as the settings store file: start-up and the password read never crash, and a
// file that does not parse is kept aside, never overwritten.

#include "access/Password.h"
#include "app/KelpApp.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
QTemporaryDir* g_dir = nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!g_dir) {
        g_dir = new QTemporaryDir;
        qputenv("XDG_CONFIG_HOME", g_dir->path().toLocal8Bit());
    }
    const QString path = RegStorePath();
    QDir(QFileInfo(path).path()).removeRecursively();
    QDir().mkpath(QFileInfo(path).path());
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            std::abort();
        f.write(bytes);
    }
    (void)ReadLanguageFlag();
    const QByteArray password = ReadStoredPassword();
    if (password.size() > 15)
        std::abort();
    AfxGetApp().InitSettings();
    // Whatever the file held is either still the store or kept aside byte for byte.
    const QStringList aside = QDir(QFileInfo(path).path()).entryList({"registry.damaged-*"});
    if (!aside.isEmpty()) {
        QFile kept(QFileInfo(path).path() + '/' + aside.first());
        if (!kept.open(QIODevice::ReadOnly) || kept.readAll() != bytes)
            std::abort();
    }
    return 0;
}
