#include "platform/DriveC.h"

#include <QDir>

QString DriveCFolder() {
    QString folder = qEnvironmentVariable("LMX207_DRIVE_C");
    if (folder.isEmpty())
        folder = QDir::homePath();
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    return folder;
}

QString DriveCPath(const QString& name) {
    return DriveCFolder() + '/' + name;
}
