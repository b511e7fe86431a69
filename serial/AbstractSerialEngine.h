#pragma once

#include "AbstractSerial.h"

#include <QIODevice>
#include <QObject>
#include <QString>

class AbstractSerialEngineReceiver;

// The settings every engine caches, whatever the platform. The codes are those
// of AbstractSerial's enumerations; -1 means the port's state matches no code.
// Both rates hold 12 until the first successful open overwrites them with the
// port's rate in bits per second.
struct AbstractSerialEnginePrivate
{
    virtual ~AbstractSerialEnginePrivate() = default;

    QString deviceName;
    qint32 inputBaudRate = 12;
    qint32 outputBaudRate = 12;
    AbstractSerial::DataBits dataBits = AbstractSerial::DataBits8;
    AbstractSerial::Parity parity = AbstractSerial::ParityNone;
    AbstractSerial::StopBits stopBits = AbstractSerial::StopBits1;
    AbstractSerial::Flow flow = AbstractSerial::FlowControlOff;
    // Microseconds between two characters; used only by the automatic read timeout.
    int charIntervalTimeout = 0;
    // The port's own settings were saved at an open and go back at the close.
    bool oldSettingsIsSaved = false;
    // The port's file descriptor, -1 while closed.
    int descriptor = -1;
    AbstractSerialEngineReceiver* receiver = nullptr;
    // The total read timeout follows the line settings (set with -1).
    bool isAutoCalcReadTimeoutConstant = false;
};

// The platform half of a serial device: AbstractSerial hands it every
// configuration, line-control and I/O request, and the engine reports port
// events back through the receiver. Every operation returns its outcome (a flag,
// a count or -1); nothing throws.
//
// Hang-up: when the port goes away (USB adapter pulled, pseudo-terminal master
// closed) the engine's notifier switches itself off so that nothing spins, the
// engine marks the port hung up, and it calls the receiver's
// receiveExceptionNotification() once, whether or not the exception
// notification is enabled. The receiver tells a hang-up from a line error by
// asking isHungUp(), which stays true until the port is closed. Reads and
// bytesAvailable() of a hung-up port fail (-1).
class AbstractSerialEngine : public QObject
{
    Q_OBJECT

public:
    ~AbstractSerialEngine() override;

    // Creates the platform engine, a child of the given device.
    static AbstractSerialEngine* createEngine(AbstractSerial* parent);

    void setReceiver(AbstractSerialEngineReceiver* receiver);

    // Stored only; the name of an open port does not change.
    void setDeviceName(const QString& deviceName);
    QString deviceName() const;

    // Input, output, or for both directions the input rate when the two are
    // equal, else 0.
    qint32 baudRate(AbstractSerial::BaudDirection baudDir) const;
    AbstractSerial::DataBits dataBits() const;
    AbstractSerial::Parity parity() const;
    AbstractSerial::StopBits stopBits() const;
    AbstractSerial::Flow flowControl() const;

    virtual bool open(QIODevice::OpenMode mode) = 0;
    virtual bool close() = 0;

    virtual bool setBaudRate(qint32 baudRate, AbstractSerial::BaudDirection baudDir) = 0;
    virtual bool setDataBits(AbstractSerial::DataBits dataBits) = 0;
    virtual bool setParity(AbstractSerial::Parity parity) = 0;
    virtual bool setStopBits(AbstractSerial::StopBits stopBits) = 0;
    virtual bool setFlowControl(AbstractSerial::Flow flow) = 0;

    // Microseconds between two characters.
    virtual void setCharIntervalTimeout(int usecs) = 0;
    virtual int charIntervalTimeout() const = 0;
    // Milliseconds a read block may wait for its bytes; -1 computes it from the
    // line settings (the time of 256 characters and 255 character gaps).
    virtual void setTotalReadTimeout(int msecs) = 0;
    virtual int totalReadTimeout() const = 0;

    virtual bool setDtr(bool set) = 0;
    virtual bool setRts(bool set) = 0;
    // AbstractSerial::LineStatus flags; exactly LineErr when the lines cannot be read.
    virtual quint16 lineStatus() = 0;

    virtual bool sendBreak(int duration) = 0;
    virtual bool setBreak(bool set) = 0;
    // Waits until every written byte has left.
    virtual bool flush() = 0;
    // Discards what is queued in both directions.
    virtual bool reset() = 0;

    // Bytes received and not yet read; -1 on failure, once per new line error,
    // and after a hang-up.
    virtual qint64 bytesAvailable() = 0;
    virtual qint64 read(char* data, qint64 maxSize) = 0;
    virtual qint64 write(const char* data, qint64 maxSize) = 0;
    // msecs -1 waits without limit.
    virtual bool waitForReadOrWrite(bool* readyToRead, bool* readyToWrite, bool checkRead,
                                    bool checkWrite, int msecs) = 0;

    virtual bool isReadNotificationEnabled() const = 0;
    virtual void setReadNotificationEnabled(bool enable) = 0;
    virtual bool isWriteNotificationEnabled() const = 0;
    virtual void setWriteNotificationEnabled(bool enable) = 0;
    virtual bool isExceptionNotificationEnabled() const = 0;
    virtual void setExceptionNotificationEnabled(bool enable) = 0;
    virtual bool isLineNotificationEnabled() const = 0;
    virtual void setLineNotificationEnabled(bool enable) = 0;

    // True from a hang-up until the port is closed.
    virtual bool isHungUp() const = 0;

public Q_SLOTS:
    void readNotification();
    void writeNotification();
    void exceptionNotification();
    void lineNotification();

protected:
    // Takes ownership of the record.
    AbstractSerialEngine(AbstractSerialEnginePrivate* dd, QObject* parent);

    AbstractSerialEnginePrivate* const d_ptr;

private:
    Q_DISABLE_COPY(AbstractSerialEngine)
};
