#pragma once

#include "AbstractSerialEngine.h"
#include "SerialLockFile.h"
#include "SerialPortSettings.h"
#include "SerialRingBuffer.h"

#include <memory>

class AbstractSerialNotifier;

// The Linux engine's state on top of the shared settings: the port's line
// settings as found at the open and as edited since, the read timeout, and what
// the last open asked for.
struct NativeSerialEnginePrivate : AbstractSerialEnginePrivate
{
    // Created when a notification is first switched on; a child of the engine.
    AbstractSerialNotifier* notifier = nullptr;
    // The working copy every setter edits and submits.
    SerialPortSettings currentSettings;
    // The port's settings as found at the open, written back at the close.
    SerialPortSettings savedSettings;
    // Milliseconds a read block may wait for its bytes; 0 takes what is there.
    int readTotalTimeoutConstant = 0;
    // The access the last open asked for.
    bool openedForReading = false;
    bool openedForWriting = false;
    // The advisory lock that keeps other processes off the port.
    bool locked = false;
    // This engine put the tty in exclusive mode (and so takes it out again).
    bool exclusiveSet = false;
    // The port's UUCP lock file while it is open.
    std::unique_ptr<SerialLockFile> lockFile;
    // The port went away; cleared by the close.
    bool hungUp = false;
    // Bytes taken from the line and not yet handed over; its block is allocated
    // at the first read and kept for the next ones.
    SerialRingBuffer readAhead;
    // A notification for the read-ahead's bytes waits in the event loop.
    bool readAheadAnnounced = false;
    // What the terminal held at the last look (FIONREAD), less what was read
    // since: the bytes its readiness reports have covered.
    qint64 lineSeen = 0;
    // What was received is gone (closed, reset, hung up): the bytes kept and
    // what the line was seen to hold go together.
    void forgetReceived()
    {
        readAhead.clear();
        lineSeen = 0;
    }
    // Sum of the driver's line error counters at the last look, and whether the
    // driver keeps them.
    quint64 lineErrorCount = 0;
    bool hasLineErrorCounters = false;
};
