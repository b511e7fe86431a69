#include "SerialLockFile.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where other programs look, in the order a lock is written. On most systems
// /var/lock is a link to /run/lock: the second look then finds the same file.
// STATION_LOCK_DIR, read once, replaces both (the test suite points it at a
// folder of its own, so that it never meets the station in use beside it).
const QStringList& lockDirectories()
{
    static const QStringList directories = [] {
        const QString chosen = QFile::decodeName(qgetenv("STATION_LOCK_DIR"));
        if (!chosen.isEmpty())
            return QStringList{chosen};
        return QStringList{QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
    }();
    return directories;
}

// A lock holds ten digits and a newline; some programs add a word or two.
constexpr qint64 largestLock = 128;

bool isAlive(qint64 pid)
{
    if (pid <= 0 || pid > qint64(INT32_MAX))
        return false;
    // EPERM: the process exists but belongs to somebody else.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

void trace(const char* function, const QByteArray& path, int error)
{
    qDebug("SerialLockFile: %s(%s) failed, errno %d %s", function, path.constData(), error,
           std::strerror(error));
}

int closeRetry(int fd)
{
    // Linux releases the descriptor even when close() reports EINTR: never again.
    const int result = ::close(fd);
    return result == -1 && errno == EINTR ? 0 : result;
}

// What stands at a lock path. The directory is writable by every user, so the
// entry is read without following a link and without blocking (a FIFO would
// hold the open forever), and trusted only as a regular file of a lock's size.
struct Entry
{
    enum Kind { Absent, Lock, Other } kind = Absent;
    qint64 pid = 0; // the process a Lock names, 0 when it names none
};

Entry inspect(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1) {
        if (errno == ENOENT)
            return {Entry::Absent, 0};
        trace("open", encoded, errno); // a link (ELOOP), or unreadable
        return {Entry::Other, 0};
    }
    struct stat status;
    char content[largestLock];
    ssize_t size = -1;
    if (::fstat(fd, &status) != 0) {
        trace("fstat", encoded, errno);
    } else if (S_ISREG(status.st_mode) && status.st_size <= largestLock) {
        do {
            size = ::read(fd, content, sizeof content);
        } while (size == -1 && errno == EINTR);
        if (size == -1)
            trace("read", encoded, errno);
    }
    if (closeRetry(fd) != 0)
        trace("close", encoded, errno);
    if (size < 0)
        return {Entry::Other, 0};

    const QByteArray bytes(content, int(size));
    const QByteArray text = bytes.trimmed();
    bool isNumber = !text.isEmpty();
    for (const char c : text)
        isNumber = isNumber && c >= '0' && c <= '9';
    if (isNumber)
        return {Entry::Lock, text.toLongLong()};
    if (bytes.size() == int(sizeof(int))) {
        int value = 0;
        std::memcpy(&value, bytes.constData(), sizeof value);
        return {Entry::Lock, value};
    }
    return {Entry::Lock, 0};
}

// Removes a stale lock or whatever else took its name: an empty directory
// goes too. False when the entry stays.
bool removeEntry(const QByteArray& path)
{
    if (::unlink(path.constData()) == 0 || errno == ENOENT)
        return true;
    if (errno == EISDIR && (::rmdir(path.constData()) == 0 || errno == ENOENT))
        return true;
    trace("unlink", path, errno);
    return false;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// A new file of an unpredictable name in `dir`, created exclusively (nothing
// planted can stand in for it), holding `content`, readable by every user as
// locks are. Its path, or empty on failure.
QByteArray writeTemporary(const QString& dir, const QByteArray& content)
{
    QByteArray path = QFile::encodeName(dir) + "/LTMP.XXXXXX";
    int fd;
    do {
        fd = ::mkostemp(path.data(), O_CLOEXEC);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1) {
        trace("mkostemp", path, errno);
        return QByteArray();
    }
    bool written = ::fchmod(fd, 0644) == 0;
    if (!written)
        trace("fchmod", path, errno);
    written = written && writeAll(fd, content);
    if (closeRetry(fd) != 0) {
        trace("close", path, errno);
        written = false;
    }
    if (!written) {
        ::unlink(path.constData());
        return QByteArray();
    }
    return path;
}

} // namespace

SerialLockFile::SerialLockFile(const QString& devicePath) : names(lockNames(devicePath)) {}

SerialLockFile::~SerialLockFile()
{
    release();
}

QStringList SerialLockFile::lockNames(const QString& devicePath)
{
    if (devicePath.isEmpty())
        return QStringList();
    const QString path = QFileInfo(devicePath).canonicalFilePath();
    if (path.isEmpty())
        return QStringList();
    const QString last = QStringLiteral("LCK..") + QFileInfo(path).fileName();
    if (!path.startsWith(QLatin1String("/dev/")))
        return QStringList{last};
    QString belowDev = path.mid(5);
    belowDev.replace(QLatin1Char('/'), QLatin1Char('_'));
    belowDev.prepend(QStringLiteral("LCK.."));
    return belowDev == last ? QStringList{last} : QStringList{belowDev, last};
}

QString SerialLockFile::lockName(const QString& devicePath)
{
    const QStringList found = lockNames(devicePath);
    return found.isEmpty() ? QString() : found.first();
}

qint64 SerialLockFile::holder() const
{
    for (const QString& dir : lockDirectories()) {
        for (const QString& name : names) {
            const QString path = dir + QLatin1Char('/') + name;
            if (ownedPaths.contains(path))
                continue;
            const Entry entry = inspect(path);
            if (entry.kind == Entry::Lock && isAlive(entry.pid))
                return entry.pid;
        }
    }
    return 0;
}

bool SerialLockFile::acquire()
{
    release();
    if (names.isEmpty())
        return true;
    const qint64 pid = holder();
    if (pid != 0) {
        qDebug() << "SerialLockFile:" << names << "is held by process" << pid;
        return false;
    }

    QString dir;
    for (const QString& candidate : lockDirectories()) {
        if (QFileInfo(candidate).isDir()) {
            dir = candidate;
            break;
        }
    }
    if (dir.isEmpty())
        return true;

    // The lock appears whole or not at all: written under a new name of its
    // own, then linked to each of its real names, which fails if anything
    // (another program's lock, or whatever was planted there) already has that
    // name. Both names are written where they differ: programs of either
    // convention then see the port held.
    const QByteArray temporary =
        writeTemporary(dir, QStringLiteral("%1\n").arg(qint64(::getpid()), 10).toLatin1());
    if (temporary.isEmpty()) {
        qDebug("SerialLockFile: cannot write a lock in %s; the port goes without one",
               qPrintable(dir));
        return true;
    }
    bool result = true;
    for (const QString& name : names) {
        result = linkLock(temporary, dir + QLatin1Char('/') + name);
        if (!result)
            break;
    }
    if (::unlink(temporary.constData()) != 0)
        trace("unlink", temporary, errno);
    if (!result)
        release();
    return result;
}

// Links the written lock `temporary` to `path`. False when a live process holds
// that name; true too when the name cannot be had (the port goes without it).
bool SerialLockFile::linkLock(const QByteArray& temporary, const QString& path)
{
    const QByteArray target = QFile::encodeName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::link(temporary.constData(), target.constData()) == 0) {
            ownedPaths << path;
            return true;
        }
        if (errno != EEXIST) {
            trace("link", target, errno);
            qDebug("SerialLockFile: the port goes without a lock");
            return true;
        }
        const Entry other = inspect(path);
        if (other.kind == Entry::Lock && isAlive(other.pid)) {
            qDebug() << "SerialLockFile:" << path << "is held by process" << other.pid;
            return false;
        }
        // Stale (its process is gone), or no lock at all: it gives way, or the
        // port goes without a lock of ours.
        if (!removeEntry(target)) {
            qDebug("SerialLockFile: %s stays; the port goes without a lock", target.constData());
            return true;
        }
    }
    return true;
}

void SerialLockFile::release()
{
    // Only a lock that still names this process is removed.
    for (const QString& path : qAsConst(ownedPaths)) {
        const Entry entry = inspect(path);
        if (entry.kind == Entry::Lock && entry.pid == qint64(::getpid()))
            removeEntry(QFile::encodeName(path));
    }
    ownedPaths.clear();
}
