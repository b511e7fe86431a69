#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class SerialDeviceEnumeratorPrivate;

// Keeps the list of the machine's serial ports with a descriptive record for
// each, follows ports as they come and go, and emits hasChanged() with the names
// of all ports present whenever the list or a record changes.
class SerialDeviceEnumerator : public QObject
{
    Q_OBJECT
    Q_DECLARE_PRIVATE(SerialDeviceEnumerator)

public:
    explicit SerialDeviceEnumerator(QObject* parent = nullptr);
    ~SerialDeviceEnumerator() override;

    void setEnabled(bool enable);
    bool isEnabled() const;

    QStringList presentPorts() const;

    void setDeviceName(const QString& name);
    QString name() const;

    // Fields of the record taken by the last setDeviceName().
    QString portName() const;
    QString physicalObjectName() const;
    QString setupClass() const;
    QString locationInformation() const;
    QString driver() const;
    QString friendlyName() const;
    QString description() const;
    QStringList hardwareIds() const;
    QString vendorId() const;
    QString productId() const;
    QString manufacturer() const;
    QString service() const;
    QString enumeratorName() const;
    QString extraProperty() const;
    // The name of the port's link in /dev/serial/by-id, empty when it has none.
    QString stableName() const;

    bool exists() const;
    bool isBusy() const;

Q_SIGNALS:
    void hasChanged(const QStringList& list);

private:
    Q_DISABLE_COPY(SerialDeviceEnumerator)
    Q_PRIVATE_SLOT(d_func(), void _q_processWatcher())

    SerialDeviceEnumeratorPrivate* const d_ptr;
};
