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
};

// Two records are equal when all fourteen fields are, hardware IDs element by element.
bool operator==(const SerialDeviceInfo& a, const SerialDeviceInfo& b);
bool operator!=(const SerialDeviceInfo& a, const SerialDeviceInfo& b);
