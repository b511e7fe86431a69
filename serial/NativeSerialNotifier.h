#pragma once

#include "AbstractSerialNotifier.h"

#include <QObject>

class NativeSerialEngine;
class QSocketNotifier;
class QTimer;

// Wakes the engine's thread when bytes arrive, when the port can take bytes
// again, on a line error or when a modem input changes, and calls the matching
// slot of the engine. Arrivals are edges, not levels: bytes left unread do not
// wake anybody again until new ones come. A port that hangs up silences the
// notifier until it is given another descriptor.
class NativeSerialNotifier : public QObject, public AbstractSerialNotifier
{
    Q_OBJECT

public:
    // The comm events each kind of notification asks for.
    enum EventMask : quint32 {
        ReadEvents = 0x0001,
        WriteEvents = 0x0004,
        ExceptionEvents = 0x0080,
        LineEvents = 0x0118
    };

    explicit NativeSerialNotifier(NativeSerialEngine* parent);
    ~NativeSerialNotifier() override;

    bool isReadEnabled() const override;
    void setReadEnabled(bool enable) override;
    bool isWriteEnabled() const override;
    void setWriteEnabled(bool enable) override;
    bool isExceptionEnabled() const override;
    void setExceptionEnabled(bool enable) override;
    bool isLineEnabled() const override;
    void setLineEnabled(bool enable) override;

    // Something is being watched: a kind is enabled and the port has not hung up.
    bool isEnabled() const;

protected:
    void descriptorChanged(int newDescriptor) override;

private:
    // One edge-triggered epoll set on the port, watched by a QSocketNotifier on
    // its own descriptor. Reads and writes have a set each, so that an arrival
    // does not also report "writable" and the other way round.
    struct Watch
    {
        int epollFd = -1;
        QSocketNotifier* notifier = nullptr;
        quint32 events = 0;
    };

    void setKind(quint32 bits, bool enable);
    void applyMask();
    bool watch(Watch& w, quint32 events);
    void unwatch(Watch& w);
    void createWatch(Watch& w, void (NativeSerialNotifier::*handler)());
    quint32 drain(Watch& w);
    void readActivated();
    void writeActivated();
    void lineTimeout();
    void hangUp();
    bool lineErrorsGrew();
    bool readModemLines(int* lines) const;

    NativeSerialEngine* const engine;
    Watch readWatch;
    Watch writeWatch;
    // Modem lines have no readiness event; drivers that keep them are sampled.
    QTimer* lineTimer = nullptr;
    quint32 enabledMask = 0;
    bool hungUp = false;
    int lastLines = 0;
    quint64 lineErrorCount = 0;
    bool hasLineErrorCounters = false;
    // The first "writable" report after the write set is armed repeats the
    // immediate notification given when the kind was switched on.
    bool skipWriteReport = false;
};
