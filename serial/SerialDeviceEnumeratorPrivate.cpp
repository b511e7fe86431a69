#include "SerialDeviceEnumeratorPrivate.h"

#include "SerialDeviceEnumerator.h"

#include <QRegularExpression>
#include <QSocketNotifier>

SerialDeviceEnumeratorPrivate::SerialDeviceEnumeratorPrivate(SerialDeviceEnumerator* q) : q_ptr(q)
{
    openChangeSource();
}

SerialDeviceEnumeratorPrivate::~SerialDeviceEnumeratorPrivate()
{
    // The watcher goes before the descriptor it watches is closed.
    delete watcher;
    watcher = nullptr;
    closeChangeSource();
}

bool SerialDeviceEnumeratorPrivate::isValid() const
{
    return changeFd >= 0 && devWatch >= 0 && watcher;
}

bool SerialDeviceEnumeratorPrivate::isEnabled() const
{
    return isValid() && watcher->isEnabled();
}

void SerialDeviceEnumeratorPrivate::setEnabled(bool enable)
{
    if (!watcher) {
        if (changeFd < 0)
            return;
        createWatcher();
    }
    if (!isValid())
        return;
    watcher->setEnabled(enable);
    if (enable)
        _q_processWatcher();
}

void SerialDeviceEnumeratorPrivate::_q_processWatcher()
{
    Q_Q(SerialDeviceEnumerator);
    if (!isValid())
        return;
    // Acknowledge first: a change that lands during the scan then wakes the
    // watcher again instead of being lost.
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
