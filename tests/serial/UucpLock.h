#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// A UUCP lock file as another serial program leaves it: LCK..<name> in the
// system's lock directory, <name> being the device's path below /dev with '/'
// made '_' (ttyS0, pts_3), or, as terminal programs write it, its last component
// (3 for /dev/pts/3). Removed again when the helper goes.
class UucpLock
{
public:
    UucpLock(const QString& device, const QByteArray& content, bool lastComponent = false)
        : file(lastComponent ? directory() + "/LCK.." +
                                   QFileInfo(QFileInfo(device).canonicalFilePath()).fileName()
                             : pathFor(device)),
          written(write(file, content))
    {
    }
    ~UucpLock() { QFile::remove(file); }

    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    bool isWritten() const { return written; }
    QString path() const { return file; }

    static bool write(const QString& path, const QByteArray& content)
    {
        QFile out(path);
        return out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               out.write(content) == content.size();
    }

    // The one the code under test uses, STATION_LOCK_DIR when set.
    static QString directory()
    {
        const QString chosen = QFile::decodeName(qgetenv("STATION_LOCK_DIR"));
        if (!chosen.isEmpty())
            return chosen;
        return QFileInfo(QStringLiteral("/run/lock")).isDir() ? QStringLiteral("/run/lock")
                                                              : QStringLiteral("/var/lock");
    }
    // Lock files are written only where the user may write; tests that need one
    // skip elsewhere.
    static bool isAvailable() { return ::access(QFile::encodeName(directory()), W_OK) == 0; }

    static QString pathFor(const QString& device)
    {
        QString name = QFileInfo(device).canonicalFilePath();
        if (name.startsWith(QLatin1String("/dev/")))
            name = name.mid(5);
        else
            name = QFileInfo(name).fileName();
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        return directory() + QLatin1String("/LCK..") + name;
    }

    // The usual text form: the process number right-aligned in ten columns.
    static QByteArray text(pid_t pid)
    {
        return QStringLiteral("%1\n").arg(qint64(pid), 10).toLatin1();
    }
    // The old binary form: the process number as the machine stores an int.
    static QByteArray binary(pid_t pid)
    {
        const int value = int(pid);
        return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
    }
    // The content in the form named: "text", "binary", or else a file that names
    // no process.
    static QByteArray content(const QString& form, pid_t pid)
    {
        return form == QLatin1String("text")     ? text(pid)
               : form == QLatin1String("binary") ? binary(pid)
                                                 : QByteArray("\n");
    }
    // The number of a process that has just ended (not reused for a long while).
    static pid_t deadPid()
    {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        ::waitpid(child, nullptr, 0);
        return child;
    }

private:
    QString file;
    bool written = false;
};
