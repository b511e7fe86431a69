#include "AbstractSerialEngine.h"

#include "AbstractSerialEngineReceiver.h"
#include "NativeSerialEngine.h"

AbstractSerialEngine::AbstractSerialEngine(AbstractSerialEnginePrivate* dd, QObject* parent)
    : QObject(parent), d_ptr(dd)
{
}

AbstractSerialEngine::~AbstractSerialEngine()
{
    delete d_ptr;
}

AbstractSerialEngine* AbstractSerialEngine::createEngine(AbstractSerial* parent)
{
    return new NativeSerialEngine(parent);
}

void AbstractSerialEngine::setReceiver(AbstractSerialEngineReceiver* receiver)
{
    d_ptr->receiver = receiver;
}

void AbstractSerialEngine::setDeviceName(const QString& deviceName)
{
    d_ptr->deviceName = deviceName;
}

QString AbstractSerialEngine::deviceName() const
{
    return d_ptr->deviceName;
}

qint32 AbstractSerialEngine::baudRate(AbstractSerial::BaudDirection baudDir) const
{
    switch (baudDir) {
    case AbstractSerial::BaudDirectionInput:
        return d_ptr->inputBaudRate;
    case AbstractSerial::BaudDirectionOutput:
        return d_ptr->outputBaudRate;
    default:
        return d_ptr->inputBaudRate == d_ptr->outputBaudRate ? d_ptr->inputBaudRate : 0;
    }
}

AbstractSerial::DataBits AbstractSerialEngine::dataBits() const
{
    return d_ptr->dataBits;
}

AbstractSerial::Parity AbstractSerialEngine::parity() const
{
    return d_ptr->parity;
}

AbstractSerial::StopBits AbstractSerialEngine::stopBits() const
{
    return d_ptr->stopBits;
}

AbstractSerial::Flow AbstractSerialEngine::flowControl() const
{
    return d_ptr->flow;
}

void AbstractSerialEngine::readNotification()
{
    if (d_ptr->receiver)
        d_ptr->receiver->receiveReadNotification();
}

void AbstractSerialEngine::writeNotification()
{
    if (d_ptr->receiver)
        d_ptr->receiver->receiveWriteNotification();
}

void AbstractSerialEngine::exceptionNotification()
{
    if (d_ptr->receiver)
        d_ptr->receiver->receiveExceptionNotification();
}

void AbstractSerialEngine::lineNotification()
{
    if (d_ptr->receiver)
        d_ptr->receiver->receiveLineNotification();
}
