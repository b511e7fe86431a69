#include "SerialDeviceEnumerator.h"
#include "SerialDeviceEnumeratorPrivate.h"
#include "UucpLock.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

// While set, creating an inotify instance or adding a watch fails the way it
// does when the process has no descriptor left or the user's inotify limits are
// reached.
namespace inotifyLimits {
bool noInstance = false;
bool noWatch = false;
} // namespace inotifyLimits

extern "C" int inotify_init1(int flags) __THROW
{
    using Init = int (*)(int);
    static const Init real = reinterpret_cast<Init>(dlsym(RTLD_NEXT, "inotify_init1"));
    if (inotifyLimits::noInstance) {
        errno = EMFILE;
        return -1;
    }
    return real(flags);
}

extern "C" int inotify_add_watch(int fd, const char* path, uint32_t mask) __THROW
{
    using AddWatch = int (*)(int, const char*, uint32_t);
    static const AddWatch real = reinterpret_cast<AddWatch>(dlsym(RTLD_NEXT, "inotify_add_watch"));
    if (inotifyLimits::noWatch) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, path, mask);
}

namespace {

using Roots = SerialDeviceEnumeratorPrivate::Roots;

// A USB serial adapter as sysfs shows it. An empty product, manufacturer or
// driver leaves that attribute or link out.
struct UsbAdapter
{
    QString port;
    QString busPosition;
    QString vendor = QStringLiteral("0403");
    QString product = QStringLiteral("6001");
    QString manufacturerName = QStringLiteral("FTDI");
    QString productName = QStringLiteral("FT232R USB UART");
    QString driver = QStringLiteral("ftdi_sio");
};

// A sysfs, /dev and udev database tree laid out like the kernel's: a tty class
// entry links to the tty under its device, which sits under its USB interface
// or platform device, with subsystem, driver and module links.
class FakeTree
{
public:
    FakeTree()
    {
        for (const char* dir : {"sys/class/tty", "sys/devices/virtual/tty/tty0", "sys/module",
                                "dev", "run/udev/data"})
            QDir(root()).mkpath(QLatin1String(dir));
        // A virtual console: listed by the tty class but with no device link.
        link(path("sys/devices/virtual/tty/tty0"), path("sys/class/tty/tty0"));
    }

    bool isValid() const { return tempDir.isValid(); }
    QString root() const { return tempDir.path(); }
    QString path(const QString& relative) const { return root() + QLatin1Char('/') + relative; }
    Roots roots() const { return {path("sys"), path("dev"), path("run/udev/data")}; }

    QString usbDevice(const UsbAdapter& a) const
    {
        return path("sys/devices/pci0000:00/0000:00:14.0/usb1/") + a.busPosition;
    }

    // Builds the adapter's sysfs part; its /dev node comes with createNode().
    void addUsbAdapterDevice(const UsbAdapter& a)
    {
        const QString usb = usbDevice(a);
        const QString iface = usb + QLatin1Char('/') + a.busPosition + QLatin1String(":1.0");
        write(usb + "/idVendor", a.vendor);
        write(usb + "/idProduct", a.product);
        if (!a.manufacturerName.isEmpty())
            write(usb + "/manufacturer", a.manufacturerName);
        if (!a.productName.isEmpty())
            write(usb + "/product", a.productName);
        link(busDir("usb"), usb + "/subsystem");
        write(iface + "/modalias", QStringLiteral("usb:v%1p%2d0600dc00dsc00dp00icFFiscFFipFFin00")
                                       .arg(a.vendor.toUpper(), a.product.toUpper()));
        link(busDir("usb"), iface + "/subsystem");
        if (!a.driver.isEmpty())
            link(driverDir("usb", a.driver, true), iface + "/driver");
        // ttyUSB ports sit on a usb-serial port device; ttyACM ports directly on
        // the interface.
        QString portDevice = iface;
        if (a.port.startsWith(QLatin1String("ttyUSB"))) {
            portDevice = iface + QLatin1Char('/') + a.port;
            QDir().mkpath(portDevice);
            link(busDir("usb-serial"), portDevice + "/subsystem");
            if (!a.driver.isEmpty())
                link(driverDir("usb-serial", a.driver, false), portDevice + "/driver");
        }
        addTty(a.port, portDevice, QStringLiteral("188:%1").arg(nextMinor++));
    }

    void addUsbAdapter(const UsbAdapter& a)
    {
        addUsbAdapterDevice(a);
        createNode(a.port);
    }

    // An 8250 port on the platform bus; uartType 0 means no UART answered.
    void addLegacyPort(const QString& port, int uartType, bool withDriver = true)
    {
        const QString device = path("sys/devices/platform/serial8250");
        QDir().mkpath(device);
        link(busDir("platform"), device + "/subsystem");
        if (withDriver)
            link(driverDir("platform", "serial8250", false), device + "/driver");
        const QString tty = addTty(port, device, QStringLiteral("4:%1").arg(64 + nextMinor++));
        write(tty + "/type", QString::number(uartType));
        createNode(port);
    }

    void removePort(const QString& port)
    {
        const QString classEntry = path("sys/class/tty/") + port;
        QDir(QFileInfo(classEntry).canonicalFilePath()).removeRecursively();
        QFile::remove(classEntry);
        QFile::remove(path("dev/") + port);
    }

    void createNode(const QString& name) { write(path("dev/") + name, QString()); }

    static void write(const QString& file, const QString& text)
    {
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text.toUtf8() + '\n');
    }

    static void link(const QString& target, const QString& name)
    {
        QDir().mkpath(QFileInfo(name).path());
        QFile::remove(name);
        QVERIFY(QFile::link(target, name));
    }

private:
    QString busDir(const QString& bus) const
    {
        const QString dirPath = path("sys/bus/") + bus;
        QDir().mkpath(dirPath);
        return dirPath;
    }

    QString driverDir(const QString& bus, const QString& driver, bool withModule) const
    {
        const QString dirPath = busDir(bus) + QLatin1String("/drivers/") + driver;
        QDir().mkpath(dirPath);
        if (withModule) {
            QDir().mkpath(path("sys/module/") + driver);
            link(path("sys/module/") + driver, dirPath + "/module");
        }
        return dirPath;
    }

    QString addTty(const QString& port, const QString& device, const QString& numbers)
    {
        const QString tty = device + QLatin1String("/tty/") + port;
        write(tty + "/dev", numbers);
        link(device, tty + "/device");
        link(tty, path("sys/class/tty/") + port);
        return tty;
    }

    QTemporaryDir tempDir;
    int nextMinor = 0;
};

// Long enough for the watch to deliver any change the test made.
void settle()
{
    QTest::qWait(250);
}

} // namespace

class SerialDeviceEnumeratorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void nothingListedOrEmittedBeforeEnabled();
    void stableNamesFollowTheByIdLinks();
    void enablingEmitsOnceWithEveryHardwarePort();
    void enablingWithoutPortsEmitsNothing();
    void enablingAgainRescansAndEmitsOnlyOnChange();
    void changeThatAltersNothingEmitsNothing();
    void rescansOnlyWhenTheDeviceDirectoryChanges();
    void addedAndRemovedAdaptersEmitOnceEach();
    void changedPropertyEmitsWithTheSameNames();
    void disabledEnumeratorIgnoresChanges();
    void withoutDeviceDirectoryNothingIsScanned();
    void portsListedInNameOrder_data();
    void portsListedInNameOrder();
    void usbAdapterFields();
    void descriptionFallsBack_data();
    void descriptionFallsBack();
    void unknownNameGivesEmptyRecord();
    void recordIsCopiedWhenSelected();
    void unreadableAttributesLeaveFieldsEmpty();
    void vendorAndProductFromFirstHardwareId_data();
    void vendorAndProductFromFirstHardwareId();
    void busyPorts_data();
    void busyPorts();
    void listsTheRealMachine();
    void withoutAChangeWatchPortsAreStillFollowed_data();
    void withoutAChangeWatchPortsAreStillFollowed();

private:
    QScopedPointer<FakeTree> tree;
};

void SerialDeviceEnumeratorTest::init()
{
    tree.reset(new FakeTree);
    QVERIFY(tree->isValid());
    SerialDeviceEnumeratorPrivate::setRootsForTest(tree->roots());
}

void SerialDeviceEnumeratorTest::cleanup()
{
    inotifyLimits::noInstance = false;
    inotifyLimits::noWatch = false;
    SerialDeviceEnumeratorPrivate::setRootsForTest(Roots());
    tree.reset();
}

void SerialDeviceEnumeratorTest::nothingListedOrEmittedBeforeEnabled()
{
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    tree->addUsbAdapter({"ttyUSB1", "1-2"});
    settle();
    QVERIFY(enumerator.presentPorts().isEmpty());
    QVERIFY(!enumerator.isEnabled());
    QCOMPARE(spy.count(), 0);
}

// Each adapter is named by its by-id link, which comes and goes with udev.
void SerialDeviceEnumeratorTest::stableNamesFollowTheByIdLinks()
{
    const QString byId = tree->path("dev/serial/by-id/usb-");
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    tree->addUsbAdapter({"ttyUSB1", "1-2"});
    FakeTree::link("../../ttyUSB0", byId + "FTDI_FT232R_A50285BI-if00-port0");
    FakeTree::link("../../ttyUSB0", tree->path("dev/serial/by-path/pci-0:14.0-usb-0:1:1.0"));
    SerialDeviceEnumerator enumerator;
    enumerator.setEnabled(true);
    auto nom = [&](const QString& port) {
        enumerator.setDeviceName(port);
        return enumerator.stableName();
    };
    QCOMPARE(nom("ttyUSB0") + nom("ttyUSB1"), QString("usb-FTDI_FT232R_A50285BI-if00-port0"));
    FakeTree::link("../../ttyUSB1", byId + "Prolific-if00-port0");
    QVERIFY(QFile::remove(byId + "FTDI_FT232R_A50285BI-if00-port0"));
    QTRY_COMPARE(nom("ttyUSB0") + nom("ttyUSB1"), QString("usb-Prolific-if00-port0"));
}

void SerialDeviceEnumeratorTest::enablingEmitsOnceWithEveryHardwarePort()
{
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    tree->addUsbAdapter({"ttyACM0", "1-2"});
    tree->addLegacyPort("ttyS0", 4);
    // Registered by the 8250 driver but without a UART: no hardware behind it.
    tree->addLegacyPort("ttyS1", 0);
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);

    enumerator.setEnabled(true);

    const QStringList expected{"ttyACM0", "ttyS0", "ttyUSB0"};
    QVERIFY(enumerator.isEnabled());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toStringList(), expected);
    QCOMPARE(enumerator.presentPorts(), expected);
    settle();
    QCOMPARE(spy.count(), 1);
}

void SerialDeviceEnumeratorTest::enablingWithoutPortsEmitsNothing()
{
    tree->addLegacyPort("ttyS1", 0);
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    QVERIFY(enumerator.isEnabled());
    QCOMPARE(spy.count(), 0);
    QVERIFY(enumerator.presentPorts().isEmpty());
}

void SerialDeviceEnumeratorTest::enablingAgainRescansAndEmitsOnlyOnChange()
{
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    QCOMPARE(spy.count(), 1);

    enumerator.setEnabled(true);
    QCOMPARE(spy.count(), 1);

    // Without a node in /dev the watch sees nothing; only the rescan of
    // setEnabled finds the new port.
    tree->addUsbAdapterDevice({"ttyUSB1", "1-2"});
    enumerator.setEnabled(true);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toStringList(), QStringList({"ttyUSB0", "ttyUSB1"}));
}

void SerialDeviceEnumeratorTest::changeThatAltersNothingEmitsNothing()
{
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    QCOMPARE(spy.count(), 1);

    tree->createNode("null");
    QFile::remove(tree->path("dev/null"));
    settle();
    QCOMPARE(spy.count(), 1);

    // The watch is still armed after the pass that changed nothing.
    tree->addUsbAdapter({"ttyUSB1", "1-2"});
    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.count(), 2);
}

void SerialDeviceEnumeratorTest::rescansOnlyWhenTheDeviceDirectoryChanges()
{
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    tree->createNode("null");
    settle();

    // A port whose node is not there yet: no event, so no rescan. A watcher
    // that kept firing after the last event, or polling, would list it here.
    tree->addUsbAdapterDevice({"ttyUSB0", "1-1"});
    settle();
    QCOMPARE(spy.count(), 0);

    tree->createNode("ttyUSB0");
    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.at(0).at(0).toStringList(), QStringList({"ttyUSB0"}));
}

void SerialDeviceEnumeratorTest::addedAndRemovedAdaptersEmitOnceEach()
{
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    spy.clear();

    tree->addUsbAdapter({"ttyUSB1", "1-2"});
    QVERIFY(spy.wait(2000));
    settle();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.takeFirst().at(0).toStringList(), QStringList({"ttyUSB0", "ttyUSB1"}));

    tree->removePort("ttyUSB0");
    QVERIFY(spy.wait(2000));
    settle();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.takeFirst().at(0).toStringList(), QStringList({"ttyUSB1"}));
    QCOMPARE(enumerator.presentPorts(), QStringList({"ttyUSB1"}));
}

void SerialDeviceEnumeratorTest::changedPropertyEmitsWithTheSameNames()
{
    const UsbAdapter adapter{"ttyUSB0", "1-1"};
    tree->addUsbAdapter(adapter);
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    spy.clear();

    // udev finishing with a node shows as a change of its mode.
    FakeTree::write(tree->usbDevice(adapter) + "/product", "Renamed adapter");
    QVERIFY(QFile::setPermissions(tree->path("dev/ttyUSB0"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.at(0).at(0).toStringList(), QStringList({"ttyUSB0"}));
    enumerator.setDeviceName("ttyUSB0");
    QCOMPARE(enumerator.description(), QString("Renamed adapter"));
}

void SerialDeviceEnumeratorTest::disabledEnumeratorIgnoresChanges()
{
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    enumerator.setEnabled(false);
    QVERIFY(!enumerator.isEnabled());

    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    settle();
    QCOMPARE(spy.count(), 0);

    enumerator.setEnabled(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toStringList(), QStringList({"ttyUSB0"}));
}

void SerialDeviceEnumeratorTest::withoutDeviceDirectoryNothingIsScanned()
{
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    QVERIFY(QDir(tree->path("dev")).removeRecursively());
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    QVERIFY(!enumerator.isEnabled());
    QCOMPARE(spy.count(), 0);
    QVERIFY(enumerator.presentPorts().isEmpty());
}

void SerialDeviceEnumeratorTest::portsListedInNameOrder_data()
{
    QTest::addColumn<QStringList>("created");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("numbers compare as text") << QStringList{"ttyUSB2", "ttyUSB10", "ttyUSB1"}
                                             << QStringList{"ttyUSB1", "ttyUSB10", "ttyUSB2"};
    QTest::newRow("capitals first") << QStringList{"ttyacm0", "ttyUSB0", "ttyACM0"}
                                    << QStringList{"ttyACM0", "ttyUSB0", "ttyacm0"};
}

void SerialDeviceEnumeratorTest::portsListedInNameOrder()
{
    QFETCH(QStringList, created);
    QFETCH(QStringList, listed);
    int position = 1;
    for (const QString& port : created)
        tree->addUsbAdapter({port, QStringLiteral("1-%1").arg(position++)});
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toStringList(), listed);
    QCOMPARE(enumerator.presentPorts(), listed);
}

void SerialDeviceEnumeratorTest::usbAdapterFields()
{
    UsbAdapter adapter{"ttyUSB0", "3-1.4"};
    adapter.vendor = "1a86";
    adapter.product = "7523";
    adapter.manufacturerName = "QinHeng Electronics";
    adapter.productName = "USB Serial";
    adapter.driver = "ch341";
    tree->addUsbAdapter(adapter);
    SerialDeviceEnumerator enumerator;
    enumerator.setEnabled(true);
    enumerator.setDeviceName("ttyUSB0");

    QVERIFY(enumerator.exists());
    QCOMPARE(enumerator.name(), QString("ttyUSB0"));
    QCOMPARE(enumerator.portName(), QString("ttyUSB0"));
    QCOMPARE(enumerator.description(), QString("USB Serial"));
    QCOMPARE(enumerator.friendlyName(), QString("USB Serial (ttyUSB0)"));
    QCOMPARE(enumerator.manufacturer(), QString("QinHeng Electronics"));
    QCOMPARE(enumerator.hardwareIds(),
             QStringList(
                 {"USB\\VID_1A86&PID_7523", "usb:v1A86p7523d0600dc00dsc00dp00icFFiscFFipFFin00"}));
    QCOMPARE(enumerator.vendorId(), QString("1A86"));
    QCOMPARE(enumerator.productId(), QString("7523"));
    QCOMPARE(enumerator.driver(), QString("ch341"));
    QCOMPARE(enumerator.service(), QString("ch341"));
    QCOMPARE(enumerator.enumeratorName(), QString("usb"));
    QCOMPARE(enumerator.locationInformation(), QString("3-1.4:1.0"));
    QCOMPARE(enumerator.physicalObjectName(),
             QFileInfo(tree->usbDevice(adapter) + "/3-1.4:1.0/ttyUSB0").canonicalFilePath());
    QCOMPARE(enumerator.setupClass(), QString("Ports"));
    QVERIFY(enumerator.extraProperty().isEmpty());
}

void SerialDeviceEnumeratorTest::descriptionFallsBack_data()
{
    QTest::addColumn<QString>("productName");
    QTest::addColumn<QString>("udevModel");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("description");
    QTest::newRow("product string") << "CP2102 USB to UART"
                                    << "CP210x UART Bridge"
                                    << "cp210x"
                                    << "CP2102 USB to UART";
    QTest::newRow("USB ID database name") << ""
                                          << "CP210x UART Bridge"
                                          << "cp210x"
                                          << "CP210x UART Bridge";
    QTest::newRow("driver name") << ""
                                 << ""
                                 << "cp210x"
                                 << "cp210x";
    QTest::newRow("port name") << ""
                               << ""
                               << ""
                               << "ttyUSB0";
}

void SerialDeviceEnumeratorTest::descriptionFallsBack()
{
    QFETCH(QString, productName);
    QFETCH(QString, udevModel);
    QFETCH(QString, driver);
    QFETCH(QString, description);
    UsbAdapter adapter{"ttyUSB0", "1-1"};
    adapter.productName = productName;
    adapter.driver = driver;
    tree->addUsbAdapter(adapter);
    if (!udevModel.isEmpty())
        FakeTree::write(
            tree->path("run/udev/data/c188:0"),
            "I:1234\nE:ID_VENDOR_FROM_DATABASE=Silicon Labs\nE:ID_MODEL_FROM_DATABASE=" +
                udevModel);
    SerialDeviceEnumerator enumerator;
    enumerator.setEnabled(true);
    enumerator.setDeviceName("ttyUSB0");
    QCOMPARE(enumerator.description(), description);
    QCOMPARE(enumerator.friendlyName(), description + " (ttyUSB0)");
}

void SerialDeviceEnumeratorTest::unknownNameGivesEmptyRecord()
{
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    SerialDeviceEnumerator enumerator;
    enumerator.setEnabled(true);
    enumerator.setDeviceName("ttyUSB0");
    QVERIFY(!enumerator.description().isEmpty());

    enumerator.setDeviceName("ttyUSB7");
    QCOMPARE(enumerator.name(), QString("ttyUSB7"));
    QVERIFY(!enumerator.exists());
    const QStringList texts{enumerator.portName(),     enumerator.physicalObjectName(),
                            enumerator.setupClass(),   enumerator.locationInformation(),
                            enumerator.driver(),       enumerator.friendlyName(),
                            enumerator.description(),  enumerator.vendorId(),
                            enumerator.productId(),    enumerator.manufacturer(),
                            enumerator.service(),      enumerator.enumeratorName(),
                            enumerator.extraProperty()};
    for (const QString& text : texts)
        QVERIFY2(text.isEmpty(), qPrintable(text));
    QVERIFY(enumerator.hardwareIds().isEmpty());
}

void SerialDeviceEnumeratorTest::recordIsCopiedWhenSelected()
{
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    enumerator.setDeviceName("ttyUSB0");

    tree->removePort("ttyUSB0");
    QVERIFY(spy.wait(2000));
    // The selected record stays until the port is selected again; exists()
    // looks at the list of the moment.
    QVERIFY(!enumerator.exists());
    QCOMPARE(enumerator.description(), QString("FT232R USB UART"));
    enumerator.setDeviceName("ttyUSB0");
    QVERIFY(enumerator.description().isEmpty());
}

void SerialDeviceEnumeratorTest::unreadableAttributesLeaveFieldsEmpty()
{
    const UsbAdapter adapter{"ttyUSB0", "1-1"};
    tree->addUsbAdapter(adapter);
    const QString usb = tree->usbDevice(adapter);
    // A directory where a text is expected, and links leading nowhere.
    QFile::remove(usb + "/product");
    QVERIFY(QDir(usb).mkdir("product"));
    QFile::remove(usb + "/idVendor");
    QVERIFY(QDir(usb).mkdir("idVendor"));
    FakeTree::link(usb + "/gone", usb + "/manufacturer");
    FakeTree::link(usb + "/gone", usb + "/1-1:1.0/ttyUSB0/driver");
    FakeTree::link(tree->path("sys/gone"), tree->path("sys/class/tty/ttyUSB0/dev"));
    // A legacy port whose UART type cannot be read stays listed.
    tree->addLegacyPort("ttyS0", 4, false);
    QFile::remove(tree->path("sys/devices/platform/serial8250/tty/ttyS0/type"));
    QVERIFY(QDir(tree->path("sys/devices/platform/serial8250/tty/ttyS0")).mkdir("type"));
    // A tty whose device link leads nowhere is no hardware port.
    tree->addUsbAdapter({"ttyUSB1", "1-2"});
    FakeTree::link(tree->path("sys/nowhere"), tree->path("sys/class/tty/ttyUSB1/device"));

    SerialDeviceEnumerator enumerator;
    enumerator.setEnabled(true);
    QCOMPARE(enumerator.presentPorts(), QStringList({"ttyS0", "ttyUSB0"}));

    enumerator.setDeviceName("ttyUSB0");
    QCOMPARE(enumerator.description(), QString("ftdi_sio"));
    QVERIFY(enumerator.manufacturer().isEmpty());
    const QString alias = "usb:v0403p6001d0600dc00dsc00dp00icFFiscFFipFFin00";
    QCOMPARE(enumerator.hardwareIds(), QStringList({alias}));
    QCOMPARE(enumerator.vendorId(), alias);
    QCOMPARE(enumerator.productId(), alias);

    enumerator.setDeviceName("ttyS0");
    QCOMPARE(enumerator.description(), QString("ttyS0"));
    QCOMPARE(enumerator.enumeratorName(), QString("platform"));
    QVERIFY(enumerator.driver().isEmpty());
}

void SerialDeviceEnumeratorTest::vendorAndProductFromFirstHardwareId_data()
{
    QTest::addColumn<QStringList>("hardwareIds");
    QTest::addColumn<QString>("vendorId");
    QTest::addColumn<QString>("productId");
    QTest::newRow("usb with revision")
        << QStringList{"USB\\VID_1A2B&PID_3C4D&REV_0100", "USB\\VID_FFFF&PID_EEEE"} << "1A2B"
        << "3C4D";
    QTest::newRow("no match gives the whole id")
        << QStringList{"ACPI\\PNP0501", "USB\\VID_1A2B&PID_3C4D"} << "ACPI\\PNP0501"
        << "ACPI\\PNP0501";
    QTest::newRow("pattern is case-sensitive")
        << QStringList{"usb\\vid_1a2b&pid_3c4d"} << "usb\\vid_1a2b&pid_3c4d"
        << "usb\\vid_1a2b&pid_3c4d";
    QTest::newRow("no ids") << QStringList{} << ""
                            << "";
}

void SerialDeviceEnumeratorTest::vendorAndProductFromFirstHardwareId()
{
    QFETCH(QStringList, hardwareIds);
    QFETCH(QString, vendorId);
    QFETCH(QString, productId);
    SerialDeviceInfo info;
    info.hardwareIds = hardwareIds;
    info.vendorId = "stale";
    SerialDeviceEnumeratorPrivate::fillVendorAndProduct(info);
    QCOMPARE(info.vendorId, vendorId);
    QCOMPARE(info.productId, productId);
}

void SerialDeviceEnumeratorTest::busyPorts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("busy");
    QTest::newRow("no name") << ""
                             << "none" << false;
    QTest::newRow("free node") << "ttyUSB0"
                               << "none" << false;
    QTest::newRow("locked by another user") << "ttyUSB0"
                                            << "flock" << true;
    QTest::newRow("missing node") << "ttyUSB9"
                                  << "none" << true;
    QTest::newRow("path outside the device directory") << "../dev/ttyUSB0"
                                                       << "none" << true;
    QTest::newRow("free terminal") << "ttyPTY"
                                   << "none" << false;
    QTest::newRow("terminal in exclusive mode") << "ttyPTY"
                                                << "exclusive" << true;
    QTest::newRow("lock file of a live process") << "ttyPTY"
                                                 << "live lock file" << true;
    QTest::newRow("lock file of an ended process") << "ttyPTY"
                                                   << "stale lock file" << false;
}

void SerialDeviceEnumeratorTest::busyPorts()
{
    QFETCH(QString, name);
    QFETCH(QString, holder);
    QFETCH(bool, busy);
    tree->addUsbAdapter({"ttyUSB0", "1-1"});

    // A pseudo-terminal stands in for a real tty in /dev.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    FakeTree::link(QString::fromLocal8Bit(ptsname(master)), tree->path("dev/ttyPTY"));
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    QVERIFY(slave >= 0);

    const int holderFd = ::open(QFile::encodeName(tree->path("dev/ttyUSB0")).constData(), O_RDWR);
    QVERIFY(holderFd >= 0);
    if (holder == "flock")
        QCOMPARE(::flock(holderFd, LOCK_EX | LOCK_NB), 0);
    if (holder == "exclusive")
        QCOMPARE(::ioctl(slave, TIOCEXCL), 0);
    QScopedPointer<UucpLock> lock;
    if (holder.endsWith("lock file")) {
        if (!UucpLock::isAvailable())
            QSKIP("the lock directory is not writable");
        // Process 1 is always alive.
        lock.reset(
            new UucpLock(tree->path("dev/ttyPTY"),
                         UucpLock::text(holder == "live lock file" ? 1 : UucpLock::deadPid())));
        QVERIFY(lock->isWritten());
    }

    SerialDeviceEnumerator enumerator;
    enumerator.setEnabled(true);
    enumerator.setDeviceName(name);
    const bool result = enumerator.isBusy();
    // The test closes the port again: a second test sees the same answer.
    const bool again = enumerator.isBusy();
    ::close(holderFd);
    ::close(slave);
    ::close(master);
    QCOMPARE(result, busy);
    QCOMPARE(again, busy);
}

void SerialDeviceEnumeratorTest::listsTheRealMachine()
{
    SerialDeviceEnumeratorPrivate::setRootsForTest(Roots());
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    QVERIFY(enumerator.isEnabled());
    const QStringList ports = enumerator.presentPorts();
    QCOMPARE(spy.count(), ports.isEmpty() ? 0 : 1);
    for (const QString& port : ports) {
        QVERIFY2(QFileInfo::exists("/sys/class/tty/" + port + "/device"), qPrintable(port));
        enumerator.setDeviceName(port);
        QVERIFY(enumerator.exists());
        QVERIFY(!enumerator.description().isEmpty());
        QCOMPARE(enumerator.friendlyName(), enumerator.description() + " (" + port + ")");
        qDebug() << port << enumerator.description() << enumerator.enumeratorName()
                 << enumerator.hardwareIds();
    }
}

void SerialDeviceEnumeratorTest::withoutAChangeWatchPortsAreStillFollowed_data()
{
    QTest::addColumn<bool>("noInstance");
    QTest::newRow("no inotify instance") << true;
    QTest::newRow("no inotify watch") << false;
}

// Without a watch the list is rescanned every two seconds.
void SerialDeviceEnumeratorTest::withoutAChangeWatchPortsAreStillFollowed()
{
    QFETCH(bool, noInstance);
    tree->addUsbAdapter({"ttyUSB0", "1-1"});
    inotifyLimits::noInstance = noInstance;
    inotifyLimits::noWatch = !noInstance;
    SerialDeviceEnumerator enumerator;
    QSignalSpy spy(&enumerator, &SerialDeviceEnumerator::hasChanged);
    enumerator.setEnabled(true);
    QVERIFY(enumerator.isEnabled());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(enumerator.presentPorts(), QStringList({"ttyUSB0"}));

    tree->addUsbAdapter({"ttyUSB1", "1-2"});
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.last().at(0).toStringList(), QStringList({"ttyUSB0", "ttyUSB1"}));

    // Switched off, it rescans nothing.
    enumerator.setEnabled(false);
    QVERIFY(!enumerator.isEnabled());
    tree->removePort("ttyUSB0");
    QTest::qWait(2500);
    QCOMPARE(spy.count(), 2);

    // Once the limits allow a watch again, the enumerator goes on following.
    inotifyLimits::noInstance = false;
    inotifyLimits::noWatch = false;
    enumerator.setEnabled(true);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.last().at(0).toStringList(), QStringList({"ttyUSB1"}));
    tree->addUsbAdapter({"ttyUSB2", "1-3"});
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.last().at(0).toStringList(), QStringList({"ttyUSB1", "ttyUSB2"}));
}

QTEST_GUILESS_MAIN(SerialDeviceEnumeratorTest)
#include "SerialDeviceEnumeratorTest.moc"
