#include "Courbe.h"
#include "Tampon.h"

#include <QPen>
#include <QtTest>

namespace {

const QList<Qt::GlobalColor> palette = {
    Qt::darkBlue, Qt::darkCyan, Qt::darkMagenta, Qt::darkYellow, Qt::darkGreen,
    Qt::darkRed,  Qt::black,    Qt::blue,        Qt::magenta,    Qt::green};

// A buffer that reports its own destruction.
class TamponTemoin : public Tampon
{
public:
    explicit TamponTemoin(bool* drapeau) : Tampon(0.01, 10), detruit(drapeau) {}
    ~TamponTemoin() override { *detruit = true; }

private:
    bool* detruit;
};

} // namespace

class CourbeTest : public QObject
{
    Q_OBJECT

private slots:
    void couleurParcourtLaPalette_data();
    void couleurParcourtLaPalette();
    void couleurGardeLeResteDuStylo();
    void paletteVideDessineEnNoir();
    void destructionDetruitLeTampon();
    void pauseEtVidageAtteignentLeTampon();
};

void CourbeTest::couleurParcourtLaPalette_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("couleur");
    QTest::newRow("first") << 0 << int(Qt::darkBlue);
    QTest::newRow("last") << 9 << int(Qt::green);
    QTest::newRow("wraps to the first") << 10 << int(Qt::darkBlue);
    QTest::newRow("12 is entry 2") << 12 << int(Qt::darkMagenta);
    QTest::newRow("negative is entry 0") << -3 << int(Qt::darkBlue);
}

void CourbeTest::couleurParcourtLaPalette()
{
    QFETCH(int, index);
    QFETCH(int, couleur);
    Courbe courbe("CO2", new Tampon(0.01, 10), palette);
    QCOMPARE(courbe.pen().color(), QColor(Qt::darkBlue));
    courbe.setCouleur(5);
    courbe.setCouleur(index);
    QCOMPARE(courbe.pen().color(), QColor(Qt::GlobalColor(couleur)));
}

void CourbeTest::couleurGardeLeResteDuStylo()
{
    Courbe courbe("O2", new Tampon(0.01, 10), palette);
    QPen stylo = courbe.pen();
    stylo.setWidth(2);
    stylo.setCapStyle(Qt::RoundCap);
    stylo.setJoinStyle(Qt::RoundJoin);
    courbe.setPen(stylo);
    courbe.setCouleur(3);
    QCOMPARE(courbe.pen().color(), QColor(Qt::darkYellow));
    QCOMPARE(courbe.pen().width(), 2);
    QCOMPARE(courbe.pen().capStyle(), Qt::RoundCap);
    QCOMPARE(courbe.pen().joinStyle(), Qt::RoundJoin);
}

void CourbeTest::paletteVideDessineEnNoir()
{
    Courbe courbe("Flux", new Tampon(0.01, 10), {});
    QCOMPARE(courbe.pen().color(), QColor(Qt::black));
    courbe.setCouleur(7);
    courbe.setCouleur(-1);
    QCOMPARE(courbe.pen().color(), QColor(Qt::black));
}

void CourbeTest::destructionDetruitLeTampon()
{
    bool detruit = false;
    auto* courbe = new Courbe("CO2", new TamponTemoin(&detruit), palette);
    QVERIFY(!detruit);
    delete courbe;
    QVERIFY(detruit);
}

void CourbeTest::pauseEtVidageAtteignentLeTampon()
{
    auto* tampon = new Tampon(0.01, 10);
    Courbe courbe("CO2", tampon, palette);
    QCOMPARE(courbe.data(), static_cast<QwtSeriesData<QPointF>*>(tampon));
    tampon->ajouterValeur(1);
    tampon->ajouterValeur(2);
    QCOMPARE(courbe.dataSize(), size_t(2));
    courbe.viderDonnees();
    QCOMPARE(courbe.dataSize(), size_t(0));
    courbe.setPause(true);
    tampon->ajouterValeur(3);
    QCOMPARE(courbe.dataSize(), size_t(0));
    courbe.setPause(false);
    tampon->ajouterValeur(4);
    QCOMPARE(courbe.sample(0), QPointF(0, 4));
}

QTEST_GUILESS_MAIN(CourbeTest)
#include "CourbeTest.moc"
