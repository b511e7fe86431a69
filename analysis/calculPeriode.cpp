#include "calculPeriode.h"

#include "fft/RealFft.h"

#include <QMutex>
#include <QMutexLocker>
#include <QReadLocker>
#include <QWriteLocker>
#include <cmath>

namespace {

constexpr int windowLength = 1024;
constexpr int halfWindow = windowLength / 2;
constexpr double minimumFrequency = 1.0;
// Breathing, in breaths per minute: anything outside is not a breathing rhythm.
constexpr double respirationMin = 4.0;
constexpr double respirationMax = 150.0;
// How many times the mean magnitude of the other bins the strongest one must
// reach to stand for a rhythm: the strongest of 511 bins of white noise is
// about three times their mean.
constexpr double saillieMin = 5.0;

// One transform shared by every estimation, built on first use (function-local
// statics are initialised once even when threads race to first use). Its work
// buffer makes it single-user: each estimator runs one estimation at a time,
// but several estimators may run at once, hence the lock.
struct SharedTransform
{
    QMutex lock;
    fft::RealFft<double> transform{windowLength};
};

SharedTransform& sharedTransform()
{
    static SharedTransform shared;
    return shared;
}

double magnitude(const double f[], int k)
{
    return std::sqrt(f[k] * f[k] + f[halfWindow + k] * f[halfWindow + k]);
}

// Index of the strongest bin among 1 .. N/2 - 1 (mean and Nyquist excluded);
// ties keep the lower bin, and 0 means that no bin is above zero.
int strongestBin(const double f[])
{
    double bestMagnitude = 0.0;
    int bestIndex = 0;
    for (int k = 1; k < halfWindow; ++k) {
        const double m = magnitude(f, k);
        if (m > bestMagnitude) {
            bestMagnitude = m;
            bestIndex = k;
        }
    }
    return bestIndex;
}

// Whether bin k can be a breathing rhythm: inside the breathing band, and
// clearly above the mean of the other bins (its two neighbours, which share
// its energy when the period falls between bins, left out).
bool respiratoire(const double f[], int k, double frequence)
{
    const double parMinute = 60.0 * frequence * k / windowLength;
    if (!(parMinute >= respirationMin && parMinute <= respirationMax))
        return false;
    double somme = 0.0;
    int autres = 0;
    for (int i = 1; i < halfWindow; ++i) {
        if (std::abs(i - k) > 1) {
            somme += magnitude(f, i);
            ++autres;
        }
    }
    return magnitude(f, k) >= saillieMin * somme / autres;
}

} // namespace

calculPeriode::calculPeriode(QObject* parent) : QThread(parent), fe(-1.0)
{
    donnees.reserve(windowLength);
    QThread::currentThread()->setPriority(QThread::LowPriority);
}

calculPeriode::~calculPeriode()
{
    // QThread aborts the application when destroyed while running.
    wait();
}

void calculPeriode::addData(double data)
{
    QWriteLocker locker(&verrou);
    if (donnees.size() >= windowLength) {
        donnees.removeFirst();
    }
    donnees.append(data);
}

void calculPeriode::setFe(double frequence)
{
    QWriteLocker locker(&verrou);
    fe = frequence;
}

void calculPeriode::resetData()
{
    QWriteLocker locker(&verrou);
    donnees.clear();
}

void calculPeriode::run()
{
    double x[windowLength];
    double frequence;
    {
        QReadLocker locker(&verrou);
        // Written as a negation so that a NaN frequency suppresses the estimation too.
        if (donnees.size() < windowLength || !(fe >= minimumFrequency)) {
            return;
        }
        auto it = donnees.cend() - windowLength;
        for (int i = 0; i < windowLength; ++i, ++it) {
            x[i] = *it;
        }
        frequence = fe;
    }

    double f[windowLength];
    {
        SharedTransform& shared = sharedTransform();
        QMutexLocker locker(&shared.lock);
        shared.transform.forward(f, x);
    }

    // f[0] is the sum of the samples: it is non-finite exactly when a sample is
    // NaN or infinite (or the values overflow), and then no bin is meaningful.
    if (!std::isfinite(f[0])) {
        emit respiration(false);
        return;
    }
    const int k = strongestBin(f);
    if (k == 0) {
        emit respiration(false);
        return; // constant signal: no periodic component
    }
    const double periode = windowLength / (frequence * k);
    if (!std::isfinite(periode) || periode <= 0.0) {
        emit respiration(false);
        return; // infinite frequency
    }
    emit respiration(respiratoire(f, k, frequence));
    emit newPeriode(periode);
}
