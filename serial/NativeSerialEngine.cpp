#include "NativeSerialEngine.h"
#include "PosixCall.h"

#include "NativeSerialEnginePrivate.h"
#include "NativeSerialNotifier.h"

#include <QAbstractEventDispatcher>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The bound of one transfer block, as long as a stuck port may hold a caller.
const int blockWaitMsecs = 5000;
// What one read() takes from the line into the read-ahead: more than a terminal
// queues at a time, so a single call takes everything waiting.
const qint64 readAheadSize = 64 * 1024;
const qint64 writeBlockSize = 512;

void trace(const char* function, int error)
{
    posix::traceFailure("NativeSerialEngine", function, error);
}

// poll() on one descriptor, restarted after a signal with the time that is left.
// msecs < 0 waits without limit.
int pollRetry(int descriptor, short events, int msecs, short* revents)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        pollfd entry = {descriptor, events, 0};
        int wait = msecs;
        if (msecs > 0)
            wait = int(qMax<qint64>(0, msecs - clock.elapsed()));
        const int result = ::poll(&entry, 1, wait);
        if (result == -1 && errno == EINTR)
            continue;
        *revents = entry.revents;
        return result;
    }
}

bool isHangUpEvent(short revents)
{
    return revents & (POLLHUP | POLLERR | POLLNVAL);
}

// Errors that mean the device itself went away.
bool isGoneError(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

QString devicePath(const QString& name)
{
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

int dataBitsCount(AbstractSerial::DataBits code)
{
    switch (code) {
    case AbstractSerial::DataBits5:
        return 5;
    case AbstractSerial::DataBits6:
        return 6;
    case AbstractSerial::DataBits7:
        return 7;
    default:
        return 8;
    }
}

} // namespace

NativeSerialEngine::NativeSerialEngine(AbstractSerial* parent)
    : AbstractSerialEngine(new NativeSerialEnginePrivate, parent)
{
    d()->deviceName = QStringLiteral("ttyS0");
}

NativeSerialEngine::~NativeSerialEngine()
{
    close();
}

NativeSerialEnginePrivate* NativeSerialEngine::d() const
{
    return static_cast<NativeSerialEnginePrivate*>(d_ptr);
}

int NativeSerialEngine::descriptor() const
{
    return d()->descriptor;
}

bool NativeSerialEngine::open(QIODevice::OpenMode mode)
{
    NativeSerialEnginePrivate* const p = d();
    if (p->descriptor != -1) {
        qDebug() << "NativeSerialEngine: open: the port is already open";
        return false;
    }
    const bool reading = mode & QIODevice::ReadOnly;
    const bool writing = mode & QIODevice::WriteOnly;
    if (!reading && !writing) {
        qDebug() << "NativeSerialEngine: open: neither reading nor writing asked for";
        return false;
    }
    int flags = reading && writing ? O_RDWR : (reading ? O_RDONLY : O_WRONLY);
    flags |= O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const QString path = devicePath(p->deviceName);

    // A lock file first: opening a tty can already raise its modem lines, which
    // a program that holds the port would not want.
    p->lockFile.reset(new SerialLockFile(path));
    if (!p->lockFile->acquire()) {
        p->lockFile.reset();
        return false;
    }
    const QByteArray encoded = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(encoded.constData(), flags);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1) {
        trace("open", errno);
        p->lockFile.reset();
        return false;
    }
    p->descriptor = fd;
    p->openedForReading = reading;
    p->openedForWriting = writing;
    p->hungUp = false;

    // Exclusive like a share mode of 0: the advisory lock keeps out every
    // cooperating process, TIOCEXCL every other open of the tty but root's. The
    // lock comes first: a port that somebody else holds must keep its exclusive
    // mode, so this engine sets it only on a port it has, and clears it at the
    // close only if it set it. Root gets past another holder's TIOCEXCL, so it
    // is asked for too.
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked == -1 && errno == EINTR);
    if (locked == -1) {
        trace("flock", errno);
        close();
        return false;
    }
    p->locked = true;
    int exclusive = 0;
    if (posix::ioctlRetry(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        qDebug() << "NativeSerialEngine: open:" << path << "is in exclusive mode for another user";
        close();
        return false;
    }
    if (posix::ioctlRetry(fd, TIOCEXCL, nullptr) == -1) {
        trace("ioctl(TIOCEXCL)", errno);
        close();
        return false;
    }
    p->exclusiveSet = true;

    if (!p->savedSettings.load(fd)) {
        close();
        return false;
    }
    p->currentSettings = p->savedSettings;
    p->oldSettingsIsSaved = true;

    // Raw bytes and no software flow control; rate, word, parity, stop bits,
    // hardware handshake and the modem lines keep the port's values.
    p->currentSettings.binary = true;
    p->currentSettings.abortOnError = false;
    p->currentSettings.outX = false;
    p->currentSettings.inX = false;
    if (!p->currentSettings.apply(fd)) {
        close();
        return false;
    }

    p->readTotalTimeoutConstant = 0;
    p->isAutoCalcReadTimeoutConstant = false;
    readSettingsBack();

    serial_icounter_struct counters;
    std::memset(&counters, 0, sizeof counters);
    p->hasLineErrorCounters = posix::ioctlRetry(fd, TIOCGICOUNT, &counters) == 0;
    p->lineErrorCount = quint64(counters.frame) + counters.overrun + counters.parity +
                        counters.brk + counters.buf_overrun;
    return true;
}

bool NativeSerialEngine::close()
{
    NativeSerialEnginePrivate* const p = d();
    if (p->descriptor == -1)
        return true;
    const int fd = p->descriptor;

    // Give the port back as it was found; a port that went away refuses, which
    // does not change the outcome of the close.
    if (p->oldSettingsIsSaved) {
        if (!p->savedSettings.restore(fd))
            qDebug() << "NativeSerialEngine: close: the port's settings could not be restored";
        p->oldSettingsIsSaved = false;
    }
    if (p->notifier)
        p->notifier->setDescriptor(-1);
    if (p->exclusiveSet && posix::ioctlRetry(fd, TIOCNXCL, nullptr) == -1 && !p->hungUp)
        trace("ioctl(TIOCNXCL)", errno);
    p->exclusiveSet = false;
    if (p->locked && ::flock(fd, LOCK_UN) == -1)
        trace("flock(LOCK_UN)", errno);
    p->locked = false;

    bool closed = true;
    // Linux releases the descriptor even when close() is interrupted: never retry.
    if (::close(fd) == -1 && errno != EINTR) {
        trace("close", errno);
        closed = false;
    }
    p->descriptor = -1;
    p->openedForReading = false;
    p->openedForWriting = false;
    p->hungUp = false;
    p->forgetReceived();
    // The lock file goes once the port is given back.
    p->lockFile.reset();
    return closed;
}

void NativeSerialEngine::readSettingsBack()
{
    NativeSerialEnginePrivate* const p = d();
    const SerialPortSettings& s = p->currentSettings;
    p->inputBaudRate = qint32(s.baudRate);
    p->outputBaudRate = qint32(s.baudRate);

    if (s.byteSize >= 5 && s.byteSize <= 8)
        p->dataBits = AbstractSerial::DataBits(s.byteSize - 5);
    else
        p->dataBits = AbstractSerial::DataBitsUndefined;

    if (s.parity == SerialPortSettings::NoParity && !s.parityEnabled)
        p->parity = AbstractSerial::ParityNone;
    else if (s.parity >= SerialPortSettings::OddParity &&
             s.parity <= SerialPortSettings::SpaceParity && s.parityEnabled)
        p->parity = AbstractSerial::Parity(s.parity);
    else
        p->parity = AbstractSerial::ParityUndefined;

    if (s.stopBits <= SerialPortSettings::TwoStopBits)
        p->stopBits = AbstractSerial::StopBits(s.stopBits);
    else
        p->stopBits = AbstractSerial::StopBitsUndefined;

    if (!s.outxCtsFlow && s.rtsControl == SerialPortSettings::RtsControlDisable && !s.inX &&
        !s.outX)
        p->flow = AbstractSerial::FlowControlOff;
    else if (s.outxCtsFlow && s.rtsControl == SerialPortSettings::RtsControlHandshake && !s.inX &&
             !s.outX)
        p->flow = AbstractSerial::FlowControlHardware;
    else if (!s.outxCtsFlow && s.rtsControl == SerialPortSettings::RtsControlDisable && s.inX &&
             s.outX)
        p->flow = AbstractSerial::FlowControlXonXoff;
    else
        p->flow = AbstractSerial::FlowControlUndefined;
}

bool NativeSerialEngine::submitSettings()
{
    const NativeSerialEnginePrivate* const p = d();
    if (p->descriptor == -1)
        return false;
    return p->currentSettings.apply(p->descriptor);
}

bool NativeSerialEngine::setBaudRate(qint32 baudRate, AbstractSerial::BaudDirection baudDir)
{
    NativeSerialEnginePrivate* const p = d();
    // One rate serves both directions.
    if (baudDir != AbstractSerial::BaudDirectionAll || baudRate <= 0)
        return false;
    p->currentSettings.baudRate = quint32(baudRate);
    if (!submitSettings())
        return false;
    p->inputBaudRate = baudRate;
    p->outputBaudRate = baudRate;
    recomputeReadTimeout();
    return true;
}

bool NativeSerialEngine::setDataBits(AbstractSerial::DataBits dataBits)
{
    NativeSerialEnginePrivate* const p = d();
    if (dataBits < AbstractSerial::DataBits5 || dataBits > AbstractSerial::DataBits8)
        return false;
    // A UART sends 1.5 stop bits only with 5-bit words, and 2 only with longer ones.
    if (dataBits == AbstractSerial::DataBits5 && p->stopBits == AbstractSerial::StopBits2)
        return false;
    if (dataBits != AbstractSerial::DataBits5 && p->stopBits == AbstractSerial::StopBits1_5)
        return false;
    p->currentSettings.byteSize = quint8(5 + dataBits);
    if (!submitSettings())
        return false;
    p->dataBits = dataBits;
    recomputeReadTimeout();
    return true;
}

bool NativeSerialEngine::setParity(AbstractSerial::Parity parity)
{
    NativeSerialEnginePrivate* const p = d();
    if (parity < AbstractSerial::ParityNone || parity > AbstractSerial::ParitySpace)
        return false;
    p->currentSettings.parity = quint8(parity);
    p->currentSettings.parityEnabled = parity != AbstractSerial::ParityNone;
    if (!submitSettings())
        return false;
    p->parity = parity;
    recomputeReadTimeout();
    return true;
}

bool NativeSerialEngine::setStopBits(AbstractSerial::StopBits stopBits)
{
    NativeSerialEnginePrivate* const p = d();
    if (stopBits < AbstractSerial::StopBits1 || stopBits > AbstractSerial::StopBits2)
        return false;
    if (stopBits == AbstractSerial::StopBits2 && p->dataBits == AbstractSerial::DataBits5)
        return false;
    if (stopBits == AbstractSerial::StopBits1_5 &&
        (p->dataBits == AbstractSerial::DataBits6 || p->dataBits == AbstractSerial::DataBits7 ||
         p->dataBits == AbstractSerial::DataBits8))
        return false;
    p->currentSettings.stopBits = quint8(stopBits);
    if (!submitSettings())
        return false;
    p->stopBits = stopBits;
    recomputeReadTimeout();
    return true;
}

bool NativeSerialEngine::setFlowControl(AbstractSerial::Flow flow)
{
    NativeSerialEnginePrivate* const p = d();
    SerialPortSettings& s = p->currentSettings;
    switch (flow) {
    case AbstractSerial::FlowControlOff:
        s.outxCtsFlow = false;
        s.rtsControl = SerialPortSettings::RtsControlDisable;
        s.outX = false;
        s.inX = false;
        break;
    case AbstractSerial::FlowControlHardware:
        s.outxCtsFlow = true;
        s.rtsControl = SerialPortSettings::RtsControlHandshake;
        s.outX = false;
        s.inX = false;
        break;
    case AbstractSerial::FlowControlXonXoff:
        s.outxCtsFlow = false;
        s.rtsControl = SerialPortSettings::RtsControlDisable;
        s.outX = true;
        s.inX = true;
        break;
    default:
        return false;
    }
    if (!submitSettings())
        return false;
    p->flow = flow;
    return true;
}

void NativeSerialEngine::setCharIntervalTimeout(int usecs)
{
    d()->charIntervalTimeout = usecs;
    recomputeReadTimeout();
}

int NativeSerialEngine::charIntervalTimeout() const
{
    return d()->charIntervalTimeout;
}

void NativeSerialEngine::setTotalReadTimeout(int msecs)
{
    NativeSerialEnginePrivate* const p = d();
    if (msecs == -1) {
        p->isAutoCalcReadTimeoutConstant = true;
        recomputeReadTimeout();
        return;
    }
    p->isAutoCalcReadTimeoutConstant = false;
    p->readTotalTimeoutConstant = msecs;
}

int NativeSerialEngine::totalReadTimeout() const
{
    return d()->readTotalTimeoutConstant;
}

// The time of 256 characters and 255 character gaps at the current line settings.
void NativeSerialEngine::recomputeReadTimeout()
{
    NativeSerialEnginePrivate* const p = d();
    if (!p->isAutoCalcReadTimeoutConstant || p->inputBaudRate != p->outputBaudRate ||
        p->inputBaudRate <= 0)
        return;
    const quint32 frameBits = 1 + quint32(dataBitsCount(p->dataBits)) +
                              (p->parity == AbstractSerial::ParityNone ? 0 : 1) +
                              (p->stopBits == AbstractSerial::StopBits2 ? 2 : 1);
    const qint64 msecs = qint64(frameBits * 256u * 1000u / quint32(p->inputBaudRate)) +
                         qint64(p->charIntervalTimeout) * 255 / 1000;
    if (msecs != p->readTotalTimeoutConstant)
        p->readTotalTimeoutConstant = int(msecs);
}

bool NativeSerialEngine::setDtr(bool set)
{
    int line = TIOCM_DTR;
    if (posix::ioctlRetry(d()->descriptor, set ? TIOCMBIS : TIOCMBIC, &line) == -1) {
        trace(set ? "ioctl(TIOCMBIS)" : "ioctl(TIOCMBIC)", errno);
        return false;
    }
    return true;
}

bool NativeSerialEngine::setRts(bool set)
{
    int line = TIOCM_RTS;
    if (posix::ioctlRetry(d()->descriptor, set ? TIOCMBIS : TIOCMBIC, &line) == -1) {
        trace(set ? "ioctl(TIOCMBIS)" : "ioctl(TIOCMBIC)", errno);
        return false;
    }
    return true;
}

quint16 NativeSerialEngine::lineStatus()
{
    int lines = 0;
    if (posix::ioctlRetry(d()->descriptor, TIOCMGET, &lines) == -1) {
        trace("ioctl(TIOCMGET)", errno);
        return AbstractSerial::LineErr;
    }
    quint16 status = 0;
    if (lines & TIOCM_CTS)
        status |= AbstractSerial::LineCTS;
    if (lines & TIOCM_DSR)
        status |= AbstractSerial::LineDSR;
    if (lines & TIOCM_RNG)
        status |= AbstractSerial::LineRI;
    if (lines & TIOCM_CAR)
        status |= AbstractSerial::LineDCD;
    if (lines & TIOCM_DTR)
        status |= AbstractSerial::LineDTR;
    if (lines & TIOCM_RTS)
        status |= AbstractSerial::LineRTS;
    return status;
}

bool NativeSerialEngine::sendBreak(int duration)
{
    if (!setBreak(true))
        return false;
    QThread::msleep(ulong(qMax(0, duration)));
    return setBreak(false);
}

bool NativeSerialEngine::setBreak(bool set)
{
    if (posix::ioctlRetry(d()->descriptor, set ? TIOCSBRK : TIOCCBRK, nullptr) == -1) {
        trace(set ? "ioctl(TIOCSBRK)" : "ioctl(TIOCCBRK)", errno);
        return false;
    }
    return true;
}

bool NativeSerialEngine::flush()
{
    int result;
    do {
        result = ::tcdrain(d()->descriptor);
    } while (result == -1 && errno == EINTR);
    if (result == -1) {
        trace("tcdrain", errno);
        return false;
    }
    return true;
}

bool NativeSerialEngine::reset()
{
    if (::tcflush(d()->descriptor, TCIOFLUSH) == -1) {
        trace("tcflush", errno);
        return false;
    }
    // Received means received by the engine too.
    d()->forgetReceived();
    return true;
}

void NativeSerialEngine::noticeFailure(int error)
{
    if (isGoneError(error))
        markHungUp();
}

// A port that went away loses what it had received and not handed over, as the
// terminal itself discards its queue at a hang-up.
void NativeSerialEngine::markHungUp()
{
    NativeSerialEnginePrivate* const p = d();
    p->hungUp = true;
    p->forgetReceived();
}

// One read() of what the line holds, with the read-ahead empty: into the
// read-ahead, whose first bytes then go to the caller, or straight into the
// caller's memory when the request alone fills a read-ahead. The bytes handed
// over, 0 when the line had none, -1 when the port failed.
qint64 NativeSerialEngine::readFromLine(char* data, qint64 maxSize)
{
    NativeSerialEnginePrivate* const p = d();
    const bool direct = maxSize >= readAheadSize;
    const qint64 room = direct ? maxSize : readAheadSize;
    char* const target = direct ? data : p->readAhead.reserve(room);
    ssize_t n;
    do {
        n = ::read(p->descriptor, target, size_t(room));
    } while (n == -1 && errno == EINTR);
    const int error = errno; // the trace may change errno
    if (!direct)
        p->readAhead.chop(room - qMax<ssize_t>(n, 0));
    if (n == -1) {
        if (error == EAGAIN || error == EWOULDBLOCK)
            return 0;
        trace("read", error);
        noticeFailure(error);
        return -1;
    }
    // A terminal that was full takes its pending input in while it is read:
    // bytes beyond the last look arrived during this read, and as the terminal
    // no longer holds them its readiness report is withdrawn before anybody
    // sees it. What of them stays in the read-ahead is announced here.
    const bool unseen = n > p->lineSeen;
    p->lineSeen = unseen ? 0 : p->lineSeen - n;
    if (direct)
        return n;
    const qint64 handed = p->readAhead.read(data, maxSize);
    if (unseen)
        announceReadAhead();
    return handed;
}

// A line error counted by the driver since the last look is reported once.
bool NativeSerialEngine::lineErrorsGrew()
{
    NativeSerialEnginePrivate* const p = d();
    if (!p->hasLineErrorCounters)
        return false;
    serial_icounter_struct counters;
    std::memset(&counters, 0, sizeof counters);
    if (posix::ioctlRetry(p->descriptor, TIOCGICOUNT, &counters) == -1) {
        trace("ioctl(TIOCGICOUNT)", errno);
        return false;
    }
    const quint64 count = quint64(counters.frame) + counters.overrun + counters.parity +
                          counters.brk + counters.buf_overrun;
    if (count == p->lineErrorCount)
        return false;
    p->lineErrorCount = count;
    return true;
}

qint64 NativeSerialEngine::bytesAvailable()
{
    NativeSerialEnginePrivate* const p = d();
    if (p->descriptor == -1 || p->hungUp)
        return -1;
    int count = 0;
    if (posix::ioctlRetry(p->descriptor, FIONREAD, &count) == -1) {
        const int error = errno; // the trace may change errno
        trace("ioctl(FIONREAD)", error);
        noticeFailure(error);
        return -1;
    }
    if (lineErrorsGrew())
        return -1;
    p->lineSeen = count;
    return count + p->readAhead.size();
}

qint64 NativeSerialEngine::writeBlock(const char* data, qint64 size)
{
    NativeSerialEnginePrivate* const p = d();
    if (p->descriptor == -1 || !p->openedForWriting || p->hungUp)
        return -1;
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    for (;;) {
        ssize_t n;
        do {
            n = ::write(p->descriptor, data + sent, size_t(size - sent));
        } while (n == -1 && errno == EINTR);
        if (n == -1 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno; // the trace may change errno
            trace("write", error);
            noticeFailure(error);
            return -1;
        }
        if (n > 0) {
            sent += n;
            if (sent == size)
                return sent;
            continue;
        }
        const qint64 left = blockWaitMsecs - clock.elapsed();
        if (left <= 0) {
            qDebug() << "NativeSerialEngine: write: the port took no byte for" << blockWaitMsecs
                     << "ms";
            return -1;
        }
        short revents = 0;
        const int ready = pollRetry(p->descriptor, POLLOUT, int(left), &revents);
        if (ready == -1) {
            trace("poll", errno);
            return -1;
        }
        if (isHangUpEvent(revents)) {
            markHungUp();
            return -1;
        }
    }
}

// What the read-ahead holds, then what the line holds, taken in one read() call
// however small the request: a reader of 16-byte blocks costs one system call
// per arrival rather than one per block. Within the total read timeout the call
// then waits for the rest. -1 only when the port failed before any byte came.
qint64 NativeSerialEngine::read(char* data, qint64 maxSize)
{
    NativeSerialEnginePrivate* const p = d();
    if (p->descriptor == -1 || !p->openedForReading || p->hungUp)
        return -1;
    qint64 total = p->readAhead.read(data, maxSize);
    if (total == maxSize)
        return total;
    const int limit = qBound(0, p->readTotalTimeoutConstant, blockWaitMsecs);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qint64 got = readFromLine(data + total, maxSize - total);
        if (got < 0)
            return total > 0 ? total : -1;
        total += got;
        if (total == maxSize)
            return total;
        // A raw tty with VMIN = VTIME = 0 reads 0 bytes both when it is empty and
        // when it hung up; poll tells the two apart.
        const qint64 left = qMax<qint64>(0, limit - clock.elapsed());
        if (total > 0 && left == 0)
            return total;
        short revents = 0;
        const int ready = pollRetry(p->descriptor, POLLIN, int(left), &revents);
        if (ready == -1) {
            trace("poll", errno);
            return total > 0 ? total : -1;
        }
        if (isHangUpEvent(revents)) {
            markHungUp();
            return total > 0 ? total : -1;
        }
        if (ready == 0)
            return total;
    }
}

qint64 NativeSerialEngine::write(const char* data, qint64 maxSize)
{
    if (maxSize <= 0)
        return -1;
    qint64 total = 0;
    while (total < maxSize) {
        const qint64 block = qMin(writeBlockSize, maxSize - total);
        if (writeBlock(data + total, block) != block)
            return -1;
        total += block;
    }
    return total;
}

bool NativeSerialEngine::waitForReadOrWrite(bool* readyToRead, bool* readyToWrite, bool checkRead,
                                            bool checkWrite, int msecs)
{
    NativeSerialEnginePrivate* const p = d();
    if (checkRead && bytesAvailable() > 0) {
        if (readyToRead)
            *readyToRead = true;
        return true;
    }
    if (p->descriptor == -1 || p->hungUp)
        return false;
    const short events = short((checkRead ? POLLIN : 0) | (checkWrite ? POLLOUT : 0));
    if (!events)
        return false;
    short revents = 0;
    const int ready = pollRetry(p->descriptor, events, msecs < 0 ? -1 : msecs, &revents);
    if (ready == -1) {
        trace("poll", errno);
        return false;
    }
    if (ready == 0)
        return false;
    // A port that went away stays "ready" for ever; waiting on it again would spin.
    if (isHangUpEvent(revents)) {
        markHungUp();
        return false;
    }
    const bool canRead = checkRead && (revents & POLLIN) && bytesAvailable() != 0;
    const bool canWrite = checkWrite && (revents & POLLOUT);
    if (readyToRead)
        *readyToRead = canRead;
    if (readyToWrite)
        *readyToWrite = canWrite;
    return true;
}

bool NativeSerialEngine::prepareNotifier(bool enable)
{
    NativeSerialEnginePrivate* const p = d();
    if (!p->notifier) {
        if (!enable || !QAbstractEventDispatcher::instance(thread()))
            return false;
        p->notifier = new NativeSerialNotifier(this);
    }
    if (enable)
        p->notifier->setDescriptor(p->descriptor);
    return true;
}

bool NativeSerialEngine::isReadNotificationEnabled() const
{
    return d()->notifier && d()->notifier->isReadEnabled();
}

void NativeSerialEngine::setReadNotificationEnabled(bool enable)
{
    const bool wasEnabled = isReadNotificationEnabled();
    if (prepareNotifier(enable))
        d()->notifier->setReadEnabled(enable);
    // Switching the notification on reports what the terminal holds; bytes the
    // read-ahead took are reported the same way, from the event loop.
    if (enable && !wasEnabled && isReadNotificationEnabled())
        announceReadAhead();
}

void NativeSerialEngine::announceReadAhead()
{
    NativeSerialEnginePrivate* const p = d();
    if (p->readAhead.isEmpty() || p->readAheadAnnounced)
        return;
    p->readAheadAnnounced = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            NativeSerialEnginePrivate* const q = d();
            q->readAheadAnnounced = false;
            if (!q->readAhead.isEmpty() && isReadNotificationEnabled())
                readNotification();
        },
        Qt::QueuedConnection);
}

bool NativeSerialEngine::isWriteNotificationEnabled() const
{
    return d()->notifier && d()->notifier->isWriteEnabled();
}

void NativeSerialEngine::setWriteNotificationEnabled(bool enable)
{
    if (prepareNotifier(enable))
        d()->notifier->setWriteEnabled(enable);
}

bool NativeSerialEngine::isExceptionNotificationEnabled() const
{
    return d()->notifier && d()->notifier->isExceptionEnabled();
}

void NativeSerialEngine::setExceptionNotificationEnabled(bool enable)
{
    if (prepareNotifier(enable))
        d()->notifier->setExceptionEnabled(enable);
}

bool NativeSerialEngine::isLineNotificationEnabled() const
{
    return d()->notifier && d()->notifier->isLineEnabled();
}

void NativeSerialEngine::setLineNotificationEnabled(bool enable)
{
    if (prepareNotifier(enable))
        d()->notifier->setLineEnabled(enable);
}

bool NativeSerialEngine::isHungUp() const
{
    return d()->hungUp;
}

void NativeSerialEngine::hangUpNotification()
{
    markHungUp();
    exceptionNotification();
}
