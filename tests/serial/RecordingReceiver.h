#pragma once

#include "AbstractSerialEngineReceiver.h"

#include <QString>

#include <ctime>
#include <functional>

// Stands in for the serial device behind an engine: counts every notification
// and remembers their order ("r", "w", "e", "l"), optionally acting on a read
// notification the way a reader would.
class RecordingReceiver : public AbstractSerialEngineReceiver
{
public:
    bool receiveReadNotification() override
    {
        ++reads;
        order += QLatin1Char('r');
        if (onRead)
            onRead();
        return true;
    }
    bool receiveWriteNotification() override
    {
        ++writes;
        order += QLatin1Char('w');
        return true;
    }
    bool receiveExceptionNotification() override
    {
        ++exceptions;
        order += QLatin1Char('e');
        return true;
    }
    bool receiveLineNotification() override
    {
        ++lines;
        order += QLatin1Char('l');
        return true;
    }

    int reads = 0;
    int writes = 0;
    int exceptions = 0;
    int lines = 0;
    QString order;
    std::function<void()> onRead;
};

// CPU time used by the whole process so far, in milliseconds.
inline double processCpuMsecs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1.0e6;
}
