#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The UUCP lock file of a serial port, the convention Linux serial programs share
// whatever else they use: LCK..<name> in /run/lock (or /var/lock), holding the
// number of the process that has the port, as ten right-aligned digits and a
// newline (an old binary int is read too). Links are resolved first, so that
// every name of a port (by-id links included) leads to the device's locks.
// Two conventions name them: the device's path below /dev with '/' made '_'
// (pts_3), and, as common terminal programs write it, the last component of
// that path (LCK..3 for /dev/pts/3, LCK..ttyUSB0). For a port directly under
// /dev both are one name. A live lock under either counts as held, and both are
// written. A lock naming a process that is no longer alive is stale and is
// ignored. The environment variable STATION_LOCK_DIR, read once
// at the first lock, names another lock directory to use instead of both (for
// tests, which must not meet the locks of a station in use on the machine).
//
// The lock directory is writable by every user: nothing found there is opened
// through a link or in a way that could block, and only a regular file of a
// lock's size is read as a lock. Anything else at the lock's name (a link, a
// FIFO, a directory, a big file) is no lock: it is removed as a stale lock
// would be, or, when it cannot be, the port goes without a lock of ours.
//
// What stays undetectable: a program that holds the port with none of the three
// conventions (no lock file, no flock, no exclusive mode), and, for root, a
// holder that keeps only an exclusive mode set before this engine looked.
class SerialLockFile
{
public:
    // For the device at `devicePath`; an empty or missing path gives a lock that
    // is never held and never written.
    explicit SerialLockFile(const QString& devicePath = QString());
    ~SerialLockFile();

    SerialLockFile(const SerialLockFile&) = delete;
    SerialLockFile& operator=(const SerialLockFile&) = delete;

    // The live process that holds the port by a lock file, 0 when there is none.
    qint64 holder() const;

    // Writes the lock for this process. False when a live process holds the port;
    // true too when no lock can be written (no lock directory, no right to write
    // there): the port is then used without one, as programs without the
    // convention use it. A stale lock is replaced.
    bool acquire();
    // Removes the lock file if acquire() wrote it.
    void release();

    // LCK..<name> for the device (its path below /dev), empty when its path
    // cannot be resolved.
    static QString lockName(const QString& devicePath);
    // Every name a lock of the device may have: lockName() first, then the
    // last-component form where it differs.
    static QStringList lockNames(const QString& devicePath);

private:
    bool linkLock(const QByteArray& temporary, const QString& path);

    QStringList names;
    QStringList ownedPaths;
};
