#include "platform/SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMostLinks = 8;

QString SystemText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QString FolderOf(const QString& path) {
    return QFileInfo(path).path();
}

// Writes all of `bytes`, through short writes and interruptions; false with errno set.
bool WriteAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

bool CloseChecked(int fd) {
    return ::close(fd) == 0 || errno == EINTR;
}

} // namespace

QString FollowOwnLinks(const QString& path, QString* reason) {
    QString current = path;
    for (int hops = 0;; ++hops) {
        struct stat link;
        if (::lstat(QFile::encodeName(current).constData(), &link) != 0 || !S_ISLNK(link.st_mode))
            return current;
        QString why;
        struct stat folder;
        const QString folderPath = FolderOf(current);
        if (hops == kMostLinks)
            why = SystemText(ELOOP) + ": " + path;
        else if (::stat(QFile::encodeName(folderPath).constData(), &folder) != 0)
            why = SystemText(errno) + ": " + folderPath;
        else if (link.st_uid != ::geteuid())
            why = QStringLiteral("%1 is a link another account owns: not followed").arg(current);
        else if (folder.st_uid != ::geteuid() || (folder.st_mode & (S_IWGRP | S_IWOTH)))
            why = QStringLiteral("%1 is a link in a folder other accounts can write to: not followed")
                      .arg(current);
        if (!why.isEmpty()) {
            if (reason)
                *reason = why;
            return {};
        }
        QByteArray buffer(4096, Qt::Uninitialized);
        const ssize_t n =
            ::readlink(QFile::encodeName(current).constData(), buffer.data(), size_t(buffer.size()));
        if (n < 0 || n == buffer.size()) {
            if (reason)
                *reason = SystemText(n < 0 ? errno : ENAMETOOLONG) + ": " + current;
            return {};
        }
        const QString next = QFile::decodeName(buffer.left(n));
        current = next.startsWith('/') ? next : folderPath + '/' + next;
    }
}

bool ReplaceFile(const QString& path, const QByteArray& content, int mode, InPlaceWrite inPlace,
                 QString* error) {
    const auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    QString reason;
    const QString target = FollowOwnLinks(path, &reason);
    if (target.isEmpty())
        return fail(reason);
    const QByteArray name = QFile::encodeName(target);
    struct stat old;
    const bool exists = ::lstat(name.constData(), &old) == 0;

    // The new file beside the old one, under a name nobody else holds (O_EXCL never follows a link).
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        // Six characters after a dot, always: the name's length does not depend on chance.
        temp = name + '.' +
               QByteArray::number(QRandomGenerator::global()->bounded(2176782336u) /* 36 to the 6th */, 36)
                   .rightJustified(6, '0');
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int err = errno;
        if ((err == EACCES || err == EPERM) && inPlace == InPlaceWrite::WhenFolderRefuses && exists &&
            S_ISREG(old.st_mode)) {
            fd = ::open(name.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                return fail(SystemText(errno));
            const bool written = WriteAll(fd, content);
            const int writeErr = errno;
            if (!CloseChecked(fd) && written)
                return fail(SystemText(errno));
            return written ? true : fail(SystemText(writeErr));
        }
        return fail(SystemText(err));
    }
    const mode_t keep = mode >= 0 ? mode_t(mode) : exists && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0;
    bool ok = (mode < 0 && !(exists && S_ISREG(old.st_mode))) || ::fchmod(fd, keep) == 0;
    ok = ok && WriteAll(fd, content) && ::fsync(fd) == 0;
    int err = errno;
    if (!CloseChecked(fd) && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.constData(), name.constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        return fail(SystemText(err));
    }
    return true;
}

bool MoveAside(const QString& path, const QString& aside, QString* movedTo) {
    const QByteArray from = QFile::encodeName(path);
    for (int n = 0; n < 100; ++n) {
        const QString name = n == 0 ? aside : aside + '-' + QString::number(n);
        const QByteArray to = QFile::encodeName(name);
        if (movedTo)
            *movedTo = name;
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system without the no-replace rename: a new name that fails if taken, then the
            // old name goes.
            if (::link(from.constData(), to.constData()) == 0)
                return ::unlink(from.constData()) == 0;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

FileReading ReadOwnFile(const QString& path, qint64 maxSize) {
    FileReading out;
    const bool isLink = QFileInfo(path).isSymLink();
    const QString target = FollowOwnLinks(path, nullptr);
    if (target.isEmpty()) {
        out.status = FileReading::Refused;
        return out;
    }
    const int fd =
        ::open(QFile::encodeName(target).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        out.status = errno == ENOENT ? FileReading::Missing : FileReading::Refused;
        return out;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        out.status = FileReading::Refused;
        return out;
    }
    out.device = st.st_dev;
    out.inode = st.st_ino;
    out.size = st.st_size;
    out.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    // Permission bits, not access(): the tool may run as root, which access() lets through.
    if ((isLink && st.st_uid != ::geteuid()) || !(st.st_mode & S_IRUSR))
        out.status = FileReading::Refused;
    else if (!S_ISREG(st.st_mode))
        out.status = FileReading::NotRegular;
    else if (st.st_size > maxSize)
        out.status = FileReading::TooLarge;
    else
        out.status = FileReading::Read;
    if (out.status == FileReading::Read) {
        // Read to the end, one byte past the limit at most: the file may grow meanwhile.
        char chunk[65536];
        while (out.bytes.size() <= maxSize) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            out.bytes.append(chunk, n);
        }
        if (out.bytes.size() > maxSize) {
            out.status = FileReading::TooLarge;
            out.bytes.clear();
        }
    }
    ::close(fd);
    return out;
}

bool MakeOwnFolder(const QString& path, QString* error) {
    const auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    QString reason;
    const QString folder = FollowOwnLinks(path, &reason);
    if (folder.isEmpty())
        return fail(reason);
    const QByteArray name = QFile::encodeName(folder);
    struct stat st;
    if (::stat(name.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? true : fail(SystemText(ENOTDIR) + ": " + folder);
    if (errno != ENOENT)
        return fail(SystemText(errno) + ": " + folder);
    const QString parent = FolderOf(folder);
    if (parent != folder && !MakeOwnFolder(parent, error))
        return false;
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return fail(SystemText(errno) + ": " + folder);
    return true;
}

int OpenOwnFile(const QString& path, int flags, QString* error) {
    const auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return -1;
    };
    QString reason;
    const QString target = FollowOwnLinks(path, &reason);
    if (target.isEmpty())
        return fail(reason);
    // O_NONBLOCK: a FIFO planted in the file's place is never waited on; it is refused below.
    const int fd =
        ::open(QFile::encodeName(target).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(SystemText(errno) + ": " + target);
    struct stat st;
    QString why;
    if (::fstat(fd, &st) != 0)
        why = SystemText(errno) + ": " + target;
    else if (!S_ISREG(st.st_mode))
        why = QStringLiteral("%1 is not a regular file: not used").arg(target);
    else if (st.st_uid != ::geteuid())
        why = QStringLiteral("%1 belongs to another account: not used").arg(target);
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        why = SystemText(errno) + ": " + target;
    if (why.isEmpty())
        return fd;
    ::close(fd);
    return fail(why);
}

bool AppendOwnFile(const QString& path, const QByteArray& bytes, bool sync, QString* error) {
    const int fd = OpenOwnFile(path, O_WRONLY | O_APPEND | O_CREAT, error);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, bytes) && (!sync || ::fdatasync(fd) == 0);
    int err = errno;
    if (!CloseChecked(fd) && ok) {
        ok = false;
        err = errno;
    }
    if (!ok && error)
        *error = SystemText(err) + ": " + path;
    return ok;
}
