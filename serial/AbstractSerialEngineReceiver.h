#pragma once

// The interface through which a serial engine calls its device back. The engine
// holds a non-owning pointer to one receiver and ignores the returned flags; what
// they mean is the device's business.
class AbstractSerialEngineReceiver
{
public:
    virtual ~AbstractSerialEngineReceiver() = default;

    // Bytes have arrived.
    virtual bool receiveReadNotification() = 0;
    // The port can take more bytes.
    virtual bool receiveWriteNotification() = 0;
    // A line error occurred, or the port hung up (see AbstractSerialEngine::isHungUp()).
    virtual bool receiveExceptionNotification() = 0;
    // A modem input line changed.
    virtual bool receiveLineNotification() = 0;
};
