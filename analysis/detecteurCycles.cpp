#include "detecteurCycles.h"

#include <algorithm>
#include <cmath>

namespace {

// Half the span of the moving average, in seconds: 61 ms in all at 1000 Hz,
// 70 ms at 100 Hz, none at 10 Hz where a sample is already 100 ms.
constexpr double demiLissage = 0.03;
// History kept beyond the longest possible breath (the longest apnea delay).
constexpr double margeHistorique = 5.0;
// Samples are analysed at this rate at most: finer is no better for breaths.
constexpr double feAnalyseMax = 1000.0;
// Time constant of the noise measure, in seconds, and its warm-up.
constexpr double constanteBruit = 2.0;
constexpr double chauffeBruit = 0.5;
// A rise or a fall counts once it exceeds this many noise deviations of the
// smoothed signal, twice the signal's resolution, this share of the signal's
// swing over the recent window, and this share of the last breaths' depth.
constexpr double seuilBruit = 8.0;
constexpr double seuilResolution = 2.0;
constexpr double seuilEtendue = 0.3;
constexpr double seuilAmplitude = 0.12;
// The fast content of the signal (heartbeat ripple, or the breath itself when
// it is fast) raises the hysteresis up to this share of the recent swing.
constexpr double plafondRapide = 0.6;
// A rise this early in a breath (a share of the recent breaths' median
// length) starts the next one only if it reaches this share of the recent
// swing: a spike or a hump after the peak is part of the breath, a true
// breath that comes early is deep.
constexpr double partPrecoce = 0.5;
constexpr double seuilPrecoce = 0.75;
// A rise that starts within this share of the recent breaths' median length
// after an onset and stays under this share of their median depth is a hump
// of that breath; a breath as short and as shallow right before a deep one is
// the start of the deep one's inspiration.
constexpr double partBosse = 0.5;
constexpr double profondeurBosse = 0.6;
// A breath shorter than this share of the recent breaths' median length,
// however deep, is a spike (a movement, an artefact on a clipped signal) at
// the start of the next one: breathing does not speed up fivefold from one
// breath to the next.
constexpr double partEclair = 0.2;
// The recent window spans this share of the recent breaths' length (within
// the bounds below, in seconds): the deep breaths before a shallow one have
// left it by the time the shallow one rises.
constexpr double partDureeFenetre = 0.8;
constexpr double fenetreMin = 0.3;
constexpr double fenetreMax = 12.0;
constexpr double fenetreInitiale = 8.0;
// The foot of a rise: this share of the recent depth above the trough.
constexpr double piedAmplitude = 0.05;
constexpr double piedBruit = 3.0;
// Mean absolute second difference of white noise over its standard
// deviation: sqrt(6) x sqrt(2 / pi); mean absolute step: 2 / sqrt(pi).
constexpr double diffParEcartType = 1.9544100476116797;
constexpr double pasParEcartType = 1.1283791670955126;
// A trough this close to the first sample may be the middle of a rise that
// began before the recording: the breath it starts is no breath.
constexpr double margeDebut = 0.2;
// The fewest samples a breath needs to be found.
constexpr double echantillonsParCycleMin = 10.0;

double mediane3(double a, double b, double c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// The median of n values (five at most), by insertion.
double mediane(const double* valeurs, int n)
{
    if (n == 0)
        return 0.0;
    double tri[5];
    for (int i = 0; i < n; ++i) {
        int j = i;
        for (; j > 0 && tri[j - 1] > valeurs[i]; --j)
            tri[j] = tri[j - 1];
        tri[j] = valeurs[i];
    }
    return tri[n / 2];
}

// The distance of the foot of a rise or a fall from its plateau: a small share
// of the recent depth, above the noise, below the hysteresis just crossed.
double ecartPied(double amplitude, double bruit, double franchi)
{
    const double ecart = amplitude > 0.0 ? piedAmplitude * amplitude : 0.5 * franchi;
    return std::min(std::max(ecart, piedBruit * bruit), 0.6 * franchi);
}

qint64 enMillisecondes(double secondes)
{
    return qint64(std::lround(std::clamp(secondes, 0.0, detecteurCycles::decalageMax) * 1000.0));
}

} // namespace

detecteurCycles::detecteurCycles(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<Cycle>("Cycle");
    qRegisterMetaType<FormeCycle>("FormeCycle");
    setFe(100.0);
}

void detecteurCycles::setFormesDemandees(bool demandees)
{
    formesDemandees.storeRelaxed(demandees ? 1 : 0);
}

double detecteurCycles::frequenceMaxTrouvable(double frequence)
{
    if (!(frequence > 0.0) || !std::isfinite(frequence))
        return 0.0;
    const double portee =
        std::min(frequenceMaxCherchee, 60.0 * frequence / echantillonsParCycleMin);
    return portee >= frequenceMinCherchee ? portee : 0.0;
}

void detecteurCycles::setFe(double frequence)
{
    if (!(frequence > 0.0) || !std::isfinite(frequence))
        return;
    feEntree = frequence;
    trouvable = frequenceMaxTrouvable(frequence) > 0.0;
    facteur = int(std::max(1.0, std::ceil(frequence / feAnalyseMax - 1e-9)));
    fe = frequence / facteur;
    avanceGroupe = (facteur - 1) / (2.0 * frequence);
    demiFenetre = int(std::lround(demiLissage * fe));
    capacite = int(std::ceil((delaiApneeMax + margeHistorique) * fe)) + 2 * demiFenetre + 4;
    lisse.fill(0.0, capacite);
    co2.fill(0.0, capacite);
    o2.fill(0.0, capacite);
    flux.fill(0.0, capacite);
    filesMax.fill(0, capacite);
    filesMin.fill(0, capacite);
    moyenneGlissante.fill(0.0, 2 * demiFenetre + 1);
    decalagesAppliques = -1; // sized again at the reset below
    reinitialiser();
}

void detecteurCycles::setDelaiApnee(double secondes)
{
    const double borne = std::clamp(secondes, delaiApneeMin, delaiApneeMax);
    delaiApneeMs.storeRelaxed(qint64(std::lround(borne * 1000.0)));
}

double detecteurCycles::delaiApnee() const
{
    return delaiApneeMs.loadRelaxed() / 1000.0;
}

void detecteurCycles::setDecalages(double decalageCo2, double decalageO2)
{
    decalagesDemandes.storeRelaxed((enMillisecondes(decalageCo2) << 32) |
                                   enMillisecondes(decalageO2));
}

void detecteurCycles::reinitialiser()
{
    oublierEntree();
    entres = 0;
    signeInspiratoire = 0;
    nbDurees = prochaineDuree = 0;
    resolution = 0.0;
    coupure = false;
    appliquerDecalages();
    finirApnee();
}

void detecteurCycles::interrompre(double secondes)
{
    oublierEntree();
    if (fe > 0.0 && secondes > 0.0 && std::isfinite(secondes))
        entres += qint64(std::llround(secondes * fe));
    reprendrePipeline();
    finirApnee();
    coupure = true;
}

// The last sound values and the group being averaged belong to samples
// before a reset or a gap.
void detecteurCycles::oublierEntree()
{
    manquantes.oublier();
    for (double& somme : sommeGroupe)
        somme = 0.0;
    dansGroupe = 0;
}

// Starts the detection again from the next sample, on the same clock: what
// was under way is forgotten.
void detecteurCycles::reprendrePipeline()
{
    origineTemps = entres / fe;
    depuisAlignement = 0;
    recus = 0;
    lisses = 0;
    sommeGlissante = 0.0;
    moyenneGlissante.fill(0.0);
    diffMoyenne = 0.0;
    pasMoyen = 0.0;
    differences = 0;
    bruitConnu = false;
    debutMax = finMax = debutMin = finMin = 0;
    nbAmplitudes = prochaineAmplitude = 0;
    amplitudeMediane = 0.0;
    phase = Phase::Inconnue;
    inspirationConnue = false;
    attente.active = false;
    finInspiration = -1.0;
    dernierDebut = 0;
    apneeDuCycle = 0.0;
}

void detecteurCycles::appliquerDecalages()
{
    const qint64 demandes = decalagesDemandes.loadRelaxed();
    if (demandes != decalagesAppliques) {
        decalagesAppliques = demandes;
        const int retardCo2 = int(std::lround((demandes >> 32) / 1000.0 * fe));
        const int retardO2 = int(std::lround((demandes & 0xFFFFFFFF) / 1000.0 * fe));
        retardMax = std::max(retardCo2, retardO2);
        // Each channel waits for the most delayed one; the flow waits longest.
        retardCanal[0] = retardMax - retardCo2;
        retardCanal[1] = retardMax - retardO2;
        retardCanal[2] = retardMax;
        for (QVector<double>& file : fileAlignement)
            file.fill(0.0, retardMax > 0 ? retardMax + 1 : 0);
    }
    reprendrePipeline();
}

void detecteurCycles::ajouterEchantillon(double valeurCo2, double valeurO2, double valeurFlux)
{
    if (!trouvable) // no breath can be found, nor an apnea told, at this rate
        return;
    double valeurs[3] = {valeurCo2, valeurO2, valeurFlux};
    manquantes.remplacer(valeurs);
    if (!decimer(valeurs))
        return;
    if (decalagesDemandes.loadRelaxed() != decalagesAppliques)
        appliquerDecalages();
    if (aligner(valeurs))
        traiterEchantillon(valeurs);
}

double detecteurCycles::debutEnCours() const
{
    return inspirationConnue ? debutCycle / fe + origineTemps + avanceGroupe : -1.0;
}

// Above the analysis rate, each group of `facteur` samples becomes its mean.
bool detecteurCycles::decimer(double valeurs[3])
{
    if (facteur == 1)
        return true;
    for (int c = 0; c < 3; ++c)
        sommeGroupe[c] += valeurs[c];
    if (++dansGroupe < facteur)
        return false;
    for (int c = 0; c < 3; ++c) {
        valeurs[c] = sommeGroupe[c] / facteur;
        sommeGroupe[c] = 0.0;
    }
    dansGroupe = 0;
    return true;
}

// Lines the channels up on the flow: a gas value arriving d seconds after the
// flow it belongs with waits d seconds less than the flow does.
bool detecteurCycles::aligner(double valeurs[3])
{
    ++entres;
    if (retardMax == 0)
        return true;
    const qint64 n = depuisAlignement++;
    const int longueur = retardMax + 1;
    for (int c = 0; c < 3; ++c)
        fileAlignement[c][int(n % longueur)] = valeurs[c];
    if (n < retardMax)
        return false;
    for (int c = 0; c < 3; ++c)
        valeurs[c] = fileAlignement[c][int((n - retardCanal[c]) % longueur)];
    return true;
}

void detecteurCycles::traiterEchantillon(const double valeurs[3])
{
    if (recus++ == 0) {
        for (int c = 0; c < 3; ++c)
            precedent[c][0] = precedent[c][1] = valeurs[c];
        return;
    }
    // The despiked sample m is the median of samples m - 1, m and m + 1.
    const qint64 m = recus - 2;
    if (m >= 1)
        mesurerBruit(valeurs[1], precedent[1][1], precedent[1][0]);
    double sansPic[3];
    for (int c = 0; c < 3; ++c) {
        sansPic[c] = mediane3(precedent[c][0], precedent[c][1], valeurs[c]);
        precedent[c][0] = precedent[c][1];
        precedent[c][1] = valeurs[c];
    }
    const int f = fente(m);
    co2[f] = sansPic[0];
    o2[f] = sansPic[1];
    flux[f] = sansPic[2];

    const int largeur = 2 * demiFenetre + 1;
    double& plusAncien = moyenneGlissante[int(m % largeur)];
    sommeGlissante += sansPic[1] - plusAncien;
    plusAncien = sansPic[1];
    if (m % (qint64(largeur) * 4096) == 0) { // rounding errors never pile up
        sommeGlissante = 0.0;
        for (double v : qAsConst(moyenneGlissante))
            sommeGlissante += v;
    }
    if (m + 1 < largeur)
        return;
    const qint64 k = m - demiFenetre; // the sample the average is centred on
    const double x = sommeGlissante / largeur;
    lisse[fente(k)] = x;
    lisses = k;
    mesurerRapide(x);
    suivreEtendue(x);
    traiterLisse(x);
}

// Noise from the second differences of the O2 as it came (the median of
// three ties neighbours together, which would hide most of it), which a breath's own
// slope hardly reaches at any rate the detector looks for; the large ones
// (an edge, an artefact) are clipped, so that only the noise is measured. The
// clip never falls to zero, so a still start cannot freeze the measure.
void detecteurCycles::mesurerBruit(double a, double b, double c)
{
    const double pas = std::abs(a - b);
    if (pas > 0.0 && (resolution == 0.0 || pas < resolution))
        resolution = pas;
    const double difference = std::abs(a - 2.0 * b + c);
    ++differences;
    bruitConnu = differences >= std::max(chauffeBruit * fe, 20.0);
    if (!bruitConnu)
        diffMoyenne += (difference - diffMoyenne) / double(differences);
    else
        diffMoyenne += (std::min(difference, 3.0 * diffMoyenne + resolution) - diffMoyenne) /
                       (constanteBruit * fe);
}

// What moves the smoothed O2 between samples one averaging span apart (which
// share no white noise): its noise, heartbeat ripple, and a fast breath's own
// slope; steps of an edge are clipped.
void detecteurCycles::mesurerRapide(double x)
{
    const qint64 ecart = std::max(2 * demiFenetre + 1, 3);
    const qint64 n = lisses - demiFenetre - ecart; // steps measured so far
    if (n < 0)
        return;
    const double pas = std::abs(x - lisse[fente(lisses - ecart)]);
    if (n < std::max(chauffeBruit * fe, 20.0))
        pasMoyen += (pas - pasMoyen) / double(n + 1);
    else
        pasMoyen += (std::min(pas, 3.0 * pasMoyen + resolution) - pasMoyen) / (constanteBruit * fe);
}

// The part of the hysteresis that the noise and the fast content set, over
// seuilBruit: the white noise always counts; the fast content only up to a
// share of the recent swing, or a fast breath would hide itself.
double detecteurCycles::bruitEffectif() const
{
    const double rapide =
        std::min(pasMoyen / pasParEcartType, plafondRapide * etendueRecente() / seuilBruit);
    return std::max(bruitLisse(), rapide);
}

// The noise of the smoothed O2: the moving average of white noise over
// 2 * demiFenetre + 1 samples divides its deviation by the root of that.
double detecteurCycles::bruitLisse() const
{
    return diffMoyenne / diffParEcartType / std::sqrt(2.0 * demiFenetre + 1.0);
}

void detecteurCycles::suivreEtendue(double x)
{
    while (finMax > debutMax && lisse[fente(filesMax[int((finMax - 1) % capacite)])] <= x)
        --finMax;
    filesMax[int(finMax++ % capacite)] = lisses;
    while (finMin > debutMin && lisse[fente(filesMin[int((finMin - 1) % capacite)])] >= x)
        --finMin;
    filesMin[int(finMin++ % capacite)] = lisses;

    const double duree = nbDurees ? partDureeFenetre * dureeRecente() : fenetreInitiale * fe;
    const qint64 fenetre = qint64(std::clamp(duree, fenetreMin * fe, fenetreMax * fe));
    while (filesMax[int(debutMax % capacite)] < lisses - fenetre)
        ++debutMax;
    while (filesMin[int(debutMin % capacite)] < lisses - fenetre)
        ++debutMin;
}

double detecteurCycles::etendueRecente() const
{
    return lisse[fente(filesMax[int(debutMax % capacite)])] -
           lisse[fente(filesMin[int(debutMin % capacite)])];
}

// The longest of the last breaths: heartbeat ripple taken for breaths once
// cannot shrink the window down to its own scale, since one true breath among
// the last five keeps it long.
double detecteurCycles::dureeRecente() const
{
    return *std::max_element(durees, durees + nbDurees);
}

double detecteurCycles::hysteresis() const
{
    return std::max({seuilBruit * bruitEffectif(), seuilEtendue * etendueRecente(),
                     seuilAmplitude * amplitudeMediane, seuilResolution * resolution, 1e-9});
}

void detecteurCycles::traiterLisse(double x)
{
    const double seuil = hysteresis();
    switch (phase) {
    case Phase::Inconnue:
        // The last of equal lows: a flat start ends where the rise begins.
        if (lisses == demiFenetre || x <= extremum) {
            retenirExtremum(x);
        }
        if (lisses == demiFenetre || x > autreExtremum) {
            autreExtremum = x;
            indiceAutre = lisses;
        }
        if (!bruitConnu) // no hysteresis can be trusted yet
            break;
        if (x > extremum + seuil) {
            debutInspiration(indiceExtremum - demiFenetre >= std::max(3.0, margeDebut * fe));
        } else if (x < autreExtremum - seuil) {
            phase = Phase::Expiration;
            retenirExtremum(x);
        }
        break;
    case Phase::Expiration:
        if (x < extremum) {
            retenirExtremum(x);
        } else if (x > extremum + seuil && !montePrecoce(x)) {
            debutInspiration(true);
        }
        break;
    case Phase::Inspiration:
        // A fall that stays in the upper half of the rise is a notch of the
        // inspiration, not its end.
        if (x > extremum) {
            retenirExtremum(x);
        } else if (x < extremum - seuil && x < milieuMontee()) {
            debutExpiration();
        }
        break;
    }
    surveillerApnee();
}

// The middle of the rise under way, the rise counted from its trough but no
// deeper than the recent breaths' median depth: the undershoot after a sigh,
// or a step of the baseline, leaves the trough far below the breaths that
// follow, whose falls would never reach the middle of such a rise.
double detecteurCycles::milieuMontee() const
{
    const double pied = nbAmplitudes ? std::max(creux, extremum - amplitudeMediane) : creux;
    return 0.5 * (extremum + pied);
}

bool detecteurCycles::montePrecoce(double x) const
{
    if (!inspirationConnue || nbDurees == 0)
        return false;
    const bool tot = double(lisses) - debutCycle < partPrecoce * mediane(durees, nbDurees);
    return tot && x - extremum < seuilPrecoce * etendueRecente();
}

// Where the smoothed O2 last crossed `niveau` before sample `depuis`, going
// back no further than `jusqua`, in fractional samples: upward for a rise
// (sens +1), downward for a fall (sens -1).
double detecteurCycles::croisement(double niveau, qint64 depuis, qint64 jusqua, double sens) const
{
    for (qint64 j = depuis - 1; j >= jusqua; --j) {
        const double a = sens * lisse[fente(j)];
        if (a <= sens * niveau) {
            const double b = sens * lisse[fente(j + 1)];
            return double(j) + (b > a ? (sens * niveau - a) / (b - a) : 0.0);
        }
    }
    return double(jusqua);
}

// `compte`: whether this onset starts a breath; not when the rise may have
// begun before the first sample.
void detecteurCycles::debutInspiration(bool compte)
{
    const double x = lisse[fente(lisses)];
    const double bruit = bruitLisse();
    creux = extremum;
    const double plateau = std::min(extremum + 3.0 * bruit, x);
    const double niveau = plateau + ecartPied(derniereAmplitude(), bruit, x - plateau);
    const double debut = croisement(niveau, lisses, indiceExtremum, +1.0);
    indiceCreux = indiceExtremum;

    // The breath this onset ends is told once this rise is known whole: a
    // hump early in an expiration is part of that breath.
    attente = {compte && inspirationConnue && finInspiration >= debutCycle, debutCycle,
               finInspiration, apneeDuCycle, dernierDebut};
    // The apnea lasted from the last onset before it to this one.
    apneeDuCycle = enApnee ? (debut - debutCycle) / fe : 0.0;
    finirApnee();
    inspirationConnue = compte;
    debutCycle = debut;
    finInspiration = -1.0;
    dernierDebut = lisses;
    phase = Phase::Inspiration;
    retenirExtremum(x);
}

double detecteurCycles::piedPremiereMontee(double profondeur, double bruit) const
{
    const double plateau = creux + std::min(3.0 * bruit, 0.5 * profondeur);
    const double niveau = plateau + ecartPied(profondeur, bruit, extremum - plateau);
    return croisement(niveau, indiceExtremum, indiceCreux, +1.0);
}

double detecteurCycles::derniereAmplitude() const
{
    return nbAmplitudes ? amplitudes[(prochaineAmplitude + 4) % 5] : 0.0;
}

void detecteurCycles::debutExpiration()
{
    const double x = lisse[fente(lisses)];
    if (attente.active && estBosse()) {
        oublierBosse(x);
        return;
    }
    if (attente.active && estPrelude())
        joindrePrelude();
    confirmerAttente();
    const double bruit = bruitLisse();
    if (inspirationConnue) {
        // The first onset had no depth to measure its foot by: its own serves.
        if (nbAmplitudes == 0)
            debutCycle = piedPremiereMontee(extremum - creux, bruit);
        amplitudes[prochaineAmplitude] = extremum - creux;
        prochaineAmplitude = (prochaineAmplitude + 1) % 5;
        nbAmplitudes = std::min(nbAmplitudes + 1, 5);
        amplitudeMediane = mediane(amplitudes, nbAmplitudes);
    }
    const double plateau = std::max(extremum - 3.0 * bruit, x);
    const double niveau = plateau - ecartPied(derniereAmplitude(), bruit, plateau - x);
    finInspiration = croisement(niveau, lisses, indiceExtremum, -1.0);
    phase = Phase::Expiration;
    retenirExtremum(x);
}

// A rise that comes in the first part of a breath and stays shallow against
// the recent breaths is a hump of its expiration (a cough, a movement, the
// heart), not the next breath.
bool detecteurCycles::estBosse() const
{
    if (nbDurees == 0 || nbAmplitudes == 0)
        return false;
    return partDureeAttente() < partBosse && extremum - creux < profondeurBosse * amplitudeMediane;
}

// A short shallow breath right before a deep one (a hump late in an
// expiration, a breath taken in two goes), or a far shorter one of any depth,
// is where the next one's inspiration began: the two are one breath.
bool detecteurCycles::estPrelude() const
{
    if (nbDurees == 0 || nbAmplitudes < 2)
        return false;
    const double part = partDureeAttente();
    const double profondeur = profondeurBosse * amplitudeMediane;
    return part < partEclair ||
           (part < partBosse && derniereAmplitude() < profondeur && extremum - creux >= profondeur);
}

// The length of the breath that waits, as a share of the recent breaths'
// median length.
double detecteurCycles::partDureeAttente() const
{
    return (debutCycle - attente.debut) / mediane(durees, nbDurees);
}

void detecteurCycles::joindrePrelude()
{
    debutCycle = attente.debut;
    apneeDuCycle = attente.apnee;
    attente.active = false;
    // The first breath's depth is no breath's: the deep one's, measured
    // right after, takes its place in the ring (and in the median).
    prochaineAmplitude = (prochaineAmplitude + 4) % 5;
    --nbAmplitudes;
}

// The breath the hump interrupted goes on, in expiration from its lowest point.
void detecteurCycles::oublierBosse(double x)
{
    debutCycle = attente.debut;
    finInspiration = attente.finInspiration;
    apneeDuCycle = attente.apnee;
    dernierDebut = attente.dernierDebut;
    inspirationConnue = true;
    attente.active = false;
    phase = Phase::Expiration;
    extremum = creux;
    indiceExtremum = indiceCreux;
    if (x < extremum)
        retenirExtremum(x);
}

// Tells the breath the current inspiration ended, if one waits.
void detecteurCycles::confirmerAttente()
{
    if (!attente.active)
        return;
    attente.active = false;
    terminerCycle(attente.debut, attente.finInspiration, attente.apnee, debutCycle);
}

void detecteurCycles::terminerCycle(double debut, double finInspire, double apnee, double fin)
{
    const qint64 premier = qint64(std::ceil(debut));
    const qint64 dernier = qint64(std::ceil(fin)); // one past the last sample
    const qint64 bascule = qint64(std::ceil(finInspire));
    if (dernier <= premier || lisses + demiFenetre - premier >= capacite)
        return;

    Cycle cycle;
    cycle.debut = debut / fe + origineTemps + avanceGroupe;
    cycle.duree = (fin - debut) / fe;
    cycle.frequence = 60.0 / cycle.duree;
    cycle.dureeInspiration = (finInspire - debut) / fe;
    cycle.dureeExpiration = (fin - finInspire) / fe;
    cycle.apneePrecedente = apnee;
    cycle.apresCoupure = coupure;

    Cycle::Mesure* const mesures[3] = {&cycle.co2, &cycle.o2, &cycle.flux};
    const QVector<double>* const canaux[3] = {&co2, &o2, &flux};
    double sommes[3] = {};
    for (int c = 0; c < 3; ++c)
        mesures[c]->max = mesures[c]->min = (*canaux[c])[fente(premier)];
    for (qint64 i = premier; i < dernier; ++i) {
        const int f = fente(i);
        for (int c = 0; c < 3; ++c) {
            const double v = (*canaux[c])[f];
            mesures[c]->max = std::max(mesures[c]->max, v);
            mesures[c]->min = std::min(mesures[c]->min, v);
            sommes[c] += v;
        }
    }
    const double nombre = double(dernier - premier);
    for (int c = 0; c < 3; ++c)
        mesures[c]->moyenne = sommes[c] / nombre;
    cycle.fluxPresent = cycle.flux.max > cycle.flux.min;
    if (cycle.fluxPresent)
        mesurerPhasesFlux(cycle, premier, dernier, bascule);

    durees[prochaineDuree] = fin - debut;
    prochaineDuree = (prochaineDuree + 1) % 5;
    nbDurees = std::min(nbDurees + 1, 5);
    coupure = false;
    emit nouveauCycle(cycle);
    if (formesDemandees.loadRelaxed())
        emit formeCycle(cycle, extraireForme(premier, dernier, debut));
}

// With a flow, the inspiration is where it has the inspiratory sign: the sign
// it has, on the whole, while O2 rises in the first breath that carries it.
// The volumes are the integrals of the flow over each phase.
void detecteurCycles::mesurerPhasesFlux(Cycle& cycle, qint64 premier, qint64 dernier,
                                        qint64 bascule)
{
    if (signeInspiratoire == 0) {
        double montee = 0.0;
        double descente = 0.0;
        for (qint64 i = premier; i < dernier; ++i)
            (i < bascule ? montee : descente) += flux[fente(i)];
        const double ecart = montee / double(std::max<qint64>(bascule - premier, 1)) -
                             descente / double(std::max<qint64>(dernier - bascule, 1));
        signeInspiratoire = ecart >= 0.0 ? 1 : -1;
    }
    double inspire = 0.0;
    double expire = 0.0;
    qint64 echantillonsInspires = 0;
    for (qint64 i = premier; i < dernier; ++i) {
        const double v = flux[fente(i)];
        if (v * signeInspiratoire > 0.0) {
            inspire += v;
            ++echantillonsInspires;
        } else {
            expire += v;
        }
    }
    cycle.volumeInspire = inspire / fe;
    cycle.volumeExpire = expire / fe;
    cycle.dureeInspiration = echantillonsInspires / fe;
    cycle.dureeExpiration = cycle.duree - cycle.dureeInspiration;
}

FormeCycle detecteurCycles::extraireForme(qint64 premier, qint64 dernier, double origine) const
{
    // Groups of `groupe` samples, each drawn at its centre by its mean.
    const qint64 nombre = dernier - premier;
    const int groupe = int((nombre + FormeCycle::pointsMax - 1) / FormeCycle::pointsMax);
    const int points = int((nombre + groupe - 1) / groupe);
    FormeCycle forme;
    forme.pas = groupe / fe;
    forme.decalage = (double(premier) - origine + (groupe - 1) / 2.0) / fe;
    QVector<float>* const sorties[3] = {&forme.co2, &forme.o2, &forme.flux};
    const QVector<double>* const canaux[3] = {&co2, &o2, &flux};
    for (int c = 0; c < 3; ++c) {
        sorties[c]->resize(points);
        for (int p = 0; p < points; ++p) {
            const qint64 debut = premier + qint64(p) * groupe;
            const qint64 fin = std::min(debut + groupe, dernier);
            double somme = 0.0;
            for (qint64 i = debut; i < fin; ++i)
                somme += (*canaux[c])[fente(i)];
            (*sorties[c])[p] = float(somme / double(fin - debut));
        }
    }
    return forme;
}

// The current smoothed sample x is the new extreme of the phase.
void detecteurCycles::retenirExtremum(double x)
{
    extremum = x;
    indiceExtremum = lisses;
}

void detecteurCycles::finirApnee()
{
    if (!enApnee)
        return;
    enApnee = false;
    emit apnee(false);
}

void detecteurCycles::surveillerApnee()
{
    if (enApnee)
        return;
    const double delai = delaiApneeMs.loadRelaxed() / 1000.0 * fe;
    if (double(lisses - dernierDebut) > delai) {
        confirmerAttente();
        enApnee = true;
        inspirationConnue = false; // the pause is no breath
        emit apnee(true);
    }
}
