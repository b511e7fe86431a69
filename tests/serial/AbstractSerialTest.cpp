#include "AbstractSerial.h"
#include "InstrumentTerminal.h"
#include "RecordingReceiver.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <termios.h>
#include <thread>

namespace {

// Bytes whose order shows: a block delivered twice or out of place breaks the pattern.
QByteArray pattern(int size, int offset = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((offset + i) % 251);
    return bytes;
}

int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::NoDotAndDotDot | QDir::System)
        .size();
}

// Runs the event loop for msecs and counts how often it woke up. An idle loop
// wakes a handful of times; a notifier that keeps firing wakes it thousands of
// times.
int wakeUpsWhileIdle(int msecs)
{
    int wakeUps = 0;
    QEventLoop loop;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    const auto connection =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return wakeUps;
}

// The acquisition worker's way of reading: every complete 16-byte block on each
// readyRead(), the rest left in the port.
struct BlockReader
{
    explicit BlockReader(AbstractSerial& serial) : port(serial)
    {
        QObject::connect(&port, &QIODevice::readyRead, [this] {
            ++notices;
            while (port.bytesAvailable() >= 16) {
                const QByteArray block = port.read(16);
                if (block.size() != 16)
                    break;
                received += block;
            }
        });
    }
    AbstractSerial& port;
    QByteArray received;
    int notices = 0;
};

// Opens the device on the instrument's port, buffered or not.
bool openOn(AbstractSerial& serial, const InstrumentTerminal& instrument, QIODevice::OpenMode mode,
            bool buffered)
{
    serial.setDeviceName(instrument.name());
    return serial.open(buffered ? mode : mode | QIODevice::Unbuffered);
}

const QString notOpenText = QStringLiteral("Device is not open. Error!");

} // namespace

class AbstractSerialTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openReportsStatusAndRefusesSecondOpen();
    void openRefusesUnsupportedModes_data();
    void openRefusesUnsupportedModes();
    void openMissingPortLeaksNoDescriptor();
    void closedDeviceRefusesSettings();
    void settingsByCodeReachTermios_data();
    void settingsByCodeReachTermios();
    void settingsByText_data();
    void settingsByText();
    void stopBitsRulesHoldWhicheverComesSecond();
    void readTimeoutFollowsLineThenStaysFixed();
    void textListsStartWithUndefined();
    void statusTexts_data();
    void statusTexts();
    void statusSignalOnlyWhenEnabled();
    void debugOperators_data();
    void debugOperators();
    void lineStatusWithoutModemLinesIsError();
    void unbufferedReadyReadOncePerArrival();
    void unbufferedBurstLeavesPartialBlock();
    void partialBlockWaitsWithoutBusyLoop();
    void bufferedModeKeepsEveryByte_data();
    void bufferedModeKeepsEveryByte();
    void raisingReadLimitReleasesHeldBytes();
    void writesReachTheInstrument_data();
    void writesReachTheInstrument();
    void waitForReadyReadTimesOutThenSignalsAgain();
    void slotWaitingInsideReadyReadGetsNoNestedSignal();
    void resetDropsReceivedBytes();
    void hangUpFinishesReadChannelOnce_data();
    void hangUpFinishesReadChannelOnce();
    void waitForBytesWrittenReturnsOnceTheBytesHaveLeft_data();
    void waitForBytesWrittenReturnsOnceTheBytesHaveLeft();
    void waitForReadyReadOnWriteOnlyPortFailsAtOnce_data();
    void waitForReadyReadOnWriteOnlyPortFailsAtOnce();
    void hangUpOnTheWriteSideIsReported_data();
    void hangUpOnTheWriteSideIsReported();
};

void AbstractSerialTest::openReportsStatusAndRefusesSecondOpen()
{
    InstrumentTerminal instrument;
    QVERIFY(instrument.isValid());
    AbstractSerial serial;
    serial.setStatusSignalEnabled(true);
    QSignalSpy statuses(&serial, &AbstractSerial::signalStatus);
    serial.setDeviceName(instrument.name());

    QVERIFY(serial.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QVERIFY(serial.isOpen());
    QCOMPARE(statuses.size(), 1);
    QCOMPARE(statuses.at(0).at(0).toString(), AbstractSerial::statusToString(1));
    QVERIFY(statuses.at(0).at(1).toDateTime().isValid());

    // The name of an open port does not change.
    serial.setDeviceName(QStringLiteral("/dev/null"));
    QCOMPARE(serial.deviceName(), instrument.name());

    QVERIFY(!serial.open(QIODevice::ReadOnly));
    QCOMPARE(serial.errorString(), QStringLiteral("Device is already open. Error!"));
    QVERIFY(serial.isOpen());

    serial.close();
    QVERIFY(!serial.isOpen());
    QCOMPARE(statuses.last().at(0).toString(),
             QStringLiteral("Closed::Device is successfully closed. OK!"));
    serial.close();
    QCOMPARE(serial.errorString(), QStringLiteral("Closed::Fail close device. Error!"));

    // Closed ports can be opened again.
    QVERIFY(serial.open(QIODevice::ReadWrite));
}

void AbstractSerialTest::openRefusesUnsupportedModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("not open") << int(QIODevice::NotOpen);
    QTest::newRow("text") << int(QIODevice::ReadOnly | QIODevice::Text);
    QTest::newRow("append") << int(QIODevice::WriteOnly | QIODevice::Append);
    QTest::newRow("truncate") << int(QIODevice::ReadWrite | QIODevice::Truncate);
}

void AbstractSerialTest::openRefusesUnsupportedModes()
{
    QFETCH(int, mode);
    InstrumentTerminal instrument;
    AbstractSerial serial;
    serial.setDeviceName(instrument.name());
    QVERIFY(!serial.open(QIODevice::OpenMode(mode)));
    QVERIFY(!serial.isOpen());
    QCOMPARE(serial.errorString(), QStringLiteral("Opened::Opened mode unsupported. Error!"));
}

void AbstractSerialTest::openMissingPortLeaksNoDescriptor()
{
    const int before = openDescriptors();
    {
        AbstractSerial serial;
        serial.setDeviceName(QStringLiteral("/dev/ttyNoSuchPort7"));
        QVERIFY(!serial.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        QCOMPARE(serial.errorString(), QStringLiteral("Error opening. Error!"));
        QVERIFY(!serial.isOpen());
    }
    {
        // Destroying an open device closes its port.
        InstrumentTerminal instrument;
        const int withTerminal = openDescriptors();
        auto* serial = new AbstractSerial;
        serial->setDeviceName(instrument.name());
        QVERIFY(serial->open(QIODevice::ReadWrite));
        delete serial;
        QCOMPARE(openDescriptors(), withTerminal);
    }
    QCOMPARE(openDescriptors(), before);
}

void AbstractSerialTest::closedDeviceRefusesSettings()
{
    InstrumentTerminal instrument;
    const speed_t portSpeed = instrument.outputSpeed();
    AbstractSerial serial;
    serial.setStatusSignalEnabled(true);
    QSignalSpy statuses(&serial, &AbstractSerial::signalStatus);
    serial.setDeviceName(instrument.name());

    QVERIFY(!serial.setBaudRate(portSpeed == B115200 ? AbstractSerial::BaudRate9600
                                                     : AbstractSerial::BaudRate115200));
    QVERIFY(!serial.setDataBits(AbstractSerial::DataBits7));
    QVERIFY(!serial.setParity(QStringLiteral("Odd")));
    QVERIFY(!serial.setStopBits(AbstractSerial::StopBits2));
    QVERIFY(!serial.setFlowControl(AbstractSerial::FlowControlHardware));
    QVERIFY(!serial.setTotalReadTimeout(100));
    QVERIFY(!serial.setDtr(true));
    QVERIFY(!serial.flush());
    QVERIFY(!serial.reset());
    QCOMPARE(serial.lineStatus(), quint16(AbstractSerial::LineErr));
    QVERIFY(!serial.waitForReadyRead(10));
    QCOMPARE(statuses.size(), 11);
    for (const QList<QVariant>& status : statuses)
        QCOMPARE(status.at(0).toString(), notOpenText);

    // Nothing reached the port.
    QCOMPARE(instrument.outputSpeed(), portSpeed);
    QCOMPARE(instrument.settings().c_cflag & CSIZE, tcflag_t(CS8));
}

void AbstractSerialTest::settingsByCodeReachTermios_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("code");
    QTest::addColumn<uint>("mask");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<QString>("text");

    QTest::newRow("9600 baud") << "baud" << int(AbstractSerial::BaudRate9600) << 0u << uint(B9600)
                               << "9600 baud";
    QTest::newRow("115200 baud") << "baud" << int(AbstractSerial::BaudRate115200) << 0u
                                 << uint(B115200) << "115200 baud";
    QTest::newRow("1800 baud, no text")
        << "baud" << int(AbstractSerial::BaudRate1800) << 0u << uint(B1800) << "1800 baud";
    // A pseudo-terminal keeps CS8 and clears PARENB whatever it is given, so data
    // bits and parity show in the termios record only through PARODD.
    QTest::newRow("7 data bits") << "data" << int(AbstractSerial::DataBits7) << 0u << 0u << "7 bit";
    QTest::newRow("5 data bits") << "data" << int(AbstractSerial::DataBits5) << 0u << 0u << "5 bit";
    QTest::newRow("odd parity") << "parity" << int(AbstractSerial::ParityOdd) << uint(PARODD)
                                << uint(PARODD) << "Odd";
    QTest::newRow("even parity") << "parity" << int(AbstractSerial::ParityEven) << uint(PARODD)
                                 << 0u << "Even";
    QTest::newRow("no parity") << "parity" << int(AbstractSerial::ParityNone) << uint(PARODD) << 0u
                               << "None";
    QTest::newRow("2 stop bits") << "stop" << int(AbstractSerial::StopBits2) << uint(CSTOPB)
                                 << uint(CSTOPB) << "2";
    QTest::newRow("hardware flow") << "flow" << int(AbstractSerial::FlowControlHardware)
                                   << uint(CRTSCTS) << uint(CRTSCTS) << "Hardware";
    QTest::newRow("xon/xoff flow") << "iflow" << int(AbstractSerial::FlowControlXonXoff)
                                   << uint(IXON | IXOFF) << uint(IXON | IXOFF) << "Xon/Xoff";
}

void AbstractSerialTest::settingsByCodeReachTermios()
{
    QFETCH(QString, setting);
    QFETCH(int, code);
    QFETCH(uint, mask);
    QFETCH(uint, flags);
    QFETCH(QString, text);

    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));
    // Start from the worker's 9600 8N1 with no flow control.
    QVERIFY(serial.setBaudRate(AbstractSerial::BaudRate9600));
    QVERIFY(serial.setDataBits(AbstractSerial::DataBits8));
    QVERIFY(serial.setParity(AbstractSerial::ParityNone));
    QVERIFY(serial.setStopBits(AbstractSerial::StopBits1));
    QVERIFY(serial.setFlowControl(AbstractSerial::FlowControlOff));

    const termios before = instrument.settings();
    QString readBack;
    if (setting == QLatin1String("baud")) {
        QVERIFY(serial.setBaudRate(AbstractSerial::BaudRate(code)));
        QCOMPARE(uint(instrument.outputSpeed()), flags);
        QCOMPARE(uint(instrument.inputSpeed()), flags);
        readBack = serial.baudRate();
        QCOMPARE(serial.baudRate(AbstractSerial::BaudDirectionInput), text);
    } else if (setting == QLatin1String("data")) {
        QVERIFY(serial.setDataBits(AbstractSerial::DataBits(code)));
        readBack = serial.dataBits();
    } else if (setting == QLatin1String("parity")) {
        QVERIFY(serial.setParity(AbstractSerial::Parity(code)));
        readBack = serial.parity();
    } else if (setting == QLatin1String("stop")) {
        QVERIFY(serial.setStopBits(AbstractSerial::StopBits(code)));
        readBack = serial.stopBits();
    } else {
        QVERIFY(serial.setFlowControl(AbstractSerial::Flow(code)));
        readBack = serial.flowControl();
    }
    QCOMPARE(readBack, text);

    const termios after = instrument.settings();
    if (setting == QLatin1String("iflow")) {
        QCOMPARE(uint(after.c_iflag & mask), flags);
    } else if (mask) {
        QCOMPARE(uint(after.c_cflag & mask), flags);
        // The other fields stay as they were.
        QCOMPARE(uint(after.c_cflag & ~mask & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS)),
                 uint(before.c_cflag & ~mask & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS)));
    }
}

void AbstractSerialTest::settingsByText_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("readBack");

    // An empty read-back text means the setter must fail with the setting's status.
    QTest::newRow("baud from its text") << "baud"
                                        << "9600 baud"
                                        << "9600 baud";
    QTest::newRow("baud from any digits") << "baud"
                                          << "port at 19200 bit/s 8N1"
                                          << "19200 baud";
    QTest::newRow("baud without digits") << "baud"
                                         << "fast"
                                         << "";
    QTest::newRow("data bits") << "data"
                               << "7 bit"
                               << "7 bit";
    QTest::newRow("data bits, unknown text") << "data"
                                             << "7 bits"
                                             << "";
    QTest::newRow("parity") << "parity"
                            << "Odd"
                            << "Odd";
    QTest::newRow("parity, wrong case") << "parity"
                                        << "odd"
                                        << "";
    QTest::newRow("stop bits") << "stop"
                               << "2"
                               << "2";
    QTest::newRow("stop bits, undefined text") << "stop"
                                               << "Undefined stop bits"
                                               << "";
    QTest::newRow("flow") << "flow"
                          << "Xon/Xoff"
                          << "Xon/Xoff";
    QTest::newRow("flow, unknown text") << "flow"
                                        << "Off"
                                        << "";
}

void AbstractSerialTest::settingsByText()
{
    QFETCH(QString, setting);
    QFETCH(QString, text);
    QFETCH(QString, readBack);

    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadWrite, false));
    QVERIFY(serial.setBaudRate(AbstractSerial::BaudRate4800));

    const bool expected = !readBack.isEmpty();
    bool ok = false;
    QString now;
    QString failure;
    if (setting == QLatin1String("baud")) {
        ok = serial.setBaudRate(text);
        now = serial.baudRate();
        failure = AbstractSerial::statusToString(AbstractSerial::ESetBaudRate);
    } else if (setting == QLatin1String("data")) {
        ok = serial.setDataBits(text);
        now = serial.dataBits();
        failure = AbstractSerial::statusToString(AbstractSerial::ESetDataBits);
    } else if (setting == QLatin1String("parity")) {
        ok = serial.setParity(text);
        now = serial.parity();
        failure = AbstractSerial::statusToString(AbstractSerial::ESetParity);
    } else if (setting == QLatin1String("stop")) {
        ok = serial.setStopBits(text);
        now = serial.stopBits();
        failure = AbstractSerial::statusToString(AbstractSerial::ESetStopBits);
    } else {
        ok = serial.setFlowControl(text);
        now = serial.flowControl();
        failure = AbstractSerial::statusToString(AbstractSerial::ESetFlowControl);
    }
    QCOMPARE(ok, expected);
    if (expected) {
        QCOMPARE(now, readBack);
    } else {
        QCOMPARE(serial.errorString(), failure);
        QVERIFY(now != text);
    }
}

void AbstractSerialTest::stopBitsRulesHoldWhicheverComesSecond()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));
    QVERIFY(serial.setDataBits(AbstractSerial::DataBits8));
    QVERIFY(serial.setStopBits(AbstractSerial::StopBits1));

    // 1.5 stop bits exist only with 5 data bits, 2 stop bits only with 6 to 8.
    QVERIFY(!serial.setStopBits(AbstractSerial::StopBits1_5));
    QCOMPARE(serial.stopBits(), QStringLiteral("1"));
    QVERIFY(serial.setStopBits(AbstractSerial::StopBits2));
    QVERIFY(!serial.setDataBits(AbstractSerial::DataBits5));
    QCOMPARE(serial.errorString(), QStringLiteral("Parameters::Set data bits fail. Error!"));
    QCOMPARE(serial.dataBits(), QStringLiteral("8 bit"));

    QVERIFY(serial.setStopBits(AbstractSerial::StopBits1));
    QVERIFY(serial.setDataBits(AbstractSerial::DataBits5));
    QVERIFY(!serial.setStopBits(AbstractSerial::StopBits2));
    QCOMPARE(serial.errorString(), QStringLiteral("Parameters::Set stop bits fail. Error!"));
    QVERIFY(serial.setStopBits(AbstractSerial::StopBits1_5));
    QCOMPARE(serial.stopBits(), QStringLiteral("1.5"));
    QVERIFY(!serial.setDataBits(AbstractSerial::DataBits6));
    QCOMPARE(serial.dataBits(), QStringLiteral("5 bit"));
}

void AbstractSerialTest::readTimeoutFollowsLineThenStaysFixed()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));
    QVERIFY(serial.setBaudRate(AbstractSerial::BaudRate9600));
    QVERIFY(serial.setDataBits(AbstractSerial::DataBits8));
    QVERIFY(serial.setParity(AbstractSerial::ParityNone));
    QVERIFY(serial.setStopBits(AbstractSerial::StopBits1));

    // 256 frames of 10 bits at 9600 bit/s.
    QVERIFY(serial.setCharIntervalTimeout(0));
    QVERIFY(serial.setTotalReadTimeout(-1));
    QCOMPARE(serial.totalReadTimeout(), 266);
    // 11-bit frames at 19200 bit/s, plus 255 gaps of 2 ms.
    QVERIFY(serial.setBaudRate(AbstractSerial::BaudRate19200));
    QVERIFY(serial.setParity(AbstractSerial::ParityEven));
    QVERIFY(serial.setCharIntervalTimeout(2000));
    QCOMPARE(serial.charIntervalTimeout(), 2000);
    QCOMPARE(serial.totalReadTimeout(), 11 * 256 * 1000 / 19200 + 2000 * 255 / 1000);

    QVERIFY(serial.setTotalReadTimeout(100));
    QCOMPARE(serial.totalReadTimeout(), 100);
    QVERIFY(serial.setBaudRate(AbstractSerial::BaudRate9600));
    QCOMPARE(serial.totalReadTimeout(), 100);
}

void AbstractSerialTest::textListsStartWithUndefined()
{
    AbstractSerial serial;
    QCOMPARE(serial.stopBitsTexts(), QStringList({"Undefined stop bits", "1", "1.5", "2"}));
    QCOMPARE(serial.dataBitsTexts(),
             QStringList({"Undefined data bits", "5 bit", "6 bit", "7 bit", "8 bit"}));
    QCOMPARE(serial.parityTexts(),
             QStringList({"Undefined parity", "None", "Odd", "Even", "Mark", "Space"}));
    QCOMPARE(serial.flowControlTexts(),
             QStringList({"Undefined flow", "Disable", "Hardware", "Xon/Xoff"}));

    const QStringList bauds = serial.baudRateTexts();
    QCOMPARE(bauds.size(), 30);
    QCOMPARE(bauds.mid(0, 4), QStringList({"Undefined baud", "110 baud", "300 baud", "600 baud"}));
    QCOMPARE(bauds.last(), QStringLiteral("4000000 baud"));
    for (const char* rare : {"50 baud", "75 baud", "134 baud", "150 baud", "200 baud", "1800 baud"})
        QVERIFY2(!bauds.contains(QLatin1String(rare)), rare);

    // The tables map codes to the same texts, and every device shares the lists.
    QCOMPARE(serial.baudRateTable().value(AbstractSerial::BaudRate9600),
             QStringLiteral("9600 baud"));
    QCOMPARE(serial.parityTable().value(AbstractSerial::ParitySpace), QStringLiteral("Space"));
    QCOMPARE(serial.flowControlTable().values(), serial.flowControlTexts());
    AbstractSerial other;
    QCOMPARE(other.baudRateTexts(), bauds);

    // Before any open the engine reports its defaults in words.
    QCOMPARE(serial.dataBits(), QStringLiteral("8 bit"));
    QCOMPARE(serial.parity(), QStringLiteral("None"));
    QCOMPARE(serial.stopBits(), QStringLiteral("1"));
    QCOMPARE(serial.flowControl(), QStringLiteral("Disable"));
}

void AbstractSerialTest::statusTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("no error") << 0 << "No errors.";
    QTest::newRow("opened") << 1 << "Opened::Device is successfully opened. OK!";
    QTest::newRow("reset") << 15 << "Controls::Reset successfully. OK!";
    QTest::newRow("open failed") << 32 << "Error opening. Error!";
    QTest::newRow("close failed") << 43 << "Closed::Fail close device. Error!";
    QTest::newRow("read timeout") << 70 << "Parameters::Set total read interval timeout. Error!";
    QTest::newRow("bytes written timeout")
        << 103 << "Controls::Wait for bytes writtten timeout. Error!";
    QTest::newRow("reset failed") << 109 << "Controls::Reset fail. Error!";
    QTest::newRow("gap after successes")
        << 16 << "AbstractSerial::statusToString(Status val) -> Status mode: 16 undefined. Error!";
    QTest::newRow("gap among failures")
        << 50 << "AbstractSerial::statusToString(Status val) -> Status mode: 50 undefined. Error!";
    QTest::newRow("past the last")
        << 110
        << "AbstractSerial::statusToString(Status val) -> Status mode: 110 undefined. Error!";
    QTest::newRow("negative")
        << -1 << "AbstractSerial::statusToString(Status val) -> Status mode: -1 undefined. Error!";
}

void AbstractSerialTest::statusTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(AbstractSerial::statusToString(code), text);
}

void AbstractSerialTest::statusSignalOnlyWhenEnabled()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(!serial.isStatusSignalEnabled());
    QSignalSpy statuses(&serial, &AbstractSerial::signalStatus);
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));
    QVERIFY(serial.setStopBits(AbstractSerial::StopBits2));

    QVERIFY(!serial.setDataBits(AbstractSerial::DataBits5));
    QCOMPARE(serial.errorString(), QStringLiteral("Parameters::Set data bits fail. Error!"));
    QCOMPARE(statuses.size(), 0);

    serial.setStatusSignalEnabled(true);
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(serial.setDataBits(AbstractSerial::DataBits7));
    QCOMPARE(statuses.size(), 1);
    QCOMPARE(statuses.at(0).at(0).toString(),
             QStringLiteral("Controls::Data bits is successfully set. OK!"));
    QVERIFY(statuses.at(0).at(1).toDateTime() >= before.addSecs(-1));
    // A success leaves the last failure's text in place.
    QCOMPARE(serial.errorString(), QStringLiteral("Parameters::Set data bits fail. Error!"));
}

void AbstractSerialTest::debugOperators_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("expected");

    const auto debugText = [](auto value) {
        QString text;
        QDebug(&text) << value;
        return text.trimmed();
    };
    QTest::newRow("baud") << debugText(AbstractSerial::BaudRate9600)
                          << R"(AbstractSerial::BaudRate( "9600" ))";
    QTest::newRow("baud without text")
        << debugText(AbstractSerial::BaudRate75) << R"(AbstractSerial::BaudRate( "75" ))";
    QTest::newRow("undefined baud") << debugText(AbstractSerial::BaudRateUndefined)
                                    << R"(AbstractSerial::BaudRate( "Undefined" ))";
    QTest::newRow("data bits") << debugText(AbstractSerial::DataBits8)
                               << R"(AbstractSerial::DataBits( "8" ))";
    QTest::newRow("parity") << debugText(AbstractSerial::ParityMark)
                            << R"(AbstractSerial::Parity( "Mark" ))";
    QTest::newRow("stop bits") << debugText(AbstractSerial::StopBits1_5)
                               << R"(AbstractSerial::StopBits( "1.5" ))";
    QTest::newRow("flow off") << debugText(AbstractSerial::FlowControlOff)
                              << R"(AbstractSerial::Flow( "Off" ))";
    QTest::newRow("undefined flow") << debugText(AbstractSerial::FlowControlUndefined)
                                    << R"(AbstractSerial::Flow( "Undefined" ))";
    QTest::newRow("lines") << debugText(AbstractSerial::LineStatus(AbstractSerial::LineCTS |
                                                                   AbstractSerial::LineDSR))
                           << R"(AbstractSerial::LineStatus( "CTS|DSR" ))";
    QTest::newRow("line error") << debugText(AbstractSerial::LineErr)
                                << R"(AbstractSerial::LineStatus( "Error" ))";
    QTest::newRow("spacing between items")
        << debugText(AbstractSerial::ParityOdd) + QLatin1Char('|') +
               [] {
                   QString text;
                   QDebug(&text) << AbstractSerial::DataBits5 << 1;
                   return text;
               }()
        << R"(AbstractSerial::Parity( "Odd" )|AbstractSerial::DataBits( "5" ) 1 )";
}

void AbstractSerialTest::debugOperators()
{
    QFETCH(QString, written);
    QFETCH(QString, expected);
    QCOMPARE(written, expected);
}

void AbstractSerialTest::lineStatusWithoutModemLinesIsError()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));
    // A pseudo-terminal has no modem lines to read.
    QCOMPARE(serial.lineStatus(), quint16(AbstractSerial::LineErr));
    QCOMPARE(serial.errorString(), QStringLiteral("Controls::Get lines status fail. Error!"));
}

void AbstractSerialTest::unbufferedReadyReadOncePerArrival()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));
    QVERIFY(serial.setBaudRate(AbstractSerial::BaudRate9600));
    BlockReader reader(serial);

    for (int arrival = 1; arrival <= 5; ++arrival) {
        QVERIFY(instrument.send(pattern(16, 16 * (arrival - 1))));
        QTRY_COMPARE(reader.received.size(), 16 * arrival);
        QCOMPARE(reader.notices, arrival);
    }
    QCOMPARE(reader.received, pattern(80));
    QCOMPARE(wakeUpsWhileIdle(100) < 50, true);
    QCOMPARE(reader.notices, 5);
}

void AbstractSerialTest::unbufferedBurstLeavesPartialBlock()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));
    BlockReader reader(serial);

    QVERIFY(instrument.send(pattern(40)));
    QTRY_COMPARE(reader.received.size(), 32);
    QCOMPARE(reader.notices, 1);
    QCOMPARE(serial.bytesAvailable(), qint64(8));

    QVERIFY(instrument.send(pattern(8, 40)));
    QTRY_COMPARE(reader.received.size(), 48);
    QCOMPARE(reader.received, pattern(48));
    QCOMPARE(serial.bytesAvailable(), qint64(0));
}

void AbstractSerialTest::partialBlockWaitsWithoutBusyLoop()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));
    BlockReader reader(serial);

    QVERIFY(instrument.send(pattern(15)));
    QTRY_COMPARE(reader.notices, 1);
    QCOMPARE(reader.received.size(), 0);
    // The 15 bytes stay in the port; nothing new arrived, so nothing wakes up.
    const int wakeUps = wakeUpsWhileIdle(300);
    QVERIFY2(wakeUps < 50, qPrintable(QString::number(wakeUps)));
    QCOMPARE(reader.notices, 1);
    QCOMPARE(serial.bytesAvailable(), qint64(15));

    QVERIFY(instrument.send(pattern(1, 15)));
    QTRY_COMPARE(reader.received, pattern(16));
    QCOMPARE(reader.notices, 2);
}

void AbstractSerialTest::bufferedModeKeepsEveryByte_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("buffered"); // else what is announced is read once per notice
    QTest::newRow("no limit, several buffer blocks") << qint64(0) << 100000 << true;
    QTest::newRow("limit of 64 bytes") << qint64(64) << 5000 << true;
    QTest::newRow("limit of one block") << qint64(16384) << 60000 << true;
    QTest::newRow("unbuffered") << qint64(0) << 60000 << false;
}

void AbstractSerialTest::bufferedModeKeepsEveryByte()
{
    QFETCH(qint64, limit);
    QFETCH(int, size);
    QFETCH(bool, buffered);

    InstrumentTerminal instrument;
    AbstractSerial serial;
    serial.setReadBufferSize(limit);
    QCOMPARE(serial.readBufferSize(), limit);
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, buffered));

    QByteArray received;
    qint64 largestWaiting = 0;
    int notices = 0;
    connect(&serial, &QIODevice::readyRead, [&] {
        ++notices;
        largestWaiting = qMax(largestWaiting, serial.bytesAvailable());
        if (!buffered)
            received += serial.read(serial.bytesAvailable());
        // Odd-sized reads cross the buffer's block boundaries.
        while (buffered && serial.bytesAvailable() > 0) {
            const QByteArray chunk = serial.read(1000 + received.size() % 7);
            if (chunk.isEmpty())
                break;
            received += chunk;
        }
    });

    const QByteArray sent = pattern(size);
    for (int offset = 0; offset < size; offset += 4096) {
        QVERIFY(instrument.send(sent.mid(offset, 4096)));
        QTest::qWait(2);
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), size, 10000);
    QVERIFY(received == sent);
    QVERIFY(notices > 0);
    if (limit > 0)
        QVERIFY2(largestWaiting <= limit, qPrintable(QString::number(largestWaiting)));
}

void AbstractSerialTest::raisingReadLimitReleasesHeldBytes()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    serial.setDeviceName(instrument.name());
    serial.setReadBufferSize(16);
    QVERIFY(serial.open(QIODevice::ReadOnly));

    // Nobody reads: the device holds 16 bytes and leaves the rest in the port.
    QVERIFY(instrument.send(pattern(100)));
    QTRY_COMPARE(serial.bytesAvailable(), qint64(16));
    QVERIFY(wakeUpsWhileIdle(100) < 50);
    QCOMPARE(serial.bytesAvailable(), qint64(16));

    serial.setReadBufferSize(0);
    QTRY_COMPARE(serial.bytesAvailable(), qint64(100));
    QCOMPARE(serial.readAll(), pattern(100));
}

void AbstractSerialTest::writesReachTheInstrument_data()
{
    QTest::addColumn<bool>("buffered");
    QTest::addColumn<int>("size");
    QTest::newRow("unbuffered, under one block") << false << 300;
    QTest::newRow("unbuffered, blocks and a rest") << false << 1300;
    QTest::newRow("buffered, blocks and a rest") << true << 1300;
    QTest::newRow("buffered, several writes") << true << 3000;
    QTest::newRow("buffered, beyond one buffer block") << true << 40000;
}

void AbstractSerialTest::writesReachTheInstrument()
{
    QFETCH(bool, buffered);
    QFETCH(int, size);

    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadWrite, buffered));
    qint64 reported = 0;
    connect(&serial, &QIODevice::bytesWritten, [&](qint64 bytes) { reported += bytes; });

    // The instrument drains its side on its own, as a real line drains at its rate.
    QByteArray received;
    std::atomic<bool> drained{false};
    std::thread instrumentSide([&] {
        received = instrument.receive(size, 10000);
        drained = true;
    });
    const auto joinOnReturn = qScopeGuard([&] { instrumentSide.join(); });

    const QByteArray sent = pattern(size);
    const int chunk = size > 16384 ? size : 1300;
    for (int offset = 0; offset < size; offset += chunk)
        QCOMPARE(serial.write(sent.mid(offset, chunk)), qint64(qMin(chunk, size - offset)));
    QTRY_VERIFY_WITH_TIMEOUT(drained, 15000);
    QCOMPARE(received.size(), sent.size());
    QVERIFY(received == sent);
    QCOMPARE(serial.bytesToWrite(), qint64(0));
    QTRY_COMPARE(reported, qint64(size));

    // Nothing to send is no failure.
    QCOMPARE(serial.write(QByteArray()), qint64(0));
    QVERIFY(serial.flush());
}

void AbstractSerialTest::waitForReadyReadTimesOutThenSignalsAgain()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));

    QVERIFY(!serial.waitForReadyRead(50));
    QCOMPARE(serial.errorString(), QStringLiteral("Controls::Wait for ready read timeout. Error!"));
    QVERIFY(!serial.waitForBytesWritten(20));
    QCOMPARE(serial.errorString(),
             QStringLiteral("Controls::Wait for bytes writtten timeout. Error!"));

    QVERIFY(instrument.send(pattern(16)));
    QVERIFY(serial.waitForReadyRead(2000));
    QCOMPARE(serial.read(16), pattern(16));

    // After a wait the device goes back to announcing arrivals by itself.
    BlockReader reader(serial);
    QVERIFY(instrument.send(pattern(16, 16)));
    QTRY_COMPARE(reader.received, pattern(16, 16));
}

void AbstractSerialTest::slotWaitingInsideReadyReadGetsNoNestedSignal()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, false));

    QByteArray received;
    int notices = 0;
    int nested = 0;
    bool inSlot = false;
    connect(&serial, &QIODevice::readyRead, [&] {
        ++notices;
        if (inSlot)
            ++nested;
        inSlot = true;
        if (notices == 1) {
            // The first block waits for its second half inside the slot.
            received += serial.read(8);
            instrument.send(pattern(8, 8));
            QVERIFY(serial.waitForReadyRead(2000));
        }
        received += serial.read(64);
        inSlot = false;
    });

    QVERIFY(instrument.send(pattern(8)));
    QTRY_COMPARE(received.size(), 16);
    QCOMPARE(nested, 0);
    QCOMPARE(notices, 1);

    QVERIFY(instrument.send(pattern(16, 16)));
    QTRY_COMPARE(received, pattern(32));
    QCOMPARE(notices, 2);
}

void AbstractSerialTest::resetDropsReceivedBytes()
{
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, true));
    QSignalSpy arrivals(&serial, &QIODevice::readyRead);

    QVERIFY(instrument.send(pattern(100)));
    QTRY_COMPARE(serial.bytesAvailable(), qint64(100));
    QVERIFY(serial.reset());
    QCOMPARE(serial.bytesAvailable(), qint64(0));

    QVERIFY(instrument.send(pattern(10, 100)));
    QTRY_COMPARE(serial.bytesAvailable(), qint64(10));
    QCOMPARE(serial.readAll(), pattern(10, 100));
}

void AbstractSerialTest::hangUpFinishesReadChannelOnce_data()
{
    QTest::addColumn<bool>("buffered");
    QTest::addColumn<bool>("closeInSlot");
    QTest::newRow("user closes later") << false << false;
    QTest::newRow("user closes from the signal") << false << true;
    QTest::newRow("buffered, user closes later") << true << false;
}

void AbstractSerialTest::hangUpFinishesReadChannelOnce()
{
    QFETCH(bool, buffered);
    QFETCH(bool, closeInSlot);
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadOnly, buffered));
    BlockReader reader(serial);
    QSignalSpy finished(&serial, &QIODevice::readChannelFinished);
    QSignalSpy exceptions(&serial, &AbstractSerial::exception);
    if (closeInSlot)
        connect(&serial, &QIODevice::readChannelFinished, &serial, &AbstractSerial::close);

    for (int block = 0; block < 4; ++block) {
        QVERIFY(instrument.send(pattern(16, 16 * block)));
        QTRY_COMPARE(reader.received.size(), 16 * (block + 1));
    }
    instrument.send(pattern(5, 64));
    instrument.hangUp();
    QTRY_COMPARE(finished.size(), 1);

    const int noticesAtHangUp = reader.notices;
    const int wakeUps = wakeUpsWhileIdle(300);
    QVERIFY2(wakeUps < 50, qPrintable(QString::number(wakeUps)));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(exceptions.size(), 0);
    QCOMPARE(reader.notices, noticesAtHangUp);
    QCOMPARE(reader.received, pattern(64));
    QCOMPARE(serial.isOpen(), !closeInSlot);
    if (closeInSlot)
        return;

    // The user stops cleanly: a last read or wait fails at once, the close succeeds.
    char rest[16];
    // Buffered, the device may have taken the 5 stray bytes before the hang-up.
    QVERIFY(serial.read(rest, sizeof rest) <= (buffered ? 5 : 0));
    QVERIFY(!serial.waitForReadyRead(-1));
    QCOMPARE(serial.errorString(),
             QStringLiteral("Controls::Wait for ready read from device - i/o problem. Error!"));
    QCOMPARE(finished.size(), 1);
    serial.setStatusSignalEnabled(true);
    QSignalSpy statuses(&serial, &AbstractSerial::signalStatus);
    serial.close();
    QCOMPARE(statuses.size(), 1);
    QCOMPARE(statuses.at(0).at(0).toString(), AbstractSerial::statusToString(2));
}

// An unbuffered write has left when write() returns.
void AbstractSerialTest::waitForBytesWrittenReturnsOnceTheBytesHaveLeft_data()
{
    QTest::addColumn<int>("unread");
    QTest::addColumn<int>("msecs");
    QTest::newRow("nothing to read") << 0 << 1000;
    QTest::newRow("unread bytes waiting") << 40 << 1000;
    QTest::newRow("unread bytes, no time limit") << 40 << -1;
}

void AbstractSerialTest::waitForBytesWrittenReturnsOnceTheBytesHaveLeft()
{
    QFETCH(int, unread);
    QFETCH(int, msecs);
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::ReadWrite, false));
    QSignalSpy arrivals(&serial, &QIODevice::readyRead);
    if (unread > 0) {
        QVERIFY(instrument.send(pattern(unread)));
        QTRY_COMPARE(serial.bytesAvailable(), qint64(unread));
    }
    const int announced = arrivals.size();

    QCOMPARE(serial.write(pattern(100, 7)), qint64(100));
    const double cpuBefore = processCpuMsecs();
    QVERIFY(serial.waitForBytesWritten(msecs));
    // No bytes came during the wait: nothing to announce, and no spinning on
    // the bytes that wait to be read.
    QCOMPARE(arrivals.size(), announced);
    const double cpu = processCpuMsecs() - cpuBefore;
    QVERIFY2(cpu < 200, qPrintable(QString::number(cpu)));
    QCOMPARE(serial.bytesToWrite(), qint64(0));
    QCOMPARE(instrument.receive(100), pattern(100, 7));
    QCOMPARE(serial.bytesAvailable(), qint64(unread));
    QCOMPARE(serial.readAll(), pattern(unread));
}

void AbstractSerialTest::waitForReadyReadOnWriteOnlyPortFailsAtOnce_data()
{
    QTest::addColumn<bool>("buffered");
    QTest::newRow("buffered") << true;
    QTest::newRow("unbuffered") << false;
}

void AbstractSerialTest::waitForReadyReadOnWriteOnlyPortFailsAtOnce()
{
    QFETCH(bool, buffered);
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::WriteOnly, buffered));
    QSignalSpy arrivals(&serial, &QIODevice::readyRead);
    // The instrument talks although this side only writes.
    QVERIFY(instrument.send(pattern(32)));
    QTest::qWait(50);

    const double cpuBefore = processCpuMsecs();
    QVERIFY(!serial.waitForReadyRead(1000));
    const double cpu = processCpuMsecs() - cpuBefore;
    QVERIFY2(cpu < 200, qPrintable(QString::number(cpu)));
    QCOMPARE(serial.errorString(),
             QStringLiteral("Controls::Read data from device - i/o problem. Error!"));
    QCOMPARE(arrivals.size(), 0);
    // The port still writes.
    QCOMPARE(serial.write(pattern(10)), qint64(10));
    QCOMPARE(instrument.receive(10), pattern(10));
}

void AbstractSerialTest::hangUpOnTheWriteSideIsReported_data()
{
    QTest::addColumn<bool>("buffered");
    QTest::addColumn<bool>("eventLoopFirst");
    QTest::newRow("buffered, seen by the event loop") << true << true;
    QTest::newRow("buffered, seen by the write") << true << false;
    QTest::newRow("unbuffered, seen by the event loop") << false << true;
    QTest::newRow("unbuffered, seen by the write") << false << false;
}

void AbstractSerialTest::hangUpOnTheWriteSideIsReported()
{
    QFETCH(bool, buffered);
    QFETCH(bool, eventLoopFirst);
    InstrumentTerminal instrument;
    AbstractSerial serial;
    QVERIFY(openOn(serial, instrument, QIODevice::WriteOnly, buffered));
    QSignalSpy finished(&serial, &QIODevice::readChannelFinished);
    QCOMPARE(serial.write(pattern(16)), qint64(16));
    QCOMPARE(instrument.receive(16), pattern(16));

    instrument.hangUp();
    if (eventLoopFirst)
        QTRY_COMPARE(finished.size(), 1);

    QCOMPARE(serial.write("hello", 5), qint64(-1));
    QCOMPARE(serial.errorString(),
             QStringLiteral("Controls::Write data to device - i/o problem. Error!"));
    QCOMPARE(serial.bytesToWrite(), qint64(0));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(wakeUpsWhileIdle(200) < 50, true);
    QCOMPARE(finished.size(), 1);
    QVERIFY(!serial.waitForBytesWritten(1000));
    QCOMPARE(serial.write("again", 5), qint64(-1));
    serial.close();
    QVERIFY(!serial.isOpen());
}

QTEST_GUILESS_MAIN(AbstractSerialTest)
#include "AbstractSerialTest.moc"
