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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In memory where the machine has /dev/shm: every store write ends in a sync to disk. Removed
    // at exit.
    static const QTemporaryDir dir([] {
        const QString base =
            QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        const QString pattern = base + QStringLiteral("/lmx207-fuzz-XXXXXX");
        return pattern;
    }());
    static const bool pointed = qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    (void)pointed;
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
