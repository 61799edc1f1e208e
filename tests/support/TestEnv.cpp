#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TestEnv::TestEnv() {
    QDir().mkpath(configHome());
    QDir().mkpath(runtimeDir());
    QDir().mkpath(driveC());
    QDir().mkpath(dataHome());
    QFile::setPermissions(runtimeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
    qputenv("LMX207_DRIVE_C", driveC().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
}

QString TestEnv::WriteFile(const QString& name, const QByteArray& bytes) const {
    const QString path = QDir(root()).filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}
