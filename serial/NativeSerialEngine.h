#pragma once

#include "AbstractSerialEngine.h"

struct NativeSerialEnginePrivate;

// The serial engine on Linux: a tty opened non-blocking and exclusive, its
// termios record edited one setting at a time, transfers bounded with poll, and a
// NativeSerialNotifier for the port events. Reads take what the line holds in one
// system call into a read-ahead of the engine's, from which small reads are
// served; its bytes count as received, in bytesAvailable() as in read(), so the
// device's unbuffered mode keeps its meaning. Bytes a read takes beyond what the
// last bytesAvailable() saw get a read notification of their own: the terminal
// no longer holds them, so its readiness report would not come.
class NativeSerialEngine : public AbstractSerialEngine
{
    Q_OBJECT

public:
    explicit NativeSerialEngine(AbstractSerial* parent);
    ~NativeSerialEngine() override;

    bool open(QIODevice::OpenMode mode) override;
    bool close() override;

    bool setBaudRate(qint32 baudRate, AbstractSerial::BaudDirection baudDir) override;
    bool setDataBits(AbstractSerial::DataBits dataBits) override;
    bool setParity(AbstractSerial::Parity parity) override;
    bool setStopBits(AbstractSerial::StopBits stopBits) override;
    bool setFlowControl(AbstractSerial::Flow flow) override;

    void setCharIntervalTimeout(int usecs) override;
    int charIntervalTimeout() const override;
    void setTotalReadTimeout(int msecs) override;
    int totalReadTimeout() const override;

    bool setDtr(bool set) override;
    bool setRts(bool set) override;
    quint16 lineStatus() override;

    bool sendBreak(int duration) override;
    bool setBreak(bool set) override;
    bool flush() override;
    bool reset() override;

    qint64 bytesAvailable() override;
    qint64 read(char* data, qint64 maxSize) override;
    qint64 write(const char* data, qint64 maxSize) override;
    bool waitForReadOrWrite(bool* readyToRead, bool* readyToWrite, bool checkRead, bool checkWrite,
                            int msecs) override;

    bool isReadNotificationEnabled() const override;
    void setReadNotificationEnabled(bool enable) override;
    bool isWriteNotificationEnabled() const override;
    void setWriteNotificationEnabled(bool enable) override;
    bool isExceptionNotificationEnabled() const override;
    void setExceptionNotificationEnabled(bool enable) override;
    bool isLineNotificationEnabled() const override;
    void setLineNotificationEnabled(bool enable) override;

    bool isHungUp() const override;

    // Called by the notifier once when the port goes away: marks the port hung up
    // and tells the receiver through its exception notification.
    void hangUpNotification();

    // The port's file descriptor, -1 while closed.
    int descriptor() const;

private:
    NativeSerialEnginePrivate* d() const;
    bool submitSettings();
    void recomputeReadTimeout();
    void readSettingsBack();
    bool lineErrorsGrew();
    void noticeFailure(int error);
    void markHungUp();
    qint64 readFromLine(char* data, qint64 maxSize);
    void announceReadAhead();
    qint64 writeBlock(const char* data, qint64 size);
    bool prepareNotifier(bool enable);

    Q_DISABLE_COPY(NativeSerialEngine)
};
