#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points XDG_CONFIG_HOME, XDG_RUNTIME_DIR, XDG_DATA_HOME and LMX207_DRIVE_C at folders of a fresh
// temporary directory, so a suite never reads or writes the user's own settings, lock, record
// files or logbook archive.
// Create one in initTestCase() (or per test for a fresh store) before anything touches them.
class TestEnv {
public:
    TestEnv();
    QString root() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + "/config"; }
    QString runtimeDir() const { return m_dir.path() + "/runtime"; }
    QString driveC() const { return m_dir.path() + "/c"; }
    QString dataHome() const { return m_dir.path() + "/data"; }
    // Writes `bytes` to the file `name` (below root() unless absolute), making its folders: its
    // path, or empty when it cannot be written.
    QString WriteFile(const QString& name, const QByteArray& bytes) const;

private:
    QTemporaryDir m_dir;
};
