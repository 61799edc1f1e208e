#include "support/TestEnv.h"

#include <QDir>

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
