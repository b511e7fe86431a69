#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <deque>

// A FIFO of bytes kept in a chain of blocks. It grows by whole blocks of
// BlockSize bytes (or one larger block for a larger reservation) and never moves
// data already stored, so a read of a few bytes off a large buffer costs nothing
// but the copy of those bytes. An emptied buffer keeps its last block for reuse.
class SerialRingBuffer
{
public:
    static constexpr qint64 BlockSize = 16384;

    qint64 size() const { return total; }
    bool isEmpty() const { return total == 0; }
    void clear();

    // Contiguous room for `bytes` more bytes at the end, counted in size() at once;
    // give back what was not filled with chop().
    char* reserve(qint64 bytes);
    // Removes the last `bytes` bytes.
    void chop(qint64 bytes);
    void append(const char* data, qint64 bytes);

    // The first contiguous run of stored bytes and its length.
    const char* readPointer() const;
    qint64 nextDataBlockSize() const;
    // Removes the first `bytes` bytes.
    void free(qint64 bytes);
    // Copies up to maxSize bytes out, block by block, and removes them.
    qint64 read(char* data, qint64 maxSize);
    // The first byte, removed, or -1 when empty.
    int getChar();

private:
    struct Block
    {
        QByteArray data;
        qint64 begin = 0;
        qint64 end = 0;
    };

    Block& newBlock(qint64 capacity);

    std::deque<Block> blocks;
    qint64 total = 0;
};
