#pragma once

#include <QString>

// Why a serial port could not be opened, found after the failure from what the
// system shows of it: the device node is gone, the user may not open it (on
// Debian a port belongs to group dialout), or another program has it, named by
// the port's lock file or, failing that, by the open descriptors /proc shows.
// Only looks: nothing is opened, so no modem line moves.
class SerialPortProbe
{
public:
    enum Reason { Unknown, Missing, Forbidden, Held };

    // Examines the port at `devicePath` (a bare name is taken below /dev).
    explicit SerialPortProbe(const QString& devicePath);

    Reason reason() const { return found; }
    // For Held: the process that has the port (0 when nothing tells which) and
    // its program name (empty when /proc does not tell).
    qint64 pid() const { return holderPid; }
    QString program() const { return holderProgram; }

    // A process other than this one with the character device `path` open,
    // found in /proc; 0 when none can be seen.
    static qint64 processUsing(const QString& path);
    // The program name /proc gives for `pid`, empty when it cannot be read.
    static QString programName(qint64 pid);

private:
    Reason found = Unknown;
    qint64 holderPid = 0;
    QString holderProgram;
};
