#pragma once

#include "Cycle.h"
#include "FormeCycle.h"
#include "ValeursManquantes.h"

#include <QAtomicInteger>
#include <QObject>
#include <QVector>

// Finds every breath in a stream of samples of the three channels (CO2, O2,
// Flux), on the O2 channel: a breath starts at the onset of an inspiration (O2
// rising) and ends at the onset of the next. Each breath leaves by
// nouveauCycle() once the next inspiration is known whole, when its
// expiration begins (so that a shallow hump early in an expiration is part of
// the breath, not the next one); apnee(true) tells that no breath has started for the
// apnea delay, apnee(false) that breathing has resumed.
//
// How: values no channel can take are replaced by the channel's last sound
// value; above 1000 Hz, groups of samples are averaged down to at most 1000 Hz;
// the gas channels are lined up on the flow by their transport delays.
// Single-sample spikes are then removed by a median of three, noise by a
// centred moving average of 60 ms. A rise or a fall counts once the smoothed O2
// has moved away from its last extreme by a hysteresis that stays above three
// floors: the noise (measured on second differences, so that a fast breath's
// own slope is not taken for noise), twice the signal's resolution (so that a
// still subject flickering by one step is no breath), and a share of the
// signal's swing over most of the last breath's length (so that heartbeat
// ripple, steps on a plateau and the wobbles of a real signal are not breaths,
// while a shallow breath after deep ones is still found once the deep ones are
// behind). A fall must also bring O2 below the middle of the rise it ends
// (counted at most one recent breath deep): a notch high in an inspiration is
// part of it. The onset itself is found again in the recent samples, at the
// foot of the rise, so that its time does not depend on the depth of the
// breath. A breath counts only once an expiration
// was seen before its onset: the breath a recording starts in is no breath.
//
// When Flux carries a signal, the inspiration is the part of the breath where
// the flow has the inspiratory sign (chosen from the first breath seen on O2)
// and the volumes are the integrals of the flow over each phase.
//
// Constant work per sample and no allocation once setFe() has sized the
// history; memory bounded whatever the length of the acquisition. Samples are
// fed on one thread at a time; setDelaiApnee(), setDecalages() and
// setFormesDemandees() may be called from any thread.
class detecteurCycles : public QObject
{
    Q_OBJECT

public:
    explicit detecteurCycles(QObject* parent = nullptr);

    static constexpr double delaiApneeMin = 10.0;
    static constexpr double delaiApneeMax = 60.0;
    // Beyond this magnitude a value is taken as missing, as is a value that
    // is not finite.
    static constexpr double valeurMax = ValeursManquantes::valeurMax;
    static constexpr double decalageMax = 60.0;
    // The breathing rates looked for, in breaths per minute.
    static constexpr double frequenceMinCherchee = 4.0;
    static constexpr double frequenceMaxCherchee = 150.0;

    // The fastest breathing, in breaths per minute, that samples at fe can
    // carry (ten samples a breath at least, 150 /min at most); 0 when not
    // even the slowest breaths (4 /min) can be found at that rate, where the
    // samples fed are then ignored (no breath, no apnea).
    static double frequenceMaxTrouvable(double fe);

    void setFe(double fe);
    double getFe() const { return fe; }
    // Seconds without a breath starting before apnea is told, 10 to 60.
    void setDelaiApnee(double secondes);
    double delaiApnee() const;
    // How late CO2 and O2 arrive against Flux, in seconds (0 to 60): the
    // channels are analysed lined up on the flow, times are the flow's. Taken
    // at the next sample; a change restarts the breath under way.
    void setDecalages(double co2, double o2);

    // With it set, every breath also leaves by formeCycle() with its samples;
    // off by default, as it costs a copy of the breath. Any thread.
    void setFormesDemandees(bool demandees);

    void ajouterEchantillon(double co2, double o2, double flux);
    // The time, in seconds, of the last inspiration onset found, whose breath
    // is still under way (not yet told); -1 when none is known.
    double debutEnCours() const;
    // Forgets everything fed so far: the next sample is the start of a new
    // acquisition. Tells the end of an apnea in progress; the breath that waits
    // for the rise under way to be known whole is forgotten with it.
    void reinitialiser();
    // The samples stopped for `secondes` (the line was lost) and come again
    // with the next one: the breath under way, and one whose end is not yet
    // confirmed, are forgotten, so that none spans the gap, while the clock
    // goes on across it, the gap included; what was learnt of the subject
    // (lengths of breaths, inspiratory sign) stays. The next breath told is
    // marked apresCoupure. Tells the end of an apnea in progress.
    void interrompre(double secondes);

signals:
    void nouveauCycle(const Cycle& cycle);
    void apnee(bool enApnee);
    // Right after nouveauCycle(), when the shapes are asked for.
    void formeCycle(const Cycle& cycle, const FormeCycle& forme);

private:
    enum class Phase { Inconnue, Expiration, Inspiration };

    bool decimer(double valeurs[3]);
    bool aligner(double valeurs[3]);
    void appliquerDecalages();
    void traiterEchantillon(const double valeurs[3]);
    void traiterLisse(double x);
    void mesurerBruit(double a, double b, double c);
    void suivreEtendue(double x);
    double hysteresis() const;
    double milieuMontee() const;
    bool montePrecoce(double x) const;
    double etendueRecente() const;
    double derniereAmplitude() const;
    double dureeRecente() const;
    double piedPremiereMontee(double profondeur, double bruit) const;
    double bruitLisse() const;
    void mesurerRapide(double x);
    double bruitEffectif() const;
    double croisement(double niveau, qint64 depuis, qint64 jusqua, double sens) const;
    void debutInspiration(bool compte);
    void debutExpiration();
    bool estBosse() const;
    void oublierBosse(double x);
    bool estPrelude() const;
    double partDureeAttente() const;
    void joindrePrelude();
    void confirmerAttente();
    void terminerCycle(double debut, double bascule, double apnee, double fin);
    void mesurerPhasesFlux(Cycle& cycle, qint64 premier, qint64 dernier, qint64 bascule);
    FormeCycle extraireForme(qint64 premier, qint64 dernier, double origine) const;
    void retenirExtremum(double x);
    void finirApnee();
    void surveillerApnee();
    void oublierEntree();
    void reprendrePipeline();
    int fente(qint64 indice) const { return int(indice % capacite); }

    double feEntree = 0.0; // samples fed per second
    bool trouvable = true; // breaths can be found at that rate
    double fe = 0.0;       // samples analysed per second, after averaging groups
    int facteur = 1;       // samples fed per sample analysed
    int demiFenetre = 0;   // the moving average spans 2 * demiFenetre + 1 samples
    int capacite = 0;      // samples of history: the longest breath that can count
    QAtomicInteger<qint64> delaiApneeMs{20000};
    QAtomicInteger<int> formesDemandees{0};
    QAtomicInteger<qint64> decalagesDemandes{0}; // CO2 then O2, ms, 32 bits each

    // Missing values, averaging down, lining up.
    ValeursManquantes manquantes;
    double sommeGroupe[3] = {};
    int dansGroupe = 0;
    qint64 decalagesAppliques = 0;
    int retardCanal[3] = {}; // samples each channel waits to line up
    int retardMax = 0;
    QVector<double> fileAlignement[3];
    qint64 entres = 0;           // samples entered since the reset
    qint64 depuisAlignement = 0; // samples entered since the lining-up restarted
    double origineTemps = 0.0;   // seconds of the acquisition before the detection restarted
    double avanceGroupe = 0.0;   // seconds from a group's first sample to its centre

    // History, indexed by sample number modulo capacite.
    QVector<double> lisse; // smoothed O2
    QVector<double> co2;   // the three channels without their spikes
    QVector<double> o2;
    QVector<double> flux;

    // Spike removal and smoothing.
    qint64 recus = 0; // samples analysed
    double precedent[3][2] = {};
    QVector<double> moyenneGlissante;
    double sommeGlissante = 0.0;
    qint64 lisses = 0; // index of the last smoothed sample

    // Noise: mean absolute second difference of the O2 fed, large ones
    // clipped; resolution: the smallest step seen.
    double diffMoyenne = 0.0;
    qint64 differences = 0;
    double resolution = 0.0;
    double pasMoyen = 0.0;   // mean absolute step of the smoothed O2 over one averaging span
    bool bruitConnu = false; // measured long enough to set the hysteresis

    // Highest and lowest smoothed O2 over a recent window, as two monotonic
    // queues of sample indices (amortised constant work).
    QVector<qint64> filesMax;
    QVector<qint64> filesMin;
    qint64 debutMax = 0, finMax = 0, debutMin = 0, finMin = 0;

    // Depth and length of the last breaths.
    double amplitudes[5] = {};
    int nbAmplitudes = 0;
    int prochaineAmplitude = 0;
    double amplitudeMediane = 0.0; // of amplitudes, kept as they change: read every sample
    double durees[5] = {};
    int nbDurees = 0;
    int prochaineDuree = 0;

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
    // The breath the current inspiration ends, told once that rise is known
    // whole (at the fall that ends it): a shallow early rise is no breath.
    struct Attente
    {
        bool active = false;
        double debut = 0.0;
        double finInspiration = -1.0;
        double apnee = 0.0;
        qint64 dernierDebut = 0;
    } attente;
    bool enApnee = false;
    bool coupure = false;      // interrupted since the last breath told
    int signeInspiratoire = 0; // sign of Flux in inspiration, 0 until known
};
