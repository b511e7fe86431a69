#pragma once

#include <QString>
#include <QStringList>

// Descriptive record of one serial port. A field whose source offers nothing
// stays empty.
struct SerialDeviceInfo
{
    QString portName;
    QString physicalObjectName;
    QString setupClass;
    QString locationInformation;
    QString driver;
    QString friendlyName;
    QString description;
    QStringList hardwareIds;
    QString vendorId;
    QString productId;
    QString manufacturer;
    QString service;
    QString enumeratorName;
    QString extraProperty;
    // The port's link in /dev/serial/by-id (its name there: the adapter's make,
    // serial number and interface), which stays the same whatever kernel name
    // the adapter gets; empty when udev gives it none.
    QString stableName;
};

// Two records are equal when all fields are, hardware IDs element by element.
bool operator==(const SerialDeviceInfo& a, const SerialDeviceInfo& b);
bool operator!=(const SerialDeviceInfo& a, const SerialDeviceInfo& b);
