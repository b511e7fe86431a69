#include "NativeSerialNotifier.h"
#include "PosixCall.h"

#include "NativeSerialEngine.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// How often modem inputs are sampled on drivers that have them.
const int lineSampleMsecs = 100;

void trace(const char* function, int error)
{
    posix::traceFailure("NativeSerialNotifier", function, error);
}

} // namespace

NativeSerialNotifier::NativeSerialNotifier(NativeSerialEngine* parent)
    : QObject(parent), engine(parent)
{
    createWatch(readWatch, &NativeSerialNotifier::readActivated);
    createWatch(writeWatch, &NativeSerialNotifier::writeActivated);
    lineTimer = new QTimer(this);
    lineTimer->setInterval(lineSampleMsecs);
    connect(lineTimer, &QTimer::timeout, this, &NativeSerialNotifier::lineTimeout);
}

NativeSerialNotifier::~NativeSerialNotifier()
{
    for (Watch* w : {&readWatch, &writeWatch}) {
        delete w->notifier;
        if (w->epollFd != -1 && ::close(w->epollFd) == -1)
            trace("close", errno);
    }
}

void NativeSerialNotifier::createWatch(Watch& w, void (NativeSerialNotifier::*handler)())
{
    w.epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (w.epollFd == -1) {
        trace("epoll_create1", errno);
        return;
    }
    w.notifier = new QSocketNotifier(w.epollFd, QSocketNotifier::Read, this);
    w.notifier->setEnabled(false);
    connect(w.notifier, &QSocketNotifier::activated, this, handler);
}

bool NativeSerialNotifier::isEnabled() const
{
    return enabledMask != 0 && !hungUp;
}

bool NativeSerialNotifier::isReadEnabled() const
{
    return isEnabled() && (enabledMask & ReadEvents);
}

bool NativeSerialNotifier::isWriteEnabled() const
{
    return isEnabled() && (enabledMask & WriteEvents);
}

bool NativeSerialNotifier::isExceptionEnabled() const
{
    return isEnabled() && (enabledMask & ExceptionEvents);
}

bool NativeSerialNotifier::isLineEnabled() const
{
    return isEnabled() && (enabledMask & LineEvents);
}

void NativeSerialNotifier::setReadEnabled(bool enable)
{
    setKind(ReadEvents, enable);
}

void NativeSerialNotifier::setWriteEnabled(bool enable)
{
    setKind(WriteEvents, enable);
    // The port may well be able to take bytes already: say so at once.
    if (enable)
        engine->writeNotification();
}

void NativeSerialNotifier::setExceptionEnabled(bool enable)
{
    setKind(ExceptionEvents, enable);
}

void NativeSerialNotifier::setLineEnabled(bool enable)
{
    setKind(LineEvents, enable);
}

void NativeSerialNotifier::setKind(quint32 bits, bool enable)
{
    if (enable)
        enabledMask |= bits;
    else
        enabledMask &= ~bits;
    applyMask();
}

void NativeSerialNotifier::descriptorChanged(int newDescriptor)
{
    Q_UNUSED(newDescriptor);
    // The old descriptor may be closed already; forget it rather than ask epoll.
    unwatch(readWatch);
    unwatch(writeWatch);
    lineTimer->stop();
    hungUp = false;
    skipWriteReport = false;
    lastLines = 0;
    hasLineErrorCounters = false;
    lineErrorCount = 0;
}

void NativeSerialNotifier::applyMask()
{
    if (fd == -1 || hungUp) {
        unwatch(readWatch);
        unwatch(writeWatch);
        lineTimer->stop();
        return;
    }

    // Line errors come with received bytes, so the exception kind listens to
    // arrivals too and then looks at the driver's error counters.
    const bool wantArrivals = enabledMask & (ReadEvents | ExceptionEvents);
    if ((enabledMask & ExceptionEvents) && !hasLineErrorCounters) {
        serial_icounter_struct counters;
        std::memset(&counters, 0, sizeof counters);
        hasLineErrorCounters = posix::ioctlRetry(fd, TIOCGICOUNT, &counters) == 0;
        lineErrorCount = quint64(counters.frame) + counters.overrun + counters.parity +
                         counters.brk + counters.buf_overrun;
    }
    // A port opened for writing only is still watched for a hang-up, which epoll
    // reports whatever events were asked for.
    watch(readWatch, wantArrivals ? quint32(EPOLLIN) : (enabledMask ? quint32(EPOLLHUP) : 0u));

    if ((enabledMask & WriteEvents) && writeWatch.events == 0) {
        // Arming an edge-triggered set reports the present state once; when the
        // port is writable now, that report repeats the immediate notification.
        pollfd entry = {fd, POLLOUT, 0};
        skipWriteReport = ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLOUT);
    }
    watch(writeWatch, (enabledMask & WriteEvents) ? quint32(EPOLLOUT) : 0u);

    if (enabledMask & LineEvents) {
        if (!lineTimer->isActive() && readModemLines(&lastLines))
            lineTimer->start();
    } else {
        lineTimer->stop();
    }
}

// Registers the port in the set with the given events (edge-triggered), or takes
// it out when there are none. A set is only touched when its events change:
// re-arming reports the present state again.
bool NativeSerialNotifier::watch(Watch& w, quint32 events)
{
    if (events == 0) {
        unwatch(w);
        return true;
    }
    if (w.epollFd == -1 || events == w.events)
        return w.epollFd != -1;
    epoll_event event;
    std::memset(&event, 0, sizeof event);
    event.events = events | EPOLLET;
    event.data.fd = fd;
    const int operation = w.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (::epoll_ctl(w.epollFd, operation, fd, &event) == -1) {
        trace("epoll_ctl", errno);
        return false;
    }
    w.events = events;
    w.notifier->setEnabled(true);
    return true;
}

void NativeSerialNotifier::unwatch(Watch& w)
{
    if (w.epollFd == -1)
        return;
    if (w.events != 0) {
        // A descriptor closed already has left the set by itself.
        epoll_event event;
        std::memset(&event, 0, sizeof event);
        if (::epoll_ctl(w.epollFd, EPOLL_CTL_DEL, fd, &event) == -1 && errno != EBADF &&
            errno != ENOENT)
            trace("epoll_ctl(EPOLL_CTL_DEL)", errno);
        w.events = 0;
    }
    // Reports queued before the removal go with it.
    drain(w);
    w.notifier->setEnabled(false);
}

// Collects the reports queued in a set; with edge triggering each report is one
// change of the port, and the set's descriptor is quiet again afterwards.
quint32 NativeSerialNotifier::drain(Watch& w)
{
    quint32 reported = 0;
    epoll_event events[4];
    for (;;) {
        const int count = ::epoll_wait(w.epollFd, events, 4, 0);
        if (count == -1 && errno == EINTR)
            continue;
        if (count == -1) {
            trace("epoll_wait", errno);
            break;
        }
        for (int i = 0; i < count; ++i)
            reported |= events[i].events;
        if (count < 4)
            break;
    }
    return reported;
}

void NativeSerialNotifier::readActivated()
{
    const quint32 reported = drain(readWatch);
    if (readWatch.events == 0)
        return;
    if (reported & (EPOLLHUP | EPOLLERR)) {
        hangUp();
        return;
    }
    if (!(reported & EPOLLIN))
        return;
    const int watched = fd;
    if (enabledMask & ReadEvents)
        engine->readNotification();
    // The engine's receiver may have closed or reconfigured the port meanwhile.
    if (fd == watched && !hungUp && (enabledMask & ExceptionEvents) && lineErrorsGrew())
        engine->exceptionNotification();
}

void NativeSerialNotifier::writeActivated()
{
    const quint32 reported = drain(writeWatch);
    if (writeWatch.events == 0)
        return;
    if (reported & (EPOLLHUP | EPOLLERR)) {
        hangUp();
        return;
    }
    if (!(reported & EPOLLOUT))
        return;
    if (skipWriteReport) {
        skipWriteReport = false;
        return;
    }
    if (enabledMask & WriteEvents)
        engine->writeNotification();
}

void NativeSerialNotifier::lineTimeout()
{
    int lines = 0;
    if (!readModemLines(&lines)) {
        lineTimer->stop();
        return;
    }
    // CTS, DSR and carrier detect; a ring alone is not asked for.
    const int changed = (lines ^ lastLines) & (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR);
    lastLines = lines;
    if (changed)
        engine->lineNotification();
}

bool NativeSerialNotifier::readModemLines(int* lines) const
{
    if (posix::ioctlRetry(fd, TIOCMGET, lines) == -1) {
        // Pseudo-terminals and some adapters have no modem lines at all.
        if (errno != ENOTTY && errno != EINVAL)
            trace("ioctl(TIOCMGET)", errno);
        return false;
    }
    return true;
}

bool NativeSerialNotifier::lineErrorsGrew()
{
    if (!hasLineErrorCounters)
        return false;
    serial_icounter_struct counters;
    std::memset(&counters, 0, sizeof counters);
    if (posix::ioctlRetry(fd, TIOCGICOUNT, &counters) == -1) {
        trace("ioctl(TIOCGICOUNT)", errno);
        return false;
    }
    const quint64 count = quint64(counters.frame) + counters.overrun + counters.parity +
                          counters.brk + counters.buf_overrun;
    if (count == lineErrorCount)
        return false;
    lineErrorCount = count;
    return true;
}

// The port went away: a hung-up tty stays readable and in error for ever, so
// watching it any longer would spin. Quiet until another descriptor comes.
void NativeSerialNotifier::hangUp()
{
    hungUp = true;
    applyMask();
    engine->hangUpNotification();
}
