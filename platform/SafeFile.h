#pragma once

#include <QByteArray>
#include <QString>

// Files the tool writes and reads in folders other accounts may share (drive C may be any folder,
// a shared one included): links are followed only where no other account can have planted them,
// and a file is replaced whole or not at all.

// Where `path` leads when its links are followed as far as the tool follows them: a link is
// followed only when this account owns it and the folder that holds it is one no other account
// can write to (this account's own, without group or world write permission). Returns the path of
// the first thing that is not a link (it may not exist yet). On a link it does not follow, or a
// chain of more than 8 links, returns an empty string and sets *reason (when given) to why.
QString FollowOwnLinks(const QString& path, QString* reason);

// Whether a refused new file in the folder lets the file be written in place.
enum class InPlaceWrite {
    Never,
    // When the folder refuses new files (no permission), an existing, writable regular file is
    // truncated and written in place instead; a failure there may leave it half-written.
    WhenFolderRefuses,
};

// Replaces the file at `path` (its links followed as FollowOwnLinks does) with `content`: written
// to a new file in the same folder that takes the old one's place only when complete, so a
// failure never leaves a half-written file and never touches the old one. The new file gets
// `mode` (as chmod takes it) when mode >= 0, else the old file's permissions, else 0666 less the
// umask. Only a folder that refuses new files for want of permission leads to the in-place write
// `inPlace` allows; a full disk, a quota or any other failure does not. Returns false and sets
// *error (when given) to the system's error text, or the reason a link was not followed.
bool ReplaceFile(const QString& path, const QByteArray& content, int mode, InPlaceWrite inPlace,
                 QString* error);

// Moves the file (or link) at `path` to the first free name of `aside`, `aside`-1, `aside`-2, ...:
// never over anything that is there already, never through a link. False when it cannot; the
// name taken in *movedTo (when given).
bool MoveAside(const QString& path, const QString& aside, QString* movedTo = nullptr);

// Creates the folder at `path` and any missing folder above it, each new one with mode 0700 from
// its creation. The folder itself may be a link only as FollowOwnLinks follows one. False with
// *error (when given) set to the system's reason, or why a link was not followed.
bool MakeOwnFolder(const QString& path, QString* error);

// Opens the file at `path` (its links followed as FollowOwnLinks does) for the tool's own data:
// `flags` as open(2) takes them (O_CREAT creates it with mode 0600 from the start, whatever the
// umask; O_EXCL never opens a file that is there already); never a link at the last step, never
// a FIFO or a device, and never a file another account owns. Returns the descriptor (close-on-
// exec), or -1 with *error (when given) set to the system's reason or the refusal.
int OpenOwnFile(const QString& path, int flags, QString* error);

// Appends `bytes` to the file at `path` (opened as OpenOwnFile does, created 0600 when absent),
// each call one write of the whole, synced to the disk when `sync` before it returns. False with
// *error set to the system's reason.
bool AppendOwnFile(const QString& path, const QByteArray& bytes, bool sync, QString* error);

// One reading of a small file the tool keeps its own data in.
struct FileReading {
    enum Status {
        Missing,    // nothing there
        Refused,    // a link not followed, a link into another account's file, no read permission
        NotRegular, // a FIFO, a device, a folder...: never read
        TooLarge,   // more than the limit: not read
        Read,       // bytes holds the whole file
    };
    Status status = Missing;
    QByteArray bytes;
    // What tells one version of the file from another: device, inode, size, modification time.
    quint64 device = 0, inode = 0;
    qint64 size = 0, mtimeNs = 0;
    bool sameFileAs(const FileReading& other) const {
        return status == other.status && device == other.device && inode == other.inode &&
               size == other.size && mtimeNs == other.mtimeNs;
    }
};

// Reads the file at `path` without blocking (a FIFO or a device in its place is never waited on)
// and without following a link that FollowOwnLinks refuses or that leads to another account's
// file. Only a regular file of at most `maxSize` bytes is read.
FileReading ReadOwnFile(const QString& path, qint64 maxSize);
