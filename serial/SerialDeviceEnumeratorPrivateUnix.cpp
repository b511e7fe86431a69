// Linux part of the serial device enumerator: ports come from sysfs (and the
// udev database when present), changes from an inotify watch on /dev, and the
// busy test from the port's UUCP lock file and an exclusive open of its node.

#include "SerialDeviceEnumeratorPrivate.h"

#include "SerialDeviceEnumerator.h"
#include "SerialLockFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

SerialDeviceEnumeratorPrivate::Roots& overriddenRoots()
{
    static SerialDeviceEnumeratorPrivate::Roots roots;
    return roots;
}

// Entries appearing, disappearing or changing owner and mode: udev sets the
// mode of a new node after the kernel created it, so that second event comes
// once udev has also written its database entry.
constexpr uint32_t watchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR;

// Subsystems that sit between a tty and the device that carries it: the USB
// serial port layer and the serial core's port devices on recent kernels.
bool isIntermediateSubsystem(const QString& subsystem)
{
    return subsystem == QLatin1String("usb-serial") || subsystem == QLatin1String("serial-base");
}

// One sysfs attribute as trimmed text; empty when missing or unreadable.
QString readAttribute(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // sysfs attributes never exceed one page; bound the read for anything else.
    return QString::fromUtf8(file.read(4096)).trimmed();
}

// Name of the object a sysfs link points to (driver, subsystem, module).
QString linkName(const QString& path)
{
    const QFileInfo link(path);
    if (!link.isSymLink())
        return QString();
    return QFileInfo(link.symLinkTarget()).fileName();
}

QString subsystemOf(const QString& devicePath)
{
    return linkName(devicePath + QLatin1String("/subsystem"));
}

// Parent directory of a device, or an empty text at the top of the device tree.
QString parentDevice(const QString& devicePath, const QString& devicesRoot)
{
    const QString parent = QFileInfo(devicePath).path();
    if (devicesRoot.isEmpty() || !parent.startsWith(devicesRoot + QLatin1Char('/')))
        return QString();
    return parent;
}

// The device on its bus (usb interface, pci function, pnp or platform device)
// above the tty's own device.
QString busDeviceOf(const QString& devicePath, const QString& devicesRoot)
{
    QString current = devicePath;
    while (isIntermediateSubsystem(subsystemOf(current))) {
        const QString parent = parentDevice(current, devicesRoot);
        if (parent.isEmpty())
            break;
        current = parent;
    }
    return current;
}

// The USB device (the one carrying idVendor) above a port, or an empty text.
QString usbDeviceOf(const QString& devicePath, const QString& devicesRoot)
{
    for (QString current = devicePath; !current.isEmpty();
         current = parentDevice(current, devicesRoot)) {
        if (QFileInfo::exists(current + QLatin1String("/idVendor")))
            return current;
    }
    return QString();
}

// The modalias of the port's device or of a device up to its bus device; pnp
// devices have none and give their PNP IDs instead.
QStringList busHardwareIds(const QString& devicePath, const QString& busDevice,
                           const QString& devicesRoot)
{
    for (QString current = devicePath; !current.isEmpty();
         current = parentDevice(current, devicesRoot)) {
        const QString alias = readAttribute(current + QLatin1String("/modalias"));
        if (!alias.isEmpty())
            return {alias};
        if (current == busDevice)
            break;
    }
    return readAttribute(busDevice + QLatin1String("/id"))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Properties ("E:KEY=value" lines) of a device in the udev database; empty when
// udev does not run or has no entry.
QHash<QString, QString> udevProperties(const QString& udevData, const QString& devNumbers)
{
    QHash<QString, QString> properties;
    if (devNumbers.isEmpty())
        return properties;
    QFile file(udevData + QLatin1String("/c") + devNumbers);
    if (!file.open(QIODevice::ReadOnly))
        return properties;
    const QList<QByteArray> lines = file.read(1 << 16).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("E:"))
            continue;
        const int equals = line.indexOf('=');
        if (equals > 2)
            properties.insert(QString::fromUtf8(line.mid(2, equals - 2)),
                              QString::fromUtf8(line.mid(equals + 1)));
    }
    return properties;
}

void fillUsbFields(SerialDeviceInfo& info, const QString& usbDevice,
                   const QHash<QString, QString>& udev)
{
    if (!usbDevice.isEmpty()) {
        info.description = readAttribute(usbDevice + QLatin1String("/product"));
        info.manufacturer = readAttribute(usbDevice + QLatin1String("/manufacturer"));
        const QString vendor = readAttribute(usbDevice + QLatin1String("/idVendor")).toUpper();
        const QString product = readAttribute(usbDevice + QLatin1String("/idProduct")).toUpper();
        if (!vendor.isEmpty() && !product.isEmpty())
            info.hardwareIds << QStringLiteral("USB\\VID_%1&PID_%2").arg(vendor, product);
    }
    // Adapters without strings of their own get the names of the USB ID database.
    if (info.description.isEmpty())
        info.description = udev.value(QStringLiteral("ID_MODEL_FROM_DATABASE"));
    if (info.manufacturer.isEmpty())
        info.manufacturer = udev.value(QStringLiteral("ID_VENDOR_FROM_DATABASE"));
}

SerialDeviceInfo describePort(const QString& portName, const QString& ttyDir,
                              const QString& devicePath,
                              const SerialDeviceEnumeratorPrivate::Roots& roots,
                              const QString& devicesRoot)
{
    SerialDeviceInfo info;
    info.portName = portName;
    info.physicalObjectName = devicePath;
    info.setupClass = QStringLiteral("Ports");

    const QString busDevice = busDeviceOf(devicePath, devicesRoot);
    info.enumeratorName = subsystemOf(busDevice);
    info.locationInformation = QFileInfo(busDevice).fileName();
    info.driver = linkName(busDevice + QLatin1String("/driver"));
    info.service = linkName(busDevice + QLatin1String("/driver/module"));

    const QString usbDevice = usbDeviceOf(devicePath, devicesRoot);
    if (!usbDevice.isEmpty())
        info.enumeratorName = QStringLiteral("usb");
    const QString devNumbers = readAttribute(ttyDir + QLatin1String("/dev"));
    fillUsbFields(info, usbDevice, udevProperties(roots.udevData, devNumbers));
    info.hardwareIds << busHardwareIds(devicePath, busDevice, devicesRoot);

    if (info.description.isEmpty())
        info.description = info.driver;
    if (info.description.isEmpty())
        info.description = portName;
    info.friendlyName = QStringLiteral("%1 (%2)").arg(info.description, portName);
    SerialDeviceEnumeratorPrivate::fillVendorAndProduct(info);
    return info;
}

// Legacy 8250 ports are registered whether or not a UART answers; those without
// one report the unknown UART type 0 and have no hardware behind them.
bool isPortWithoutUart(const QString& ttyDir)
{
    return readAttribute(ttyDir + QLatin1String("/type")) == QLatin1String("0");
}

int openNoInterrupt(const QByteArray& path, int flags)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

SerialDeviceEnumeratorPrivate::Roots SerialDeviceEnumeratorPrivate::systemRoots()
{
    return {QStringLiteral("/sys"), QStringLiteral("/dev"), QStringLiteral("/run/udev/data")};
}

void SerialDeviceEnumeratorPrivate::setRootsForTest(const Roots& testRoots)
{
    overriddenRoots() = testRoots;
}

void SerialDeviceEnumeratorPrivate::openChangeSource()
{
    if (roots.sysfs.isEmpty())
        roots = overriddenRoots().sysfs.isEmpty() ? systemRoots() : overriddenRoots();
    changeSourceError = 0;
    changeFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (changeFd < 0) {
        changeSourceError = errno;
        qDebug("SerialDeviceEnumerator: inotify_init1 failed: %s", std::strerror(errno));
        return;
    }
    devWatch = inotify_add_watch(changeFd, QFile::encodeName(roots.dev).constData(), watchMask);
    if (devWatch < 0) {
        changeSourceError = errno;
        qDebug("SerialDeviceEnumerator: inotify_add_watch(%s) failed: %s", qPrintable(roots.dev),
               std::strerror(errno));
        return;
    }
    watchLinkDirectories();
}

void SerialDeviceEnumeratorPrivate::closeChangeSource()
{
    if (changeFd >= 0)
        ::close(changeFd);
    changeFd = -1;
    devWatch = -1;
}

bool SerialDeviceEnumeratorPrivate::watchIsMissingForLackOfResources() const
{
    if (changeFd >= 0 && devWatch >= 0)
        return false;
    return changeSourceError != ENOENT && changeSourceError != ENOTDIR;
}

void SerialDeviceEnumeratorPrivate::createWatcher()
{
    Q_Q(SerialDeviceEnumerator);
    watcher = new QSocketNotifier(changeFd, QSocketNotifier::Read, q);
    QObject::connect(watcher, SIGNAL(activated(int)), q, SLOT(_q_processWatcher()));
}

void SerialDeviceEnumeratorPrivate::acknowledgeChanges()
{
    // The descriptor is non-blocking: read until nothing is left. Event buffers
    // are aligned as the kernel writes struct inotify_event into them.
    alignas(struct inotify_event) char events[4096];
    for (;;) {
        const ssize_t got = ::read(changeFd, events, sizeof events);
        if (got > 0)
            continue;
        if (got < 0 && errno == EINTR)
            continue;
        break;
    }
    watchLinkDirectories();
}

void SerialDeviceEnumeratorPrivate::watchLinkDirectories()
{
    // udev adds its by-id and by-path links last, once its database entry is
    // written; watching them catches properties that came after the node, and
    // the stable names coming and going. Adding a watch that exists already
    // only refreshes it.
    static const char* const linkDirs[] = {"/serial", "/serial/by-id", "/serial/by-path"};
    for (const char* dir : linkDirs) {
        const QByteArray path = QFile::encodeName(roots.dev + QLatin1String(dir));
        if (QFileInfo(QString::fromLocal8Bit(path)).isDir() &&
            inotify_add_watch(changeFd, path.constData(), watchMask) < 0)
            qDebug("SerialDeviceEnumerator: inotify_add_watch(%s) failed: %s", path.constData(),
                   std::strerror(errno));
    }
}

SerialDeviceEnumeratorPrivate::DeviceMap SerialDeviceEnumeratorPrivate::scan() const
{
    DeviceMap found;
    const QString devicesRoot = QDir(roots.sysfs + QLatin1String("/devices")).canonicalPath();
    const QDir classDir(roots.sysfs + QLatin1String("/class/tty"));
    const QStringList entries = classDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& portName : entries) {
        const QString ttyDir = classDir.filePath(portName);
        // Only ttys with hardware under them have a device link; consoles,
        // virtual terminals and pseudo-terminals have none.
        const QString devicePath = QFileInfo(ttyDir + QLatin1String("/device")).canonicalFilePath();
        if (devicePath.isEmpty() || isPortWithoutUart(ttyDir))
            continue;
        if (portName.contains(QLatin1String("LPT")))
            continue;
        found.insert(portName, describePort(portName, ttyDir, devicePath, roots, devicesRoot));
    }
    // The stable names: each by-id link gives its name to the port it leads to
    // (the first in name order where one port has several).
    const QDir linkDir(roots.dev + QLatin1String("/serial/by-id"));
    const QString devDir = QDir(roots.dev).canonicalPath();
    const QStringList links = linkDir.entryList(QDir::System | QDir::Files, QDir::Name);
    for (const QString& link : links) {
        const QFileInfo target(QFileInfo(linkDir.filePath(link)).canonicalFilePath());
        if (target.path() != devDir)
            continue;
        auto port = found.find(target.fileName());
        if (port != found.end() && port->stableName.isEmpty())
            port->stableName = link;
    }
    return found;
}

bool SerialDeviceEnumeratorPrivate::isHeldElsewhere(const QString& port) const
{
    // A port name is a node directly in the device directory; anything else
    // could open an arbitrary file read-write.
    if (port.contains(QLatin1Char('/')) || port == QLatin1String(".") ||
        port == QLatin1String(".."))
        return true;
    const QString devicePath = roots.dev + QLatin1Char('/') + port;
    // A UUCP lock file of a live process: looked at before the port is opened,
    // since an open may change its modem lines under its holder.
    const qint64 lockHolder = SerialLockFile(devicePath).holder();
    if (lockHolder != 0) {
        qDebug() << "SerialDeviceEnumerator:" << port << "is held by process" << lockHolder;
        return true;
    }
    const QByteArray path = QFile::encodeName(devicePath);
    const int fd = openNoInterrupt(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        qDebug("SerialDeviceEnumerator: open(%s) failed: %s", path.constData(),
               std::strerror(errno));
        return true;
    }
    bool busy = false;
    // Another process may have put the tty in exclusive mode; root opens it
    // regardless, so ask. Files that are no tty answer ENOTTY, which is fine.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        busy = true;
    // Serial programs take an exclusive flock on the ports they use.
    if (!busy && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        qDebug("SerialDeviceEnumerator: flock(%s) failed: %s", path.constData(),
               std::strerror(errno));
        busy = true;
    }
    ::close(fd); // also releases the lock
    return busy;
}
