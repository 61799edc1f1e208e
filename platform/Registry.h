#pragma once

#include "platform/Win.h"

#include <QString>

// The per-user settings store: keys holding typed values with their exact bytes, as the current-user
// registry hive did. It lives in one file, $XDG_CONFIG_HOME/lmx207/registry (default ~/.config),
// mode 0600, as registry text a person can read and edit (the form is in RegistryText.h). Every
// call reads the file afresh; every write changes only its own value's line and replaces the file
// atomically, so a crash or a full disk never leaves a half-written store, and a person's comments
// and values the tool does not know stay.
//
// The file is read without waiting (a FIFO in its place never blocks) and without following a link
// that another account owns, that lies in a folder others can write to, or that leads to another
// account's file: such a store cannot be read, and every call fails (ERROR_ACCESS_DENIED). Only a
// regular file of at most 1 MiB is read. One that cannot be parsed, is larger or is not a regular
// file is looked at again after a short pause: if it changed meanwhile (size, time, inode) or is
// empty, it is being written: the call goes on with the last reading of this process (or the
// factory values, an empty store), keeps nothing aside, and does not write while it changes.
// Otherwise it is damaged: it reads as empty and is kept aside under a new name, never moved over
// anything nor through a link, and never silently overwritten.

struct HKEY {
    QString path; // empty: no key (a failed create or open); every call on it fails
    bool isValid() const { return !path.isEmpty(); }
};

// The store file's path.
QString RegStorePath();

// Creates the key when missing, else opens it. Fails (ERROR_ACCESS_DENIED) when a missing key cannot
// be written, or when the store cannot be read.
LONG RegCreateKeyEx(const QString& subKey, HKEY* result);
// Opens an existing key only (ERROR_FILE_NOT_FOUND when missing).
LONG RegOpenKeyEx(const QString& subKey, HKEY* result);
void RegCloseKey(HKEY* key);

// Copies the value's bytes into data when *cbData is large enough; else ERROR_MORE_DATA, data left
// untouched and *cbData set to the size needed. type and data may be null.
LONG RegQueryValueEx(const HKEY& key, const QString& name, DWORD* type, BYTE* data, DWORD* cbData);
// A key path or value name holding a control character cannot be stored (ERROR_INVALID_PARAMETER).
LONG RegSetValueEx(const HKEY& key, const QString& name, DWORD type, const BYTE* data, DWORD cbData);
LONG RegDeleteValue(const HKEY& key, const QString& name);
