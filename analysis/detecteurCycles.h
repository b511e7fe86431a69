#pragma once

#include "Cycle.h"
#include "FormeCycle.h"

#include <QAtomicInteger>
#include <QObject>
#include <QVector>

// Finds every breath in a stream of samples of the three channels (CO2, O2,
// Flux), on the O2 channel: a breath starts at the onset of an inspiration (O2
// rising) and ends at the onset of the next. Each breath leaves by
// nouveauCycle() once the next inspiration is certain, a few tenths of a second
// after the breath ended; apnee(true) tells that no breath has started for the
// apnea delay, apnee(false) that breathing has resumed.
//
// How: single-sample spikes are removed by a median of three, noise by a
// centred moving average of 70 ms; a rise or a fall counts once the smoothed
// O2 has moved away from its last extreme by a hysteresis that stays well above
// the noise (measured as it goes) and follows the depth of the recent breaths,
// so that neither a noisy plateau nor a drift nor a breath five times shallower
// than the last ones fools it. The onset itself is found again in the recent
// samples, at the foot of the rise, so that its time does not depend on the
// depth of the breath.
//
// Constant work per sample and no allocation once setFe() has sized the
// history; memory bounded whatever the length of the acquisition. Samples are
// fed on one thread at a time; setDelaiApnee() may be called from any thread.
class detecteurCycles : public QObject
{
    Q_OBJECT

public:
    explicit detecteurCycles(QObject* parent = nullptr);

    static constexpr double delaiApneeMin = 10.0;
    static constexpr double delaiApneeMax = 60.0;

    void setFe(double fe);
    double getFe() const { return fe; }
    // Seconds without a breath starting before apnea is told, 10 to 60.
    void setDelaiApnee(double secondes);
    double delaiApnee() const;

    // With it set, every breath also leaves by formeCycle() with its samples;
    // off by default, as it costs a copy of the breath. Any thread.
    void setFormesDemandees(bool demandees);

    void ajouterEchantillon(double co2, double o2, double flux);
    // Forgets everything fed so far: the next sample is the start of a new
    // acquisition. Tells the end of an apnea in progress.
    void reinitialiser();

signals:
    void nouveauCycle(const Cycle& cycle);
    void apnee(bool enApnee);
    // Right after nouveauCycle(), when the shapes are asked for.
    void formeCycle(const Cycle& cycle, const FormeCycle& forme);

private:
    enum class Phase { Inconnue, Expiration, Inspiration };

    void traiterLisse(double x);
    void mesurerBruit(double x);
    double hysteresis() const;
    double amplitudeRecente() const;
    double derniereAmplitude() const;
    double piedPremiereMontee(double profondeur, double bruit) const;
    double bruitLisse() const;
    double croisement(double niveau, qint64 depuis, qint64 jusqua, double sens) const;
    void debutInspiration();
    void debutExpiration();
    void terminerCycle(double fin);
    FormeCycle extraireForme(qint64 premier, qint64 dernier) const;
    void retenirExtremum(double x);
    void finirApnee();
    void surveillerApnee();
    int fente(qint64 indice) const { return int(indice % capacite); }

    double fe = 0.0;
    int demiFenetre = 0; // the moving average spans 2 * demiFenetre + 1 samples
    int capacite = 0;    // samples of history: the longest breath that can count
    QAtomicInteger<qint64> delaiApneeMs{20000};
    QAtomicInteger<int> formesDemandees{0};

    // History, indexed by sample number modulo capacite.
    QVector<double> lisse; // smoothed O2
    QVector<double> co2;   // the three channels without their spikes
    QVector<double> o2;
    QVector<double> flux;

    // Spike removal and smoothing.
    qint64 recus = 0; // samples fed
    double precedent[3][2] = {};
    QVector<double> moyenneGlissante;
    double sommeGlissante = 0.0;
    qint64 lisses = 0; // index of the last smoothed sample

    // Noise: mean absolute step of the smoothed O2, large steps clipped.
    double pasMoyen = 0.0;
    bool bruitConnu = false; // measured long enough to set the hysteresis

    // Depth of the last breaths, for the hysteresis.
    double amplitudes[5] = {};
    int nbAmplitudes = 0;
    int prochaineAmplitude = 0;

    Phase phase = Phase::Inconnue;
    double extremum = 0.0; // lowest value in expiration, highest in inspiration
    qint64 indiceExtremum = 0;
    double autreExtremum = 0.0; // while the phase is still unknown
    qint64 indiceAutre = 0;
    double creux = 0.0; // the lowest value before the current inspiration
    qint64 indiceCreux = 0;

    bool inspirationConnue = false; // an onset is known and counts as a breath's start
    double debutCycle = 0.0;        // that onset, in (fractional) samples
    double finInspiration = -1.0;   // fall onset of the current breath, in samples
    qint64 dernierDebut = 0;        // for the apnea watch
    double apneeDuCycle = 0.0;      // the apnea the current breath ended, seconds
    bool enApnee = false;
};
