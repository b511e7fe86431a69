#include "fft/RealFft.h"

#include <QtTest>
#include <cmath>
#include <csignal>
#include <functional>
#include <random>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<double> randomSignal(long length, unsigned seed)
{
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> distribution(-1.0, 1.0);
    std::vector<double> x(length);
    for (double& value : x) {
        value = distribution(generator);
    }
    return x;
}

std::vector<double> transform(const std::vector<double>& x)
{
    fft::RealFft<double> fft(static_cast<long>(x.size()));
    std::vector<double> f(x.size());
    fft.forward(f.data(), x.data());
    return f;
}

// The plain O(N^2) DFT, packed like the transform's output:
// f[k] = sum x_m cos(2 pi k m / N) for k <= N/2, f[N/2 + k] = sum x_m sin(...).
std::vector<double> directDft(const std::vector<double>& x)
{
    const long n = static_cast<long>(x.size());
    std::vector<double> cosines(n), sines(n);
    for (long j = 0; j < n; ++j) {
        cosines[j] = std::cos(2.0 * M_PI * static_cast<double>(j) / static_cast<double>(n));
        sines[j] = std::sin(2.0 * M_PI * static_cast<double>(j) / static_cast<double>(n));
    }
    std::vector<double> f(n);
    const double* const samples = x.data();
    const double* const c = cosines.data();
    const double* const s = sines.data();
    for (long k = 0; k <= n / 2; ++k) {
        double re = 0.0;
        double im = 0.0;
        long j = 0; // k * m modulo n (n is a power of two)
        for (long m = 0; m < n; ++m) {
            re += samples[m] * c[j];
            im += samples[m] * s[j];
            j = (j + k) & (n - 1);
        }
        f[k] = re;
        if (k > 0 && k < n / 2) {
            f[n / 2 + k] = im;
        }
    }
    return f;
}

// Largest difference between two spectra, relative to sqrt(N * energy), the
// size that rounding errors scale with (every |bin| is at most that).
double relativeError(const std::vector<double>& x, const std::vector<double>& actual,
                     const std::vector<double>& expected)
{
    double energy = 0.0;
    for (double value : x) {
        energy += value * value;
    }
    double worst = 0.0;
    for (size_t i = 0; i < actual.size(); ++i) {
        worst = std::max(worst, std::abs(actual[i] - expected[i]));
    }
    return worst / std::sqrt(static_cast<double>(x.size()) * energy);
}

// Runs action in a child process; returns what it wrote on stderr and whether
// it ended abnormally (killed by a signal or a non-zero exit code).
bool diesWithMessage(const std::function<void()>& action, QByteArray* message)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        dup2(pipeFds[1], STDERR_FILENO);
        // Plain default handling, without the test framework's handlers.
        qInstallMessageHandler(nullptr);
        std::signal(SIGABRT, SIG_DFL);
        action();
        _exit(0);
    }
    close(pipeFds[1]);
    char buffer[512];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        message->append(buffer, static_cast<int>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

} // namespace

class RealFftTest : public QObject
{
    Q_OBJECT

private slots:
    void matchesDirectDft_data();
    void matchesDirectDft();
    void longTransformsFindSparseSpectrum_data();
    void longTransformsFindSparseSpectrum();
    void knownSpectra_data();
    void knownSpectra();
    void bitReversalTable_data();
    void bitReversalTable();
    void inputUntouchedAndResultRepeatable();
    void nonFiniteSamplesGoThrough();
    void failedPreconditionStopsWithItsText_data();
    void failedPreconditionStopsWithItsText();
};

void RealFftTest::matchesDirectDft_data()
{
    QTest::addColumn<int>("bits");
    for (int bits = 0; bits <= 14; ++bits) {
        QTest::newRow(qPrintable(QStringLiteral("N=%1").arg(1L << bits))) << bits;
    }
}

// Every size through 2^14 (where the first oscillator pass runs), every bin,
// real and imaginary parts.
void RealFftTest::matchesDirectDft()
{
    QFETCH(int, bits);
    const std::vector<double> x = randomSignal(1L << bits, 1000u + static_cast<unsigned>(bits));
    const double error = relativeError(x, transform(x), directDft(x));
    QVERIFY2(error < 1e-14, qPrintable(QStringLiteral("relative error %1").arg(error)));
}

void RealFftTest::longTransformsFindSparseSpectrum_data()
{
    QTest::addColumn<int>("bits");
    QTest::newRow("N=2^16") << 16;
    QTest::newRow("N=2^17") << 17;
}

// Beyond the reach of the direct DFT: a sum of a few cosines and sines at
// known bins has a known spectrum, and the passes from 13 on use oscillators.
void RealFftTest::longTransformsFindSparseSpectrum()
{
    QFETCH(int, bits);
    const long n = 1L << bits;
    struct Tone
    {
        long bin;
        double cosine;
        double sine;
    };
    const Tone tones[] = {
        {1, 0.5, -0.25}, {777, 1.0, 0.0}, {n / 4 + 3, 0.0, 2.0}, {n / 2 - 1, -0.75, 0.5}};
    std::vector<double> x(n, 0.3);
    for (const Tone& tone : tones) {
        for (long m = 0; m < n; ++m) {
            // (bin * m) mod n keeps the angle exact for long signals.
            const double angle =
                2.0 * M_PI * static_cast<double>((tone.bin * m) % n) / static_cast<double>(n);
            x[m] += tone.cosine * std::cos(angle) + tone.sine * std::sin(angle);
        }
    }
    std::vector<double> expected(n, 0.0);
    expected[0] = 0.3 * static_cast<double>(n);
    for (const Tone& tone : tones) {
        expected[tone.bin] = tone.cosine * static_cast<double>(n) / 2.0;
        expected[n / 2 + tone.bin] = tone.sine * static_cast<double>(n) / 2.0;
    }
    const double error = relativeError(x, transform(x), expected);
    QVERIFY2(error < 1e-12, qPrintable(QStringLiteral("relative error %1").arg(error)));
}

void RealFftTest::knownSpectra_data()
{
    QTest::addColumn<QVector<double>>("input");
    QTest::addColumn<QVector<double>>("expected");

    QTest::newRow("N=1") << QVector<double>{-2.5} << QVector<double>{-2.5};
    QTest::newRow("N=2") << QVector<double>{3, 1} << QVector<double>{4, 2};
    QTest::newRow("N=4 ramp") << QVector<double>{1, 2, 3, 4} << QVector<double>{10, -2, -2, -2};
    QTest::newRow("N=8 impulse") << QVector<double>{1, 0, 0, 0, 0, 0, 0, 0}
                                 << QVector<double>{1, 1, 1, 1, 1, 0, 0, 0};

    const int n = 1024;
    QVector<double> constant(n, 0.7);
    QVector<double> constantSpectrum(n, 0.0);
    constantSpectrum[0] = 0.7 * n;
    QTest::newRow("N=1024 constant") << constant << constantSpectrum;

    QVector<double> cosine(n), sine(n);
    for (int m = 0; m < n; ++m) {
        cosine[m] = std::cos(2.0 * M_PI * 3.0 * m / n);
        sine[m] = std::sin(2.0 * M_PI * 3.0 * m / n);
    }
    QVector<double> cosineSpectrum(n, 0.0);
    cosineSpectrum[3] = 512.0;
    QVector<double> sineSpectrum(n, 0.0);
    sineSpectrum[512 + 3] = 512.0;
    QTest::newRow("N=1024 cosine of bin 3") << cosine << cosineSpectrum;
    QTest::newRow("N=1024 sine of bin 3") << sine << sineSpectrum;
}

void RealFftTest::knownSpectra()
{
    QFETCH(QVector<double>, input);
    QFETCH(QVector<double>, expected);
    fft::RealFft<double> fft(input.size());
    QVector<double> f(input.size(), 12345.0);
    fft.forward(f.data(), input.constData());
    for (int k = 0; k < f.size(); ++k) {
        QVERIFY2(std::abs(f[k] - expected[k]) < 1e-10,
                 qPrintable(
                     QStringLiteral("f[%1] = %2, expected %3").arg(k).arg(f[k]).arg(expected[k])));
    }
}

void RealFftTest::bitReversalTable_data()
{
    QTest::addColumn<int>("bits");
    for (int bits : {0, 1, 3, 10, 13}) {
        QTest::newRow(qPrintable(QStringLiteral("N=%1").arg(1L << bits))) << bits;
    }
}

void RealFftTest::bitReversalTable()
{
    QFETCH(int, bits);
    const long n = 1L << bits;
    fft::RealFft<double> fft(n);
    QCOMPARE(fft._nbPoints, n);
    QCOMPARE(fft._nbBits, bits);
    QCOMPARE(fft._bitRev.size(), n);
    for (long c = 0; c < n; ++c) {
        long reversed = 0;
        for (int b = 0; b < bits; ++b) {
            reversed |= ((c >> b) & 1L) << (bits - 1 - b);
        }
        QCOMPARE(fft._bitRev[c], reversed);
    }
    if (n == 8) {
        const long expected[] = {0, 4, 2, 6, 1, 5, 3, 7};
        for (int c = 0; c < 8; ++c) {
            QCOMPARE(fft._bitRev[c], expected[c]);
        }
    }
}

void RealFftTest::inputUntouchedAndResultRepeatable()
{
    const std::vector<double> x = randomSignal(2048, 7u);
    const std::vector<double> copy = x;
    fft::RealFft<double> fft(2048);
    std::vector<double> first(2048), second(2048);
    fft.forward(first.data(), x.data());
    fft.forward(second.data(), x.data());
    QVERIFY(x == copy);
    QVERIFY(first == second); // the work buffer carries nothing over
}

void RealFftTest::nonFiniteSamplesGoThrough()
{
    std::vector<double> x(64, 1.0);
    x[5] = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> f = transform(x);
    QVERIFY(std::isnan(f[0]));
}

void RealFftTest::failedPreconditionStopsWithItsText_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QByteArray>("condition");
    QTest::newRow("output is the work buffer") << 0 << QByteArray("f != workBuffer()");
    QTest::newRow("input is the work buffer") << 1 << QByteArray("x != workBuffer()");
    QTest::newRow("output is the input") << 2 << QByteArray("f != x");
    QTest::newRow("too many bits") << 3 << QByteArray("_nbBits <= MAX_BIT_DEPTH");
    QTest::newRow("not a power of two") << 4 << QByteArray("(length & (length - 1)) == 0");
    QTest::newRow("zero length") << 5 << QByteArray("length > 0");
    QTest::newRow("index past the end") << 6 << QByteArray("pos < _len");
    QTest::newRow("negative index") << 7 << QByteArray("pos >= 0");
    QTest::newRow("negative size") << 8 << QByteArray("size >= 0");
}

// The checks guard memory, so they hold in release builds too.
void RealFftTest::failedPreconditionStopsWithItsText()
{
    QFETCH(int, fault);
    QFETCH(QByteArray, condition);
    QByteArray message;
    const bool died = diesWithMessage(
        [fault] {
            fft::RealFft<double> fft(16);
            std::vector<double> buffer(16, 1.0);
            fft::HeapArray<int> array(3);
            switch (fault) {
            case 0:
                fft.forward(fft.workBuffer(), buffer.data());
                break;
            case 1:
                fft.forward(buffer.data(), fft.workBuffer());
                break;
            case 2:
                fft.forward(buffer.data(), buffer.data());
                break;
            case 3:
                fft::RealFft<double>(1L << (fft::RealFft<double>::MAX_BIT_DEPTH + 1));
                break;
            case 4:
                fft::RealFft<double>(1000);
                break;
            case 5:
                fft::RealFft<double>(0);
                break;
            case 6:
                array[3] = 1;
                break;
            case 7:
                array[-1] = 1;
                break;
            default:
                array.resize(-1);
                break;
            }
        },
        &message);
    QVERIFY2(died, message.constData());
    QVERIFY2(message.contains(condition), message.constData());
}

QTEST_GUILESS_MAIN(RealFftTest)
#include "RealFftTest.moc"
