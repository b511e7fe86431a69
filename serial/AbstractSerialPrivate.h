#pragma once

#include "AbstractSerialEngineReceiver.h"
#include "SerialRingBuffer.h"

#include <QMap>
#include <QString>

class AbstractSerial;
class AbstractSerialEngine;

// The state of an AbstractSerial: the code-to-text maps, the buffers, the
// re-entry guards and the engine. It receives the engine's notifications and
// turns them into the device's signals.
class AbstractSerialPrivate : public AbstractSerialEngineReceiver
{
public:
    explicit AbstractSerialPrivate(AbstractSerial* parent);
    ~AbstractSerialPrivate() override;

    bool receiveReadNotification() override;
    bool receiveWriteNotification() override;
    bool receiveExceptionNotification() override;
    bool receiveLineNotification() override;

    // Takes the text of the status, makes a failure's text the error string and
    // emits signalStatus when enabled.
    void emitStatus(int status);

    // Moves what the engine holds into the read buffer, within the limit.
    bool readFromEngine();
    // Buffered mode: once the reader has had its turn, bytes still in the engine
    // (its read-ahead, the terminal's queue) are taken from the event loop while
    // the buffer has room. Arrivals are edges: bytes whose arrival was reported
    // while the buffer was full, or that a read took ahead, would otherwise wait
    // for a next arrival that may never come.
    void pullLeftOver();
    bool pullScheduled = false;
    // Hands the first block of the write buffer to the engine.
    bool flushWriteBuffer();

    void setReadNotificationEnabled(bool enable);
    void setWriteNotificationEnabled(bool enable);
    bool isReadNotificationEnabled() const;

    // The code-to-text tables, translated, with the text of code -1 included.
    // The baud table leaves out the rates that have no text.
    static QMap<int, QString> baudRateTextTable();
    static QMap<int, QString> dataBitsTextTable();
    static QMap<int, QString> parityTextTable();
    static QMap<int, QString> stopBitsTextTable();
    static QMap<int, QString> flowTextTable();
    // The rate of a BaudRate code, -1 for an unknown code.
    static qint32 rateOfCode(int code);

    // Called at every open: no bytes, no hang-up, no line seen yet.
    void resetSession();

    QMap<int, QString> baudRateMap;
    QMap<int, QString> dataBitsMap;
    QMap<int, QString> parityMap;
    QMap<int, QString> stopBitsMap;
    QMap<int, QString> flowMap;

    qint64 readBufferMaxSize = 0;
    SerialRingBuffer readBuffer;
    SerialRingBuffer writeBuffer;

    bool isBuffered = false;
    bool isReading = false;
    bool savedReadNotification = false;
    bool readNotificationSaved = false;
    bool emittedReadyRead = false;
    bool emittedBytesWritten = false;
    bool emittedStatus = false;

    AbstractSerialEngine* engine = nullptr;
    AbstractSerial* const device;

    // Last modem inputs seen by the line notification.
    bool lastCts = false;
    bool lastDsr = false;
    bool lastRing = false;
    // A write notification is being handled, and another arrived meanwhile.
    bool isWriting = false;
    bool writeNotificationPending = false;
    // readChannelFinished() has been emitted for the current open.
    bool hungUp = false;
    // Buffered writes the engine refused; each one discarded the write buffer.
    int writeFailures = 0;

    // Emits readChannelFinished() once per open when the engine says the port
    // went away, whichever side saw it.
    void noticeHangUp();

private:
    void buildMaps();
};
