#include "AbstractSerialNotifier.h"

void AbstractSerialNotifier::setDescriptor(int descriptor)
{
    if (descriptor == fd)
        return;
    descriptorChanged(descriptor);
    fd = descriptor;
}
