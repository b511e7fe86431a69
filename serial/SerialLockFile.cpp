#include "SerialLockFile.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Where other programs look, in the order a lock is written. On most systems
// /var/lock is a link to /run/lock: the second look then finds the same file.
const char* const lockDirectories[] = {"/run/lock", "/var/lock"};

bool isAlive(qint64 pid)
{
    if (pid <= 0 || pid > qint64(INT32_MAX))
        return false;
    // EPERM: the process exists but belongs to somebody else.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// The process a lock file names, 0 when it names none or cannot be read.
qint64 pidIn(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray content = file.read(64);
    const QByteArray text = content.trimmed();
    bool isNumber = !text.isEmpty();
    for (const char c : text)
        isNumber = isNumber && c >= '0' && c <= '9';
    if (isNumber)
        return text.toLongLong();
    if (content.size() == int(sizeof(int))) {
        int value = 0;
        std::memcpy(&value, content.constData(), sizeof value);
        return value;
    }
    return 0;
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

} // namespace

SerialLockFile::SerialLockFile(const QString& devicePath) : name(lockName(devicePath)) {}

SerialLockFile::~SerialLockFile()
{
    release();
}

QString SerialLockFile::lockName(const QString& devicePath)
{
    if (devicePath.isEmpty())
        return QString();
    QString path = QFileInfo(devicePath).canonicalFilePath();
    if (path.isEmpty())
        return QString();
    path = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : QFileInfo(path).fileName();
    path.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + path;
}

qint64 SerialLockFile::holder() const
{
    if (name.isEmpty())
        return 0;
    for (const char* dir : lockDirectories) {
        const QString path = QLatin1String(dir) + QLatin1Char('/') + name;
        if (path == ownedPath)
            continue;
        const qint64 pid = pidIn(path);
        if (isAlive(pid))
            return pid;
    }
    return 0;
}

bool SerialLockFile::acquire()
{
    release();
    if (name.isEmpty())
        return true;
    const qint64 pid = holder();
    if (pid != 0) {
        qDebug() << "SerialLockFile:" << name << "is held by process" << pid;
        return false;
    }

    QString dir;
    for (const char* candidate : lockDirectories) {
        if (QFileInfo(QLatin1String(candidate)).isDir()) {
            dir = QLatin1String(candidate);
            break;
        }
    }
    if (dir.isEmpty())
        return true;

    // The lock appears whole or not at all: written under a name of this
    // process's own, then linked to its real name, which fails if another
    // program got there first.
    const QString path = dir + QLatin1Char('/') + name;
    const QByteArray temporary =
        QFile::encodeName(QStringLiteral("%1/LTMP.%2.%3").arg(dir, name).arg(::getpid()));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        qDebug("SerialLockFile: cannot write a lock in %s (%s); the port goes without one",
               qPrintable(dir), std::strerror(errno));
        return true;
    }
    const bool written =
        writeAll(fd, QStringLiteral("%1\n").arg(qint64(::getpid()), 10).toLatin1());
    ::close(fd);

    bool result = true;
    const QByteArray target = QFile::encodeName(path);
    for (int attempt = 0; written && attempt < 2; ++attempt) {
        if (::link(temporary.constData(), target.constData()) == 0) {
            ownedPath = path;
            break;
        }
        if (errno != EEXIST) {
            qDebug("SerialLockFile: link(%s) failed: %s; the port goes without a lock",
                   target.constData(), std::strerror(errno));
            break;
        }
        const qint64 other = pidIn(path);
        if (isAlive(other)) {
            qDebug() << "SerialLockFile:" << name << "is held by process" << other;
            result = false;
            break;
        }
        // Stale: its process is gone.
        if (::unlink(target.constData()) != 0 && errno != ENOENT)
            break;
    }
    ::unlink(temporary.constData());
    return result;
}

void SerialLockFile::release()
{
    if (ownedPath.isEmpty())
        return;
    // Only a lock that still names this process is removed.
    if (pidIn(ownedPath) == qint64(::getpid()) && !QFile::remove(ownedPath))
        qDebug() << "SerialLockFile: cannot remove" << ownedPath;
    ownedPath.clear();
}
