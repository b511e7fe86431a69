#include "SerialDeviceEnumeratorPrivate.h"

#include "SerialDeviceEnumerator.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

SerialDeviceEnumeratorPrivate::SerialDeviceEnumeratorPrivate(SerialDeviceEnumerator* q) : q_ptr(q)
{
    openChangeSource();
}

SerialDeviceEnumeratorPrivate::~SerialDeviceEnumeratorPrivate()
{
    delete rescanTimer;
    rescanTimer = nullptr;
    // The watcher goes before the descriptor it watches is closed.
    delete watcher;
    watcher = nullptr;
    closeChangeSource();
}

bool SerialDeviceEnumeratorPrivate::hasWatch() const
{
    return changeFd >= 0 && devWatch >= 0 && watcher;
}

bool SerialDeviceEnumeratorPrivate::isValid() const
{
    return hasWatch() || rescanTimer;
}

bool SerialDeviceEnumeratorPrivate::isEnabled() const
{
    if (hasWatch())
        return watcher->isEnabled();
    return rescanTimer && rescanTimer->isActive();
}

void SerialDeviceEnumeratorPrivate::setEnabled(bool enable)
{
    if (!watcher && !rescanTimer) {
        if (changeFd >= 0)
            createWatcher();
        if (!hasWatch() && watchIsMissingForLackOfResources())
            startRescans();
    }
    if (enable && rescanTimer)
        retryWatch();
    if (!isValid())
        return;
    if (hasWatch())
        watcher->setEnabled(enable);
    else if (enable)
        rescanTimer->start();
    else
        rescanTimer->stop();
    if (enable)
        _q_processWatcher();
}

void SerialDeviceEnumeratorPrivate::startRescans()
{
    Q_Q(SerialDeviceEnumerator);
    qDebug("SerialDeviceEnumerator: no change watch; rescanning every %d ms", rescanMsecs);
    rescanTimer = new QTimer(q);
    rescanTimer->setInterval(rescanMsecs);
    QObject::connect(rescanTimer, &QTimer::timeout, q, [this] {
        retryWatch();
        _q_processWatcher();
    });
}

void SerialDeviceEnumeratorPrivate::retryWatch()
{
    if (hasWatch())
        return;
    delete watcher;
    watcher = nullptr;
    closeChangeSource();
    openChangeSource();
    if (changeFd < 0 || devWatch < 0)
        return;
    createWatcher();
    // The watch takes over, switched on as the rescans were. This may run from
    // the timer's own signal: the timer goes later.
    watcher->setEnabled(rescanTimer->isActive());
    rescanTimer->stop();
    rescanTimer->deleteLater();
    rescanTimer = nullptr;
    qDebug("SerialDeviceEnumerator: change watch available again");
}

void SerialDeviceEnumeratorPrivate::_q_processWatcher()
{
    Q_Q(SerialDeviceEnumerator);
    if (!isValid())
        return;
    // Acknowledge first: a change that lands during the scan then wakes the
    // watcher again instead of being lost.
    if (hasWatch())
        acknowledgeChanges();
    const DeviceMap found = scan();
    if (found == devices)
        return;
    devices = found;
    Q_EMIT q->hasChanged(devices.keys());
}

bool SerialDeviceEnumeratorPrivate::isBusy() const
{
    if (currentName.isEmpty())
        return false;
    return isHeldElsewhere(currentName);
}

void SerialDeviceEnumeratorPrivate::fillVendorAndProduct(SerialDeviceInfo& info)
{
    info.vendorId.clear();
    info.productId.clear();
    if (info.hardwareIds.isEmpty())
        return;
    static const QRegularExpression pattern(QStringLiteral("VID_(\\w+)&PID_(\\w+)"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    const QString& first = info.hardwareIds.first();
    info.vendorId = first;
    info.productId = first;
    const QRegularExpressionMatch match = pattern.match(first);
    if (match.hasMatch()) {
        info.vendorId = match.captured(1);
        info.productId = match.captured(2);
    }
}
