#pragma once

#include <QDateTime>
#include <QIODevice>
#include <QMap>
#include <QString>
#include <QStringList>

class AbstractSerialPrivate;
class QDebug;

// A serial port as a QIODevice. All platform work is delegated to an
// AbstractSerialEngine; AbstractSerialPrivate receives the engine's notifications
// and keeps the read and write buffers. Every operation records a numbered
// status (see Status and statusToString()).
//
// End of stream: when the port hangs up (USB adapter pulled, pseudo-terminal
// master closed) the device emits readChannelFinished() once per open. The engine
// reports the hang-up by switching its notifications off and calling the
// receiver's receiveExceptionNotification(); the device then asks the engine
// whether the port hung up (see AbstractSerialEngine) and, if so, emits
// readChannelFinished() instead of exception().
//
// Read notifications must mean "new bytes arrived", not "bytes are waiting": an
// unbuffered reader that leaves a partial block in the port is woken again only
// by the next arrival.
class AbstractSerial : public QIODevice
{
    Q_OBJECT

public:
    enum BaudRate {
        BaudRateUndefined = -1,
        BaudRate50,
        BaudRate75,
        BaudRate110,
        BaudRate134,
        BaudRate150,
        BaudRate200,
        BaudRate300,
        BaudRate600,
        BaudRate1200,
        BaudRate1800,
        BaudRate2400,
        BaudRate4800,
        BaudRate9600,
        BaudRate14400,
        BaudRate19200,
        BaudRate38400,
        BaudRate56000,
        BaudRate57600,
        BaudRate76800,
        BaudRate115200,
        BaudRate128000,
        BaudRate230400,
        BaudRate256000,
        BaudRate460800,
        BaudRate500000,
        BaudRate576000,
        BaudRate921600,
        BaudRate1000000,
        BaudRate1152000,
        BaudRate1500000,
        BaudRate2000000,
        BaudRate2500000,
        BaudRate3000000,
        BaudRate3500000,
        BaudRate4000000
    };

    enum DataBits { DataBitsUndefined = -1, DataBits5, DataBits6, DataBits7, DataBits8 };

    enum Parity {
        ParityUndefined = -1,
        ParityNone,
        ParityOdd,
        ParityEven,
        ParityMark,
        ParitySpace
    };

    enum StopBits { StopBitsUndefined = -1, StopBits1, StopBits1_5, StopBits2 };

    enum Flow {
        FlowControlUndefined = -1,
        FlowControlOff,
        FlowControlHardware,
        FlowControlXonXoff
    };

    enum BaudDirection { BaudDirectionInput = 1, BaudDirectionOutput = 2, BaudDirectionAll = 3 };

    // Flags returned by lineStatus(); LineErr means the lines could not be read.
    enum LineStatus {
        LineLE = 0x0001,
        LineDTR = 0x0002,
        LineRTS = 0x0004,
        LineST = 0x0008,
        LineSR = 0x0010,
        LineCTS = 0x0020,
        LineDCD = 0x0040,
        LineRI = 0x0080,
        LineDSR = 0x0100,
        LineErr = 0x8000
    };

    // Codes 0 to 15 are successes, 32 and above failures.
    enum Status {
        ENone = 0,
        ENoneOpen = 1,
        ENoneClose = 2,
        ENoneSetBaudRate = 3,
        ENoneSetParity = 4,
        ENoneSetDataBits = 5,
        ENoneSetStopBits = 6,
        ENoneSetFlow = 7,
        ENoneSetCharTimeout = 8,
        ENoneSetDtr = 9,
        ENoneSetRts = 10,
        ENoneLineStatus = 11,
        ENoneSendBreak = 12,
        ENoneSetBreak = 13,
        ENoneFlush = 14,
        ENoneReset = 15,

        EOpen = 32,
        EDeviceIsNotOpen = 33,
        EOpenModeUnsupported = 34,
        EOpenModeUndefined = 35,
        EOpenInvalidFD = 36,
        EOpenOldSettingsNotSaved = 37,
        EOpenGetCurrentSettings = 38,
        EOpenSetDefaultSettings = 39,
        EDeviceIsOpen = 40,
        ECloseSetOldSettings = 41,
        ECloseFD = 42,
        EClose = 43,

        ESetBaudRate = 64,
        ESetDataBits = 65,
        ESetParity = 66,
        ESetStopBits = 67,
        ESetFlowControl = 68,
        ESetCharIntervalTimeout = 69,
        ESetReadTotalTimeout = 70,

        EBytesAvailable = 96,
        ESetDtr = 97,
        ESetRts = 98,
        ELineStatus = 99,
        EWaitReadyReadIO = 100,
        EWaitReadyReadTimeout = 101,
        EWaitBytesWrittenIO = 102,
        EWaitBytesWrittenTimeout = 103,
        EReadDataIO = 104,
        EWriteDataIO = 105,
        EFlush = 106,
        ESendBreak = 107,
        ESetBreak = 108,
        EReset = 109
    };

    explicit AbstractSerial(QObject* parent = nullptr);
    ~AbstractSerial() override;

    // Takes effect only while the device is closed.
    void setDeviceName(const QString& deviceName);
    QString deviceName() const;

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override;

    bool setBaudRate(BaudRate baudRate, BaudDirection baudDir = BaudDirectionAll);
    bool setBaudRate(qint32 baudRate, BaudDirection baudDir = BaudDirectionAll);
    bool setBaudRate(const QString& baudRate);
    QString baudRate(BaudDirection baudDir = BaudDirectionAll) const;
    QStringList baudRateTexts() const;
    QMap<int, QString> baudRateTable() const;

    bool setDataBits(DataBits dataBits);
    bool setDataBits(const QString& dataBits);
    QString dataBits() const;
    QStringList dataBitsTexts() const;
    QMap<int, QString> dataBitsTable() const;

    bool setParity(Parity parity);
    bool setParity(const QString& parity);
    QString parity() const;
    QStringList parityTexts() const;
    QMap<int, QString> parityTable() const;

    bool setStopBits(StopBits stopBits);
    bool setStopBits(const QString& stopBits);
    QString stopBits() const;
    QStringList stopBitsTexts() const;
    QMap<int, QString> stopBitsTable() const;

    bool setFlowControl(Flow flow);
    bool setFlowControl(const QString& flow);
    QString flowControl() const;
    QStringList flowControlTexts() const;
    QMap<int, QString> flowControlTable() const;

    // Inter-character time in microseconds, used by the automatic read timeout.
    bool setCharIntervalTimeout(int usecs);
    int charIntervalTimeout() const;
    // Total read timeout in milliseconds; -1 lets the engine compute it from the
    // line settings.
    bool setTotalReadTimeout(int msecs);
    int totalReadTimeout() const;

    bool setDtr(bool set);
    bool setRts(bool set);
    // LineStatus flags; LineErr when the device is closed or the lines cannot be read.
    quint16 lineStatus();
    bool sendBreak(int duration);
    bool setBreak(bool set);
    bool flush();
    bool reset() override;

    // Largest read buffer in bytes (buffered mode); 0 means no limit.
    void setReadBufferSize(qint64 size);
    qint64 readBufferSize() const;

    void setStatusSignalEnabled(bool enable);
    bool isStatusSignalEnabled() const;
    static QString statusToString(int val);

    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool waitForReadyRead(int msecs) override;
    bool waitForBytesWritten(int msecs) override;

Q_SIGNALS:
    void signalStatus(const QString& status, QDateTime current);
    void exception();
    void ctsChanged(bool value);
    void dsrChanged(bool value);
    void ringChanged(bool value);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    friend class AbstractSerialPrivate;
    AbstractSerialPrivate* const d;

    Q_DISABLE_COPY(AbstractSerial)
};

QDebug operator<<(QDebug debug, AbstractSerial::BaudRate value);
QDebug operator<<(QDebug debug, AbstractSerial::DataBits value);
QDebug operator<<(QDebug debug, AbstractSerial::Parity value);
QDebug operator<<(QDebug debug, AbstractSerial::StopBits value);
QDebug operator<<(QDebug debug, AbstractSerial::Flow value);
QDebug operator<<(QDebug debug, AbstractSerial::LineStatus value);
