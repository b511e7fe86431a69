// The breath table's model and the trend decimation, without a window.
#include "ModeleCycles.h"
#include "GraphiqueTendance.h"

#include <QtTest>

namespace {

Cycle cycle(double debut, double duree, bool flux = false)
{
    Cycle c;
    c.debut = debut;
    c.duree = duree;
    c.frequence = 60.0 / duree;
    c.o2.max = 60.0 + debut / 1000.0;
    c.o2.min = 48.0;
    c.fluxPresent = flux;
    c.volumeInspire = flux ? 1.0 + debut : 0.0;
    return c;
}

std::vector<Cycle> suite(int nombre, double duree = 3.0)
{
    std::vector<Cycle> cycles;
    for (int i = 0; i < nombre; ++i)
        cycles.push_back(cycle(i * duree, duree));
    return cycles;
}

} // namespace

class ModeleCyclesTest : public QObject
{
    Q_OBJECT

private slots:
    void elapsedTime_data()
    {
        QTest::addColumn<double>("secondes");
        QTest::addColumn<QString>("texte");
        QTest::newRow("start") << 0.0 << "00:00";
        QTest::newRow("not rounded up") << 59.9 << "00:59";
        QTest::newRow("a minute") << 61.0 << "01:01";
        QTest::newRow("last of the first hour") << 3599.5 << "59:59";
        QTest::newRow("an hour") << 3600.0 << "1:00:00";
        QTest::newRow("past a day") << 90061.0 << "25:01:01";
    }

    void elapsedTime()
    {
        QFETCH(double, secondes);
        QFETCH(QString, texte);
        QCOMPARE(ModeleCycles::temps(secondes), texte);
    }

    void statisticsOverTheLastBreaths()
    {
        ModeleCycles modele;
        modele.ajouter({cycle(0, 2.0), cycle(2, 4.0), cycle(6, 3.0, true), cycle(9, 5.0, true)});
        Statistique s = modele.statistique(ModeleCycles::Duree, 3);
        QCOMPARE(s.nombre, 3);
        QCOMPARE(s.moyenne, 4.0);
        QCOMPARE(s.ecartType, 1.0);
        s = modele.statistique(ModeleCycles::Duree, 50);
        QCOMPARE(s.nombre, 4);
        QCOMPARE(s.moyenne, 3.5);
        // Volumes only over the breaths that carried Flux.
        s = modele.statistique(ModeleCycles::VolumeInspire, 8);
        QCOMPARE(s.nombre, 2);
        QCOMPARE(s.moyenne, 8.5);
        s = modele.statistique(ModeleCycles::Duree, 1);
        QCOMPARE(s.ecartType, 0.0);
        QCOMPARE(ModeleCycles().statistique(ModeleCycles::Duree, 8).nombre, 0);

        // Over a stretch (a review's selection): the apneas where there was one.
        std::vector<Cycle> plage = modele.cycles();
        plage[1].apneePrecedente = 12.0;
        plage[3].apneePrecedente = 14.0;
        s = ModeleCycles::statistique(plage.data(), plage.data() + plage.size(),
                                      ModeleCycles::Apnee);
        QCOMPARE(s.nombre, 2);
        QCOMPARE(s.moyenne, 13.0);
        s = ModeleCycles::statistique(plage.data(), plage.data() + plage.size(),
                                      ModeleCycles::VolumeInspire);
        QCOMPARE(s.nombre, 2);
    }

    void oldestLeaveBeyondTheCapacity()
    {
        ModeleCycles modele;
        modele.ajouter(suite(ModeleCycles::capaciteMax - 5, 1.0));
        modele.ajouter(suite(15, 1.0));
        QCOMPARE(modele.rowCount(), ModeleCycles::capaciteMax);
        QCOMPARE(int(modele.cycles().size()), ModeleCycles::capaciteMax);
        QCOMPARE(modele.cycles().front().debut, 10.0);
        QCOMPARE(modele.cycles().back().debut, 14.0);
    }

    void trendKeepsEveryBreathOrItsExtremes_data()
    {
        QTest::addColumn<int>("nombre");
        QTest::addColumn<bool>("coupure"); // the break is a lost line, not an apnea
        QTest::newRow("few: all of them") << 500 << false;
        QTest::newRow("a day: decimated") << 100000 << false;
        QTest::newRow("few, a lost line") << 500 << true;
    }

    void trendKeepsEveryBreathOrItsExtremes()
    {
        QFETCH(int, nombre);
        QFETCH(bool, coupure);
        std::vector<Cycle> cycles = suite(nombre, 0.9);
        const int haut = nombre * 2 / 3;
        const int bas = nombre / 3 + 1;
        cycles[size_t(haut)].frequence = 250.0;
        cycles[size_t(bas)].frequence = 1.0;
        cycles[size_t(haut)].apneePrecedente = coupure ? 0.0 : 15.0;
        cycles[size_t(haut)].apresCoupure = coupure;
        QVector<int> coupures;
        const QVector<QPointF> points = GraphiqueTendance::decimer(
            cycles, ModeleCycles::Frequence, GraphiqueTendance::pointsMax, &coupures);
        QVERIFY(points.size() <= GraphiqueTendance::pointsMax);
        if (nombre <= GraphiqueTendance::pointsMax)
            QCOMPARE(points.size(), nombre);
        for (int i = 1; i < points.size(); ++i)
            QVERIFY(points[i].x() > points[i - 1].x());
        bool hautVu = false;
        bool basVu = false;
        for (const QPointF& p : points) {
            hautVu |= p.y() == 250.0 && std::abs(p.x() - cycles[size_t(haut)].debut / 60.0) < 1e-9;
            basVu |= p.y() == 1.0 && std::abs(p.x() - cycles[size_t(bas)].debut / 60.0) < 1e-9;
        }
        QVERIFY2(hautVu && basVu, "an outlier stays visible");
        QCOMPARE(points.last().x(), cycles.back().debut / 60.0);
        // The curve breaks once, before the breath that ended the apnea (or
        // before its group), and nowhere else.
        const double apres = cycles[size_t(haut)].debut / 60.0;
        QCOMPARE(coupures.size(), 1);
        QVERIFY(points[coupures[0] - 1].x() < apres && points[coupures[0]].x() <= apres);
        if (nombre <= GraphiqueTendance::pointsMax)
            QCOMPARE(coupures[0], haut);
    }

    void tableSaysWhatEachValueIs_data()
    {
        QTest::addColumn<int>("colonne");
        QTest::addColumn<double>("valeur");
        QTest::addColumn<QString>("entete");
        QTest::addColumn<QString>("texte");
        QTest::addColumn<bool>("marque");
        QTest::newRow("inspired O2") << int(ModeleCycles::O2Inspire) << 62.0 << "O2 inspiré (max)"
                                     << "62.00" << false;
        QTest::newRow("end-tidal CO2")
            << int(ModeleCycles::CO2Max) << 38.5 << "CO2 télé-expiratoire (max)"
            << "38.50" << false;
        QTest::newRow("inspired CO2") << int(ModeleCycles::CO2Min) << 0.4 << "CO2 inspiré (min)"
                                      << "0.40" << false;
        QTest::newRow("inspired CO2 below zero: noise")
            << int(ModeleCycles::CO2Min) << -0.3 << "CO2 inspiré (min)"
            << "< 0" << false;
        QTest::newRow("after an apnea") << int(ModeleCycles::Apnee) << 14.26 << "Apnée (s)"
                                        << "14.3" << true;
        QTest::newRow("no apnea before") << int(ModeleCycles::Apnee) << 0.0 << "Apnée (s)"
                                         << "" << false;
    }

    void tableSaysWhatEachValueIs()
    {
        QFETCH(int, colonne);
        QFETCH(double, valeur);
        QFETCH(QString, entete);
        QFETCH(QString, texte);
        QFETCH(bool, marque);
        Cycle c = cycle(0.0, 3.0);
        c.o2 = {valeur, valeur, valeur};
        c.co2 = {valeur, valeur, valeur};
        c.apneePrecedente = colonne == ModeleCycles::Apnee ? valeur : 0.0;
        ModeleCycles modele;
        modele.ajouter({c});
        QCOMPARE(modele.headerData(colonne, Qt::Horizontal)
                     .toString()
                     .replace("-\n", "-")
                     .replace('\n', ' '),
                 entete);
        QCOMPARE(modele.index(0, colonne).data().toString(), texte);
        // The whole row of a breath that ended an apnea is marked.
        for (int autre = 0; autre < ModeleCycles::NombreColonnes; ++autre)
            QCOMPARE(modele.index(0, autre).data(Qt::BackgroundRole).isValid(), marque);
    }
};

QTEST_MAIN(ModeleCyclesTest)
#include "ModeleCyclesTest.moc"
