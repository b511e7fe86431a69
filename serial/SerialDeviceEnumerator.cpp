#include "SerialDeviceEnumerator.h"

#include "SerialDeviceEnumeratorPrivate.h"

SerialDeviceEnumerator::SerialDeviceEnumerator(QObject* parent)
    : QObject(parent), d_ptr(new SerialDeviceEnumeratorPrivate(this))
{
}

SerialDeviceEnumerator::~SerialDeviceEnumerator()
{
    delete d_ptr;
}

void SerialDeviceEnumerator::setEnabled(bool enable)
{
    Q_D(SerialDeviceEnumerator);
    d->setEnabled(enable);
}

bool SerialDeviceEnumerator::isEnabled() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->isEnabled();
}

QStringList SerialDeviceEnumerator::presentPorts() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->devices.keys();
}

void SerialDeviceEnumerator::setDeviceName(const QString& name)
{
    Q_D(SerialDeviceEnumerator);
    d->currentName = name;
    d->currentInfo = d->devices.value(name);
}

QString SerialDeviceEnumerator::name() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentName;
}

QString SerialDeviceEnumerator::portName() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.portName;
}

QString SerialDeviceEnumerator::physicalObjectName() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.physicalObjectName;
}

QString SerialDeviceEnumerator::setupClass() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.setupClass;
}

QString SerialDeviceEnumerator::locationInformation() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.locationInformation;
}

QString SerialDeviceEnumerator::driver() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.driver;
}

QString SerialDeviceEnumerator::friendlyName() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.friendlyName;
}

QString SerialDeviceEnumerator::description() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.description;
}

QStringList SerialDeviceEnumerator::hardwareIds() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.hardwareIds;
}

QString SerialDeviceEnumerator::vendorId() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.vendorId;
}

QString SerialDeviceEnumerator::productId() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.productId;
}

QString SerialDeviceEnumerator::manufacturer() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.manufacturer;
}

QString SerialDeviceEnumerator::service() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.service;
}

QString SerialDeviceEnumerator::enumeratorName() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.enumeratorName;
}

QString SerialDeviceEnumerator::extraProperty() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.extraProperty;
}

QString SerialDeviceEnumerator::stableName() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->currentInfo.stableName;
}

bool SerialDeviceEnumerator::exists() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->devices.contains(d->currentName);
}

bool SerialDeviceEnumerator::isBusy() const
{
    Q_D(const SerialDeviceEnumerator);
    return d->isBusy();
}

// The private slot is called through the private record, so the meta-object
// code must be compiled where that record is complete.
#include "moc_SerialDeviceEnumerator.cpp"
