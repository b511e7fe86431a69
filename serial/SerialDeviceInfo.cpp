#include "SerialDeviceInfo.h"

bool operator==(const SerialDeviceInfo& a, const SerialDeviceInfo& b)
{
    return a.portName == b.portName && a.physicalObjectName == b.physicalObjectName &&
           a.setupClass == b.setupClass && a.locationInformation == b.locationInformation &&
           a.driver == b.driver && a.friendlyName == b.friendlyName &&
           a.description == b.description && a.hardwareIds == b.hardwareIds &&
           a.vendorId == b.vendorId && a.productId == b.productId &&
           a.manufacturer == b.manufacturer && a.service == b.service &&
           a.enumeratorName == b.enumeratorName && a.extraProperty == b.extraProperty &&
           a.stableName == b.stableName;
}

bool operator!=(const SerialDeviceInfo& a, const SerialDeviceInfo& b)
{
    return !(a == b);
}
