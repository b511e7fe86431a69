// Times one 1024-point forward transform and one whole estimation (copy,
// transform, peak search), median of many batches, next to FFTW 3's r2c
// transform of the same length measured in the same run.
//
//   analysisBench                 prints the timings
//   analysisBench --one-transform       runs a single transform inside a
//   analysisBench --one-fftw-transform  callgrind collection window, for
//                                       instruction counts:
//   valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file=cg.out
//       ./analysisBench --one-transform; grep totals cg.out

#include "calculPeriode.h"
#include "fft/RealFft.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fftw3.h>
#include <functional>
#include <valgrind/callgrind.h>
#include <vector>

namespace {

constexpr int length = 1024;
constexpr int batch = 200;
constexpr int batches = 301;

volatile double sink;

struct Timing
{
    double median; // microseconds per call
    double best;
};

// Median and best over batches of the time of one call.
Timing time(const std::function<void()>& call)
{
    for (int i = 0; i < batch; ++i) {
        call(); // warm caches and branch predictors
    }
    std::vector<double> samples;
    samples.reserve(batches);
    for (int b = 0; b < batches; ++b) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < batch; ++i) {
            call();
        }
        const auto stop = std::chrono::steady_clock::now();
        samples.push_back(std::chrono::duration<double, std::micro>(stop - start).count() / batch);
    }
    std::sort(samples.begin(), samples.end());
    return {samples[batches / 2], samples.front()};
}

void fillSignal(double* x)
{
    for (int m = 0; m < length; ++m) {
        x[m] = 20.0 + std::sin(2.0 * M_PI * 3.0 * m / length) + 0.1 * std::cos(0.37 * m * m);
    }
}

// Exposes one estimation so that it runs on the calling thread.
class EstimatorBench : public calculPeriode
{
public:
    void estimate() { run(); }
};

int oneTransform()
{
    fft::RealFft<double> transform(length);
    std::vector<double> x(length), f(length);
    fillSignal(x.data());
    transform.forward(f.data(), x.data()); // first touch outside the window
    CALLGRIND_TOGGLE_COLLECT;
    transform.forward(f.data(), x.data());
    CALLGRIND_TOGGLE_COLLECT;
    sink = f[3];
    return 0;
}

int oneFftwTransform()
{
    double* in = fftw_alloc_real(length);
    fftw_complex* out = fftw_alloc_complex(length / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(length, in, out, FFTW_MEASURE);
    fillSignal(in);
    fftw_execute(plan);
    CALLGRIND_TOGGLE_COLLECT;
    fftw_execute(plan);
    CALLGRIND_TOGGLE_COLLECT;
    sink = out[3][0];
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--one-transform") == 0) {
        return oneTransform();
    }
    if (argc > 1 && std::strcmp(argv[1], "--one-fftw-transform") == 0) {
        return oneFftwTransform();
    }

    fft::RealFft<double> transform(length);
    std::vector<double> x(length), f(length);
    fillSignal(x.data());
    const Timing ours = time([&] {
        transform.forward(f.data(), x.data());
        sink = f[3];
    });

    double* in = fftw_alloc_real(length);
    fftw_complex* out = fftw_alloc_complex(length / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(length, in, out, FFTW_MEASURE);
    fillSignal(in); // planning with FFTW_MEASURE overwrites the arrays
    const Timing theirs = time([&] {
        fftw_execute(plan);
        sink = out[3][0];
    });

    // Both must agree before their times mean anything (FFTW's imaginary
    // parts have the opposite sign).
    double worst = 0.0;
    for (int k = 1; k < length / 2; ++k) {
        worst = std::max(worst, std::abs(f[k] - out[k][0]));
        worst = std::max(worst, std::abs(f[length / 2 + k] + out[k][1]));
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);

    EstimatorBench estimator;
    estimator.setFe(100.0);
    for (int m = 0; m < length; ++m) {
        estimator.addData(x[m]);
    }
    int emitted = 0;
    QObject::connect(
        &estimator, &calculPeriode::newPeriode, &estimator, [&emitted](double) { ++emitted; },
        Qt::DirectConnection);
    const Timing estimation = time([&] { estimator.estimate(); });

    std::printf("largest difference with FFTW: %.3g\n", worst);
    std::printf("                                  median us   best us\n");
    std::printf("RealFft<double> 1024 forward       %9.3f %9.3f\n", ours.median, ours.best);
    std::printf("FFTW r2c 1024 (FFTW_MEASURE)       %9.3f %9.3f\n", theirs.median, theirs.best);
    std::printf("ratio ours / FFTW                  %9.2f %9.2f\n", ours.median / theirs.median,
                ours.best / theirs.best);
    std::printf("whole estimation (copy, fft, peak) %9.3f %9.3f  (%d emissions)\n",
                estimation.median, estimation.best, emitted);
    return 0;
}
