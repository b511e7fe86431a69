#pragma once

// Synthetic breathing with known breath boundaries, for the breath detector's
// tests and its accuracy benchmark. O2 is high during inspiration and low
// during expiration, with plateaus and rounded (raised-cosine) edges; CO2 is
// its mirror; Flux is positive on the inspiration's plateau, negative on the expiration's.

#include <QVector>
#include <cmath>
#include <cstdint>

struct Souffle
{
    double duree = 4.0;     // seconds
    double amplitude = 5.0; // O2 swing
    double partInspiration = 0.4;
    // O2 falls this far below its level as the expiration ends (the undershoot
    // after a sigh), and is back 0.8 s into the next inspiration.
    double sousNiveau = 0.0;
};

struct SignalRespiratoire
{
    QVector<double> co2, o2, flux;
    QVector<double>
        debuts; // onset of each inspiration, in seconds; the last one ends the last breath
};

// splitmix64 and a Gaussian from it: the same sequence on every platform.
class Hasard
{
public:
    explicit Hasard(std::uint64_t graine) : etat(graine) {}
    double uniforme()
    {
        std::uint64_t z = (etat += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return double((z ^ (z >> 31)) >> 11) * (1.0 / 9007199254740992.0);
    }
    double gauss()
    {
        const double u = std::max(uniforme(), 1e-300);
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * uniforme());
    }

private:
    std::uint64_t etat;
};

struct Conditions
{
    double fe = 100.0;
    double niveau = 16.0; // O2 in expiration
    double bruit = 0.0;   // standard deviation of white noise on every channel
    double derive = 0.0;  // O2 baseline drift per second
    double front = 0.25;  // edge duration in seconds (shortened for short breaths)
    double pause = 1.0;   // seconds of expiration plateau before the first onset
    std::uint64_t graine = 1;
    bool sinus = false;      // each breath one period of a cosine, from trough to trough
    double immobile = 0.0;   // seconds at the start without noise: a still instrument
    double quantum = 0.0;    // values rounded to this grid, as the instrument sends them
    double retardGaz = 0.0;  // seconds by which CO2 and O2 arrive after Flux
    double coupe = 0.0;      // seconds cut from the start: the recording begins there
    int aberrantes = 0;      // values no channel can take, spread over O2
    double bosse = 0.0;      // a hump of this share of the depth in every third breath:
    bool bosseAvant = false; // right after its inspiration, or right before the next one
};

inline double bordArrondi(double t, double duree)
{
    if (t <= 0.0)
        return 0.0;
    if (t >= duree)
        return 1.0;
    return 0.5 - 0.5 * std::cos(M_PI * t / duree);
}

inline SignalRespiratoire genererSignal(const QVector<Souffle>& souffles, const Conditions& c)
{
    SignalRespiratoire s;
    Hasard hasard(c.graine);
    double t0 = c.pause;
    QVector<double> debuts{t0};
    for (const Souffle& souffle : souffles)
        debuts.append(t0 += souffle.duree);
    const double fin = t0 + 1.0; // one more second of expiration after the last breath
    const int n = int(std::ceil(fin * c.fe));
    int courant = 0;
    for (int i = 0; i < n; ++i) {
        const double t = i / c.fe;
        while (courant + 1 < debuts.size() - 1 && t >= debuts[courant + 1])
            ++courant;
        auto forme = [&](double instant) { // 0 in expiration, 1 in inspiration
            if (souffles.isEmpty() || instant < debuts[0] || instant >= debuts.last())
                return 0.0;
            int k = courant;
            while (k > 0 && instant < debuts[k])
                --k;
            while (k + 1 < debuts.size() - 1 && instant >= debuts[k + 1])
                ++k;
            const Souffle& souffle = souffles[k];
            const double dt = instant - debuts[k];
            if (c.sinus)
                return 0.5 - 0.5 * std::cos(2.0 * M_PI * dt / souffle.duree);
            const double inspiration = souffle.partInspiration * souffle.duree;
            const double front = std::min(c.front, inspiration / 3.0);
            const double largeurBosse = 0.6; // a cough, a movement, a breath in two goes
            const double bosse =
                c.bosseAvant ? dt - (souffle.duree - largeurBosse - 0.2) : dt - inspiration - front;
            const double extra =
                k % 3 == 2 && bosse > 0.0 && bosse < largeurBosse
                    ? c.bosse * (0.5 - 0.5 * std::cos(2.0 * M_PI * bosse / largeurBosse))
                    : 0.0;
            return bordArrondi(dt, front) - bordArrondi(dt - inspiration, front) + extra;
        };
        auto sousNiveau = [&](double instant) {
            double creux = 0.0;
            for (int k = std::max(courant - 1, 0); k <= courant && k < souffles.size(); ++k) {
                const double dt = instant - (debuts[k + 1] - 0.8);
                if (dt > 0.0 && dt < 1.6)
                    creux += souffles[k].sousNiveau * (0.5 - 0.5 * std::cos(M_PI * dt / 0.8));
            }
            return creux;
        };
        const double amplitude = souffles.isEmpty() ? 0.0 : souffles[courant].amplitude;
        const double gaz = forme(t - c.retardGaz);
        const double bruit = t < c.immobile ? 0.0 : c.bruit;
        auto grille = [&c](double v) {
            return c.quantum > 0.0 ? std::round(v / c.quantum) * c.quantum : v;
        };
        const double base = c.niveau + c.derive * t;
        s.o2.append(
            grille(base + amplitude * gaz - sousNiveau(t - c.retardGaz) + bruit * hasard.gauss()));
        s.co2.append(grille(5.0 * (1.0 - gaz) + bruit * hasard.gauss()));
        s.flux.append(grille(0.5 * amplitude * (2.0 * forme(t) - 1.0) + bruit * hasard.gauss()));
    }
    const double aberrantes[] = {1e308, std::nan(""), -INFINITY, -2e6};
    for (int a = 0; a < c.aberrantes; ++a)
        s.o2[int(s.o2.size() * (a + 0.5) / c.aberrantes)] = aberrantes[a % 4];
    const int coupes = int(std::lround(c.coupe * c.fe));
    if (coupes > 0) {
        s.co2.remove(0, coupes);
        s.o2.remove(0, coupes);
        s.flux.remove(0, coupes);
    }
    for (double debut : debuts)
        if (debut >= c.coupe)
            s.debuts.append(debut - c.coupe);
    return s;
}

#include "Cycle.h"

#include <algorithm>
#include <vector>

// Detected breaths against the true ones. A true breath is found when a
// detected breath starts and ends near its boundaries (a quarter of its
// duration, 0.3 s at most). The last true breath, which no inspiration ends,
// is not counted.
struct Comparaison
{
    int presents = 0;
    int trouves = 0;
    int justes = 0;
    QVector<double> erreursDuree;     // seconds, absolute
    QVector<double> erreursFrequence; // breaths per minute, absolute
    QVector<double> erreursDebut;     // seconds, signed

    double sensibilite() const { return presents ? double(justes) / presents : 1.0; }
    double valeurPredictive() const { return trouves ? double(justes) / trouves : 1.0; }
};

inline Comparaison comparer(const QVector<double>& debuts, const std::vector<Cycle>& cycles)
{
    Comparaison r;
    r.presents = int(debuts.size()) - 2;
    r.trouves = int(cycles.size());
    int suivant = 0;
    for (int j = 0; j < r.presents; ++j) {
        const double debut = debuts[j];
        const double fin = debuts[j + 1];
        const double tolerance = std::min(0.3, 0.25 * (fin - debut));
        while (suivant < int(cycles.size()) && cycles[suivant].debut < debut - tolerance)
            ++suivant;
        if (suivant >= int(cycles.size()))
            break;
        const Cycle& c = cycles[suivant];
        if (std::abs(c.debut - debut) >= tolerance ||
            std::abs(c.debut + c.duree - fin) >= tolerance)
            continue;
        ++r.justes;
        ++suivant;
        r.erreursDuree.append(std::abs(c.duree - (fin - debut)));
        r.erreursFrequence.append(std::abs(c.frequence - 60.0 / (fin - debut)));
        r.erreursDebut.append(c.debut - debut);
    }
    return r;
}

inline double centile(QVector<double> v, double p)
{
    if (v.isEmpty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(int(v.size()) - 1, int(p * v.size()))];
}
