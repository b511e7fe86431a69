#include "CycleMoyen.h"

#include <QtTest>

namespace {

// A breath of constant O2 `valeur`, `points` points 10 ms apart.
FormeCycle plat(float valeur, int points, double pas = 0.01)
{
    FormeCycle f;
    f.pas = pas;
    f.o2.fill(valeur, points);
    f.co2.fill(0.0f, points);
    f.flux.fill(0.0f, points);
    return f;
}

double moyenneA(const QVector<QPointF>& moyenne, double t)
{
    for (const QPointF& p : moyenne)
        if (std::abs(p.x() - t) < 1e-9)
            return p.y();
    return std::nan("");
}

} // namespace

class CycleMoyenTest : public QObject
{
    Q_OBJECT

private slots:
    void meanOfTheBreathsThatLast_data()
    {
        QTest::addColumn<QVector<FormeCycle>>("formes");
        QTest::addColumn<int>("nombre");
        QTest::addColumn<double>("t");
        QTest::addColumn<double>("attendu");
        QTest::addColumn<double>("fin");

        const QVector<FormeCycle> trois{plat(10, 101), plat(20, 201), plat(30, 301)};
        QTest::newRow("all at the onset") << trois << 8 << 0.0 << 20.0 << 2.0;
        QTest::newRow("two of three last 1.5 s") << trois << 8 << 1.5 << 25.0 << 2.0;
        QTest::newRow("the last two only") << trois << 2 << 0.5 << 25.0 << 3.0;
        QTest::newRow("one breath: itself to its end") << trois << 1 << 2.9 << 30.0 << 3.0;
        QTest::newRow("steps of the coarsest")
            << QVector<FormeCycle>{plat(10, 201, 0.01), plat(20, 51, 0.04)} << 8 << 0.4 << 15.0
            << 2.0;
        FormeCycle rampe = plat(0, 101);
        for (int i = 0; i < rampe.taille(); ++i)
            rampe.o2[i] = float(i);
        rampe.decalage = 0.005;
        QTest::newRow("between two points")
            << QVector<FormeCycle>{rampe} << 8 << 0.5 << 49.5 << 1.0;
    }

    void meanOfTheBreathsThatLast()
    {
        QFETCH(QVector<FormeCycle>, formes);
        QFETCH(int, nombre);
        QFETCH(double, t);
        QFETCH(double, attendu);
        QFETCH(double, fin);
        const QVector<QPointF> moyenne = CycleMoyen::moyenne(formes, nombre, CycleMoyen::Canal::O2);
        QVERIFY(!moyenne.isEmpty());
        QVERIFY2(std::abs(moyenneA(moyenne, t) - attendu) < 1e-4,
                 qPrintable(QString::number(moyenneA(moyenne, t))));
        // It stops where fewer than half the breaths last.
        QVERIFY2(std::abs(moyenne.last().x() - fin) < 0.045,
                 qPrintable(QString::number(moyenne.last().x())));
    }

    void signalIsAVariationInTheLastBreaths()
    {
        QVector<FormeCycle> formes{plat(10, 50), plat(10, 50)};
        QVERIFY(CycleMoyen::porteUnSignal(formes, 8, CycleMoyen::Canal::O2) == false);
        formes[0].co2[7] = 3.0f;
        QVERIFY(CycleMoyen::porteUnSignal(formes, 8, CycleMoyen::Canal::CO2));
        QVERIFY2(!CycleMoyen::porteUnSignal(formes, 1, CycleMoyen::Canal::CO2),
                 "the varying breath is no longer among the last one");
        QVERIFY(CycleMoyen::moyenne({}, 8, CycleMoyen::Canal::O2).isEmpty());
    }
};

QTEST_APPLESS_MAIN(CycleMoyenTest)
#include "CycleMoyenTest.moc"
