#pragma once

#include <QString>

// The folder that stands in for drive C, where the record files are written: LMX207_DRIVE_C when
// set and not empty, else the user's home folder. No trailing slash.
QString DriveCFolder();

// The full path of a file named `name` on drive C (UTF-8 file names).
QString DriveCPath(const QString& name);
