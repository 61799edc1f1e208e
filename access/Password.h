#pragma once

#include <QByteArray>
#include <QString>

class QLineEdit;

// The stored login password: the value "Password" of the settings key, read into a 16-byte buffer
// with a byte count of 15 (the key opened, not created). When the value cannot be read (no key,
// no value, more than 15 bytes) or is empty, `readOk` becomes false and the factory password
// stands in: it is what start-up stores whenever the value is missing or empty, and an empty or
// undefined buffer must never let an empty entry through.
QByteArray ReadStoredPassword(bool* readOk = nullptr);

// A typed password as the bytes compared with the stored ones (zero-terminated: up to the first
// zero byte).
QByteArray PasswordBytes(const QString& typed);

// Password edits take printable ASCII only, so that the 9 characters they allow always fit the
// 15 bytes the store is read with.
void RestrictPasswordEdit(QLineEdit* edit);
