#include "NativeSerialEngine.h"
#include "InstrumentTerminal.h"
#include "RecordingReceiver.h"
#include "SerialPortSettings.h"
#include "UucpLock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

// A pseudo-terminal forces 8 bits without parity and has neither modem lines nor
// error counters. While `active`, the engine's ioctl calls (the C library's own
// terminal calls do not go through this symbol) meet a driver that reports the
// record the test chooses, keeps what was submitted, and has modem lines and
// counters when asked.
namespace driver {

struct Termios2Layout
{
    tcflag_t iflag, oflag, cflag, lflag;
    cc_t line;
    cc_t cc[19];
    speed_t ispeed, ospeed;
};
const unsigned long getSettings = _IOR('T', 0x2A, Termios2Layout);
const unsigned long setSettings = _IOW('T', 0x2B, Termios2Layout);

bool active = false;
// Flags forced into the record the port reports.
tcflag_t cflagSet = 0, cflagClear = 0, iflagSet = 0, iflagClear = 0;
// The last record submitted.
int submitCount = 0;
tcflag_t submittedCflag = 0, submittedIflag = 0;
bool refuseSettings = false;
bool hasModemLines = false;
int modemLines = 0;
bool hasCounters = false;
serial_icounter_struct counters{};
// read() calls made on this descriptor (the engine's port), whether or not
// `active` is set.
int countedDescriptor = -1;
int readCalls = 0;

void reset()
{
    active = false;
    cflagSet = cflagClear = iflagSet = iflagClear = 0;
    submitCount = 0;
    submittedCflag = submittedIflag = 0;
    refuseSettings = false;
    hasModemLines = false;
    modemLines = 0;
    hasCounters = false;
    counters = serial_icounter_struct{};
    countedDescriptor = -1;
    readCalls = 0;
}

} // namespace driver

extern "C" int ioctl(int fd, unsigned long request, ...) __THROW
{
    va_list args;
    va_start(args, request);
    void* const argument = va_arg(args, void*);
    va_end(args);
    using Ioctl = int (*)(int, unsigned long, ...);
    static const Ioctl real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    if (!driver::active)
        return real(fd, request, argument);

    if (request == driver::getSettings) {
        const int result = real(fd, request, argument);
        auto* record = static_cast<driver::Termios2Layout*>(argument);
        if (result == 0) {
            record->cflag = (record->cflag & ~driver::cflagClear) | driver::cflagSet;
            record->iflag = (record->iflag & ~driver::iflagClear) | driver::iflagSet;
        }
        return result;
    }
    if (request == driver::setSettings) {
        if (driver::refuseSettings) {
            errno = EIO;
            return -1;
        }
        const auto* record = static_cast<const driver::Termios2Layout*>(argument);
        ++driver::submitCount;
        driver::submittedCflag = record->cflag;
        driver::submittedIflag = record->iflag;
        return real(fd, request, argument);
    }
    if (driver::hasModemLines && request == TIOCMGET) {
        *static_cast<int*>(argument) = driver::modemLines;
        return 0;
    }
    if (driver::hasModemLines && (request == TIOCMBIS || request == TIOCMBIC)) {
        const int lines = *static_cast<const int*>(argument);
        driver::modemLines =
            request == TIOCMBIS ? driver::modemLines | lines : driver::modemLines & ~lines;
        return 0;
    }
    if (driver::hasCounters && request == TIOCGICOUNT) {
        *static_cast<serial_icounter_struct*>(argument) = driver::counters;
        return 0;
    }
    return real(fd, request, argument);
}

extern "C" ssize_t read(int fd, void* buffer, size_t count)
{
    using Read = ssize_t (*)(int, void*, size_t);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    if (fd >= 0 && fd == driver::countedDescriptor)
        ++driver::readCalls;
    return real(fd, buffer, count);
}

namespace {

int openDescriptorCount()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::AllEntries)
        .size();
}

// Puts the slave's termios in a known state before the engine sees it.
bool presetSlave(const InstrumentTerminal& terminal, tcflag_t cflagSet, tcflag_t cflagClear,
                 tcflag_t iflagSet, tcflag_t iflagClear, speed_t speed)
{
    const int fd = ::open(terminal.name().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    termios t{};
    bool ok = tcgetattr(fd, &t) == 0;
    t.c_cflag = (t.c_cflag & ~cflagClear) | cflagSet;
    t.c_iflag = (t.c_iflag & ~iflagClear) | iflagSet;
    cfsetspeed(&t, speed);
    ok = ok && tcsetattr(fd, TCSANOW, &t) == 0;
    ::close(fd);
    return ok;
}

quint32 rateOnThePort(const NativeSerialEngine& engine)
{
    SerialPortSettings settings;
    return settings.load(engine.descriptor()) ? settings.baudRate : 0;
}

// What a plain reader of the descriptor gets within two seconds, up to count bytes.
QByteArray readFrom(int fd, int count)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < count && clock.elapsed() < 2000) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        char chunk[256];
        const ssize_t n = ::read(fd, chunk, size_t(qMin(int(sizeof chunk), count - bytes.size())));
        if (n > 0)
            bytes.append(chunk, int(n));
    }
    return bytes;
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + 3) & 0xff);
    return bytes;
}

// Opens the engine on the terminal's port and has the instrument send `bytes`;
// true once the engine counts them all as available.
bool openAndReceive(NativeSerialEngine& engine, InstrumentTerminal& terminal,
                    QIODevice::OpenMode mode, const QByteArray& bytes)
{
    engine.setDeviceName(terminal.name());
    return engine.open(mode) && terminal.send(bytes) &&
           QTest::qWaitFor([&] { return engine.bytesAvailable() == bytes.size(); });
}

} // namespace

class NativeSerialEngineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { driver::reset(); }
    void cleanup() { driver::reset(); }
    void openTakesThePortRawAndCloseGivesItsSettingsBack();
    void portThatCannotBeOpenedLeavesNoDescriptor_data();
    void portThatCannotBeOpenedLeavesNoDescriptor();
    void secondOpenOfAnOpenPortIsRefused();
    void portSettingsReadBackAsCodes_data();
    void portSettingsReadBackAsCodes();
    void settersReachTheTermiosRecord_data();
    void settersReachTheTermiosRecord();
    void refusedSettingsChangeNothing_data();
    void refusedSettingsChangeNothing();
    void failedSubmissionKeepsTheCodeAndTheEdit();
    void flowControlDrivesRts_data();
    void flowControlDrivesRts();
    void baudRateNeedsBothDirections();
    void ratesWithoutAConstantReachThePort_data();
    void ratesWithoutAConstantReachThePort();
    void automaticReadTimeoutFollowsTheLineSettings_data();
    void automaticReadTimeoutFollowsTheLineSettings();
    void fixedReadTimeoutEndsTheAutomaticOne();
    void readTakesWhatIsWaiting();
    void readWaitsForTheRestWithinTheReadTimeout();
    void writeSendsEveryByte_data();
    void writeSendsEveryByte();
    void writeOfNothingFails();
    void writeToAPortThatTakesNothingFailsAfterTheBlockWait();
    void waitReturnsAtOnceWhenBytesAreWaiting();
    void waitWakesWhenBytesArriveAndTimesOutOtherwise();
    void portWithoutModemLinesReportsLineStatusError();
    void lineStatusMapsTheModemLines_data();
    void lineStatusMapsTheModemLines();
    void lineErrorMakesBytesAvailableFailOnce();
    void hungUpPortFailsReadsAndWaits();
    void portHeldByAnotherProgramIsNotOpened_data();
    void portHeldByAnotherProgramIsNotOpened();
    void freePortCarriesALockFileWhileOpen_data();
    void freePortCarriesALockFileWhileOpen();
    void plantedEntryAtTheLockNameNeitherRedirectsNorBlocks_data();
    void plantedEntryAtTheLockNameNeitherRedirectsNorBlocks();
    void smallReadsTakeTheLineInOneSystemCall_data();
    void smallReadsTakeTheLineInOneSystemCall();
    void bytesTakenAheadBehaveAsTheLines_data();
    void bytesTakenAheadBehaveAsTheLines();
};

void NativeSerialEngineTest::openTakesThePortRawAndCloseGivesItsSettingsBack()
{
    InstrumentTerminal terminal;
    QVERIFY(terminal.isValid());
    // A port left canonical, with echo, XON/XOFF, parity checking, 2 stop bits
    // and hardware handshake at 19200.
    QVERIFY(presetSlave(terminal, CSTOPB | CRTSCTS, 0, INPCK | IXON | IXOFF, 0, B19200));
    {
        const int fd = ::open(terminal.name().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios t{};
        QCOMPARE(tcgetattr(fd, &t), 0);
        t.c_lflag |= ICANON | ECHO;
        t.c_oflag |= OPOST;
        QCOMPARE(tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
    }
    const termios before = terminal.settings();

    NativeSerialEngine engine(nullptr);
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionAll), 12);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    QVERIFY(engine.descriptor() >= 0);

    const termios opened = terminal.settings();
    QVERIFY(!(opened.c_lflag & (ICANON | ECHO)));
    QVERIFY(!(opened.c_oflag & OPOST));
    QVERIFY(!(opened.c_iflag & (IXON | IXOFF)));
    QVERIFY(opened.c_cflag & CREAD);
    QCOMPARE(int(opened.c_cc[VMIN]), 0);
    QCOMPARE(int(opened.c_cc[VTIME]), 0);
    // The line itself keeps the port's settings.
    QCOMPARE(cfgetospeed(&opened), speed_t(B19200));
    QVERIFY(opened.c_cflag & CSTOPB);
    QVERIFY(opened.c_cflag & CRTSCTS);
    QVERIFY(opened.c_iflag & INPCK);
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionAll), 19200);
    QCOMPARE(engine.dataBits(), AbstractSerial::DataBits8);
    // Parity checked but not generated matches no code.
    QCOMPARE(engine.parity(), AbstractSerial::ParityUndefined);
    QCOMPARE(engine.stopBits(), AbstractSerial::StopBits2);
    QCOMPARE(engine.flowControl(), AbstractSerial::FlowControlHardware);
    QCOMPARE(engine.totalReadTimeout(), 0);

    QVERIFY(engine.setBaudRate(9600, AbstractSerial::BaudDirectionAll));
    QVERIFY(engine.setStopBits(AbstractSerial::StopBits1));
    QVERIFY(engine.setParity(AbstractSerial::ParityNone));
    QVERIFY(engine.setFlowControl(AbstractSerial::FlowControlOff));
    QVERIFY(!(terminal.settings().c_cflag & (CSTOPB | CRTSCTS)));
    QVERIFY(engine.close());
    QCOMPARE(engine.descriptor(), -1);
    QVERIFY(engine.close());

    const termios after = terminal.settings();
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(after.c_iflag, before.c_iflag);
    QCOMPARE(after.c_lflag, before.c_lflag);
    QCOMPARE(after.c_oflag, before.c_oflag);
    // The cached settings survive the close.
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionAll), 9600);
    QCOMPARE(engine.stopBits(), AbstractSerial::StopBits1);
}

void NativeSerialEngineTest::portThatCannotBeOpenedLeavesNoDescriptor_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << QStringLiteral("ttyDoesNotExist42");
    QTest::newRow("missing absolute") << QStringLiteral("/dev/pts/no-such-terminal");
    // Opens, but is no terminal: the descriptor must be closed again.
    QTest::newRow("not a terminal") << QStringLiteral("/dev/null");
}

void NativeSerialEngineTest::portThatCannotBeOpenedLeavesNoDescriptor()
{
    QFETCH(QString, name);
    const int descriptorsBefore = openDescriptorCount();
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(name);
    QVERIFY(!engine.open(QIODevice::ReadOnly));
    QCOMPARE(engine.descriptor(), -1);
    QVERIFY(!engine.isHungUp());
    QCOMPARE(openDescriptorCount(), descriptorsBefore);
    QVERIFY(engine.close());
}

void NativeSerialEngineTest::secondOpenOfAnOpenPortIsRefused()
{
    InstrumentTerminal terminal;
    NativeSerialEngine first(nullptr);
    NativeSerialEngine second(nullptr);
    first.setDeviceName(terminal.name());
    second.setDeviceName(terminal.name());
    QVERIFY(first.open(QIODevice::ReadOnly));
    const int descriptorsBefore = openDescriptorCount();
    QVERIFY(!second.open(QIODevice::ReadWrite));
    QCOMPARE(openDescriptorCount(), descriptorsBefore);
    QVERIFY(!first.open(QIODevice::ReadOnly));
    QVERIFY(first.close());
    QVERIFY(second.open(QIODevice::ReadWrite));
}

void NativeSerialEngineTest::portSettingsReadBackAsCodes_data()
{
    QTest::addColumn<uint>("cflagSet");
    QTest::addColumn<uint>("iflagSet");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("flow");

    QTest::newRow("8N1") << uint(CS8) << 0u << 3 << 0 << 0 << 0;
    QTest::newRow("5 bits, odd") << uint(CS5 | PARENB | PARODD) << uint(INPCK) << 0 << 1 << 0 << 0;
    QTest::newRow("6 bits, mark") << uint(CS6 | PARENB | PARODD | CMSPAR) << uint(INPCK) << 1 << 3
                                  << 0 << 0;
    QTest::newRow("7 bits, space")
        << uint(CS7 | PARENB | CMSPAR) << uint(INPCK) << 2 << 4 << 0 << 0;
    QTest::newRow("8 bits, two stop bits") << uint(CS8 | CSTOPB) << 0u << 3 << 0 << 2 << 0;
    QTest::newRow("5 bits, one and a half") << uint(CS5 | CSTOPB) << 0u << 0 << 0 << 1 << 0;
    QTest::newRow("hardware flow") << uint(CS8 | CRTSCTS) << 0u << 3 << 0 << 0 << 1;
    // Parity generated but not checked, or checked without parity: no code fits.
    QTest::newRow("parity unchecked") << uint(CS8 | PARENB) << 0u << 3 << -1 << 0 << 0;
    QTest::newRow("check without parity") << uint(CS8) << uint(INPCK) << 3 << -1 << 0 << 0;
}

void NativeSerialEngineTest::portSettingsReadBackAsCodes()
{
    QFETCH(uint, cflagSet);
    QFETCH(uint, iflagSet);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, flow);

    InstrumentTerminal terminal;
    QVERIFY(presetSlave(terminal, 0, 0, 0, 0, B4800));
    driver::active = true;
    driver::cflagClear = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    driver::cflagSet = cflagSet;
    driver::iflagClear = INPCK | IXON | IXOFF;
    driver::iflagSet = iflagSet;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadOnly));
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionInput), 4800);
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionOutput), 4800);
    QCOMPARE(int(engine.dataBits()), dataBits);
    QCOMPARE(int(engine.parity()), parity);
    QCOMPARE(int(engine.stopBits()), stopBits);
    QCOMPARE(int(engine.flowControl()), flow);
    // The open keeps the line as found and only makes it raw.
    QCOMPARE(uint(driver::submittedCflag & driver::cflagClear), cflagSet & driver::cflagClear);
    QCOMPARE(uint(driver::submittedIflag & (IXON | IXOFF)), 0u);
}

void NativeSerialEngineTest::settersReachTheTermiosRecord_data()
{
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("flow");
    QTest::addColumn<uint>("cflagExpected");
    QTest::addColumn<uint>("iflagExpected");

    QTest::newRow("8N1, no flow") << 3 << 0 << 0 << 0 << uint(CS8) << 0u;
    QTest::newRow("7E1") << 2 << 2 << 0 << 0 << uint(CS7 | PARENB) << uint(INPCK);
    QTest::newRow("8O2") << 3 << 1 << 2 << 0 << uint(CS8 | PARENB | PARODD | CSTOPB) << uint(INPCK);
    QTest::newRow("6 mark") << 1 << 3 << 0 << 0 << uint(CS6 | PARENB | PARODD | CMSPAR)
                            << uint(INPCK);
    QTest::newRow("8 space") << 3 << 4 << 0 << 0 << uint(CS8 | PARENB | CMSPAR) << uint(INPCK);
    QTest::newRow("5 bits, 1.5 stop bits") << 0 << 0 << 1 << 0 << uint(CS5 | CSTOPB) << 0u;
    QTest::newRow("hardware flow") << 3 << 0 << 0 << 1 << uint(CS8 | CRTSCTS) << 0u;
    QTest::newRow("xon/xoff") << 3 << 0 << 0 << 2 << uint(CS8) << uint(IXON | IXOFF);
}

void NativeSerialEngineTest::settersReachTheTermiosRecord()
{
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, flow);
    QFETCH(uint, cflagExpected);
    QFETCH(uint, iflagExpected);

    InstrumentTerminal terminal;
    driver::active = true;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    // Go through one stop bit first so that either word length may follow.
    QVERIFY(engine.setStopBits(AbstractSerial::StopBits1));
    QVERIFY(engine.setDataBits(AbstractSerial::DataBits(dataBits)));
    QVERIFY(engine.setParity(AbstractSerial::Parity(parity)));
    QVERIFY(engine.setStopBits(AbstractSerial::StopBits(stopBits)));
    QVERIFY(engine.setFlowControl(AbstractSerial::Flow(flow)));
    QVERIFY(engine.setBaudRate(9600, AbstractSerial::BaudDirectionAll));

    QCOMPARE(uint(driver::submittedCflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)),
             cflagExpected);
    QCOMPARE(uint(driver::submittedIflag & (INPCK | IXON | IXOFF)), iflagExpected);
    QCOMPARE(terminal.outputSpeed(), speed_t(B9600));
    QCOMPARE(int(engine.dataBits()), dataBits);
    QCOMPARE(int(engine.parity()), parity);
    QCOMPARE(int(engine.stopBits()), stopBits);
    QCOMPARE(int(engine.flowControl()), flow);
}

void NativeSerialEngineTest::refusedSettingsChangeNothing_data()
{
    // From 8 bits or 5 bits with one stop bit, a setting that succeeds, then one
    // that must be refused before anything reaches the port.
    QTest::addColumn<int>("startBits");
    QTest::addColumn<QString>("first");
    QTest::addColumn<int>("firstCode");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("secondCode");

    QTest::newRow("5 bits, then 2 stop bits") << 3 << "data" << 0 << "stop" << 2;
    QTest::newRow("2 stop bits, then 5 bits") << 3 << "stop" << 2 << "data" << 0;
    QTest::newRow("1.5 stop bits, then 6 bits") << 0 << "stop" << 1 << "data" << 1;
    QTest::newRow("1.5 stop bits, then 8 bits") << 0 << "stop" << 1 << "data" << 3;
    QTest::newRow("7 bits, then 1.5 stop bits") << 3 << "data" << 2 << "stop" << 1;
    QTest::newRow("8 bits, then 1.5 stop bits") << 0 << "data" << 3 << "stop" << 1;
    QTest::newRow("data bits out of range") << 3 << "data" << 3 << "data" << 4;
    QTest::newRow("undefined data bits") << 3 << "data" << 3 << "data" << -1;
    QTest::newRow("parity out of range") << 3 << "parity" << 2 << "parity" << 5;
    QTest::newRow("stop bits out of range") << 3 << "stop" << 0 << "stop" << 3;
    QTest::newRow("flow out of range") << 3 << "flow" << 1 << "flow" << 5;
    QTest::newRow("undefined flow") << 3 << "flow" << 0 << "flow" << -1;
}

void NativeSerialEngineTest::refusedSettingsChangeNothing()
{
    QFETCH(int, startBits);
    QFETCH(QString, first);
    QFETCH(int, firstCode);
    QFETCH(QString, second);
    QFETCH(int, secondCode);

    InstrumentTerminal terminal;
    driver::active = true;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    QVERIFY(engine.setStopBits(AbstractSerial::StopBits1));
    QVERIFY(engine.setDataBits(AbstractSerial::DataBits(startBits)));

    const auto apply = [&engine](const QString& which, int code) {
        if (which == QLatin1String("data"))
            return engine.setDataBits(AbstractSerial::DataBits(code));
        if (which == QLatin1String("stop"))
            return engine.setStopBits(AbstractSerial::StopBits(code));
        if (which == QLatin1String("parity"))
            return engine.setParity(AbstractSerial::Parity(code));
        return engine.setFlowControl(AbstractSerial::Flow(code));
    };
    QVERIFY(apply(first, firstCode));
    const int submitted = driver::submitCount;
    const auto codes = [&engine] {
        return QList<int>{engine.dataBits(), engine.parity(), engine.stopBits(),
                          engine.flowControl()};
    };
    const QList<int> codesBefore = codes();

    QVERIFY(!apply(second, secondCode));
    QCOMPARE(driver::submitCount, submitted);
    QCOMPARE(codes(), codesBefore);
}

void NativeSerialEngineTest::failedSubmissionKeepsTheCodeAndTheEdit()
{
    InstrumentTerminal terminal;
    driver::active = true;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    QVERIFY(engine.setParity(AbstractSerial::ParityNone));
    engine.setTotalReadTimeout(-1);
    QVERIFY(engine.setBaudRate(9600, AbstractSerial::BaudDirectionAll));
    QCOMPARE(engine.totalReadTimeout(), 266);

    driver::refuseSettings = true;
    QVERIFY(!engine.setParity(AbstractSerial::ParityEven));
    QVERIFY(!engine.setBaudRate(1200, AbstractSerial::BaudDirectionAll));
    QCOMPARE(engine.parity(), AbstractSerial::ParityNone);
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionAll), 9600);
    QCOMPARE(engine.totalReadTimeout(), 266);

    // The refused edits stay in the working record and go out with the next change.
    driver::refuseSettings = false;
    QVERIFY(engine.setDataBits(AbstractSerial::DataBits7));
    QCOMPARE(uint(driver::submittedCflag & (CSIZE | PARENB | PARODD)), uint(CS7 | PARENB));
    QCOMPARE(terminal.outputSpeed(), speed_t(B1200));
    QCOMPARE(engine.parity(), AbstractSerial::ParityNone);
}

void NativeSerialEngineTest::flowControlDrivesRts_data()
{
    QTest::addColumn<int>("flow");
    QTest::addColumn<bool>("rtsAfter");
    QTest::addColumn<bool>("handshake");
    QTest::newRow("off holds RTS low") << 0 << false << false;
    QTest::newRow("hardware leaves RTS to the driver") << 1 << true << true;
    QTest::newRow("xon/xoff holds RTS low") << 2 << false << false;
}

void NativeSerialEngineTest::flowControlDrivesRts()
{
    QFETCH(int, flow);
    QFETCH(bool, rtsAfter);
    QFETCH(bool, handshake);

    InstrumentTerminal terminal;
    driver::active = true;
    driver::hasModemLines = true;
    driver::modemLines = TIOCM_RTS | TIOCM_DTR;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    // RTS high without handshake matches no flow code.
    QCOMPARE(engine.flowControl(), AbstractSerial::FlowControlUndefined);
    QVERIFY(driver::modemLines & TIOCM_RTS);

    QVERIFY(engine.setFlowControl(AbstractSerial::Flow(flow)));
    QCOMPARE(bool(driver::modemLines & TIOCM_RTS), rtsAfter);
    QVERIFY(driver::modemLines & TIOCM_DTR);
    QCOMPARE(bool(driver::submittedCflag & CRTSCTS), handshake);
    QCOMPARE(int(engine.flowControl()), flow);
}

void NativeSerialEngineTest::baudRateNeedsBothDirections()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    QVERIFY(engine.setBaudRate(4800, AbstractSerial::BaudDirectionAll));

    QVERIFY(!engine.setBaudRate(9600, AbstractSerial::BaudDirectionInput));
    QVERIFY(!engine.setBaudRate(9600, AbstractSerial::BaudDirectionOutput));
    QVERIFY(!engine.setBaudRate(0, AbstractSerial::BaudDirectionAll));
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionAll), 4800);
    QCOMPARE(terminal.outputSpeed(), speed_t(B4800));

    QVERIFY(engine.setBaudRate(9600, AbstractSerial::BaudDirectionAll));
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionInput), 9600);
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionOutput), 9600);
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionAll), 9600);
    QCOMPARE(terminal.outputSpeed(), speed_t(B9600));
    QCOMPARE(terminal.inputSpeed(), speed_t(B9600));
}

void NativeSerialEngineTest::ratesWithoutAConstantReachThePort_data()
{
    QTest::addColumn<int>("rate");
    QTest::newRow("14400") << 14400;
    QTest::newRow("56000") << 56000;
    QTest::newRow("76800") << 76800;
    QTest::newRow("128000") << 128000;
    QTest::newRow("256000") << 256000;
    QTest::newRow("115200, a constant") << 115200;
}

void NativeSerialEngineTest::ratesWithoutAConstantReachThePort()
{
    QFETCH(int, rate);
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    QVERIFY(engine.setBaudRate(rate, AbstractSerial::BaudDirectionAll));
    QCOMPARE(rateOnThePort(engine), quint32(rate));
    QCOMPARE(engine.baudRate(AbstractSerial::BaudDirectionAll), rate);
}

void NativeSerialEngineTest::automaticReadTimeoutFollowsTheLineSettings_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("charInterval");
    QTest::addColumn<int>("expected");

    QTest::newRow("9600 8N1") << 9600 << 3 << 0 << 0 << 0 << 266;
    QTest::newRow("9600 8E1") << 9600 << 3 << 2 << 0 << 0 << 293;
    QTest::newRow("9600 8N2") << 9600 << 3 << 0 << 2 << 0 << 293;
    QTest::newRow("19200 7O2") << 19200 << 2 << 1 << 2 << 0 << 146;
    QTest::newRow("1200 5N1.5") << 1200 << 0 << 0 << 1 << 0 << 1493;
    QTest::newRow("115200 8N1") << 115200 << 3 << 0 << 0 << 0 << 22;
    QTest::newRow("9600 8N1, 1 ms between characters") << 9600 << 3 << 0 << 0 << 1000 << 521;
    QTest::newRow("9600 8N1, 10 us between characters") << 9600 << 3 << 0 << 0 << 10 << 268;
}

void NativeSerialEngineTest::automaticReadTimeoutFollowsTheLineSettings()
{
    QFETCH(int, rate);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, charInterval);
    QFETCH(int, expected);

    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadOnly));
    QVERIFY(engine.setStopBits(AbstractSerial::StopBits1));
    QVERIFY(engine.setBaudRate(9600, AbstractSerial::BaudDirectionAll));
    QVERIFY(engine.setDataBits(AbstractSerial::DataBits8));
    QVERIFY(engine.setParity(AbstractSerial::ParityNone));
    engine.setTotalReadTimeout(-1);
    QCOMPARE(engine.totalReadTimeout(), 266);

    // Each change recomputes it, whatever the order.
    QVERIFY(engine.setDataBits(AbstractSerial::DataBits(dataBits)));
    QVERIFY(engine.setStopBits(AbstractSerial::StopBits(stopBits)));
    QVERIFY(engine.setParity(AbstractSerial::Parity(parity)));
    QVERIFY(engine.setBaudRate(rate, AbstractSerial::BaudDirectionAll));
    engine.setCharIntervalTimeout(charInterval);
    QCOMPARE(engine.charIntervalTimeout(), charInterval);
    QCOMPARE(engine.totalReadTimeout(), expected);
}

void NativeSerialEngineTest::fixedReadTimeoutEndsTheAutomaticOne()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadOnly));
    QVERIFY(engine.setBaudRate(9600, AbstractSerial::BaudDirectionAll));
    QVERIFY(engine.setDataBits(AbstractSerial::DataBits8));
    QVERIFY(engine.setParity(AbstractSerial::ParityNone));
    QVERIFY(engine.setStopBits(AbstractSerial::StopBits1));
    engine.setTotalReadTimeout(-1);
    QCOMPARE(engine.totalReadTimeout(), 266);
    engine.setTotalReadTimeout(100);
    QCOMPARE(engine.totalReadTimeout(), 100);
    QVERIFY(engine.setBaudRate(1200, AbstractSerial::BaudDirectionAll));
    engine.setCharIntervalTimeout(5000);
    QCOMPARE(engine.totalReadTimeout(), 100);

    // A new open starts without the automatic timeout.
    engine.setTotalReadTimeout(-1);
    QVERIFY(engine.close());
    QVERIFY(engine.open(QIODevice::ReadOnly));
    QCOMPARE(engine.totalReadTimeout(), 0);
    QVERIFY(engine.setBaudRate(2400, AbstractSerial::BaudDirectionAll));
    QCOMPARE(engine.totalReadTimeout(), 0);
}

void NativeSerialEngineTest::readTakesWhatIsWaiting()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadOnly));
    QCOMPARE(engine.bytesAvailable(), qint64(0));
    char empty[16];
    QCOMPARE(engine.read(empty, sizeof empty), qint64(0));

    const QByteArray sent = pattern(600);
    QVERIFY(terminal.send(sent));
    QTRY_COMPARE(engine.bytesAvailable(), qint64(600));
    QByteArray received(700, '\0');
    QCOMPARE(engine.read(received.data(), 600), qint64(600));
    QCOMPARE(received.left(600), sent);
    QCOMPARE(engine.bytesAvailable(), qint64(0));

    // Fewer bytes than asked: what is there, at once with no read timeout.
    QVERIFY(terminal.send(sent.left(40)));
    QTRY_COMPARE(engine.bytesAvailable(), qint64(40));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(engine.read(received.data(), 700), qint64(40));
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(received.left(40), sent.left(40));

    // A port opened for writing only has nothing to read.
    QVERIFY(engine.close());
    QVERIFY(engine.open(QIODevice::WriteOnly));
    QVERIFY(engine.read(received.data(), 16) < 0);
}

void NativeSerialEngineTest::readWaitsForTheRestWithinTheReadTimeout()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadOnly));
    engine.setTotalReadTimeout(1500);

    const QByteArray sent = pattern(16);
    QVERIFY(terminal.send(sent.left(10)));
    std::thread instrument([&terminal, &sent] {
        ::usleep(100 * 1000);
        terminal.send(sent.mid(10));
    });
    QByteArray received(16, '\0');
    const qint64 got = engine.read(received.data(), 16);
    instrument.join();
    QCOMPARE(got, qint64(16));
    QCOMPARE(received, sent);

    // Nothing more comes: the block ends with the timeout and what it has.
    engine.setTotalReadTimeout(200);
    QVERIFY(terminal.send(sent.left(5)));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(engine.read(received.data(), 16), qint64(5));
    QVERIFY(clock.elapsed() >= 150);
    QVERIFY(clock.elapsed() < 2000);
}

void NativeSerialEngineTest::writeSendsEveryByte_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("one byte") << 1;
    QTest::newRow("one block") << 512;
    QTest::newRow("two blocks and a rest") << 1300;
    QTest::newRow("many blocks") << 3000;
}

void NativeSerialEngineTest::writeSendsEveryByte()
{
    QFETCH(int, size);
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::WriteOnly));
    const QByteArray sent = pattern(size);
    QCOMPARE(engine.write(sent.constData(), size), qint64(size));
    QVERIFY(engine.flush());
    QCOMPARE(terminal.receive(size), sent);
}

void NativeSerialEngineTest::writeOfNothingFails()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    const char byte = 'x';
    QCOMPARE(engine.write(&byte, 0), qint64(-1));
    QVERIFY(engine.close());
    // Nor can a port opened for reading only be written.
    QVERIFY(engine.open(QIODevice::ReadOnly));
    QCOMPARE(engine.write(&byte, 1), qint64(-1));
}

void NativeSerialEngineTest::writeToAPortThatTakesNothingFailsAfterTheBlockWait()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::WriteOnly));
    // Nobody reads the instrument's side: the terminal's queues fill, then the
    // block waits its 5 s and the whole write fails instead of hanging.
    const QByteArray sent = pattern(1 << 20);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(engine.write(sent.constData(), sent.size()), qint64(-1));
    QVERIFY(clock.elapsed() >= 4500);
    QVERIFY(clock.elapsed() < 20000);
    QVERIFY(!engine.isHungUp());
}

void NativeSerialEngineTest::waitReturnsAtOnceWhenBytesAreWaiting()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    QVERIFY(openAndReceive(engine, terminal, QIODevice::ReadWrite, "abc"));

    bool readyRead = false;
    bool readyWrite = true; // must stay as it was
    QElapsedTimer clock;
    clock.start();
    QVERIFY(engine.waitForReadOrWrite(&readyRead, &readyWrite, true, true, 5000));
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(readyRead);
    QVERIFY(readyWrite);
}

void NativeSerialEngineTest::waitWakesWhenBytesArriveAndTimesOutOtherwise()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadOnly));

    bool readyRead = false;
    bool readyWrite = false;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!engine.waitForReadOrWrite(&readyRead, &readyWrite, true, false, 200));
    QVERIFY(clock.elapsed() >= 150);
    QVERIFY(!readyRead);

    std::thread instrument([&terminal] {
        ::usleep(100 * 1000);
        terminal.send("x");
    });
    clock.restart();
    // -1 waits without limit.
    const bool woke = engine.waitForReadOrWrite(&readyRead, &readyWrite, true, false, -1);
    instrument.join();
    QVERIFY(woke);
    QVERIFY(readyRead);
    QVERIFY(!readyWrite);
    QVERIFY(clock.elapsed() < 5000);
}

void NativeSerialEngineTest::portWithoutModemLinesReportsLineStatusError()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    // Closed: no lines to read either.
    QCOMPARE(engine.lineStatus(), quint16(0x8000));
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    // A pseudo-terminal has no modem lines at all.
    QCOMPARE(engine.lineStatus(), quint16(0x8000));
    QVERIFY(!engine.setDtr(true));
    QVERIFY(!engine.setRts(false));
    // Flow control that holds RTS low still applies: there is no RTS to hold.
    QVERIFY(engine.setFlowControl(AbstractSerial::FlowControlOff));
    QCOMPARE(engine.flowControl(), AbstractSerial::FlowControlOff);
    QVERIFY(engine.reset());
}

void NativeSerialEngineTest::lineStatusMapsTheModemLines_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("status");
    QTest::newRow("none") << 0 << 0;
    QTest::newRow("CTS") << int(TIOCM_CTS) << 0x0020;
    QTest::newRow("DSR") << int(TIOCM_DSR) << 0x0100;
    QTest::newRow("ring") << int(TIOCM_RNG) << 0x0080;
    QTest::newRow("carrier") << int(TIOCM_CAR) << 0x0040;
    QTest::newRow("DTR and RTS") << int(TIOCM_DTR | TIOCM_RTS) << 0x0006;
    QTest::newRow("all") << int(TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR | TIOCM_DTR |
                                TIOCM_RTS)
                         << 0x01e6;
    // Lines the flags have no place for are left out.
    QTest::newRow("secondary lines") << int(TIOCM_ST | TIOCM_SR | TIOCM_LE) << 0;
}

void NativeSerialEngineTest::lineStatusMapsTheModemLines()
{
    QFETCH(int, lines);
    QFETCH(int, status);
    InstrumentTerminal terminal;
    driver::active = true;
    driver::hasModemLines = true;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    driver::modemLines = lines;
    QCOMPARE(int(engine.lineStatus()), status);

    QVERIFY(engine.setDtr(!(lines & TIOCM_DTR)));
    QCOMPARE(bool(engine.lineStatus() & 0x0002), !(lines & TIOCM_DTR));
    QVERIFY(engine.setRts(!(lines & TIOCM_RTS)));
    QCOMPARE(bool(engine.lineStatus() & 0x0004), !(lines & TIOCM_RTS));
}

void NativeSerialEngineTest::lineErrorMakesBytesAvailableFailOnce()
{
    InstrumentTerminal terminal;
    driver::active = true;
    driver::hasCounters = true;
    driver::counters.frame = 3;
    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadOnly));
    QVERIFY(terminal.send("abcd"));
    // Errors counted before the open are not this session's.
    QTRY_COMPARE(engine.bytesAvailable(), qint64(4));

    driver::counters.parity += 1;
    QCOMPARE(engine.bytesAvailable(), qint64(-1));
    QCOMPARE(engine.bytesAvailable(), qint64(4));
    driver::counters.overrun += 2;
    driver::counters.brk += 1;
    QCOMPARE(engine.bytesAvailable(), qint64(-1));
    QCOMPARE(engine.bytesAvailable(), qint64(4));
    QVERIFY(!engine.isHungUp());
}

void NativeSerialEngineTest::hungUpPortFailsReadsAndWaits()
{
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    QVERIFY(openAndReceive(engine, terminal, QIODevice::ReadWrite, pattern(16)));
    QVERIFY(!engine.isHungUp());

    terminal.hangUp();
    char buffer[16];
    QCOMPARE(engine.read(buffer, sizeof buffer), qint64(-1));
    QVERIFY(engine.isHungUp());
    QCOMPARE(engine.bytesAvailable(), qint64(-1));
    const char byte = 'x';
    QCOMPARE(engine.write(&byte, 1), qint64(-1));
    bool readyRead = false;
    bool readyWrite = false;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!engine.waitForReadOrWrite(&readyRead, &readyWrite, true, true, 3000));
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(engine.lineStatus(), quint16(0x8000));

    QVERIFY(engine.close());
    QVERIFY(!engine.isHungUp());
    QCOMPARE(engine.descriptor(), -1);
}

void NativeSerialEngineTest::portHeldByAnotherProgramIsNotOpened_data()
{
    QTest::addColumn<bool>("exclusive");
    QTest::addColumn<bool>("flocked");
    QTest::addColumn<QString>("lockFile");
    QTest::newRow("exclusive mode and advisory lock") << true << true << "";
    QTest::newRow("exclusive mode only") << true << false << "";
    QTest::newRow("advisory lock only") << false << true << "";
    QTest::newRow("lock file in text form") << false << false << "text";
    QTest::newRow("lock file in binary form") << false << false << "binary";
    QTest::newRow("lock file by the last component") << false << false << "text LCK..3";
}

// The holder is another program on the same port; it keeps its port as it had
// it, and gets every byte the instrument sends.
void NativeSerialEngineTest::portHeldByAnotherProgramIsNotOpened()
{
    QFETCH(bool, exclusive);
    QFETCH(bool, flocked);
    QFETCH(QString, lockFile);
    // Only root opens a tty that is in exclusive mode; anybody else is refused
    // by the open itself, before any of this engine's checks.
    if (exclusive && ::geteuid() != 0)
        QSKIP("opening a tty in exclusive mode needs root");
    if (!lockFile.isEmpty() && !UucpLock::isAvailable())
        QSKIP("the lock directory is not writable");

    InstrumentTerminal terminal;
    const int holder =
        ::open(terminal.name().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(holder >= 0);
    const auto closeHolder = qScopeGuard([holder] { ::close(holder); });
    if (exclusive)
        QCOMPARE(::ioctl(holder, TIOCEXCL), 0);
    if (flocked)
        QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
    // Process 1 is always alive.
    const QByteArray content = UucpLock::content(lockFile.section(' ', 0, 0), 1);
    QScopedPointer<UucpLock> lock;
    if (!lockFile.isEmpty()) {
        lock.reset(new UucpLock(terminal.name(), content, lockFile.endsWith("LCK..3")));
        QVERIFY(lock->isWritten());
    }

    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(!engine.open(QIODevice::ReadOnly));
    QCOMPARE(engine.descriptor(), -1);

    int exclusiveNow = -1;
    QCOMPARE(::ioctl(holder, TIOCGEXCL, &exclusiveNow), 0);
    QCOMPARE(exclusiveNow, exclusive ? 1 : 0);
    if (lock) {
        QFile file(lock->path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
    QVERIFY(terminal.send(pattern(16)));
    QCOMPARE(readFrom(holder, 16), pattern(16));
}

void NativeSerialEngineTest::freePortCarriesALockFileWhileOpen_data()
{
    QTest::addColumn<QString>("leftOver");
    QTest::newRow("no lock file") << "";
    QTest::newRow("stale lock in text form") << "text";
    QTest::newRow("stale lock in binary form") << "binary";
    QTest::newRow("lock naming no process") << "garbage";
}

void NativeSerialEngineTest::freePortCarriesALockFileWhileOpen()
{
    QFETCH(QString, leftOver);
    if (!UucpLock::isAvailable())
        QSKIP("the lock directory is not writable");
    InstrumentTerminal terminal;
    const pid_t dead = UucpLock::deadPid();
    QScopedPointer<UucpLock> stale;
    if (!leftOver.isEmpty()) {
        stale.reset(new UucpLock(terminal.name(), UucpLock::content(leftOver, dead)));
        QVERIFY(stale->isWritten());
    }
    const QString lockPath = UucpLock::pathFor(terminal.name());
    // Terminal programs read the last component's name (LCK..3 for /dev/pts/3).
    const QString otherPath =
        UucpLock::directory() + "/LCK.." + QFileInfo(terminal.name()).fileName();

    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    for (const QString& path : {lockPath, otherPath}) {
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        QCOMPARE(file.readAll(), UucpLock::text(::getpid()));
    }

    // A second engine of this process is another user of the port too.
    NativeSerialEngine second(nullptr);
    second.setDeviceName(terminal.name());
    QVERIFY(!second.open(QIODevice::ReadOnly));
    QVERIFY(QFile::exists(lockPath));

    QVERIFY(engine.close());
    QVERIFY(!QFile::exists(lockPath));
    QVERIFY(!QFile::exists(otherPath));
    QVERIFY(second.open(QIODevice::ReadOnly));
    QVERIFY(QFile::exists(lockPath));
    QVERIFY(second.close());
    QVERIFY(!QFile::exists(lockPath));
}

void NativeSerialEngineTest::plantedEntryAtTheLockNameNeitherRedirectsNorBlocks_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("locked"); // this process's lock stands at the name while open
    QTest::newRow("link at the lock's name") << "link" << true;
    QTest::newRow("link at the old, guessable temporary name") << "temporary" << true;
    QTest::newRow("FIFO") << "fifo" << true;
    QTest::newRow("empty directory") << "directory" << true;
    QTest::newRow("directory that cannot go") << "full directory" << false;
    QTest::newRow("oversized file naming a live process") << "oversized" << true;
}

// Any user can plant these in the lock directory: the open goes on, never
// writes through a link, never waits on a FIFO.
void NativeSerialEngineTest::plantedEntryAtTheLockNameNeitherRedirectsNorBlocks()
{
    QFETCH(QString, planted);
    QFETCH(bool, locked);
    if (!UucpLock::isAvailable())
        QSKIP("the lock directory is not writable");
    InstrumentTerminal terminal;
    const QString path = UucpLock::pathFor(terminal.name());
    const QString victim = QDir::temp().filePath(QStringLiteral("victim%1").arg(::getpid()));
    const QString temporary = UucpLock::directory() + "/LTMP." + QFileInfo(path).fileName() + "." +
                              QString::number(::getpid());
    QVERIFY(UucpLock::write(victim, "secret"));
    if (planted == "link" || planted == "temporary")
        QVERIFY(QFile::link(victim, planted == "link" ? path : temporary));
    else if (planted == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
    else if (planted.endsWith("directory"))
        QVERIFY(QDir().mkdir(path) && (planted == "directory" || QDir().mkdir(path + "/x")));
    else
        QVERIFY(UucpLock::write(path, UucpLock::text(1) + QByteArray(4096, ' ')));

    NativeSerialEngine engine(nullptr);
    engine.setDeviceName(terminal.name());
    QVERIFY(engine.open(QIODevice::ReadWrite));
    QFile lock(path);
    QCOMPARE(lock.open(QIODevice::ReadOnly) && lock.readAll() == UucpLock::text(::getpid()),
             locked);
    QVERIFY(!QFileInfo(path).isSymLink() && (!locked || lock.permissions() & QFile::ReadOther));
    QVERIFY(engine.close());
    QCOMPARE(QFileInfo::exists(path), !locked);
    QFile kept(victim);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("secret"));
    QFile::remove(victim);
    QFile::remove(temporary);
    QDir(path).removeRecursively();
}

void NativeSerialEngineTest::smallReadsTakeTheLineInOneSystemCall_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("readSize");
    // A pseudo-terminal queues up to 4095 bytes for its reader.
    QTest::newRow("16-byte blocks") << 4000 << 16;
    QTest::newRow("one byte at a time") << 1000 << 1;
    QTest::newRow("reads of 600") << 3000 << 600;
}

void NativeSerialEngineTest::smallReadsTakeTheLineInOneSystemCall()
{
    QFETCH(int, size);
    QFETCH(int, readSize);
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    const QByteArray sent = pattern(size);
    QVERIFY(openAndReceive(engine, terminal, QIODevice::ReadOnly, sent));

    driver::countedDescriptor = engine.descriptor();
    QByteArray received;
    char chunk[1024];
    while (received.size() < size) {
        const qint64 got = engine.read(chunk, readSize);
        QVERIFY(got > 0);
        received.append(chunk, int(got));
        QCOMPARE(engine.bytesAvailable(), qint64(size - received.size()));
    }
    QCOMPARE(received, sent);
    QCOMPARE(driver::readCalls, 1);
}

void NativeSerialEngineTest::bytesTakenAheadBehaveAsTheLines_data()
{
    QTest::addColumn<QString>("then");
    QTest::newRow("more bytes arrive") << "more";
    QTest::newRow("the port is reset") << "reset";
    QTest::newRow("the port is closed and opened again") << "reopen";
    QTest::newRow("the port hangs up") << "hang-up";
}

// 16 of 100 bytes are read, so the engine holds 84 that the line gave it.
void NativeSerialEngineTest::bytesTakenAheadBehaveAsTheLines()
{
    QFETCH(QString, then);
    InstrumentTerminal terminal;
    NativeSerialEngine engine(nullptr);
    const QByteArray sent = pattern(200);
    QVERIFY(openAndReceive(engine, terminal, QIODevice::ReadWrite, sent.left(100)));
    char buffer[256];
    QCOMPARE(engine.read(buffer, 16), qint64(16));
    QCOMPARE(QByteArray(buffer, 16), sent.left(16));
    QCOMPARE(engine.bytesAvailable(), qint64(84));

    if (then == "more") {
        QVERIFY(terminal.send(sent.mid(100)));
        QTRY_COMPARE(engine.bytesAvailable(), qint64(184));
        QCOMPARE(engine.read(buffer, 256), qint64(184));
        QCOMPARE(QByteArray(buffer, 184), sent.mid(16));
    } else if (then == "reset" || then == "reopen") {
        if (then == "reset") {
            QVERIFY(engine.reset());
        } else {
            QVERIFY(engine.close());
            QVERIFY(engine.open(QIODevice::ReadWrite));
        }
        QCOMPARE(engine.bytesAvailable(), qint64(0));
        QCOMPARE(engine.read(buffer, 16), qint64(0));
        QVERIFY(terminal.send(sent.mid(100, 10)));
        QTRY_COMPARE(engine.bytesAvailable(), qint64(10));
        QCOMPARE(engine.read(buffer, 256), qint64(10));
        QCOMPARE(QByteArray(buffer, 10), sent.mid(100, 10));
    } else {
        // As the terminal discards its queue, so does the engine.
        terminal.hangUp();
        QCOMPARE(engine.bytesAvailable(), qint64(-1));
        QVERIFY(engine.isHungUp());
        QCOMPARE(engine.read(buffer, 16), qint64(-1));
        bool readyRead = false;
        bool readyWrite = false;
        QVERIFY(!engine.waitForReadOrWrite(&readyRead, &readyWrite, true, false, 1000));
    }
}

QTEST_MAIN(NativeSerialEngineTest)
#include "NativeSerialEngineTest.moc"
