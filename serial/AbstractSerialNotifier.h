#pragma once

// How an engine drives its notifier: which kinds of port events it wants to hear
// about, and which port to watch. A notifier is always destroyed as the QObject
// it also is, hence no virtual destructor here.
class AbstractSerialNotifier
{
public:
    // Stores the descriptor to watch when it differs from the current one; a
    // new descriptor also forgets a hang-up seen on the previous one.
    void setDescriptor(int descriptor);
    int descriptor() const { return fd; }

    virtual bool isReadEnabled() const = 0;
    virtual void setReadEnabled(bool enable) = 0;
    virtual bool isWriteEnabled() const = 0;
    virtual void setWriteEnabled(bool enable) = 0;
    virtual bool isExceptionEnabled() const = 0;
    virtual void setExceptionEnabled(bool enable) = 0;
    virtual bool isLineEnabled() const = 0;
    virtual void setLineEnabled(bool enable) = 0;

protected:
    AbstractSerialNotifier() = default;
    ~AbstractSerialNotifier() = default;
    // Called when the descriptor changes, before the new one is stored.
    virtual void descriptorChanged(int newDescriptor) = 0;

    int fd = -1;
};
