#include "Tampon.h"

#include <QtTest>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

// Capacity as the buffer shows it: the point count just before the append
// that starts a new sweep.
int capaciteObservee(Tampon& tampon, int limite = 100000)
{
    int precedent = static_cast<int>(tampon.size());
    for (int i = 0; i < limite; ++i) {
        tampon.ajouterValeur(1);
        const int n = static_cast<int>(tampon.size());
        if (n <= precedent) {
            return precedent;
        }
        precedent = n;
    }
    return -1;
}

void remplir(Tampon& tampon, int nombre, double premier = 0)
{
    for (int i = 0; i < nombre; ++i) {
        tampon.ajouterValeur(premier + i);
    }
}

} // namespace

class TamponTest : public QObject
{
    Q_OBJECT

private slots:
    void capaciteEtRectangleSuiventLaFenetre_data();
    void capaciteEtRectangleSuiventLaFenetre();
    void nouveauBalayageApresFenetrePleine();
    void extremesNeFontQueSElargir();
    void sampleHorsDesPointsNeLitPasAuDela();
    void decalageRetardeEtMasque_data();
    void decalageRetardeEtMasque();
    void decalageVideLaFileEnCours();
    void pauseFigeEtRepriseRepartDeZero();
    void pauseNeRetientPasLesValeursRecues();
    void changementDeFenetreGardeOuVideLesPoints_data();
    void changementDeFenetreGardeOuVideLesPoints();
    void periodeNonPositiveIgnoree();
    void ecritureEtLectureConcurrentes();
};

void TamponTest::capaciteEtRectangleSuiventLaFenetre_data()
{
    QTest::addColumn<double>("periode");
    QTest::addColumn<double>("duree");
    QTest::addColumn<int>("capacite");
    QTest::addColumn<double>("largeur");
    QTest::newRow("100 Hz, 10 s") << 0.01 << 10.0 << 1000 << 10.0;
    QTest::newRow("50 Hz, 10 s") << 0.02 << 10.0 << 500 << 10.0;
    QTest::newRow("window not a multiple of the period") << 0.03 << 10.0 << 334 << 10.02;
    QTest::newRow("zero window holds one point") << 0.01 << 0.0 << 1 << 0.01;
    QTest::newRow("negative window holds one point") << 0.01 << -4.0 << 1 << 0.01;
    QTest::newRow("window shorter than a period") << 0.5 << 0.2 << 1 << 0.5;
}

void TamponTest::capaciteEtRectangleSuiventLaFenetre()
{
    QFETCH(double, periode);
    QFETCH(double, duree);
    QFETCH(int, capacite);
    QFETCH(double, largeur);
    Tampon tampon(periode, duree);
    const QRectF rect = tampon.boundingRect();
    QCOMPARE(rect.left(), 0.0);
    QCOMPARE(rect.top(), 0.0);
    QCOMPARE(rect.height(), 0.0);
    QVERIFY2(std::abs(rect.width() - largeur) < 1e-9, qPrintable(QString::number(rect.width())));
    QCOMPARE(capaciteObservee(tampon), capacite);
}

void TamponTest::nouveauBalayageApresFenetrePleine()
{
    Tampon tampon(0.01, 10);
    remplir(tampon, 1000);
    QCOMPARE(tampon.size(), size_t(1000));
    QCOMPARE(tampon.sample(0), QPointF(0, 0));
    double attendu = 0;
    for (size_t i = 0; i < 1000; ++i) {
        // x is a running sum of the period, not i * period.
        QCOMPARE(tampon.sample(i).x(), attendu);
        QCOMPARE(tampon.sample(i).y(), double(i));
        attendu += 0.01;
    }
    QVERIFY(std::abs(tampon.sample(999).x() - 9.99) < 1e-9);

    tampon.ajouterValeur(42);
    QCOMPARE(tampon.size(), size_t(1));
    QCOMPARE(tampon.sample(0), QPointF(0, 42));
    tampon.ajouterValeur(43);
    QCOMPARE(tampon.sample(1), QPointF(0.01, 43));
}

void TamponTest::extremesNeFontQueSElargir()
{
    Tampon tampon(0.01, 10);
    tampon.ajouterValeur(-5);
    tampon.ajouterValeur(3);
    tampon.ajouterValeur(1);
    QCOMPARE(tampon.boundingRect(), QRectF(0, -5, 10, 8));
    tampon.viderDonnees();
    QCOMPARE(tampon.size(), size_t(0));
    QCOMPARE(tampon.boundingRect(), QRectF(0, -5, 10, 8));
    tampon.ajouterValeur(7);
    QCOMPARE(tampon.sample(0), QPointF(0, 7));
    QCOMPARE(tampon.boundingRect(), QRectF(0, -5, 10, 12));
}

void TamponTest::sampleHorsDesPointsNeLitPasAuDela()
{
    Tampon tampon(0.01, 10);
    QCOMPARE(tampon.sample(0), QPointF());
    QCOMPARE(tampon.sample(5000), QPointF());
    remplir(tampon, 3, 10);
    QCOMPARE(tampon.sample(3), QPointF(0.02, 12));
    QCOMPARE(tampon.sample(size_t(-1)), QPointF(0.02, 12));
    // A copy reads the points held only.
    QCOMPARE(tampon.copie(-5, 99), (QVector<QPointF>{{0, 10}, {0.01, 11}, {0.02, 12}}));
    QCOMPARE(tampon.copie(1, 1), QVector<QPointF>{QPointF(0.01, 11)});
    QVERIFY(tampon.copie(3, 10).isEmpty());
}

void TamponTest::decalageRetardeEtMasque_data()
{
    QTest::addColumn<double>("retard");
    QTest::addColumn<double>("masque");
    QTest::addColumn<int>("premierAppelAffiche"); // 1-based call that shows the first point
    QTest::addColumn<int>("decalage");            // calls between arrival and display
    QTest::newRow("delay 0.05 s, lead-in 0.02 s") << 0.05 << 0.02 << 7 << 4;
    QTest::newRow("no delay") << 0.0 << 0.0 << 1 << 0;
    QTest::newRow("delay of one sample") << 0.01 << 0.0 << 1 << 0;
    QTest::newRow("negative values mean none") << -1.0 << -0.5 << 1 << 0;
    QTest::newRow("lead-in only") << 0.0 << 0.03 << 4 << 0;
    QTest::newRow("0.07 s is seven samples") << 0.07 << 0.0 << 7 << 6;
    QTest::newRow("partial sample rounds up") << 0.025 << 0.011 << 5 << 2;
}

void TamponTest::decalageRetardeEtMasque()
{
    QFETCH(double, retard);
    QFETCH(double, masque);
    QFETCH(int, premierAppelAffiche);
    QFETCH(int, decalage);
    Tampon tampon(0.01, 10);
    remplir(tampon, 20, 1000); // earlier values must not leak through
    tampon.setDecalage(retard, masque);
    tampon.viderDonnees();
    for (int appel = 1; appel <= 30; ++appel) {
        tampon.ajouterValeur(appel);
        const size_t attendus = appel < premierAppelAffiche ? 0 : appel - premierAppelAffiche + 1;
        QCOMPARE(tampon.size(), attendus);
        if (attendus > 0) {
            QCOMPARE(tampon.sample(attendus - 1).y(), double(appel - decalage));
        }
    }
    QCOMPARE(tampon.sample(0).x(), 0.0);
}

void TamponTest::decalageVideLaFileEnCours()
{
    Tampon tampon(0.01, 10);
    tampon.setDecalage(0.03, 0);
    remplir(tampon, 2, 100); // two values waiting in the queue
    tampon.setDecalage(0.03, 0);
    remplir(tampon, 3, 1);
    QCOMPARE(tampon.size(), size_t(1));
    QCOMPARE(tampon.sample(0).y(), 1.0);
}

void TamponTest::pauseFigeEtRepriseRepartDeZero()
{
    Tampon tampon(0.01, 10);
    remplir(tampon, 5);
    tampon.setPause(false); // running: nothing changes
    QCOMPARE(tampon.size(), size_t(5));

    tampon.setPause(true);
    tampon.setPause(true);
    remplir(tampon, 50, 100);
    QCOMPARE(tampon.size(), size_t(5));
    QCOMPARE(tampon.sample(4), QPointF(0.04, 4));

    tampon.setPause(false);
    QCOMPARE(tampon.size(), size_t(0));
    tampon.ajouterValeur(9);
    QCOMPARE(tampon.sample(0), QPointF(0, 9));
    tampon.ajouterValeur(10);
    QCOMPARE(tampon.sample(1), QPointF(0.01, 10));
}

// A pause of any length neither stores the values it receives nor shifts the
// channel: after the resume the lag is the configured one, and values that
// arrived during the pause never show.
void TamponTest::pauseNeRetientPasLesValeursRecues()
{
    Tampon tampon(0.01, 10);
    tampon.setDecalage(0.03, 0.02); // lag of two calls, two values masked
    tampon.setPause(true);
    remplir(tampon, 5, -100); // the lead-in is not consumed while paused
    tampon.setPause(false);
    remplir(tampon, 5, 1); // 1 and 2 masked, 3 4 5 queued, 3 shown
    QCOMPARE(tampon.size(), size_t(1));
    QCOMPARE(tampon.sample(0).y(), 3.0);

    tampon.setPause(true);
    for (int i = 0; i < 2000000; ++i) {
        tampon.ajouterValeur(-1);
    }
    tampon.setPause(false);
    remplir(tampon, 4, 6);
    QCOMPARE(tampon.size(), size_t(4));
    const double attendus[] = {4, 5, 6, 7};
    for (size_t i = 0; i < 4; ++i) {
        QCOMPARE(tampon.sample(i).y(), attendus[i]);
    }
}

void TamponTest::changementDeFenetreGardeOuVideLesPoints_data()
{
    QTest::addColumn<double>("depart"); // window at construction
    QTest::addColumn<int>("tenus");
    QTest::addColumn<bool>("parPeriode"); // else setDuree
    QTest::addColumn<double>("valeur");   // new duration or period
    QTest::addColumn<int>("restants");
    QTest::addColumn<int>("capacite");
    QTest::newRow("same window, full: emptied") << 10.0 << 1000 << false << 10.0 << 0 << 1000;
    QTest::newRow("same window, not full: kept") << 10.0 << 999 << false << 10.0 << 999 << 1000;
    QTest::newRow("doubled window: kept") << 10.0 << 1000 << false << 20.0 << 1000 << 2000;
    QTest::newRow("shorter window: emptied") << 10.0 << 600 << false << 5.0 << 0 << 500;
    QTest::newRow("zero window: one point") << 10.0 << 10 << false << 0.0 << 0 << 1;
    QTest::newRow("negative window: one point") << 10.0 << 10 << false << -3.0 << 0 << 1;
    QTest::newRow("fractional window: kept") << 10.0 << 1000 << false << 10.99 << 1000 << 1099;
    QTest::newRow("period 0.02, 500 held: emptied") << 10.0 << 500 << true << 0.02 << 0 << 500;
    QTest::newRow("period 0.02, 499 held: kept") << 10.0 << 499 << true << 0.02 << 499 << 500;
    QTest::newRow("period 0.005: kept") << 10.0 << 1000 << true << 0.005 << 1000 << 2000;
    QTest::newRow("period 0.02 keeps a 10.99 s window")
        << 10.99 << 300 << true << 0.02 << 300 << 550;
    QTest::newRow("period 0.005 keeps a 10.35 s window")
        << 10.35 << 1000 << true << 0.005 << 1000 << 2070;
}

void TamponTest::changementDeFenetreGardeOuVideLesPoints()
{
    QFETCH(double, depart);
    QFETCH(int, tenus);
    QFETCH(bool, parPeriode);
    QFETCH(double, valeur);
    QFETCH(int, restants);
    QFETCH(int, capacite);
    Tampon tampon(0.01, depart);
    remplir(tampon, tenus);
    if (parPeriode) {
        tampon.setPeriodeEchantillonnage(valeur);
    } else {
        tampon.setDuree(valeur);
    }
    QCOMPARE(tampon.size(), size_t(restants));
    const double periode = parPeriode ? valeur : 0.01;
    QVERIFY(std::abs(tampon.boundingRect().width() - periode * capacite) < 1e-9);
    QCOMPARE(capaciteObservee(tampon), capacite);
}

void TamponTest::periodeNonPositiveIgnoree()
{
    Tampon tampon(0.01, 10);
    remplir(tampon, 10);
    tampon.setPeriodeEchantillonnage(0);
    tampon.setPeriodeEchantillonnage(-0.01);
    tampon.setPeriodeEchantillonnage(std::nan(""));
    QCOMPARE(tampon.size(), size_t(10));
    QCOMPARE(tampon.boundingRect().width(), 10.0);
    tampon.ajouterValeur(0);
    QVERIFY(std::abs(tampon.sample(10).x() - 0.1) < 1e-9);
}

// One thread appends as fast as it can while this one reads and clears, as the
// acquisition worker and the plot do. Run under the sanitizers, this catches
// unguarded accesses; the checks catch torn or out-of-window reads.
void TamponTest::ecritureEtLectureConcurrentes()
{
    Tampon tampon(0.01, 10);
    std::atomic<bool> arret{false};
    std::atomic<long> ecrits{0};
    std::thread ecrivain([&] {
        long i = 0;
        while (!arret.load(std::memory_order_relaxed)) {
            tampon.ajouterValeur(double(i % 500));
            ++i;
        }
        ecrits = i;
    });

    QElapsedTimer chrono;
    chrono.start();
    long lectures = 0;
    bool ok = true;
    QString defaut;
    while (chrono.elapsed() < 1500 && ok) {
        const size_t n = tampon.size();
        if (n > 1000) {
            ok = false;
            defaut = QString("size %1").arg(n);
        }
        for (size_t i = 0; i < n + 2 && ok; i += 7) {
            const QPointF p = tampon.sample(i);
            if (p.x() < 0 || p.x() > 10 || p.y() < 0 || p.y() >= 500) {
                ok = false;
                defaut = QString("point %1 (%2, %3)").arg(i).arg(p.x()).arg(p.y());
            }
            ++lectures;
        }
        const QRectF rect = tampon.boundingRect();
        if (rect.width() != 10.0 || rect.top() != 0 || rect.height() > 499) {
            ok = false;
            defaut = "bounding rectangle";
        }
        if (lectures % 5 == 0) {
            tampon.viderDonnees();
        }
    }
    arret = true;
    ecrivain.join();
    QVERIFY2(ok, qPrintable(defaut));
    QVERIFY(ecrits > 1000);
    QVERIFY(lectures > 1000);
}

QTEST_GUILESS_MAIN(TamponTest)
#include "TamponTest.moc"
