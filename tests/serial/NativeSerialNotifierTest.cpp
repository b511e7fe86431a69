#include "InstrumentTerminal.h"
#include "NativeSerialEngine.h"
#include "RecordingReceiver.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QtTest>

namespace {

// Runs the event loop for msecs and returns the process CPU time it cost, in
// milliseconds. A notifier that fires again and again keeps the loop busy.
double cpuWhileIdle(int msecs)
{
    const double before = processCpuMsecs();
    QEventLoop loop;
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
    return processCpuMsecs() - before;
}

void runEvents(int msecs)
{
    QEventLoop loop;
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray block(int size, char first)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(first + i);
    return bytes;
}

// Bound for an idle second and a half: a spinning loop would use nearly all of it.
const double idleCpuMsecs = 150;

} // namespace

class NativeSerialNotifierTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void eachArrivalGivesOneReadNotification();
    void bytesLeftUnreadDoNotNotifyAgain();
    void waitingPartialBlockLeavesTheProcessIdle();
    void bytesWaitingWhenReadIsSwitchedOnAreAnnounced();
    void switchingWriteOnNotifiesOnceAtOnce();
    void notificationsSwitchedOffCallNothing();
    void hangUpInTheMiddleOfAStreamSilencesTheNotifier();
    void reopenedPortNotifiesAgainAfterAHangUp();
    void noNotifierWithoutAnEventLoop();

private:
    void openEngine(QIODevice::OpenMode mode = QIODevice::ReadOnly);

    InstrumentTerminal* terminal = nullptr;
    NativeSerialEngine* engine = nullptr;
    RecordingReceiver receiver;
};

void NativeSerialNotifierTest::init()
{
    receiver = RecordingReceiver();
    terminal = new InstrumentTerminal;
    QVERIFY(terminal->isValid());
    engine = new NativeSerialEngine(nullptr);
    engine->setReceiver(&receiver);
    engine->setDeviceName(terminal->name());
}

void NativeSerialNotifierTest::cleanup()
{
    delete engine;
    engine = nullptr;
    delete terminal;
    terminal = nullptr;
}

// Opens the way the serial device does: read, write and line notifications on
// as the mode asks.
void NativeSerialNotifierTest::openEngine(QIODevice::OpenMode mode)
{
    QVERIFY(engine->open(mode));
    if (mode & QIODevice::ReadOnly)
        engine->setReadNotificationEnabled(true);
    if (mode & QIODevice::WriteOnly)
        engine->setWriteNotificationEnabled(true);
    engine->setLineNotificationEnabled(true);
}

void NativeSerialNotifierTest::eachArrivalGivesOneReadNotification()
{
    openEngine();
    QVERIFY(engine->isReadNotificationEnabled());
    QVERIFY(engine->isLineNotificationEnabled());
    QVERIFY(!engine->isWriteNotificationEnabled());
    QVERIFY(!engine->isExceptionNotificationEnabled());

    QByteArray received;
    receiver.onRead = [this, &received] {
        char data[16];
        if (engine->bytesAvailable() >= 16 && engine->read(data, 16) == 16)
            received.append(data, 16);
    };
    for (int i = 0; i < 3; ++i) {
        QVERIFY(terminal->send(block(16, char('a' + i))));
        QTRY_COMPARE(receiver.reads, i + 1);
        runEvents(100);
        QCOMPARE(receiver.reads, i + 1);
    }
    QCOMPARE(received, block(16, 'a') + block(16, 'b') + block(16, 'c'));
    QCOMPARE(receiver.order, QStringLiteral("rrr"));
}

void NativeSerialNotifierTest::bytesLeftUnreadDoNotNotifyAgain()
{
    openEngine();
    // The reader takes one 16-byte block per notification.
    receiver.onRead = [this] {
        char data[16];
        if (engine->bytesAvailable() >= 16)
            engine->read(data, 16);
    };
    QVERIFY(terminal->send(block(40, 'A')));
    QTRY_COMPARE(receiver.reads, 1);
    runEvents(300);
    QCOMPARE(receiver.reads, 1);
    QCOMPARE(engine->bytesAvailable(), qint64(24));

    // The next arrival wakes the reader again, once.
    QVERIFY(terminal->send("z"));
    QTRY_COMPARE(receiver.reads, 2);
    runEvents(300);
    QCOMPARE(receiver.reads, 2);
    QCOMPARE(engine->bytesAvailable(), qint64(9));
}

void NativeSerialNotifierTest::waitingPartialBlockLeavesTheProcessIdle()
{
    openEngine();
    receiver.onRead = [this] {
        char data[16];
        if (engine->bytesAvailable() >= 16)
            engine->read(data, 16);
    };
    QVERIFY(terminal->send(block(15, 'a')));
    QTRY_COMPARE(receiver.reads, 1);
    QCOMPARE(engine->bytesAvailable(), qint64(15));

    const double cpu = cpuWhileIdle(1500);
    QVERIFY2(cpu < idleCpuMsecs, qPrintable(QStringLiteral("%1 ms of CPU").arg(cpu)));
    QCOMPARE(receiver.reads, 1);
    QCOMPARE(engine->bytesAvailable(), qint64(15));
}

void NativeSerialNotifierTest::bytesWaitingWhenReadIsSwitchedOnAreAnnounced()
{
    QVERIFY(engine->open(QIODevice::ReadOnly));
    QVERIFY(terminal->send(block(8, 'a')));
    QTRY_COMPARE(engine->bytesAvailable(), qint64(8));
    engine->setReadNotificationEnabled(true);
    QTRY_COMPARE(receiver.reads, 1);
    // Switching on what is already on announces nothing more.
    engine->setReadNotificationEnabled(true);
    runEvents(200);
    QCOMPARE(receiver.reads, 1);
}

void NativeSerialNotifierTest::switchingWriteOnNotifiesOnceAtOnce()
{
    QVERIFY(engine->open(QIODevice::ReadWrite));
    engine->setWriteNotificationEnabled(true);
    // Before any port event, from inside the call.
    QCOMPARE(receiver.writes, 1);
    QVERIFY(engine->isWriteNotificationEnabled());
    runEvents(300);
    QCOMPARE(receiver.writes, 1);
    QCOMPARE(receiver.reads, 0);

    // With only reads watched, a writable port calls nothing.
    engine->setWriteNotificationEnabled(false);
    engine->setReadNotificationEnabled(true);
    const char byte = 'x';
    QCOMPARE(engine->write(&byte, 1), qint64(1));
    QCOMPARE(terminal->receive(1), QByteArray("x"));
    runEvents(200);
    QCOMPARE(receiver.writes, 1);
    QCOMPARE(receiver.reads, 0);
}

void NativeSerialNotifierTest::notificationsSwitchedOffCallNothing()
{
    openEngine(QIODevice::ReadWrite);
    engine->setExceptionNotificationEnabled(true);
    QVERIFY(engine->isExceptionNotificationEnabled());
    const int writes = receiver.writes;

    engine->setReadNotificationEnabled(false);
    engine->setWriteNotificationEnabled(false);
    engine->setExceptionNotificationEnabled(false);
    engine->setLineNotificationEnabled(false);
    QVERIFY(!engine->isReadNotificationEnabled());
    QVERIFY(!engine->isWriteNotificationEnabled());
    QVERIFY(!engine->isExceptionNotificationEnabled());
    QVERIFY(!engine->isLineNotificationEnabled());

    QVERIFY(terminal->send(block(16, 'a')));
    const char byte = 'x';
    QCOMPARE(engine->write(&byte, 1), qint64(1));
    runEvents(300);
    QCOMPARE(receiver.reads, 0);
    QCOMPARE(receiver.writes, writes);
    QCOMPARE(receiver.exceptions, 0);
    QCOMPARE(receiver.lines, 0);

    // Switched on again, the bytes that came meanwhile are announced once.
    engine->setReadNotificationEnabled(true);
    QTRY_COMPARE(receiver.reads, 1);
}

void NativeSerialNotifierTest::hangUpInTheMiddleOfAStreamSilencesTheNotifier()
{
    openEngine();
    receiver.onRead = [this] {
        char data[16];
        if (engine->bytesAvailable() >= 16)
            engine->read(data, 16);
        // What the serial device does when it found nothing new.
        if (!engine->isReadNotificationEnabled())
            engine->setReadNotificationEnabled(true);
    };
    QVERIFY(terminal->send(block(16, 'a')));
    QTRY_COMPARE(receiver.reads, 1);
    QVERIFY(terminal->send(block(7, 'a')));
    QTRY_COMPARE(receiver.reads, 2);

    terminal->hangUp();
    QTRY_COMPARE(receiver.exceptions, 1);
    QVERIFY(engine->isHungUp());
    QVERIFY(!engine->isReadNotificationEnabled());

    const int reads = receiver.reads;
    const double cpu = cpuWhileIdle(1500);
    QVERIFY2(cpu < idleCpuMsecs, qPrintable(QStringLiteral("%1 ms of CPU").arg(cpu)));
    QCOMPARE(receiver.exceptions, 1);
    QCOMPARE(receiver.reads, reads);
    char data[16];
    QCOMPARE(engine->read(data, 16), qint64(-1));
    QCOMPARE(engine->bytesAvailable(), qint64(-1));

    // Switching notifications on again on a dead port stays quiet.
    engine->setReadNotificationEnabled(true);
    engine->setExceptionNotificationEnabled(true);
    runEvents(300);
    QCOMPARE(receiver.exceptions, 1);
    QCOMPARE(receiver.reads, reads);

    engine->setReadNotificationEnabled(false);
    engine->setLineNotificationEnabled(false);
    engine->setExceptionNotificationEnabled(false);
    QVERIFY(engine->close());
    QVERIFY(!engine->isHungUp());
}

void NativeSerialNotifierTest::reopenedPortNotifiesAgainAfterAHangUp()
{
    openEngine();
    terminal->hangUp();
    QTRY_COMPARE(receiver.exceptions, 1);
    engine->setReadNotificationEnabled(false);
    engine->setLineNotificationEnabled(false);
    QVERIFY(engine->close());

    // The same engine and its notifier serve the next port.
    InstrumentTerminal next;
    engine->setDeviceName(next.name());
    openEngine();
    QVERIFY(engine->isReadNotificationEnabled());
    QVERIFY(next.send(block(16, 'a')));
    QTRY_COMPARE(receiver.reads, 1);
    QCOMPARE(receiver.exceptions, 1);
    QVERIFY(!engine->isHungUp());
}

void NativeSerialNotifierTest::noNotifierWithoutAnEventLoop()
{
    QVERIFY(engine->open(QIODevice::ReadOnly));
    // A thread that never ran has no event dispatcher to deliver notifications.
    QThread idle;
    engine->moveToThread(&idle);
    engine->setReadNotificationEnabled(true);
    QVERIFY(!engine->isReadNotificationEnabled());
    QVERIFY(terminal->send(block(16, 'a')));
    runEvents(200);
    QCOMPARE(receiver.reads, 0);
    delete engine;
    engine = nullptr;
}

QTEST_MAIN(NativeSerialNotifierTest)
#include "NativeSerialNotifierTest.moc"
