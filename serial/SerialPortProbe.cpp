#include "SerialPortProbe.h"

#include "PosixCall.h"
#include "SerialLockFile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SerialPortProbe::SerialPortProbe(const QString& devicePath)
{
    const QString path =
        devicePath.startsWith(QLatin1Char('/')) ? devicePath : QStringLiteral("/dev/") + devicePath;
    const QByteArray encoded = QFile::encodeName(path);
    struct stat status;
    // Follows links: a by-id name whose adapter went has a dangling link.
    if (::stat(encoded.constData(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR || error == ENODEV || error == ENXIO)
            found = Missing;
        else if (error == EACCES)
            found = Forbidden;
        else
            posix::traceFailure("SerialPortProbe", "stat", error);
        return;
    }
    // With the effective ids, the ones an open uses.
    if (::faccessat(AT_FDCWD, encoded.constData(), R_OK, AT_EACCESS) != 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) {
            found = Forbidden;
            return;
        }
        posix::traceFailure("SerialPortProbe", "faccessat", error);
    }
    holderPid = SerialLockFile(path).holder();
    if (holderPid == 0 && S_ISCHR(status.st_mode))
        holderPid = processUsing(path);
    if (holderPid != 0) {
        found = Held;
        holderProgram = programName(holderPid);
    }
}

qint64 SerialPortProbe::processUsing(const QString& path)
{
    struct stat device;
    if (::stat(QFile::encodeName(path).constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return 0;
    const qint64 self = ::getpid();
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : processes) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (!isNumber || pid == self)
            continue;
        // Other users' descriptors stay hidden: the folder cannot be listed.
        const QString fds = QStringLiteral("/proc/") + entry + QStringLiteral("/fd");
        const QStringList descriptors = QDir(fds).entryList(QDir::Files | QDir::System);
        for (const QString& fd : descriptors) {
            struct stat target;
            // stat() follows the descriptor's link to the file it has open.
            const QByteArray link = QFile::encodeName(fds + QLatin1Char('/') + fd);
            if (::stat(link.constData(), &target) == 0 && S_ISCHR(target.st_mode) &&
                target.st_rdev == device.st_rdev)
                return pid;
        }
    }
    return 0;
}

QString SerialPortProbe::programName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.read(64)).trimmed();
}
