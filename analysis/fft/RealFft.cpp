#include "fft/RealFft.h"

#include <cmath>

namespace fft {

namespace {

int significantBits(long value)
{
    int bits = 0;
    while (value > 0) {
        ++bits;
        value >>= 1;
    }
    return bits;
}

} // namespace

template <class DT>
RealFft<DT>::RealFft(long length) : _nbPoints(length), _nbBits(significantBits(length - 1))
{
    // A length that is not a power of two would make the passes read past x.
    FFT_REQUIRE(length > 0 && (length & (length - 1)) == 0);
    FFT_REQUIRE(_nbBits <= MAX_BIT_DEPTH);
    _work.resize(_nbPoints);
    initBitRevLut();
    initTrigoLut();
    initTrigoOsc();
}

template <class DT>
void RealFft<DT>::initBitRevLut()
{
    _bitRev.resize(_nbPoints);
    long* const lut = _bitRev.data();
    lut[0] = 0;
    long reversed = 0;
    for (long c = 1; c < _nbPoints; ++c) {
        // Add one to the reversed index: propagate the carry from the top bit down.
        long bit = _nbPoints >> 1;
        while (((reversed ^= bit) & bit) == 0) {
            bit >>= 1;
        }
        lut[c] = reversed;
    }
}

template <class DT>
void RealFft<DT>::initTrigoLut()
{
    if (_nbBits <= 3) {
        return;
    }
    _cosTable.resize((1L << (_nbBits - 1)) - 4);
    // Levels 3 .. n-1; level L holds cos(i pi / (2 len)) for i < len = 2^(L-1),
    // starting at index len - 4, so that the levels follow one another.
    for (int level = 3; level < _nbBits; ++level) {
        const long len = 1L << (level - 1);
        DT* const ptr = _cosTable.data() + len - 4;
        const double mul = (0.5 * M_PI) / static_cast<double>(len);
        for (long i = 0; i < len; ++i) {
            ptr[i] = static_cast<DT>(std::cos(static_cast<double>(i) * mul));
        }
    }
}

template <class DT>
void RealFft<DT>::initTrigoOsc()
{
    const int count = _nbBits - TRIGO_BD_LIMIT;
    if (count <= 0) {
        return;
    }
    _oscillators.resize(count);
    for (int j = 0; j < count; ++j) {
        _oscillators[j].setStep((0.5 * M_PI) / static_cast<double>(1L << (TRIGO_BD_LIMIT + j)));
    }
}

template <class DT>
void RealFft<DT>::forward(DataType f[], const DataType x[])
{
    FFT_REQUIRE(f != 0);
    FFT_REQUIRE(x != 0);
    FFT_REQUIRE(f != workBuffer());
    FFT_REQUIRE(x != workBuffer());
    // The first passes read x through the bit-reversal table while writing f.
    FFT_REQUIRE(f != x);

    if (_nbBits < 3) {
        computeSmall(f, x);
        return;
    }

    // The passes alternate between f and the work buffer so that the last one
    // writes f. Passes 1 and 2 would write dest and pass 3 src; run together,
    // they write src directly.
    DataType* dest = (_nbBits & 1) != 0 ? workBuffer() : f;
    DataType* src = (_nbBits & 1) != 0 ? f : workBuffer();

    computeDirectPasses123(src, x);
    for (int pass = 3; pass < _nbBits; ++pass) {
        if (pass <= TRIGO_BD_LIMIT) {
            computeTablePass(pass, dest, src);
        } else {
            computeOscillatorPass(pass, dest, src);
        }
        DataType* const tmp = dest;
        dest = src;
        src = tmp;
    }
}

template <class DT>
void RealFft<DT>::computeSmall(DataType f[], const DataType x[]) const
{
    switch (_nbBits) {
    case 0:
        f[0] = x[0];
        break;
    case 1:
        f[0] = x[0] + x[1];
        f[1] = x[0] - x[1];
        break;
    default: {
        f[1] = x[0] - x[2];
        f[3] = x[1] - x[3];
        const DataType b0 = x[0] + x[2];
        const DataType b2 = x[1] + x[3];
        f[0] = b0 + b2;
        f[2] = b0 - b2;
        break;
    }
    }
}

// Passes 1 to 3 in one sweep: each group of 8 outputs depends only on the 8
// bit-reversed inputs of the group, so the values of passes 1 and 2 stay in
// registers instead of going through the other buffer.
template <class DT>
void RealFft<DT>::computeDirectPasses123(DataType dest[], const DataType x[]) const
{
    FFT_REQUIRE(dest != 0);
    FFT_REQUIRE(x != 0);
    FFT_REQUIRE(dest != x);

    const DataType h = static_cast<DataType>(M_SQRT1_2);
    const long* const lut = _bitRev.data();
    for (long c = 0; c < _nbPoints; c += 8) {
        const long* const r = lut + c;
        // Passes 1 and 2 on c .. c + 3 (a) and c + 4 .. c + 7 (b).
        const DataType a1 = x[r[0]] - x[r[1]];
        const DataType a3 = x[r[2]] - x[r[3]];
        const DataType a01 = x[r[0]] + x[r[1]];
        const DataType a23 = x[r[2]] + x[r[3]];
        const DataType a0 = a01 + a23;
        const DataType a2 = a01 - a23;
        const DataType b1 = x[r[4]] - x[r[5]];
        const DataType b3 = x[r[6]] - x[r[7]];
        const DataType b01 = x[r[4]] + x[r[5]];
        const DataType b23 = x[r[6]] + x[r[7]];
        const DataType b0 = b01 + b23;
        const DataType b2 = b01 - b23;
        // Pass 3.
        DataType* const d = dest + c;
        d[0] = a0 + b0;
        d[4] = a0 - b0;
        d[2] = a2;
        d[6] = b2;
        DataType v = (b1 - b3) * h;
        d[1] = a1 + v;
        d[3] = a1 - v;
        v = (b1 + b3) * h;
        d[5] = v + a3;
        d[7] = v - a3;
    }
}

namespace {

// The table passes carry nearly all the arithmetic. On x86-64 the compiler
// emits them twice, for the baseline instruction set and for AVX2 (without FMA,
// so that both give the same rounding), and picks one at load time.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define FFT_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define FFT_VECTOR_CLONES
#endif

// One group of a table pass: bins i of the two half-size transforms at s1r and
// s2r = s1r + 2q combined with the twiddles cos(i pi / 2q), sin(i pi / 2q).
// The restrict qualifiers are sound because the caller has checked
// dest != src; with them the compiler vectorises the loop.
template <class DT>
inline void tableGroup(long q, const DT* __restrict s1r, DT* __restrict dr,
                       const DT* __restrict cosTable)
{
    const long m = q * 2;
    const DT* const s2r = s1r + m;
    const DT* const s1i = s1r + q;
    const DT* const s2i = s2r + q;
    DT* const di = dr + m;
    dr[0] = s1r[0] + s2r[0];
    di[0] = s1r[0] - s2r[0];
    dr[q] = s1r[q];
    di[q] = s2r[q];
    // Every iteration writes its own four outputs (i, m - i, m + i and 2m - i
    // from dr), which the compiler cannot prove without knowing that m = 2q.
    // Unrolling the short constant-length loops completely gives worse code.
#pragma GCC ivdep
#pragma GCC unroll 1
    for (long i = 1; i < q; ++i) {
        const DT c = cosTable[i];
        const DT s = cosTable[q - i];
        const DT a = s2r[i];
        const DT b = s2i[i];
        const DT e = s1r[i];
        const DT g = s1i[i];
        const DT vr = a * c - b * s;
        const DT vi = a * s + b * c;
        dr[i] = e + vr;
        di[-i] = e - vr;
        di[i] = vi + g;
        di[m - i] = vi - g;
    }
}

// With the group length known at compile time, every stream of the loop is
// one base plus a constant offset, which saves most of the pointer updates.
// Used for the passes of transforms up to 1024 points.
template <long Q, class DT>
FFT_VECTOR_CLONES void tablePassFixed(long nbPoints, DT* __restrict dest, const DT* __restrict src,
                                      const DT* __restrict cosTable)
{
    for (long c = 0; c < nbPoints; c += Q * 4) {
        tableGroup(Q, src + c, dest + c, cosTable);
    }
}

template <class DT>
FFT_VECTOR_CLONES void tablePassAnyLength(long nbPoints, long q, DT* __restrict dest,
                                          const DT* __restrict src, const DT* __restrict cosTable)
{
    for (long c = 0; c < nbPoints; c += q * 4) {
        tableGroup(q, src + c, dest + c, cosTable);
    }
}

} // namespace

template <class DT>
void RealFft<DT>::computeTablePass(int pass, DataType dest[], const DataType src[]) const
{
    FFT_REQUIRE(dest != 0);
    FFT_REQUIRE(src != 0);
    FFT_REQUIRE(dest != src);

    // Level p of the table holds cos(i pi / 2q) from index q - 4, q = 2^(p-1).
    const long q = 1L << (pass - 1);
    const DataType* const cosTable = _cosTable.data() + q - 4;
    switch (pass) {
    case 3:
        tablePassFixed<4>(_nbPoints, dest, src, cosTable);
        break;
    case 4:
        tablePassFixed<8>(_nbPoints, dest, src, cosTable);
        break;
    case 5:
        tablePassFixed<16>(_nbPoints, dest, src, cosTable);
        break;
    case 6:
        tablePassFixed<32>(_nbPoints, dest, src, cosTable);
        break;
    case 7:
        tablePassFixed<64>(_nbPoints, dest, src, cosTable);
        break;
    case 8:
        tablePassFixed<128>(_nbPoints, dest, src, cosTable);
        break;
    case 9:
        tablePassFixed<256>(_nbPoints, dest, src, cosTable);
        break;
    default:
        tablePassAnyLength(_nbPoints, q, dest, src, cosTable);
        break;
    }
}

template <class DT>
void RealFft<DT>::computeOscillatorPass(int pass, DataType dest[], const DataType src[])
{
    FFT_REQUIRE(dest != 0);
    FFT_REQUIRE(src != 0);
    FFT_REQUIRE(dest != src);

    const long m = 1L << pass;
    const long q = m >> 1;
    Oscillator<DataType>& osc = _oscillators[pass - TRIGO_BD_LIMIT - 1];
    for (long c = 0; c < _nbPoints; c += m * 2) {
        const DataType* const s1r = src + c;
        const DataType* const s2r = s1r + m;
        const DataType* const s1i = s1r + q;
        const DataType* const s2i = s2r + q;
        DataType* const dr = dest + c;
        DataType* const di = dr + m;
        dr[0] = s1r[0] + s2r[0];
        di[0] = s1r[0] - s2r[0];
        dr[q] = s1r[q];
        di[q] = s2r[q];
        osc.clearBuffers();
        for (long i = 1; i < q; ++i) {
            osc.step();
            const DataType cs = osc.getCos();
            const DataType sn = osc.getSin();
            DataType v = s2r[i] * cs - s2i[i] * sn;
            dr[i] = s1r[i] + v;
            di[-i] = s1r[i] - v;
            v = s2r[i] * sn + s2i[i] * cs;
            di[i] = v + s1i[i];
            di[m - i] = v - s1i[i];
        }
    }
}

template class RealFft<double>;

} // namespace fft
