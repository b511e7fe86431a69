#pragma once

#include "fft/Precondition.h"

#include <memory>

namespace fft {

// Fixed-length array on the heap. Indexing is bounds-checked in every build
// type; the transform's inner loops work on data() instead.
template <class T>
class HeapArray
{
public:
    typedef T DataType;

    explicit HeapArray(long size = 0) { resize(size); }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;

    long size() const { return _len; }

    // Discards the content; the new elements are value-initialised.
    void resize(long size)
    {
        FFT_REQUIRE(size >= 0);
        _data.reset(size > 0 ? new T[size]() : nullptr);
        _len = size;
    }

    T& operator[](long pos)
    {
        FFT_REQUIRE(pos >= 0);
        FFT_REQUIRE(pos < _len);
        return _data[pos];
    }
    const T& operator[](long pos) const
    {
        FFT_REQUIRE(pos >= 0);
        FFT_REQUIRE(pos < _len);
        return _data[pos];
    }

    T* data() { return _data.get(); }
    const T* data() const { return _data.get(); }

private:
    std::unique_ptr<T[]> _data;
    long _len = 0;
};

} // namespace fft
