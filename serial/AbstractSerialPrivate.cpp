#include "AbstractSerialPrivate.h"

#include "AbstractSerial.h"
#include "AbstractSerialEngine.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

// Rates of the BaudRate codes 0 to 34, in code order.
constexpr qint32 rates[] = {50,      75,      110,     134,     150,     200,     300,
                            600,     1200,    1800,    2400,    4800,    9600,    14400,
                            19200,   38400,   56000,   57600,   76800,   115200,  128000,
                            230400,  256000,  460800,  500000,  576000,  921600,  1000000,
                            1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

QString tr(const char* text)
{
    return QCoreApplication::translate("AbstractSerial", text);
}

// Rates that are too unusual to be offered in a list of choices.
bool hasText(qint32 rate)
{
    return rate != 50 && rate != 75 && rate != 134 && rate != 150 && rate != 200 && rate != 1800;
}

} // namespace

AbstractSerialPrivate::AbstractSerialPrivate(AbstractSerial* parent) : device(parent)
{
    engine = AbstractSerialEngine::createEngine(parent);
    if (engine) {
        engine->setReceiver(this);
        buildMaps();
    }
}

AbstractSerialPrivate::~AbstractSerialPrivate() = default;

QMap<int, QString> AbstractSerialPrivate::baudRateTextTable()
{
    QMap<int, QString> map;
    map.insert(AbstractSerial::BaudRateUndefined, tr("Undefined baud"));
    for (int code = 0; code < int(std::size(rates)); ++code) {
        if (hasText(rates[code]))
            map.insert(code, tr("%1 baud").arg(rates[code]));
    }
    return map;
}

QMap<int, QString> AbstractSerialPrivate::dataBitsTextTable()
{
    return {{AbstractSerial::DataBitsUndefined, tr("Undefined data bits")},
            {AbstractSerial::DataBits5, tr("5 bit")},
            {AbstractSerial::DataBits6, tr("6 bit")},
            {AbstractSerial::DataBits7, tr("7 bit")},
            {AbstractSerial::DataBits8, tr("8 bit")}};
}

QMap<int, QString> AbstractSerialPrivate::parityTextTable()
{
    return {{AbstractSerial::ParityUndefined, tr("Undefined parity")},
            {AbstractSerial::ParityNone, tr("None")},
            {AbstractSerial::ParityOdd, tr("Odd")},
            {AbstractSerial::ParityEven, tr("Even")},
            {AbstractSerial::ParityMark, tr("Mark")},
            {AbstractSerial::ParitySpace, tr("Space")}};
}

QMap<int, QString> AbstractSerialPrivate::stopBitsTextTable()
{
    return {{AbstractSerial::StopBitsUndefined, tr("Undefined stop bits")},
            {AbstractSerial::StopBits1, tr("1")},
            {AbstractSerial::StopBits1_5, tr("1.5")},
            {AbstractSerial::StopBits2, tr("2")}};
}

QMap<int, QString> AbstractSerialPrivate::flowTextTable()
{
    return {{AbstractSerial::FlowControlUndefined, tr("Undefined flow")},
            {AbstractSerial::FlowControlOff, tr("Disable")},
            {AbstractSerial::FlowControlHardware, tr("Hardware")},
            {AbstractSerial::FlowControlXonXoff, tr("Xon/Xoff")}};
}

qint32 AbstractSerialPrivate::rateOfCode(int code)
{
    return code >= 0 && code < int(std::size(rates)) ? rates[code] : -1;
}

void AbstractSerialPrivate::buildMaps()
{
    baudRateMap = baudRateTextTable();
    dataBitsMap = dataBitsTextTable();
    parityMap = parityTextTable();
    stopBitsMap = stopBitsTextTable();
    flowMap = flowTextTable();
}

void AbstractSerialPrivate::resetSession()
{
    readBuffer.clear();
    writeBuffer.clear();
    lastCts = false;
    lastDsr = false;
    lastRing = false;
    hungUp = false;
}

void AbstractSerialPrivate::emitStatus(int status)
{
    const QString text = AbstractSerial::statusToString(status);
    if (status >= AbstractSerial::EOpen)
        device->setErrorString(text);
    if (emittedStatus)
        emit device->signalStatus(text, QDateTime::currentDateTime());
}

bool AbstractSerialPrivate::isReadNotificationEnabled() const
{
    return engine && engine->isReadNotificationEnabled();
}

void AbstractSerialPrivate::setReadNotificationEnabled(bool enable)
{
    if (engine)
        engine->setReadNotificationEnabled(enable);
}

void AbstractSerialPrivate::setWriteNotificationEnabled(bool enable)
{
    if (engine)
        engine->setWriteNotificationEnabled(enable);
}

bool AbstractSerialPrivate::receiveReadNotification()
{
    const bool wasReading = isReading;
    // A slot connected to readyRead() is waiting for more data: keep the
    // notifier quiet while this nested notification runs.
    const bool savesState = isReading && !readNotificationSaved;
    if (savesState) {
        savedReadNotification = isReadNotificationEnabled();
        readNotificationSaved = true;
        setReadNotificationEnabled(false);
    }
    isReading = true;

    bool handled = true;
    bool hasNewData = false;
    if (isBuffered) {
        if (readBufferMaxSize > 0 && readBuffer.size() >= readBufferMaxSize) {
            handled = false;
        } else {
            const qint64 before = readBuffer.size();
            if (!readFromEngine()) {
                handled = false;
            } else {
                if (readBufferMaxSize > 0 && readBuffer.size() == readBufferMaxSize)
                    setReadNotificationEnabled(false);
                hasNewData = readBuffer.size() > before;
            }
        }
    } else {
        hasNewData = engine->bytesAvailable() > 0;
    }

    if (handled) {
        if (hasNewData && !emittedReadyRead) {
            emittedReadyRead = true;
            emit device->readyRead();
            emittedReadyRead = false;
        }
        if (!hasNewData && !isReadNotificationEnabled())
            setReadNotificationEnabled(true);
        // Only after progress: a port that announces bytes it never gives
        // would otherwise be asked again and again.
        if (isBuffered && hasNewData && !wasReading)
            pullLeftOver();
    }

    // Restore on every way out, so a nested notification that found nothing
    // does not leave the notifier switched off for good.
    if (savesState) {
        if (savedReadNotification != isReadNotificationEnabled())
            setReadNotificationEnabled(savedReadNotification);
        readNotificationSaved = false;
    }
    isReading = wasReading;
    return handled;
}

void AbstractSerialPrivate::pullLeftOver()
{
    if (pullScheduled)
        return;
    pullScheduled = true;
    QMetaObject::invokeMethod(
        device,
        [this] {
            pullScheduled = false;
            if (!device->isOpen() || !isBuffered || isReading || engine->isHungUp())
                return;
            if (readBufferMaxSize > 0 && readBuffer.size() >= readBufferMaxSize)
                return; // the reader's next read asks again
            if (engine->bytesAvailable() > 0)
                receiveReadNotification();
        },
        Qt::QueuedConnection);
}

bool AbstractSerialPrivate::readFromEngine()
{
    qint64 bytes = engine->bytesAvailable();
    if (bytes <= 0)
        return false;
    if (readBufferMaxSize > 0)
        bytes = qMin(bytes, readBufferMaxSize - readBuffer.size());
    if (bytes <= 0)
        return false;

    char* room = readBuffer.reserve(bytes);
    const qint64 got = engine->read(room, bytes);
    if (got <= 0) {
        readBuffer.chop(bytes);
        return false;
    }
    readBuffer.chop(bytes - got);
    return true;
}

bool AbstractSerialPrivate::receiveWriteNotification()
{
    // Switching the write notification on may report at once that the port takes
    // bytes; answering that from inside this call would recurse once per block,
    // so it is noted here and served by the loop below.
    if (isWriting) {
        writeNotificationPending = true;
        return false;
    }
    isWriting = true;
    const qint64 before = writeBuffer.size();
    do {
        writeNotificationPending = false;
        if (engine->isWriteNotificationEnabled())
            setWriteNotificationEnabled(false);
        flushWriteBuffer();
        if (!writeBuffer.isEmpty())
            setWriteNotificationEnabled(true);
    } while (writeNotificationPending && !writeBuffer.isEmpty());
    writeNotificationPending = false;
    isWriting = false;
    return writeBuffer.size() < before;
}

bool AbstractSerialPrivate::flushWriteBuffer()
{
    if (!engine || writeBuffer.isEmpty())
        return false;

    const qint64 written =
        engine->write(writeBuffer.readPointer(), writeBuffer.nextDataBlockSize());
    if (written < 0) {
        qDebug() << "AbstractSerial: write failed on" << engine->deviceName() << "- discarding"
                 << writeBuffer.size() << "unsent bytes";
        writeBuffer.clear();
        setWriteNotificationEnabled(false);
        ++writeFailures;
        emitStatus(AbstractSerial::EWriteDataIO);
        noticeHangUp();
        return false;
    }
    writeBuffer.free(written);
    if (written > 0 && !emittedBytesWritten) {
        emittedBytesWritten = true;
        emit device->bytesWritten(written);
        emittedBytesWritten = false;
    }
    if (writeBuffer.isEmpty())
        setWriteNotificationEnabled(false);
    return true;
}

bool AbstractSerialPrivate::receiveExceptionNotification()
{
    if (engine->isHungUp()) {
        noticeHangUp();
        return true;
    }
    emit device->exception();
    return true;
}

void AbstractSerialPrivate::noticeHangUp()
{
    if (hungUp || !engine || !engine->isHungUp())
        return;
    hungUp = true;
    qDebug() << "AbstractSerial:" << engine->deviceName() << "hung up";
    emit device->readChannelFinished();
}

bool AbstractSerialPrivate::receiveLineNotification()
{
    const quint16 status = engine->lineStatus();
    if (status & AbstractSerial::LineErr)
        return true;
    const bool cts = status & AbstractSerial::LineCTS;
    const bool dsr = status & AbstractSerial::LineDSR;
    const bool ring = status & AbstractSerial::LineRI;
    if (cts != lastCts) {
        lastCts = cts;
        emit device->ctsChanged(cts);
    }
    if (dsr != lastDsr) {
        lastDsr = dsr;
        emit device->dsrChanged(dsr);
    }
    if (ring != lastRing) {
        lastRing = ring;
        emit device->ringChanged(ring);
    }
    return true;
}
