#pragma once

#include <QList>
#include <QReadWriteLock>
#include <QThread>

// Estimates the respiratory period from the last 1024 samples of one channel:
// each start() runs one estimation on this thread, which finds the strongest
// bin of a 1024-point real FFT and emits its period in seconds. Each
// estimation also tells whether that bin can be breathing at all: a rate
// between 4 and 150 per minute standing clearly above the rest of the
// spectrum. Noise or an apnea have a strongest bin too, but its
// period means nothing.
class calculPeriode : public QThread
{
    Q_OBJECT

public:
    // Lowers the priority of the constructing thread, so that estimations
    // started from it (with inherited priority) run at low priority too.
    explicit calculPeriode(QObject* parent = nullptr);
    // Waits for a running estimation.
    ~calculPeriode() override;

signals:
    void newPeriode(double periode);
    // Emitted by every estimation that had a full window, before newPeriode()
    // when there is one: false when no bin (or no sensible spectrum) can be
    // breathing.
    void respiration(bool visible);

public slots:
    // Called from the acquisition thread for every sample.
    void addData(double data);
    void setFe(double fe);
    void resetData();

protected:
    void run() override;

private:
    friend class calculPeriodeTest;

    QReadWriteLock verrou; // guards donnees and fe
    QList<double> donnees; // last samples, oldest first, at most 1024
    double fe;             // sampling frequency in Hz; no estimation below 1
};
