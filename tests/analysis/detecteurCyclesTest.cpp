#include "detecteurCycles.h"
#include "SignalRespiratoire.h"

#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(QVector<Souffle>)
Q_DECLARE_METATYPE(Conditions)

namespace {

QVector<Souffle> reguliers(int nombre, double duree, double amplitude = 5.0)
{
    return QVector<Souffle>(nombre, Souffle{duree, amplitude, 0.4});
}

struct Resultat
{
    std::vector<Cycle> cycles;
    QVector<bool> apnees;
};

Resultat analyser(const SignalRespiratoire& s, double fe, double delaiApnee = 20.0,
                  double decalage = 0.0)
{
    detecteurCycles detecteur;
    detecteur.setFe(fe);
    detecteur.setDelaiApnee(delaiApnee);
    detecteur.setDecalages(decalage, decalage);
    Resultat r;
    QObject::connect(&detecteur, &detecteurCycles::nouveauCycle,
                     [&r](const Cycle& c) { r.cycles.push_back(c); });
    QObject::connect(&detecteur, &detecteurCycles::apnee, [&r](bool a) { r.apnees.append(a); });
    for (int i = 0; i < s.o2.size(); ++i)
        detecteur.ajouterEchantillon(s.co2[i], s.o2[i], s.flux[i]);
    return r;
}

} // namespace

class detecteurCyclesTest : public QObject
{
    Q_OBJECT

private slots:
    void everyBreathFoundWithItsDuration_data();
    void everyBreathFoundWithItsDuration();
    void shallowHumpIsPartOfABreath_data();
    void shallowHumpIsPartOfABreath();
    void gasValuesAndVolumesPerBreath_data();
    void gasValuesAndVolumesPerBreath();
    void flatSignalIsApneaAfterTheDelay_data();
    void flatSignalIsApneaAfterTheDelay();
    void breathingResumesAfterApnea();
    void breathIsToldSoonAfterItEnds();
    void resetForgetsTheBreathInProgress();
    void shapeHoldsTheBreathsSamples_data();
    void shapeHoldsTheBreathsSamples();
};

void detecteurCyclesTest::everyBreathFoundWithItsDuration_data()
{
    QTest::addColumn<QVector<Souffle>>("souffles");
    QTest::addColumn<Conditions>("conditions");
    QTest::addColumn<double>("toleranceP95"); // seconds, on the breath durations

    Conditions c;
    QTest::newRow("steady 4 s") << reguliers(30, 4.0) << c << 0.05;
    Conditions bruit = c;
    bruit.bruit = 0.3;
    QTest::newRow("noise") << reguliers(30, 4.0) << bruit << 0.05;
    Conditions derive = bruit;
    derive.derive = 0.05; // 6 units over the recording, beside a swing of 5
    QTest::newRow("baseline drift") << reguliers(30, 4.0) << derive << 0.05;

    QVector<Souffle> amplitudes;
    for (int i = 0; i < 30; ++i)
        amplitudes.append({4.0, (i / 5) % 2 ? 1.0 : 5.0, 0.4});
    QTest::newRow("depth changes of 5x") << amplitudes << bruit << 0.25;

    QTest::newRow("rate change 4 s to 2 s")
        << reguliers(15, 4.0) + reguliers(15, 2.0) << bruit << 0.05;

    QVector<Souffle> irreguliers;
    Hasard hasard(7);
    for (int i = 0; i < 40; ++i)
        irreguliers.append({2.0 + 6.0 * hasard.uniforme(), 5.0, 0.3 + 0.2 * hasard.uniforme()});
    QTest::newRow("irregular 2 to 8 s") << irreguliers << bruit << 0.05;

    QVector<Souffle> soupir = reguliers(20, 4.0);
    soupir[10] = {6.0, 15.0, 0.45};
    QTest::newRow("sigh") << soupir << bruit << 0.05;
    // O2 then falls far below its level: the next breath's rise starts from
    // there, and the falls after it come back to the level only. The onsets
    // on either side of the undershoot move with it.
    soupir[10].sousNiveau = 6.0;
    QTest::newRow("sigh, then an undershoot") << soupir << bruit << 0.1;

    Conditions lent = bruit;
    lent.fe = 10.0;
    lent.pause = 3.0; // the noise is measured over 20 samples before any breath counts
    QTest::newRow("10 Hz") << reguliers(20, 4.0) << lent << 0.05;
    Conditions rapide = bruit;
    rapide.fe = 1000.0;
    QTest::newRow("1000 Hz") << reguliers(20, 3.0) << rapide << 0.05;
    rapide.fe = 4500.0; // averaged by groups of 5 down to 900 Hz
    QTest::newRow("4500 Hz") << reguliers(10, 3.0) << rapide << 0.05;
    QTest::newRow("1 s breaths (60/min)") << reguliers(60, 1.0) << bruit << 0.05;
    QTest::newRow("15 s breaths (4/min)") << reguliers(10, 15.0) << bruit << 0.05;

    // A still instrument first (identical values), then breathing on the
    // instrument's grid: the noise measure must not stay at zero.
    Conditions immobile = c;
    immobile.bruit = 0.02;
    immobile.quantum = 250.0 / 65536.0;
    immobile.pause = immobile.immobile = 5.0;
    QTest::newRow("still start, then breathing") << reguliers(30, 4.0) << immobile << 0.05;

    // A cosine has no edge: where its rise starts depends on the noise, so the
    // noise is low enough for the onset to stay near the trough.
    Conditions sinus = c;
    sinus.bruit = 0.05;
    sinus.sinus = true;
    QTest::newRow("cosine 80/min, 100 Hz") << reguliers(80, 0.75) << sinus << 0.05;
    QTest::newRow("cosine 150/min, 100 Hz") << reguliers(150, 0.4) << sinus << 0.05;
    sinus.fe = 1000.0;
    QTest::newRow("cosine 120/min, 1000 Hz") << reguliers(120, 0.5) << sinus << 0.05;
    sinus.fe = 10.0;
    sinus.pause = 3.0;
    QTest::newRow("cosine 30/min, 10 Hz") << reguliers(40, 2.0) << sinus << 0.1;
    QTest::newRow("cosine 60/min, 10 Hz") << reguliers(60, 1.0) << sinus << 0.1;
    sinus.fe = 20.0;
    QTest::newRow("cosine 40/min, 20 Hz") << reguliers(40, 1.5) << sinus << 0.1;

    Conditions aberrantes = bruit;
    aberrantes.aberrantes = 4; // 1e308, NaN, -inf, -2e6
    QTest::newRow("values no channel can take") << reguliers(30, 4.0) << aberrantes << 0.05;

    // The breath under way when the recording starts is no breath.
    Conditions coupe = bruit;
    coupe.coupe = coupe.pause + 0.12;
    QTest::newRow("recording starts mid-rise") << reguliers(20, 3.0) << coupe << 0.05;
    coupe.coupe = coupe.pause + 0.8;
    QTest::newRow("recording starts in the inspiration") << reguliers(20, 3.0) << coupe << 0.05;
}

void detecteurCyclesTest::everyBreathFoundWithItsDuration()
{
    QFETCH(QVector<Souffle>, souffles);
    QFETCH(Conditions, conditions);
    QFETCH(double, toleranceP95);
    const SignalRespiratoire s = genererSignal(souffles, conditions);
    const Comparaison r = comparer(s.debuts, analyser(s, conditions.fe).cycles);
    QCOMPARE(r.justes, r.presents);
    QCOMPARE(r.trouves, r.presents);
    // Within 50 ms (or a little over half a sample) for 95 % of the breaths,
    // within 0.25 s for all: a breath right after a fivefold change of depth
    // has its foot measured by the depth of the one before.
    const double p95 = centile(r.erreursDuree, 0.95);
    const double pire = centile(r.erreursDuree, 1.0);
    QVERIFY2(p95 <= std::max(toleranceP95, 0.6 / conditions.fe), qPrintable(QString::number(p95)));
    QVERIFY2(pire <= 0.25, qPrintable(QString::number(pire)));
}

void detecteurCyclesTest::shallowHumpIsPartOfABreath_data()
{
    QTest::addColumn<bool>("avant");
    QTest::addColumn<double>("profondeur"); // share of the breath's depth
    QTest::addColumn<double>("decalage");   // where the breath with the hump starts, seconds
    QTest::newRow("right after the inspiration") << false << 0.4 << 0.0;
    QTest::newRow("right before the next inspiration") << true << 0.4 << -0.8;
    QTest::newRow("a spike as deep as a breath, right before the next") << true << 1.0 << -0.8;
}

// A hump in every third breath is no breath of its own.
void detecteurCyclesTest::shallowHumpIsPartOfABreath()
{
    QFETCH(bool, avant);
    QFETCH(double, profondeur);
    QFETCH(double, decalage);
    Conditions c;
    c.bruit = 0.3;
    c.bosse = profondeur;
    c.bosseAvant = avant;
    const SignalRespiratoire s = genererSignal(reguliers(31, 5.0), c);
    const std::vector<Cycle> cycles = analyser(s, c.fe).cycles;
    // The last breath is under way.
    QCOMPARE(int(cycles.size()), s.debuts.size() - 2);
    for (int i = 0; i < int(cycles.size()); ++i) {
        const double attendu = s.debuts[i] + (avant && i % 3 == 0 && i > 0 ? decalage : 0.0);
        QVERIFY2(std::abs(cycles[i].debut - attendu) < 0.15,
                 qPrintable(QString("%1: %2 s").arg(i).arg(cycles[i].debut)));
    }
}

void detecteurCyclesTest::gasValuesAndVolumesPerBreath_data()
{
    QTest::addColumn<double>("retard"); // seconds the gases arrive after the flow
    QTest::addColumn<bool>("inverse");  // flow negative in inspiration
    QTest::newRow("channels together") << 0.0 << false;
    QTest::newRow("gases 0.5 s behind the flow, delays set") << 0.5 << false;
    QTest::newRow("gases 1.2 s behind, inspiratory flow negative") << 1.2 << true;
}

void detecteurCyclesTest::gasValuesAndVolumesPerBreath()
{
    QFETCH(double, retard);
    QFETCH(bool, inverse);
    Conditions c;
    c.retardGaz = retard;
    SignalRespiratoire s = genererSignal(reguliers(6, 4.0, 5.0), c);
    if (inverse)
        for (double& v : s.flux)
            v = -v;
    // The volumes the flow carries: its integral over each sign, one breath.
    double inspire = 0.0, expire = 0.0;
    for (int i = int(s.debuts[2] * c.fe); i < int(s.debuts[3] * c.fe); ++i)
        (s.flux[i] * (inverse ? -1 : 1) > 0 ? inspire : expire) += s.flux[i] / c.fe;
    const std::vector<Cycle> cycles = analyser(s, c.fe, 20.0, retard).cycles;
    QCOMPARE(int(cycles.size()), 5);
    for (const Cycle& cycle : cycles) {
        // Times are the flow's: the breaths start where the flow says.
        QVERIFY2(std::abs(cycle.debut - s.debuts[&cycle - &cycles[0]]) < 0.05,
                 qPrintable(QString::number(cycle.debut)));
        QVERIFY(std::abs(cycle.o2.max - 21.0) < 1e-9);
        QVERIFY(std::abs(cycle.o2.min - 16.0) < 0.05);
        QVERIFY(std::abs(cycle.co2.max - 5.0) < 0.05);
        QVERIFY(std::abs(cycle.co2.min) < 1e-9);
        QVERIFY(std::abs(cycle.frequence - 15.0) < 0.1);
        QVERIFY(std::abs(cycle.dureeInspiration - 1.6) < 0.1);
        QVERIFY(std::abs(cycle.dureeExpiration - 2.4) < 0.1);
        QVERIFY(cycle.fluxPresent);
        QVERIFY2(std::abs(cycle.volumeInspire - inspire) < 0.02 * std::abs(inspire),
                 qPrintable(QString("%1 instead of %2").arg(cycle.volumeInspire).arg(inspire)));
        QVERIFY2(std::abs(cycle.volumeExpire - expire) < 0.02 * std::abs(expire),
                 qPrintable(QString("%1 instead of %2").arg(cycle.volumeExpire).arg(expire)));
        QVERIFY(cycle.o2.moyenne > 16.0 && cycle.o2.moyenne < 21.0);
    }
    if (retard > 0.0)
        return;

    // A live capture has no Flux: no volumes.
    SignalRespiratoire sansFlux = s;
    sansFlux.flux.fill(0.0);
    for (const Cycle& cycle : analyser(sansFlux, c.fe).cycles)
        QVERIFY(!cycle.fluxPresent && cycle.volumeInspire == 0.0);
}

void detecteurCyclesTest::flatSignalIsApneaAfterTheDelay_data()
{
    QTest::addColumn<QByteArray>("perturbation");
    QTest::newRow("flat") << QByteArray();
    QTest::newRow("noisy plateau") << QByteArray("bruit");
    QTest::newRow("single-sample spikes") << QByteArray("pics");
    QTest::newRow("replay loop zeros") << QByteArray("zeros");
    QTest::newRow("breathing sampled too slowly for any breath") << QByteArray("lent");
    QTest::newRow("one-step flicker") << QByteArray("scintillement");
    QTest::newRow("still, then one-step flicker") << QByteArray("immobile");
}

void detecteurCyclesTest::flatSignalIsApneaAfterTheDelay()
{
    QFETCH(QByteArray, perturbation);
    Conditions c;
    c.pause = 30.0;
    c.bruit = perturbation == "bruit" ? 0.3 : 0.0;
    SignalRespiratoire s = genererSignal({}, c);
    for (int i = 500; i < s.o2.size(); i += 700) {
        if (perturbation == "pics")
            s.o2[i] += (i / 700) % 2 ? 20.0 : -20.0;
        else if (perturbation == "zeros")
            s.co2[i] = s.o2[i] = s.flux[i] = 0.0;
    }
    // Values one step of the instrument's grid apart, at random.
    Hasard hasard(3);
    const double pas = 250.0 / 65536.0;
    const int debutScintillement = perturbation == "immobile" ? 1000 : 0;
    if (perturbation == "scintillement" || perturbation == "immobile")
        for (int i = debutScintillement; i < s.o2.size(); ++i)
            s.o2[i] = 16.0 + (hasard.uniforme() < 0.5 ? pas : 0.0);
    if (perturbation == "lent") { // 0.2 Hz: no apnea can be told either
        c.fe = 0.2;
        s = genererSignal(reguliers(30, 4.0), c);
        QCOMPARE(detecteurCycles::frequenceMaxTrouvable(c.fe), 0.0);
        QVERIFY(analyser(s, c.fe, 15.0).apnees.isEmpty());
        return;
    }
    const Resultat r = analyser(s, c.fe, 15.0);
    QCOMPARE(int(r.cycles.size()), 0);
    QCOMPARE(r.apnees, QVector<bool>{true});
}

void detecteurCyclesTest::breathingResumesAfterApnea()
{
    Conditions c;
    c.bruit = 0.1;
    const QVector<Souffle> souffles =
        reguliers(5, 4.0) + QVector<Souffle>{{15.0, 5.0, 0.05}} + reguliers(5, 4.0);
    const SignalRespiratoire s = genererSignal(souffles, c);
    const Resultat r = analyser(s, c.fe, 10.0);
    QCOMPARE(r.apnees, (QVector<bool>{true, false}));
    // The pause is no breath; the breaths around it are.
    QCOMPARE(int(r.cycles.size()), 9);
    for (const Cycle& cycle : r.cycles)
        QVERIFY(cycle.duree < 5.0);
}

void detecteurCyclesTest::breathIsToldSoonAfterItEnds()
{
    Conditions c;
    c.bruit = 0.3;
    const SignalRespiratoire s = genererSignal(reguliers(10, 4.0), c);
    detecteurCycles detecteur;
    QVector<double> retards;
    int i = 0;
    QObject::connect(&detecteur, &detecteurCycles::nouveauCycle, [&](const Cycle& cycle) {
        retards.append(i / c.fe - (cycle.debut + cycle.duree));
    });
    for (; i < s.o2.size(); ++i)
        detecteur.ajouterEchantillon(s.co2[i], s.o2[i], s.flux[i]);
    // Told once the next rise is known whole: within half a breath.
    QCOMPARE(retards.size(), 9);
    QVERIFY2(centile(retards, 1.0) <= 2.0, qPrintable(QString::number(centile(retards, 1.0))));
}

void detecteurCyclesTest::resetForgetsTheBreathInProgress()
{
    Conditions c;
    const SignalRespiratoire s = genererSignal(reguliers(10, 4.0), c);
    detecteurCycles detecteur;
    QSignalSpy cycles(&detecteur, &detecteurCycles::nouveauCycle);
    // 10 s: one breath told, the second ended by a rise not yet known whole.
    for (int i = 0; i < 1000; ++i)
        detecteur.ajouterEchantillon(s.co2[i], s.o2[i], s.flux[i]);
    QCOMPARE(cycles.size(), 1);
    QVERIFY2(std::abs(detecteur.debutEnCours() - 9.0) < 0.1,
             qPrintable(QString::number(detecteur.debutEnCours())));
    detecteur.reinitialiser();
    QCOMPARE(detecteur.debutEnCours(), -1.0);
    for (int i = 1000; i < s.o2.size(); ++i)
        detecteur.ajouterEchantillon(s.co2[i], s.o2[i], s.flux[i]);
    // Time starts again at the reset, and the breath cut by it is not told.
    QCOMPARE(cycles.size(), 1 + 6);
    const Cycle premier = qvariant_cast<Cycle>(cycles.at(1).at(0));
    QVERIFY2(std::abs(premier.debut - (13.0 - 10.0)) < 0.1,
             qPrintable(QString::number(premier.debut)));
}

QTEST_GUILESS_MAIN(detecteurCyclesTest)
#include "detecteurCyclesTest.moc"

void detecteurCyclesTest::shapeHoldsTheBreathsSamples_data()
{
    QTest::addColumn<double>("fe");
    QTest::addColumn<double>("duree");
    QTest::newRow("100 Hz, every sample") << 100.0 << 4.0;
    QTest::newRow("1000 Hz, 8 s: groups of 8") << 1000.0 << 8.0;
}

void detecteurCyclesTest::shapeHoldsTheBreathsSamples()
{
    QFETCH(double, fe);
    QFETCH(double, duree);
    Conditions c;
    c.fe = fe;
    const SignalRespiratoire s = genererSignal(reguliers(4, duree), c);
    detecteurCycles detecteur;
    detecteur.setFe(fe);
    std::vector<std::pair<Cycle, FormeCycle>> formes;
    QObject::connect(&detecteur, &detecteurCycles::formeCycle,
                     [&formes](const Cycle& cycle, const FormeCycle& forme) {
                         formes.emplace_back(cycle, forme);
                     });
    for (int i = 0; i < s.o2.size() / 2; ++i)
        detecteur.ajouterEchantillon(s.co2[i], s.o2[i], s.flux[i]);
    QVERIFY2(formes.empty(), "no shapes unless asked for");
    detecteur.setFormesDemandees(true);
    for (int i = s.o2.size() / 2; i < s.o2.size(); ++i)
        detecteur.ajouterEchantillon(s.co2[i], s.o2[i], s.flux[i]);
    QVERIFY(!formes.empty());

    for (const auto& [cycle, forme] : formes) {
        QVERIFY(forme.taille() <= FormeCycle::pointsMax);
        QCOMPARE(forme.co2.size(), forme.taille());
        QCOMPARE(forme.flux.size(), forme.taille());
        // The points span the breath, from its onset to the next.
        QVERIFY(forme.decalage >= 0.0 && forme.decalage < forme.pas);
        QVERIFY2(std::abs(forme.fin() - cycle.duree) <= forme.pas,
                 qPrintable(QString::number(forme.fin())));
        // Each point is the signal where it is drawn, to within the change over one group.
        for (int p = 0; p < forme.taille(); p += 37) {
            const int i = int(std::lround((cycle.debut + forme.decalage + p * forme.pas) * fe));
            const double pente = std::abs(s.o2[i + 1] - s.o2[i - 1]) * forme.pas * fe;
            QVERIFY2(
                std::abs(forme.o2[p] - s.o2[i]) <= pente + 1e-4,
                qPrintable(
                    QString("point %1: %2 instead of %3").arg(p).arg(forme.o2[p]).arg(s.o2[i])));
            QVERIFY(std::abs(forme.co2[p] - s.co2[i]) <= pente + 1e-4);
        }
    }
}
