#include "calculPeriode.h"

#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int window = 1024;

// Runs one estimation on the estimator's thread and returns what it emitted.
QList<double> estimate(calculPeriode& estimator)
{
    QSignalSpy spy(&estimator, &calculPeriode::newPeriode);
    estimator.start();
    estimator.wait();
    QList<double> periods;
    for (const QList<QVariant>& arguments : spy) {
        periods.append(arguments.at(0).toDouble());
    }
    return periods;
}

void feed(calculPeriode& estimator, const std::function<double(int)>& signal, int count)
{
    for (int m = 0; m < count; ++m) {
        estimator.addData(signal(m));
    }
}

double binSine(int bin, int m)
{
    return std::sin(2.0 * M_PI * bin * m / window);
}

} // namespace

class calculPeriodeTest : public QObject
{
    Q_OBJECT

private slots:
    void concurrentEstimatorsShareTheTransform();
    void constructionLowersCallingThreadPriority();
    void emitsOnlyOnceWindowIsFull();
    void frequencyGatesEstimation_data();
    void frequencyGatesEstimation();
    void windowSlidesOverLast1024Values();
    void resetWaitsForAFullWindowAgain();
    void periodOfStrongestBin_data();
    void periodOfStrongestBin();
    void signalsWithoutPeriodEmitNothing_data();
    void signalsWithoutPeriodEmitNothing();
    void onlyABreathingRhythmCountsAsBreathing_data();
    void onlyABreathingRhythmCountsAsBreathing();
    void feedingWhileEstimatingStaysConsistent();
    void destructionWaitsForRunningEstimation();

private:
    static const QList<double>& content(const calculPeriode& estimator)
    {
        return estimator.donnees;
    }
};

// Runs first, so that the shared transform is built while several estimations
// race to use it; each must still get its own signal's period.
void calculPeriodeTest::concurrentEstimatorsShareTheTransform()
{
    const int bins[] = {3, 5, 7, 9};
    std::vector<std::unique_ptr<calculPeriode>> estimators;
    for (int bin : bins) {
        estimators.push_back(std::make_unique<calculPeriode>(nullptr));
        estimators.back()->setFe(100.0);
        feed(
            *estimators.back(), [bin](int m) { return binSine(bin, m); }, window);
    }
    for (int round = 0; round < 300; ++round) {
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (auto& estimator : estimators) {
            spies.push_back(
                std::make_unique<QSignalSpy>(estimator.get(), &calculPeriode::newPeriode));
        }
        for (auto& estimator : estimators) {
            estimator->start();
        }
        for (size_t i = 0; i < estimators.size(); ++i) {
            estimators[i]->wait();
            QCOMPARE(spies[i]->count(), 1);
            QCOMPARE(spies[i]->at(0).at(0).toDouble(), window / (100.0 * bins[i]));
        }
    }
}

void calculPeriodeTest::constructionLowersCallingThreadPriority()
{
    QThread::currentThread()->setPriority(QThread::NormalPriority);
    QCOMPARE(QThread::currentThread()->priority(), QThread::NormalPriority);
    calculPeriode estimator(nullptr);
    QCOMPARE(QThread::currentThread()->priority(), QThread::LowPriority);
}

void calculPeriodeTest::emitsOnlyOnceWindowIsFull()
{
    calculPeriode estimator(nullptr);
    estimator.setFe(100.0);
    feed(
        estimator, [](int m) { return binSine(3, m); }, window - 1);
    QVERIFY(estimate(estimator).isEmpty());
    estimator.addData(binSine(3, window - 1));
    QCOMPARE(estimate(estimator), QList<double>{window / 300.0});
}

void calculPeriodeTest::frequencyGatesEstimation_data()
{
    QTest::addColumn<bool>("setFrequency");
    QTest::addColumn<double>("fe");
    QTest::addColumn<bool>("emits");
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("never set") << false << 0.0 << false;
    QTest::newRow("0.5 Hz") << true << 0.5 << false;
    QTest::newRow("just below 1 Hz") << true << 0.999 << false;
    QTest::newRow("negative") << true << -100.0 << false;
    QTest::newRow("NaN") << true << std::numeric_limits<double>::quiet_NaN() << false;
    QTest::newRow("infinite") << true << inf << false;
    QTest::newRow("1 Hz") << true << 1.0 << true;
    QTest::newRow("250 Hz") << true << 250.0 << true;
}

void calculPeriodeTest::frequencyGatesEstimation()
{
    QFETCH(bool, setFrequency);
    QFETCH(double, fe);
    QFETCH(bool, emits);
    calculPeriode estimator(nullptr);
    if (setFrequency) {
        estimator.setFe(fe);
    }
    feed(
        estimator, [](int m) { return binSine(3, m); }, window);
    const QList<double> periods = estimate(estimator);
    if (emits) {
        QCOMPARE(periods, QList<double>{window / (fe * 3)});
    } else {
        QVERIFY2(periods.isEmpty(), qPrintable(QString::number(periods.value(0))));
    }
}

void calculPeriodeTest::windowSlidesOverLast1024Values()
{
    calculPeriode estimator(nullptr);
    feed(
        estimator, [](int m) { return m; }, 1500);
    const QList<double>& kept = content(estimator);
    QCOMPARE(kept.size(), window);
    for (int i = 0; i < window; ++i) {
        QCOMPARE(kept[i], double(1500 - window + i));
    }
}

void calculPeriodeTest::resetWaitsForAFullWindowAgain()
{
    calculPeriode estimator(nullptr);
    estimator.setFe(100.0);
    feed(
        estimator, [](int m) { return binSine(5, m); }, 2000);
    QCOMPARE(estimate(estimator).size(), 1);
    estimator.resetData();
    QVERIFY(content(estimator).isEmpty());
    QVERIFY(estimate(estimator).isEmpty());
    feed(
        estimator, [](int m) { return binSine(3, m); }, window - 1);
    QVERIFY(estimate(estimator).isEmpty());
    estimator.addData(binSine(3, window - 1));
    // Nothing of the signal before the reset is left in the window.
    QCOMPARE(estimate(estimator), QList<double>{window / 300.0});
}

void calculPeriodeTest::periodOfStrongestBin_data()
{
    QTest::addColumn<QVector<double>>("samples");
    QTest::addColumn<double>("fe");
    QTest::addColumn<double>("period");

    QVector<double> breathing(window);
    QVector<double> shifted(window);
    QVector<double> impulse(window, 0.0);
    for (int m = 0; m < window; ++m) {
        breathing[m] = std::sin(2.0 * M_PI * m / (4.0 * 100.0)); // 4 s at 100 Hz
        shifted[m] = 21.0 + 0.5 * std::cos(2.0 * M_PI * 3.0 * m / window + 0.4);
    }
    impulse[0] = 1.0;
    QVector<double> pairHalfApart = impulse;
    pairHalfApart[512] = 1.0;
    QVector<double> pairQuarterApart = impulse;
    pairQuarterApart[256] = 1.0;

    // 4 s is 2.56 bins: the nearest bin, 3, is the strongest.
    QTest::newRow("4 s breathing at 100 Hz") << breathing << 100.0 << 1024.0 / 300.0;
    QTest::newRow("3 cycles with an offset at 100 Hz") << shifted << 100.0 << 1024.0 / 300.0;
    QTest::newRow("3 cycles with an offset at 10 Hz") << shifted << 10.0 << 1024.0 / 30.0;
    // Exact spectra with equal magnitudes: the lowest of the equal bins wins.
    QTest::newRow("impulse: all bins equal") << impulse << 100.0 << 1024.0 / 100.0;
    QTest::newRow("impulses 512 apart: even bins equal")
        << pairHalfApart << 100.0 << 1024.0 / 200.0;
    QTest::newRow("impulses 256 apart: bins 4k equal")
        << pairQuarterApart << 100.0 << 1024.0 / 400.0;
}

void calculPeriodeTest::periodOfStrongestBin()
{
    QFETCH(QVector<double>, samples);
    QFETCH(double, fe);
    QFETCH(double, period);
    calculPeriode estimator(nullptr);
    estimator.setFe(fe);
    for (double sample : samples) {
        estimator.addData(sample);
    }
    QCOMPARE(estimate(estimator), QList<double>{period});
}

void calculPeriodeTest::signalsWithoutPeriodEmitNothing_data()
{
    QTest::addColumn<QVector<double>>("samples");
    const double inf = std::numeric_limits<double>::infinity();
    QVector<double> sine(window);
    for (int m = 0; m < window; ++m) {
        sine[m] = binSine(3, m);
    }
    QVector<double> withNan = sine;
    withNan[100] = std::numeric_limits<double>::quiet_NaN();
    QVector<double> withInf = sine;
    withInf[700] = inf;
    QVector<double> withBothInf = sine;
    withBothInf[1] = inf;
    withBothInf[2] = -inf;

    QTest::newRow("zeros") << QVector<double>(window, 0.0);
    QTest::newRow("constant") << QVector<double>(window, 20.9);
    QTest::newRow("a NaN sample") << withNan;
    QTest::newRow("an infinite sample") << withInf;
    QTest::newRow("both infinities") << withBothInf;
    QTest::newRow("overflowing sum") << QVector<double>(window, 1e308);
}

// No periodic component, or no meaningful spectrum: no NaN, infinite or
// negative period ever reaches the window.
void calculPeriodeTest::signalsWithoutPeriodEmitNothing()
{
    QFETCH(QVector<double>, samples);
    calculPeriode estimator(nullptr);
    estimator.setFe(100.0);
    for (double sample : samples) {
        estimator.addData(sample);
    }
    const QList<double> periods = estimate(estimator);
    QVERIFY2(periods.isEmpty(), qPrintable(QString::number(periods.value(0))));
}

void calculPeriodeTest::onlyABreathingRhythmCountsAsBreathing_data()
{
    QTest::addColumn<int>("bin");
    QTest::addColumn<double>("noise"); // uniform, +- this
    QTest::addColumn<double>("fe");
    QTest::addColumn<bool>("breathing");
    QTest::newRow("3 cycles in 10 s, noisy") << 3 << 0.4 << 100.0 << true;
    QTest::newRow("apnea: noise only") << 0 << 0.4 << 100.0 << false;
    QTest::newRow("400 cycles in 10 s: faster than breathing") << 400 << 0.0 << 100.0 << false;
    QTest::newRow("3 cycles in 1024 s: slower than breathing") << 3 << 0.0 << 1.0 << false;
    QTest::newRow("constant") << 0 << 0.0 << 100.0 << false;
}

// The period of the strongest bin is still emitted as it is; whether it can be
// breathing is told before it, at every estimation.
void calculPeriodeTest::onlyABreathingRhythmCountsAsBreathing()
{
    QFETCH(int, bin);
    QFETCH(double, noise);
    QFETCH(double, fe);
    QFETCH(bool, breathing);
    calculPeriode estimator(nullptr);
    estimator.setFe(fe);
    std::uint64_t state = 7; // a fixed generator
    feed(
        estimator,
        [&](int m) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            const double u = double(state >> 11) / 9007199254740992.0 - 0.5;
            return 55.0 + (bin ? 7.0 * binSine(bin, m) : 0.0) + 2.0 * noise * u;
        },
        window);
    QSignalSpy told(&estimator, &calculPeriode::respiration);
    QSignalSpy periods(&estimator, &calculPeriode::newPeriode);
    estimator.start();
    estimator.wait();
    QCOMPARE(told.count(), 1);
    QCOMPARE(told.at(0).at(0).toBool(), breathing);
    if (breathing)
        QCOMPARE(periods.count(), 1);
}

// The acquisition thread keeps adding samples of a sine of period 1024/3
// samples while estimations run: every window of 1024 consecutive samples
// holds exactly 3 cycles, so every estimation must give the same period.
void calculPeriodeTest::feedingWhileEstimatingStaysConsistent()
{
    calculPeriode estimator(nullptr);
    estimator.setFe(100.0);
    feed(
        estimator, [](int m) { return binSine(3, m); }, window);
    QSignalSpy spy(&estimator, &calculPeriode::newPeriode);
    std::atomic<bool> done(false);
    std::thread acquisition([&] {
        for (int m = window; m < window + 100000; ++m) {
            estimator.addData(binSine(3, m % window));
        }
        done = true;
    });
    int estimations = 0;
    while (!done || estimations == 0) {
        estimator.start();
        estimator.wait();
        ++estimations;
    }
    acquisition.join();
    QCOMPARE(spy.count(), estimations);
    for (const QList<QVariant>& arguments : spy) {
        QCOMPARE(arguments.at(0).toDouble(), window / 300.0);
    }
}

void calculPeriodeTest::destructionWaitsForRunningEstimation()
{
    std::atomic<int> emitted(0);
    QObject receiver;
    auto* estimator = new calculPeriode(nullptr);
    estimator->setFe(100.0);
    feed(
        *estimator, [](int m) { return binSine(3, m); }, window);
    connect(
        estimator, &calculPeriode::newPeriode, &receiver, [&emitted] { ++emitted; },
        Qt::DirectConnection);
    estimator->start();
    delete estimator; // QThread would abort if destroyed while running
    QCOMPARE(emitted.load(), 1);
}

QTEST_GUILESS_MAIN(calculPeriodeTest)
#include "calculPeriodeTest.moc"
