#include "SerialRingBuffer.h"

#include <cstring>

void SerialRingBuffer::clear()
{
    if (blocks.empty())
        return;
    // Keep one block so that the next arrival does not allocate again.
    while (blocks.size() > 1)
        blocks.pop_back();
    blocks.front().begin = 0;
    blocks.front().end = 0;
    total = 0;
}

SerialRingBuffer::Block& SerialRingBuffer::newBlock(qint64 capacity)
{
    const qint64 rounded = (capacity + BlockSize - 1) / BlockSize * BlockSize;
    Block block;
    block.data = QByteArray(int(rounded), Qt::Uninitialized);
    blocks.push_back(block);
    return blocks.back();
}

char* SerialRingBuffer::reserve(qint64 bytes)
{
    if (bytes <= 0)
        return nullptr;
    Block* last = blocks.empty() ? nullptr : &blocks.back();
    if (last && last->begin == last->end) {
        last->begin = 0;
        last->end = 0;
    }
    if (!last || last->data.size() - last->end < bytes) {
        if (last && last->begin == last->end)
            blocks.pop_back();
        last = &newBlock(bytes);
    }
    char* room = last->data.data() + last->end;
    last->end += bytes;
    total += bytes;
    return room;
}

void SerialRingBuffer::chop(qint64 bytes)
{
    bytes = qMin(bytes, total);
    while (bytes > 0) {
        Block& last = blocks.back();
        const qint64 taken = qMin(bytes, last.end - last.begin);
        last.end -= taken;
        total -= taken;
        bytes -= taken;
        if (last.begin == last.end && blocks.size() > 1)
            blocks.pop_back();
    }
}

void SerialRingBuffer::append(const char* data, qint64 bytes)
{
    while (bytes > 0) {
        Block* last = blocks.empty() ? nullptr : &blocks.back();
        if (!last || last->end == last->data.size())
            last = &newBlock(BlockSize);
        const qint64 chunk = qMin(bytes, qint64(last->data.size()) - last->end);
        std::memcpy(last->data.data() + last->end, data, size_t(chunk));
        last->end += chunk;
        total += chunk;
        data += chunk;
        bytes -= chunk;
    }
}

const char* SerialRingBuffer::readPointer() const
{
    return isEmpty() ? nullptr : blocks.front().data.constData() + blocks.front().begin;
}

qint64 SerialRingBuffer::nextDataBlockSize() const
{
    return isEmpty() ? 0 : blocks.front().end - blocks.front().begin;
}

void SerialRingBuffer::free(qint64 bytes)
{
    bytes = qMin(bytes, total);
    while (bytes > 0) {
        Block& first = blocks.front();
        const qint64 taken = qMin(bytes, first.end - first.begin);
        first.begin += taken;
        total -= taken;
        bytes -= taken;
        if (first.begin == first.end) {
            if (blocks.size() > 1) {
                blocks.pop_front();
            } else {
                first.begin = 0;
                first.end = 0;
            }
        }
    }
}

qint64 SerialRingBuffer::read(char* data, qint64 maxSize)
{
    qint64 copied = 0;
    while (copied < maxSize && !isEmpty()) {
        const qint64 chunk = qMin(maxSize - copied, nextDataBlockSize());
        std::memcpy(data + copied, readPointer(), size_t(chunk));
        free(chunk);
        copied += chunk;
    }
    return copied;
}

int SerialRingBuffer::getChar()
{
    if (isEmpty())
        return -1;
    const int c = static_cast<unsigned char>(*readPointer());
    free(1);
    return c;
}
