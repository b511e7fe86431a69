#include "SerialRingBuffer.h"

#include <QtTest>

#include <cstring>

namespace {

QByteArray pattern(int size, int offset = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((offset + i) % 251);
    return bytes;
}

QByteArray drain(SerialRingBuffer& buffer, qint64 step)
{
    QByteArray out;
    QByteArray chunk(int(step), Qt::Uninitialized);
    while (!buffer.isEmpty()) {
        const qint64 got = buffer.read(chunk.data(), step);
        out.append(chunk.constData(), int(got));
    }
    return out;
}

} // namespace

class SerialRingBufferTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsOrderAcrossBlocks_data();
    void keepsOrderAcrossBlocks();
    void reservationGivesBackUnusedPart();
    void firstBlockIsContiguous();
    void clearEmptiesAndReuses();
};

void SerialRingBufferTest::keepsOrderAcrossBlocks_data()
{
    QTest::addColumn<int>("appendSize");
    QTest::addColumn<int>("readSize");
    QTest::newRow("one byte at a time") << 1000 << 1;
    QTest::newRow("16-byte blocks") << 7 << 16;
    QTest::newRow("appends larger than a block") << 20000 << 3000;
    QTest::newRow("reads larger than a block") << 5000 << 40000;
}

void SerialRingBufferTest::keepsOrderAcrossBlocks()
{
    QFETCH(int, appendSize);
    QFETCH(int, readSize);
    SerialRingBuffer buffer;
    const QByteArray sent = pattern(100000);
    QByteArray received;
    QByteArray chunk(readSize, Qt::Uninitialized);
    for (int offset = 0; offset < sent.size(); offset += appendSize) {
        const QByteArray part = sent.mid(offset, appendSize);
        buffer.append(part.constData(), part.size());
        // Take out a little less than goes in, so the buffer spans several blocks.
        if (buffer.size() > 2 * SerialRingBuffer::BlockSize) {
            const qint64 got = buffer.read(chunk.data(), readSize);
            received.append(chunk.constData(), int(got));
        }
    }
    QCOMPARE(buffer.size(), qint64(sent.size() - received.size()));
    received += drain(buffer, readSize);
    QVERIFY(received == sent);
    QVERIFY(buffer.isEmpty());
    QCOMPARE(buffer.getChar(), -1);
}

void SerialRingBufferTest::reservationGivesBackUnusedPart()
{
    SerialRingBuffer buffer;
    buffer.append("ab", 2);
    char* room = buffer.reserve(100);
    QVERIFY(room);
    QCOMPARE(buffer.size(), qint64(102));
    std::memcpy(room, "cde", 3);
    buffer.chop(97);
    QCOMPARE(buffer.size(), qint64(5));
    // A reservation larger than a block is still one contiguous room.
    room = buffer.reserve(3 * SerialRingBuffer::BlockSize + 1);
    const QByteArray big = pattern(int(3 * SerialRingBuffer::BlockSize + 1));
    std::memcpy(room, big.constData(), size_t(big.size()));
    buffer.chop(0);
    QCOMPARE(buffer.getChar(), int('a'));
    QCOMPARE(drain(buffer, 4096), QByteArray("bcde") + big);
}

void SerialRingBufferTest::firstBlockIsContiguous()
{
    SerialRingBuffer buffer;
    const QByteArray sent = pattern(int(SerialRingBuffer::BlockSize + 100));
    buffer.append(sent.constData(), sent.size());
    QCOMPARE(buffer.nextDataBlockSize(), SerialRingBuffer::BlockSize);
    QCOMPARE(QByteArray(buffer.readPointer(), int(buffer.nextDataBlockSize())),
             sent.left(int(SerialRingBuffer::BlockSize)));
    buffer.free(SerialRingBuffer::BlockSize - 10);
    QCOMPARE(QByteArray(buffer.readPointer(), int(buffer.nextDataBlockSize())),
             sent.mid(int(SerialRingBuffer::BlockSize) - 10, 10));
    buffer.free(10);
    QCOMPARE(QByteArray(buffer.readPointer(), int(buffer.nextDataBlockSize())), sent.right(100));
}

void SerialRingBufferTest::clearEmptiesAndReuses()
{
    SerialRingBuffer buffer;
    const QByteArray sent = pattern(50000);
    buffer.append(sent.constData(), sent.size());
    buffer.clear();
    QVERIFY(buffer.isEmpty());
    QCOMPARE(buffer.nextDataBlockSize(), qint64(0));
    QVERIFY(!buffer.readPointer());
    buffer.append("xyz", 3);
    QCOMPARE(drain(buffer, 2), QByteArray("xyz"));
}

QTEST_APPLESS_MAIN(SerialRingBufferTest)
#include "SerialRingBufferTest.moc"
