// The clock's watch over a live acquisition, with short delays: silence told
// after its threshold and withdrawn when samples come back, an apnea only once
// no breath has come for the delay while no sample comes.
#include "VeilleDonnees.h"

#include <QSignalSpy>
#include <QtTest>

class VeilleDonneesTest : public QObject
{
    Q_OBJECT

private slots:
    void silenceAndApneaRunOnTheClock_data()
    {
        QTest::addColumn<bool>("echantillons"); // samples keep coming
        QTest::addColumn<bool>("cycles");       // breaths keep coming
        QTest::addColumn<bool>("silence");
        QTest::addColumn<bool>("apnee");
        QTest::newRow("data and breaths") << true << true << false << false;
        QTest::newRow("data, no breath: the detector's apnea") << true << false << false << false;
        QTest::newRow("no data, breaths just before") << false << true << true << false;
        QTest::newRow("silent instrument") << false << false << true << true;
    }

    void silenceAndApneaRunOnTheClock()
    {
        QFETCH(bool, echantillons);
        QFETCH(bool, cycles);
        QFETCH(bool, silence);
        QFETCH(bool, apnee);
        qint64 recus = 0;
        VeilleDonnees veille([&recus] { return recus; });
        veille.setSeuils(400, 20);
        veille.setDelaiApnee(1.2);
        QSignalSpy silences(&veille, &VeilleDonnees::silence);
        QSignalSpy apnees(&veille, &VeilleDonnees::apnee);
        veille.commencer();
        QElapsedTimer duree;
        duree.start();
        while (duree.elapsed() < 1800) {
            if (echantillons)
                ++recus;
            if (cycles)
                veille.cycleRecu();
            QTest::qWait(50);
        }
        QCOMPARE(!silences.isEmpty() && silences.last().at(0).toInt() > 0, silence);
        QCOMPARE(!apnees.isEmpty() && apnees.last().at(0).toBool(), apnee);

        // Samples again: the silence and the clock's apnea are withdrawn.
        ++recus;
        QTest::qWait(100);
        if (silence)
            QCOMPARE(silences.last().at(0).toInt(), 0);
        if (apnee)
            QCOMPARE(apnees.last().at(0).toBool(), false);
        // Stopped, nothing more is told.
        veille.arreter();
        const int avant = silences.count() + apnees.count();
        QTest::qWait(600);
        QCOMPARE(silences.count() + apnees.count(), avant);
        QVERIFY(!veille.enCours());
    }
};

QTEST_MAIN(VeilleDonneesTest)
#include "VeilleDonneesTest.moc"
