#include "AbstractSerial.h"

#include "AbstractSerialEngine.h"
#include "AbstractSerialPrivate.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QRegularExpression>

namespace {

QString undefinedText(const QMap<int, QString>& table)
{
    return table.value(-1);
}

// The code of a text in a map, -1 when the text is not there (exact match).
int codeOfText(const QMap<int, QString>& map, const QString& text)
{
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it.value() == text)
            return it.key();
    }
    return -1;
}

QString textOfCode(const QMap<int, QString>& map, int code)
{
    return map.value(code);
}

// Time left of a wait of msecs started at `timer`; -1 waits without limit.
int timeLeft(int msecs, const QElapsedTimer& timer)
{
    if (msecs < 0)
        return -1;
    return int(qMax<qint64>(0, msecs - timer.elapsed()));
}

// Runs one operation of an open port and records its outcome as a status; on a
// closed port the operation does not run.
template <typename Operation>
bool onOpenPort(const AbstractSerial* serial, AbstractSerialPrivate* d, AbstractSerial::Status done,
                AbstractSerial::Status failed, Operation operation)
{
    if (!serial->isOpen()) {
        d->emitStatus(AbstractSerial::EDeviceIsNotOpen);
        return false;
    }
    const bool ok = operation();
    d->emitStatus(ok ? done : failed);
    return ok;
}

} // namespace

AbstractSerial::AbstractSerial(QObject* parent)
    : QIODevice(parent), d(new AbstractSerialPrivate(this))
{
}

AbstractSerial::~AbstractSerial()
{
    close();
    delete d->engine;
    delete d;
}

void AbstractSerial::setDeviceName(const QString& deviceName)
{
    if (d->engine && !isOpen())
        d->engine->setDeviceName(deviceName);
}

QString AbstractSerial::deviceName() const
{
    return d->engine ? d->engine->deviceName() : QString();
}

bool AbstractSerial::isSequential() const
{
    return true;
}

bool AbstractSerial::open(OpenMode mode)
{
    if (isOpen()) {
        d->emitStatus(EDeviceIsOpen);
        return false;
    }
    if (mode == NotOpen || (mode & (Append | Truncate | Text))) {
        d->emitStatus(EOpenModeUnsupported);
        return false;
    }
    if (!d->engine || !d->engine->open(mode)) {
        d->emitStatus(EOpen);
        return false;
    }

    d->resetSession();
    if (mode & ReadOnly)
        d->engine->setReadNotificationEnabled(true);
    if (mode & WriteOnly)
        d->engine->setWriteNotificationEnabled(true);
    d->engine->setLineNotificationEnabled(true);
    d->emitStatus(ENoneOpen);
    d->isBuffered = !(mode & Unbuffered);
    return QIODevice::open(mode);
}

void AbstractSerial::close()
{
    if (!isOpen()) {
        d->emitStatus(EClose);
        return;
    }
    d->engine->setReadNotificationEnabled(false);
    d->engine->setWriteNotificationEnabled(false);
    d->engine->setLineNotificationEnabled(false);
    d->readBuffer.clear();
    d->writeBuffer.clear();
    d->engine->close();
    QIODevice::close();
    d->emitStatus(ENoneClose);
}

bool AbstractSerial::setBaudRate(BaudRate baudRate, BaudDirection baudDir)
{
    return setBaudRate(AbstractSerialPrivate::rateOfCode(baudRate), baudDir);
}

bool AbstractSerial::setBaudRate(qint32 baudRate, BaudDirection baudDir)
{
    return onOpenPort(this, d, ENoneSetBaudRate, ESetBaudRate,
                      [&] { return baudRate > 0 && d->engine->setBaudRate(baudRate, baudDir); });
}

bool AbstractSerial::setBaudRate(const QString& baudRate)
{
    // "9600 baud", "9600" or "COM at 9600": the first run of digits is the rate.
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    const QRegularExpressionMatch match = digits.match(baudRate);
    bool converted = false;
    const qint32 rate = match.hasMatch() ? match.captured().toInt(&converted) : -1;
    return setBaudRate(converted ? rate : -1, BaudDirectionAll);
}

QString AbstractSerial::baudRate(BaudDirection baudDir) const
{
    if (!d->engine)
        return undefinedText(AbstractSerialPrivate::baudRateTextTable());
    const qint32 rate = d->engine->baudRate(baudDir);
    if (rate <= 0)
        return d->baudRateMap.value(BaudRateUndefined);
    return tr("%1 baud").arg(rate);
}

QStringList AbstractSerial::baudRateTexts() const
{
    static const QStringList texts = AbstractSerialPrivate::baudRateTextTable().values();
    return texts;
}

QMap<int, QString> AbstractSerial::baudRateTable() const
{
    return d->baudRateMap;
}

bool AbstractSerial::setDataBits(DataBits dataBits)
{
    return onOpenPort(this, d, ENoneSetDataBits, ESetDataBits,
                      [&] { return d->engine->setDataBits(dataBits); });
}

bool AbstractSerial::setDataBits(const QString& dataBits)
{
    return setDataBits(DataBits(codeOfText(d->dataBitsMap, dataBits)));
}

QString AbstractSerial::dataBits() const
{
    if (!d->engine)
        return undefinedText(AbstractSerialPrivate::dataBitsTextTable());
    return textOfCode(d->dataBitsMap, d->engine->dataBits());
}

QStringList AbstractSerial::dataBitsTexts() const
{
    static const QStringList texts = AbstractSerialPrivate::dataBitsTextTable().values();
    return texts;
}

QMap<int, QString> AbstractSerial::dataBitsTable() const
{
    return d->dataBitsMap;
}

bool AbstractSerial::setParity(Parity parity)
{
    return onOpenPort(this, d, ENoneSetParity, ESetParity,
                      [&] { return d->engine->setParity(parity); });
}

bool AbstractSerial::setParity(const QString& parity)
{
    return setParity(Parity(codeOfText(d->parityMap, parity)));
}

QString AbstractSerial::parity() const
{
    if (!d->engine)
        return undefinedText(AbstractSerialPrivate::parityTextTable());
    return textOfCode(d->parityMap, d->engine->parity());
}

QStringList AbstractSerial::parityTexts() const
{
    static const QStringList texts = AbstractSerialPrivate::parityTextTable().values();
    return texts;
}

QMap<int, QString> AbstractSerial::parityTable() const
{
    return d->parityMap;
}

bool AbstractSerial::setStopBits(StopBits stopBits)
{
    return onOpenPort(this, d, ENoneSetStopBits, ESetStopBits,
                      [&] { return d->engine->setStopBits(stopBits); });
}

bool AbstractSerial::setStopBits(const QString& stopBits)
{
    return setStopBits(StopBits(codeOfText(d->stopBitsMap, stopBits)));
}

QString AbstractSerial::stopBits() const
{
    if (!d->engine)
        return undefinedText(AbstractSerialPrivate::stopBitsTextTable());
    return textOfCode(d->stopBitsMap, d->engine->stopBits());
}

QStringList AbstractSerial::stopBitsTexts() const
{
    static const QStringList texts = AbstractSerialPrivate::stopBitsTextTable().values();
    return texts;
}

QMap<int, QString> AbstractSerial::stopBitsTable() const
{
    return d->stopBitsMap;
}

bool AbstractSerial::setFlowControl(Flow flow)
{
    return onOpenPort(this, d, ENoneSetFlow, ESetFlowControl,
                      [&] { return d->engine->setFlowControl(flow); });
}

bool AbstractSerial::setFlowControl(const QString& flow)
{
    return setFlowControl(Flow(codeOfText(d->flowMap, flow)));
}

QString AbstractSerial::flowControl() const
{
    if (!d->engine)
        return undefinedText(AbstractSerialPrivate::flowTextTable());
    return textOfCode(d->flowMap, d->engine->flowControl());
}

QStringList AbstractSerial::flowControlTexts() const
{
    static const QStringList texts = AbstractSerialPrivate::flowTextTable().values();
    return texts;
}

QMap<int, QString> AbstractSerial::flowControlTable() const
{
    return d->flowMap;
}

bool AbstractSerial::setCharIntervalTimeout(int usecs)
{
    if (!isOpen()) {
        d->emitStatus(EDeviceIsNotOpen);
        return false;
    }
    d->engine->setCharIntervalTimeout(usecs);
    return true;
}

int AbstractSerial::charIntervalTimeout() const
{
    return d->engine ? d->engine->charIntervalTimeout() : 0;
}

bool AbstractSerial::setTotalReadTimeout(int msecs)
{
    if (!isOpen()) {
        d->emitStatus(EDeviceIsNotOpen);
        return false;
    }
    d->engine->setTotalReadTimeout(msecs);
    return true;
}

int AbstractSerial::totalReadTimeout() const
{
    return d->engine ? d->engine->totalReadTimeout() : 0;
}

bool AbstractSerial::setDtr(bool set)
{
    return onOpenPort(this, d, ENoneSetDtr, ESetDtr, [&] { return d->engine->setDtr(set); });
}

bool AbstractSerial::setRts(bool set)
{
    return onOpenPort(this, d, ENoneSetRts, ESetRts, [&] { return d->engine->setRts(set); });
}

quint16 AbstractSerial::lineStatus()
{
    if (!isOpen()) {
        d->emitStatus(EDeviceIsNotOpen);
        return LineErr;
    }
    const quint16 status = d->engine->lineStatus();
    d->emitStatus((status & LineErr) ? ELineStatus : ENoneLineStatus);
    return status;
}

bool AbstractSerial::sendBreak(int duration)
{
    return onOpenPort(this, d, ENoneSendBreak, ESendBreak,
                      [&] { return d->engine->sendBreak(qMax(0, duration)); });
}

bool AbstractSerial::setBreak(bool set)
{
    return onOpenPort(this, d, ENoneSetBreak, ESetBreak, [&] { return d->engine->setBreak(set); });
}

bool AbstractSerial::flush()
{
    return onOpenPort(this, d, ENoneFlush, EFlush, [&] {
        // Nothing buffered, or the buffer could not be handed over: ask the port.
        return d->flushWriteBuffer() || d->engine->flush();
    });
}

bool AbstractSerial::reset()
{
    if (!isOpen()) {
        d->emitStatus(EDeviceIsNotOpen);
        return false;
    }
    d->readBuffer.clear();
    d->writeBuffer.clear();
    const bool ok = d->engine->reset();
    d->emittedReadyRead = false;
    d->emitStatus(ok ? ENoneReset : EReset);
    return ok;
}

void AbstractSerial::setReadBufferSize(qint64 size)
{
    if (size == d->readBufferMaxSize)
        return;
    d->readBufferMaxSize = size;
    if (!d->isReading && d->engine && (size == 0 || d->readBuffer.size() < size))
        d->setReadNotificationEnabled(true);
}

qint64 AbstractSerial::readBufferSize() const
{
    return d->readBufferMaxSize;
}

void AbstractSerial::setStatusSignalEnabled(bool enable)
{
    d->emittedStatus = enable;
}

bool AbstractSerial::isStatusSignalEnabled() const
{
    return d->emittedStatus;
}

QString AbstractSerial::statusToString(int val)
{
    switch (val) {
    case ENone:
        return tr("No errors.");
    case ENoneOpen:
        return tr("Opened::Device is successfully opened. OK!");
    case ENoneClose:
        return tr("Closed::Device is successfully closed. OK!");
    case ENoneSetBaudRate:
        return tr("Controls::Baud rate is successfully set. OK!");
    case ENoneSetParity:
        return tr("Controls::Parity is successfully set. OK!");
    case ENoneSetDataBits:
        return tr("Controls::Data bits is successfully set. OK!");
    case ENoneSetStopBits:
        return tr("Controls::Stop bits is successfully set. OK!");
    case ENoneSetFlow:
        return tr("Controls::Flow is successfully set. OK!");
    case ENoneSetCharTimeout:
        return tr("Controls::Char timeout is successfully set. OK!");
    case ENoneSetDtr:
        return tr("Controls::DTR is successfully changed. OK!");
    case ENoneSetRts:
        return tr("Controls::RTS is successfully changed. OK!");
    case ENoneLineStatus:
        return tr("Controls::Status lines successfully get. OK!");
    case ENoneSendBreak:
        return tr("Controls::Send break successfully. OK!");
    case ENoneSetBreak:
        return tr("Controls::Set break successfully. OK!");
    case ENoneFlush:
        return tr("Controls::Flush successfully. OK!");
    case ENoneReset:
        return tr("Controls::Reset successfully. OK!");
    case EOpen:
        return tr("Error opening. Error!");
    case EDeviceIsNotOpen:
        return tr("Device is not open. Error!");
    case EOpenModeUnsupported:
        return tr("Opened::Opened mode unsupported. Error!");
    case EOpenModeUndefined:
        return tr("Opened::Opened mode undefined. Error!");
    case EOpenInvalidFD:
        return tr("Opened::Invalid device descriptor. Error!");
    case EOpenOldSettingsNotSaved:
        return tr("Opened::Fail saved old settings. Error!");
    case EOpenGetCurrentSettings:
        return tr("Opened::Fail get current settings. Error!");
    case EOpenSetDefaultSettings:
        return tr("Opened::Fail set default settings. Error!");
    case EDeviceIsOpen:
        return tr("Device is already open. Error!");
    case ECloseSetOldSettings:
        return tr("Closed::Fail set old settings. Error!");
    case ECloseFD:
        return tr("Closed::Fail close device descriptor. Error!");
    case EClose:
        return tr("Closed::Fail close device. Error!");
    case ESetBaudRate:
        return tr("Parameters::Set baud rate fail. Error!");
    case ESetDataBits:
        return tr("Parameters::Set data bits fail. Error!");
    case ESetParity:
        return tr("Parameters::Set parity fail. Error!");
    case ESetStopBits:
        return tr("Parameters::Set stop bits fail. Error!");
    case ESetFlowControl:
        return tr("Parameters::Set flow control fail. Error!");
    case ESetCharIntervalTimeout:
        return tr("Parameters::Set char interval timeout. Error!");
    case ESetReadTotalTimeout:
        return tr("Parameters::Set total read interval timeout. Error!");
    case EBytesAvailable:
        return tr("Controls::Get bytes available fail. Error!");
    case ESetDtr:
        return tr("Controls::Set DTR fail. Error!");
    case ESetRts:
        return tr("Controls::Set RTS fail. Error!");
    case ELineStatus:
        return tr("Controls::Get lines status fail. Error!");
    case EWaitReadyReadIO:
        return tr("Controls::Wait for ready read from device - i/o problem. Error!");
    case EWaitReadyReadTimeout:
        return tr("Controls::Wait for ready read timeout. Error!");
    case EWaitBytesWrittenIO:
        return tr("Controls::Wait for bytes writtten to device - i/o problem. Error!");
    case EWaitBytesWrittenTimeout:
        return tr("Controls::Wait for bytes writtten timeout. Error!");
    case EReadDataIO:
        return tr("Controls::Read data from device - i/o problem. Error!");
    case EWriteDataIO:
        return tr("Controls::Write data to device - i/o problem. Error!");
    case EFlush:
        return tr("Controls::Flush fail. Error!");
    case ESendBreak:
        return tr("Controls::Send break fail. Error!");
    case ESetBreak:
        return tr("Controls::Set break fail. Error!");
    case EReset:
        return tr("Controls::Reset fail. Error!");
    default:
        return tr("AbstractSerial::statusToString(Status val) -> Status mode: %1 undefined. Error!")
            .arg(val);
    }
}

qint64 AbstractSerial::bytesAvailable() const
{
    qint64 pending = 0;
    if (d->isBuffered)
        pending = d->readBuffer.size();
    else if (isOpen() && d->engine)
        pending = qMax<qint64>(0, d->engine->bytesAvailable());
    return QIODevice::bytesAvailable() + pending;
}

qint64 AbstractSerial::bytesToWrite() const
{
    return d->writeBuffer.size();
}

bool AbstractSerial::waitForReadyRead(int msecs)
{
    if (!isOpen()) {
        d->emitStatus(EDeviceIsNotOpen);
        return false;
    }
    // Nothing will ever be read from a port opened for writing only, whatever
    // waits on the line: waiting for it would only spin.
    if (!(openMode() & ReadOnly)) {
        d->emitStatus(EReadDataIO);
        return false;
    }
    if (d->isBuffered && !d->readBuffer.isEmpty())
        return true;

    // The wait does the notifier's work; give its state back afterwards so that
    // readyRead() keeps coming once the caller returns to the event loop.
    const bool notificationWasOn = d->isReadNotificationEnabled();
    if (notificationWasOn)
        d->setReadNotificationEnabled(false);
    QElapsedTimer timer;
    timer.start();

    bool result = false;
    forever
    {
        bool readyToRead = false;
        bool readyToWrite = false;
        const bool woken = d->engine->waitForReadOrWrite(
            &readyToRead, &readyToWrite, true, !d->writeBuffer.isEmpty(), timeLeft(msecs, timer));
        if (d->engine->isHungUp()) {
            d->receiveExceptionNotification();
            d->emitStatus(EWaitReadyReadIO);
            break;
        }
        if (!woken) {
            d->emitStatus(EWaitReadyReadTimeout);
            break;
        }
        if (readyToRead && d->receiveReadNotification()) {
            result = true;
            break;
        }
        if (readyToWrite)
            d->receiveWriteNotification();
        if (msecs >= 0 && timer.elapsed() >= msecs) {
            d->emitStatus(EWaitReadyReadTimeout);
            break;
        }
    }
    if (notificationWasOn && isOpen() && !d->engine->isHungUp())
        d->setReadNotificationEnabled(true);
    return result;
}

bool AbstractSerial::waitForBytesWritten(int msecs)
{
    if (!isOpen()) {
        d->emitStatus(EDeviceIsNotOpen);
        return false;
    }
    // Nothing was written that could leave: the wait cannot succeed, so it does
    // not wait either.
    if (!(openMode() & WriteOnly)) {
        d->emitStatus(EWaitBytesWrittenTimeout);
        return false;
    }
    if (!d->isBuffered) {
        // An unbuffered write hands every byte to the port before it returns:
        // whatever was written has left, unless the port went away.
        if (d->engine->isHungUp()) {
            d->noticeHangUp();
            d->emitStatus(EWaitBytesWrittenIO);
            return false;
        }
        return true;
    }
    if (d->writeBuffer.isEmpty())
        return false;

    const bool notificationWasOn = d->isReadNotificationEnabled();
    if (notificationWasOn)
        d->setReadNotificationEnabled(false);
    QElapsedTimer timer;
    timer.start();

    const int failuresBefore = d->writeFailures;
    bool result = false;
    forever
    {
        // A slot run by the read notification may have flushed the buffer.
        if (d->writeBuffer.isEmpty()) {
            result = d->writeFailures == failuresBefore;
            break;
        }
        // Arrivals are taken into the read buffer meanwhile, while it has room;
        // bytes it cannot take would make the port look readable at once, each
        // time round.
        const bool checkRead =
            (openMode() & ReadOnly) &&
            (d->readBufferMaxSize <= 0 || d->readBuffer.size() < d->readBufferMaxSize);
        bool readyToRead = false;
        bool readyToWrite = false;
        const bool woken = d->engine->waitForReadOrWrite(&readyToRead, &readyToWrite, checkRead,
                                                         true, timeLeft(msecs, timer));
        if (d->engine->isHungUp()) {
            d->receiveExceptionNotification();
            d->emitStatus(EWaitBytesWrittenIO);
            break;
        }
        if (!woken) {
            d->emitStatus(EWaitBytesWrittenTimeout);
            break;
        }
        if (readyToRead && !d->receiveReadNotification())
            break;
        // A refused write discarded the buffer and reported its status: the
        // wait ends there, failed.
        if (readyToWrite && (d->receiveWriteNotification() || d->writeFailures != failuresBefore)) {
            result = d->writeFailures == failuresBefore;
            break;
        }
        if (msecs >= 0 && timer.elapsed() >= msecs) {
            d->emitStatus(EWaitBytesWrittenTimeout);
            break;
        }
    }
    if (notificationWasOn && isOpen() && !d->engine->isHungUp())
        d->setReadNotificationEnabled(true);
    return result;
}

qint64 AbstractSerial::readData(char* data, qint64 maxSize)
{
    if (!isOpen()) {
        d->emitStatus(EDeviceIsNotOpen);
        return -1;
    }
    if (!(openMode() & ReadOnly)) {
        d->emitStatus(EReadDataIO);
        return -1;
    }

    if (d->isBuffered) {
        if (!d->isReadNotificationEnabled() && !d->engine->isHungUp()) {
            d->setReadNotificationEnabled(true);
            // The buffer was full: what waits in the engine is taken once the
            // reader has made room, whether or not more arrives.
            d->pullLeftOver();
        }
        if (d->readBuffer.isEmpty())
            return 0;
        if (maxSize == 1) {
            *data = char(d->readBuffer.getChar());
            return 1;
        }
        return d->readBuffer.read(data, maxSize);
    }

    const qint64 got = d->engine->read(data, maxSize);
    if (got < 0)
        d->emitStatus(EReadDataIO);
    return got;
}

qint64 AbstractSerial::writeData(const char* data, qint64 maxSize)
{
    if (!isOpen()) {
        d->emitStatus(EDeviceIsNotOpen);
        return -1;
    }
    if (!(openMode() & WriteOnly)) {
        d->emitStatus(EWriteDataIO);
        return -1;
    }
    // Nothing to send is not a failure of the port.
    if (maxSize <= 0)
        return 0;

    if (d->engine->isHungUp()) {
        d->noticeHangUp();
        d->emitStatus(EWriteDataIO);
        return -1;
    }

    if (d->isBuffered) {
        d->writeBuffer.append(data, maxSize);
        // The port is usually ready: the bytes are handed over within this call,
        // and a failure then concerns them too.
        const int failuresBefore = d->writeFailures;
        d->setWriteNotificationEnabled(true);
        return d->writeFailures == failuresBefore ? maxSize : -1;
    }

    const qint64 written = d->engine->write(data, maxSize);
    if (written < 0) {
        d->noticeHangUp();
        d->emitStatus(EWriteDataIO);
        return -1;
    }
    if (!d->writeBuffer.isEmpty())
        d->setWriteNotificationEnabled(true);
    if (!d->emittedBytesWritten) {
        d->emittedBytesWritten = true;
        emit bytesWritten(written);
        d->emittedBytesWritten = false;
    }
    return written;
}

namespace {

// Written as separate items, so the stream's own spacing and quoting apply:
// AbstractSerial::Parity( "Odd" )
QDebug writeDebugText(QDebug debug, const char* type, const QString& text)
{
    debug << type << text << ")";
    return debug;
}

QString textOrUndefined(const char* const texts[], int count, int value)
{
    return value >= 0 && value < count ? QString::fromLatin1(texts[value])
                                       : QStringLiteral("Undefined");
}

} // namespace

QDebug operator<<(QDebug debug, AbstractSerial::BaudRate value)
{
    const qint32 rate = AbstractSerialPrivate::rateOfCode(value);
    return writeDebugText(debug, "AbstractSerial::BaudRate(",
                          rate > 0 ? QString::number(rate) : QStringLiteral("Undefined"));
}

QDebug operator<<(QDebug debug, AbstractSerial::DataBits value)
{
    static const char* const texts[] = {"5", "6", "7", "8"};
    return writeDebugText(debug, "AbstractSerial::DataBits(", textOrUndefined(texts, 4, value));
}

QDebug operator<<(QDebug debug, AbstractSerial::Parity value)
{
    static const char* const texts[] = {"None", "Odd", "Even", "Mark", "Space"};
    return writeDebugText(debug, "AbstractSerial::Parity(", textOrUndefined(texts, 5, value));
}

QDebug operator<<(QDebug debug, AbstractSerial::StopBits value)
{
    static const char* const texts[] = {"1", "1.5", "2"};
    return writeDebugText(debug, "AbstractSerial::StopBits(", textOrUndefined(texts, 3, value));
}

QDebug operator<<(QDebug debug, AbstractSerial::Flow value)
{
    static const char* const texts[] = {"Off", "Hardware", "Xon/Xoff"};
    return writeDebugText(debug, "AbstractSerial::Flow(", textOrUndefined(texts, 3, value));
}

QDebug operator<<(QDebug debug, AbstractSerial::LineStatus value)
{
    static const struct
    {
        int flag;
        const char* name;
    } names[] = {{AbstractSerial::LineLE, "LE"},   {AbstractSerial::LineDTR, "DTR"},
                 {AbstractSerial::LineRTS, "RTS"}, {AbstractSerial::LineST, "ST"},
                 {AbstractSerial::LineSR, "SR"},   {AbstractSerial::LineCTS, "CTS"},
                 {AbstractSerial::LineDCD, "DCD"}, {AbstractSerial::LineRI, "RI"},
                 {AbstractSerial::LineDSR, "DSR"}, {AbstractSerial::LineErr, "Error"}};
    QStringList set;
    for (const auto& name : names) {
        if (value & name.flag)
            set << QString::fromLatin1(name.name);
    }
    return writeDebugText(debug, "AbstractSerial::LineStatus(", set.join(QLatin1Char('|')));
}
