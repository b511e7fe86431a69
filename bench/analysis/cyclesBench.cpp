// Accuracy and cost of the breath detector on a synthetic suite with known
// breath boundaries: regular breathing from 4 to 60 breaths/min, irregular
// breathing, fivefold changes of depth, sighs, drift and a sudden change of
// rate, at four noise levels and at 10, 100 and 1000 Hz. Prints, per shape and
// over the whole suite, the breaths found among those present (sensitivity),
// the true ones among those found (positive predictive value), the error on
// the breath durations and on the rate, and the time per sample. The same
// 100 Hz recordings also go through the FFT period estimator, once a second
// as the station runs it, and its rate error is printed beside.
//
//   cyclesBench

#include "SignalRespiratoire.h"
#include "calculPeriode.h"
#include "detecteurCycles.h"

#include <QCoreApplication>
#include <QObject>
#include <chrono>
#include <cstdio>

namespace {

struct Forme
{
    const char* nom;
    QVector<Souffle> (*souffles)(Hasard&);
    double derive;
};

constexpr int nbSouffles = 400;

QVector<Souffle> reguliers(Hasard&)
{
    return QVector<Souffle>(nbSouffles, Souffle{4.0, 5.0, 0.4});
}

QVector<Souffle> rythmes(Hasard&)
{
    // 1 to 15 s breaths, 40 of each rate in turn.
    const double durees[] = {1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0, 15.0};
    QVector<Souffle> s;
    for (double d : durees)
        s += QVector<Souffle>(nbSouffles / 10, Souffle{d, 5.0, 0.4});
    return s;
}

QVector<Souffle> irreguliers(Hasard& h)
{
    QVector<Souffle> s;
    for (int i = 0; i < nbSouffles; ++i)
        s.append({2.0 + 6.0 * h.uniforme(), 4.0 + 2.0 * h.uniforme(), 0.3 + 0.2 * h.uniforme()});
    return s;
}

QVector<Souffle> profondeurs(Hasard&)
{
    QVector<Souffle> s;
    for (int i = 0; i < nbSouffles; ++i)
        s.append({4.0, (i / 10) % 2 ? 1.2 : 6.0, 0.4});
    return s;
}

QVector<Souffle> soupirs(Hasard& h)
{
    QVector<Souffle> s = reguliers(h);
    for (int i = 10; i < s.size(); i += 20)
        s[i] = {6.0, 15.0, 0.45};
    return s;
}

QVector<Souffle> changement(Hasard&)
{
    QVector<Souffle> s;
    for (int i = 0; i < nbSouffles; ++i)
        s.append({(i / 50) % 2 ? 2.0 : 4.0, 5.0, 0.4});
    return s;
}

struct Mesure
{
    Comparaison comparaison;
    double nsParEchantillon = 0.0;
    qint64 echantillons = 0;
    QVector<double> erreursEstimateur; // breaths per minute
};

// The estimator, fed like the station feeds it and started once a second.
QVector<double> erreursEstimateur(const SignalRespiratoire& s, double fe)
{
    calculPeriode estimateur;
    estimateur.setFe(fe);
    double periode = 0.0;
    QObject::connect(&estimateur, &calculPeriode::newPeriode, [&](double p) { periode = p; });
    QVector<double> erreurs;
    int breath = 0;
    for (int i = 0; i < s.o2.size(); ++i) {
        estimateur.addData(s.o2[i]);
        if (i % int(fe) != 0 || i < 1024)
            continue;
        periode = 0.0;
        estimateur.start();
        estimateur.wait();
        QCoreApplication::sendPostedEvents();
        const double t = i / fe;
        while (breath + 2 < s.debuts.size() && s.debuts[breath + 1] <= t)
            ++breath;
        if (periode > 0.0 && t < s.debuts.last())
            erreurs.append(
                std::abs(60.0 / periode - 60.0 / (s.debuts[breath + 1] - s.debuts[breath])));
    }
    return erreurs;
}

Mesure mesurer(const SignalRespiratoire& s, double fe, bool avecEstimateur)
{
    detecteurCycles detecteur;
    detecteur.setFe(fe);
    std::vector<Cycle> cycles;
    cycles.reserve(nbSouffles + 10);
    QObject::connect(&detecteur, &detecteurCycles::nouveauCycle,
                     [&cycles](const Cycle& c) { cycles.push_back(c); });
    const auto debut = std::chrono::steady_clock::now();
    for (int i = 0; i < s.o2.size(); ++i)
        detecteur.ajouterEchantillon(s.co2[i], s.o2[i], s.flux[i]);
    const auto fin = std::chrono::steady_clock::now();
    Mesure m;
    m.comparaison = comparer(s.debuts, cycles);
    m.echantillons = s.o2.size();
    m.nsParEchantillon =
        std::chrono::duration<double, std::nano>(fin - debut).count() / double(s.o2.size());
    if (avecEstimateur)
        m.erreursEstimateur = erreursEstimateur(s, fe);
    return m;
}

double part(const QVector<double>& v, double borne)
{
    if (v.isEmpty())
        return 0.0;
    return 100.0 *
           double(std::count_if(v.begin(), v.end(), [borne](double e) { return e <= borne; })) /
           v.size();
}

double moyenne(const QVector<double>& v)
{
    double s = 0.0;
    for (double e : v)
        s += e;
    return v.isEmpty() ? 0.0 : s / v.size();
}

void imprimer(const char* nom, const Comparaison& c, double ns, const QVector<double>& estimateur)
{
    std::printf("%-34s %6d %7.2f %7.2f %8.1f %8.1f %7.1f %7.1f %6.0f", nom, c.presents,
                100.0 * c.sensibilite(), 100.0 * c.valeurPredictive(),
                1000.0 * centile(c.erreursDuree, 0.5), 1000.0 * centile(c.erreursDuree, 0.95),
                part(c.erreursFrequence, 0.5), part(c.erreursFrequence, 1.0), ns);
    if (!estimateur.isEmpty())
        std::printf("   %5.2f %6.1f", moyenne(estimateur), part(estimateur, 1.0));
    std::printf("\n");
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const Forme formes[] = {
        {"regular 15/min", reguliers, 0.0},
        {"rates 4 to 60/min", rythmes, 0.0},
        {"irregular 2-8 s", irreguliers, 0.0},
        {"depth x5 changes", profondeurs, 0.0},
        {"sighs", soupirs, 0.0},
        {"drift", reguliers, 0.02},
        {"rate change 4 s <-> 2 s", changement, 0.0},
    };
    const double bruits[] = {0.0, 0.05, 0.15, 0.3};

    std::printf("%-34s %6s %7s %7s %8s %8s %7s %7s %6s   %s\n", "", "breaths", "sens%", "ppv%",
                "dur p50", "dur p95", "<=0.5", "<=1", "ns/smp", "FFT estimator");
    std::printf("%-34s %6s %7s %7s %8s %8s %7s %7s %6s   %5s %6s\n", "", "", "", "", "ms", "ms",
                "/min %", "/min %", "", "err", "<=1 %");
    Comparaison total;
    QVector<double> totalEstimateur;
    double nsTotal = 0.0;
    qint64 echantillonsTotal = 0;
    std::uint64_t graine = 1;
    auto cumuler = [&](const Mesure& m) {
        total.presents += m.comparaison.presents;
        total.trouves += m.comparaison.trouves;
        total.justes += m.comparaison.justes;
        total.erreursDuree += m.comparaison.erreursDuree;
        total.erreursFrequence += m.comparaison.erreursFrequence;
        totalEstimateur += m.erreursEstimateur;
        nsTotal += m.nsParEchantillon * m.echantillons;
        echantillonsTotal += m.echantillons;
    };

    for (const Forme& forme : formes) {
        for (double bruit : bruits) {
            Hasard hasard(graine);
            Conditions c;
            c.bruit = bruit;
            c.derive = forme.derive;
            c.graine = graine++;
            const SignalRespiratoire s = genererSignal(forme.souffles(hasard), c);
            const Mesure m = mesurer(s, c.fe, true);
            const QByteArray nom = QByteArray(forme.nom) + ", noise " + QByteArray::number(bruit);
            imprimer(nom.constData(), m.comparaison, m.nsParEchantillon, m.erreursEstimateur);
            cumuler(m);
        }
    }
    for (double fe : {10.0, 1000.0}) {
        for (const Forme& forme : {formes[0], formes[2]}) {
            Hasard hasard(graine);
            Conditions c;
            c.fe = fe;
            c.bruit = 0.15;
            c.pause = 3.0;
            c.graine = graine++;
            const SignalRespiratoire s = genererSignal(forme.souffles(hasard), c);
            const Mesure m = mesurer(s, fe, false);
            const QByteArray nom =
                QByteArray(forme.nom) + ", noise 0.15, " + QByteArray::number(fe) + " Hz";
            imprimer(nom.constData(), m.comparaison, m.nsParEchantillon, {});
            cumuler(m);
        }
    }
    std::printf("\n");
    imprimer("whole suite", total, nsTotal / double(echantillonsTotal), totalEstimateur);
    std::printf("(swing 5 on the O2 scale; noise is the standard deviation of white noise;\n"
                " FFT estimator: mean rate error in /min and share within 1 /min, 100 Hz rows)\n");
    return 0;
}
