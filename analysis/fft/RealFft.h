#pragma once

#include "fft/HeapArray.h"
#include "fft/Oscillator.h"

class RealFftTest;

namespace fft {

// Forward DFT of N = 2^n real samples, radix-2 decimation in time, computed on
// reals only. Output layout, unscaled, with X_k = sum x_m cos(2 pi k m / N) and
// Y_k = sum x_m sin(2 pi k m / N):
//   f[0] = X_0, f[k] = X_k (1 <= k <= N/2), f[N/2 + k] = Y_k (1 <= k < N/2).
// One object runs one transform at a time: every transform uses its work buffer.
template <class DT>
class RealFft
{
public:
    typedef DT DataType;

    // Largest n accepted, so that N fits in a 32-bit long.
    static constexpr int MAX_BIT_DEPTH = 30;

    explicit RealFft(long length);
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;
    virtual ~RealFft() = default;

    // f and x: two distinct arrays of N values, neither the work buffer.
    void forward(DataType f[], const DataType x[]);
    DataType* workBuffer() { return _work.data(); }

private:
    friend class ::RealFftTest;

    // Passes p <= TRIGO_BD_LIMIT read their twiddles from _cosTable, later
    // ones from _oscillators[p - TRIGO_BD_LIMIT - 1].
    static constexpr int TRIGO_BD_LIMIT = 12;

    void initBitRevLut();
    void initTrigoLut();
    void initTrigoOsc();

    void computeSmall(DataType f[], const DataType x[]) const;
    void computeDirectPasses123(DataType dest[], const DataType x[]) const;
    void computeTablePass(int pass, DataType dest[], const DataType src[]) const;
    void computeOscillatorPass(int pass, DataType dest[], const DataType src[]);

    long _nbPoints;
    int _nbBits;
    HeapArray<long> _bitRev;
    HeapArray<DataType> _cosTable;
    HeapArray<DataType> _work;
    HeapArray<Oscillator<DataType>> _oscillators;
};

extern template class RealFft<double>;

} // namespace fft
