#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>

class QTimer;

// Watches a live acquisition on the clock, where the breath detector cannot
// see: it counts time in samples, so an instrument that stops sending stops
// its time too. Tells how long no sample has come once that passes a few
// seconds, and an apnea once no breath has been found for the apnea delay
// while no sample comes. Runs on the window's thread; the sample count is read
// from the worker with an atomic load.
class VeilleDonnees : public QObject
{
    Q_OBJECT

public:
    // `recus` gives the number of samples received so far.
    explicit VeilleDonnees(std::function<qint64()> recus, QObject* parent = nullptr);

    // Milliseconds without a sample before it is told, and between two looks.
    void setSeuils(int silenceMs, int intervalleMs);
    bool enCours() const;

public slots:
    // A live acquisition starts: as if a sample and a breath had just come.
    void commencer();
    // It ends: whatever was told is withdrawn.
    void arreter();
    void cycleRecu();
    void setDelaiApnee(double secondes);

signals:
    // Whole seconds without a sample; 0 when samples come again.
    void silence(int secondes);
    void apnee(bool enApnee);

private:
    void verifier();

    std::function<qint64()> recus;
    QTimer* minuterie;
    QElapsedTimer depuisEchantillon;
    QElapsedTimer depuisCycle;
    qint64 dernierCompte = 0;
    qint64 delaiApneeMs = 20000;
    int silenceMs = 5000;
    int silenceSignalee = 0;
    bool apneeSignalee = false;
};
