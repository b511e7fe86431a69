#include "detecteurCycles.h"

#include <algorithm>
#include <cmath>

namespace {

// Half the span of the moving average, in seconds: 61 ms in all at 1000 Hz,
// 70 ms at 100 Hz, none at 10 Hz where a sample is already 100 ms.
constexpr double demiLissage = 0.03;
// History kept beyond the longest possible breath (the longest apnea delay).
constexpr double margeHistorique = 5.0;
// Time constant of the noise measure, in seconds, and its warm-up.
constexpr double constanteBruit = 2.0;
constexpr double chauffeBruit = 0.5;
// A rise or a fall counts once it exceeds this many noise deviations of the
// smoothed signal, and this share of the depth of the recent breaths.
constexpr double seuilBruit = 8.0;
constexpr double seuilAmplitude = 0.12;
// The foot of a rise: this share of the recent depth above the trough.
constexpr double piedAmplitude = 0.05;
constexpr double piedBruit = 3.0;
// Mean absolute step of white noise over its standard deviation: 2 / sqrt(pi).
constexpr double pasParEcartType = 1.1283791670955126;

double mediane3(double a, double b, double c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// The distance of the foot of a rise or a fall from its plateau: a small share
// of the recent depth, above the noise, below the hysteresis just crossed.
double ecartPied(double amplitude, double bruit, double franchi)
{
    const double ecart = amplitude > 0.0 ? piedAmplitude * amplitude : 0.5 * franchi;
    return std::min(std::max(ecart, piedBruit * bruit), 0.6 * franchi);
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

void detecteurCycles::setFe(double frequence)
{
    if (!(frequence > 0.0) || !std::isfinite(frequence))
        return;
    fe = frequence;
    demiFenetre = int(std::lround(demiLissage * fe));
    capacite = int(std::ceil((delaiApneeMax + margeHistorique) * fe)) + 2 * demiFenetre + 4;
    lisse.fill(0.0, capacite);
    co2.fill(0.0, capacite);
    o2.fill(0.0, capacite);
    flux.fill(0.0, capacite);
    moyenneGlissante.fill(0.0, 2 * demiFenetre + 1);
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

void detecteurCycles::reinitialiser()
{
    recus = 0;
    lisses = 0;
    sommeGlissante = 0.0;
    moyenneGlissante.fill(0.0);
    pasMoyen = 0.0;
    bruitConnu = false;
    nbAmplitudes = prochaineAmplitude = 0;
    phase = Phase::Inconnue;
    inspirationConnue = false;
    finInspiration = -1.0;
    dernierDebut = 0;
    apneeDuCycle = 0.0;
    finirApnee();
}

void detecteurCycles::ajouterEchantillon(double valeurCo2, double valeurO2, double valeurFlux)
{
    const double valeurs[3] = {valeurCo2, valeurO2, valeurFlux};
    if (recus++ == 0) {
        for (int c = 0; c < 3; ++c)
            precedent[c][0] = precedent[c][1] = valeurs[c];
        return;
    }
    // The despiked sample m is the median of samples m - 1, m and m + 1.
    const qint64 m = recus - 2;
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
    mesurerBruit(x);
    traiterLisse(x);
}

// Noise of the smoothed O2, from its steps over one averaging span (samples
// that far apart share no noise); the steps of a rise or a fall are clipped, so
// that only the noise is measured.
void detecteurCycles::mesurerBruit(double x)
{
    // The median of three ties neighbours together too: three samples at least.
    const qint64 ecart = std::max(2 * demiFenetre + 1, 3);
    const qint64 n = lisses - demiFenetre - ecart; // steps measured so far
    if (n < 0)
        return;
    const double pas = std::abs(x - lisse[fente(lisses - ecart)]);
    bruitConnu = n >= std::max(chauffeBruit * fe, 20.0);
    if (!bruitConnu)
        pasMoyen += (pas - pasMoyen) / double(n + 1);
    else
        pasMoyen += (std::min(pas, 3.0 * pasMoyen) - pasMoyen) / (constanteBruit * fe);
}

double detecteurCycles::bruitLisse() const
{
    return pasMoyen / pasParEcartType;
}

double detecteurCycles::amplitudeRecente() const
{
    if (nbAmplitudes == 0)
        return 0.0;
    double tri[5];
    for (int i = 0; i < nbAmplitudes; ++i) { // insertion: five values at most
        int j = i;
        for (; j > 0 && tri[j - 1] > amplitudes[i]; --j)
            tri[j] = tri[j - 1];
        tri[j] = amplitudes[i];
    }
    return tri[nbAmplitudes / 2];
}

double detecteurCycles::hysteresis() const
{
    return std::max({seuilBruit * bruitLisse(), seuilAmplitude * amplitudeRecente(), 1e-9});
}

void detecteurCycles::traiterLisse(double x)
{
    const double seuil = hysteresis();
    switch (phase) {
    case Phase::Inconnue:
        if (lisses == demiFenetre || x < extremum) {
            retenirExtremum(x);
        }
        if (lisses == demiFenetre || x > autreExtremum) {
            autreExtremum = x;
            indiceAutre = lisses;
        }
        if (!bruitConnu) // no hysteresis can be trusted yet
            break;
        if (x > extremum + seuil) {
            debutInspiration();
        } else if (x < autreExtremum - seuil) {
            phase = Phase::Expiration;
            retenirExtremum(x);
        }
        break;
    case Phase::Expiration:
        if (x < extremum) {
            retenirExtremum(x);
        } else if (x > extremum + seuil) {
            debutInspiration();
        }
        break;
    case Phase::Inspiration:
        if (x > extremum) {
            retenirExtremum(x);
        } else if (x < extremum - seuil) {
            debutExpiration();
        }
        break;
    }
    surveillerApnee();
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

void detecteurCycles::debutInspiration()
{
    const double x = lisse[fente(lisses)];
    const double bruit = bruitLisse();
    creux = extremum;
    const double plateau = std::min(extremum + 3.0 * bruit, x);
    const double niveau = plateau + ecartPied(derniereAmplitude(), bruit, x - plateau);
    const double debut = croisement(niveau, lisses, indiceExtremum, +1.0);
    indiceCreux = indiceExtremum;

    if (inspirationConnue && finInspiration >= debutCycle)
        terminerCycle(debut);
    apneeDuCycle = enApnee ? (debut - double(dernierDebut)) / fe : 0.0;
    finirApnee();
    inspirationConnue = true;
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
    const double bruit = bruitLisse();
    if (inspirationConnue) {
        // The first onset had no depth to measure its foot by: its own serves.
        if (nbAmplitudes == 0)
            debutCycle = piedPremiereMontee(extremum - creux, bruit);
        amplitudes[prochaineAmplitude] = extremum - creux;
        prochaineAmplitude = (prochaineAmplitude + 1) % 5;
        nbAmplitudes = std::min(nbAmplitudes + 1, 5);
    }
    const double plateau = std::max(extremum - 3.0 * bruit, x);
    const double niveau = plateau - ecartPied(derniereAmplitude(), bruit, plateau - x);
    finInspiration = croisement(niveau, lisses, indiceExtremum, -1.0);
    phase = Phase::Expiration;
    retenirExtremum(x);
}

void detecteurCycles::terminerCycle(double fin)
{
    const qint64 premier = qint64(std::ceil(debutCycle));
    const qint64 dernier = qint64(std::ceil(fin)); // one past the last sample
    const qint64 bascule = qint64(std::ceil(finInspiration));
    if (dernier <= premier || lisses + demiFenetre - premier >= capacite)
        return;

    Cycle cycle;
    cycle.debut = debutCycle / fe;
    cycle.duree = (fin - debutCycle) / fe;
    cycle.frequence = 60.0 / cycle.duree;
    cycle.dureeInspiration = (finInspiration - debutCycle) / fe;
    cycle.dureeExpiration = (fin - finInspiration) / fe;
    cycle.apneePrecedente = apneeDuCycle;

    Cycle::Mesure* const mesures[3] = {&cycle.co2, &cycle.o2, &cycle.flux};
    const QVector<double>* const canaux[3] = {&co2, &o2, &flux};
    double sommes[3] = {};
    for (int c = 0; c < 3; ++c)
        mesures[c]->max = mesures[c]->min = (*canaux[c])[fente(premier)];
    double inspire = 0.0;
    double expire = 0.0;
    for (qint64 i = premier; i < dernier; ++i) {
        const int f = fente(i);
        for (int c = 0; c < 3; ++c) {
            const double v = (*canaux[c])[f];
            mesures[c]->max = std::max(mesures[c]->max, v);
            mesures[c]->min = std::min(mesures[c]->min, v);
            sommes[c] += v;
        }
        (i < bascule ? inspire : expire) += flux[f];
    }
    const double nombre = double(dernier - premier);
    for (int c = 0; c < 3; ++c)
        mesures[c]->moyenne = sommes[c] / nombre;
    cycle.fluxPresent = cycle.flux.max > cycle.flux.min;
    if (cycle.fluxPresent) {
        cycle.volumeInspire = inspire / fe;
        cycle.volumeExpire = expire / fe;
    }
    emit nouveauCycle(cycle);
    if (formesDemandees.loadRelaxed())
        emit formeCycle(cycle, extraireForme(premier, dernier));
}

FormeCycle detecteurCycles::extraireForme(qint64 premier, qint64 dernier) const
{
    // Groups of `groupe` samples, each drawn at its centre by its mean.
    const qint64 nombre = dernier - premier;
    const int groupe = int((nombre + FormeCycle::pointsMax - 1) / FormeCycle::pointsMax);
    const int points = int((nombre + groupe - 1) / groupe);
    FormeCycle forme;
    forme.pas = groupe / fe;
    forme.decalage = (double(premier) - debutCycle + (groupe - 1) / 2.0) / fe;
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
        enApnee = true;
        inspirationConnue = false; // the pause is no breath
        emit apnee(true);
    }
}
