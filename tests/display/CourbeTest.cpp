#include "Courbe.h"
#include "CoucheBalayages.h"
#include "Tampon.h"
#include "display/PixelsEcran.h"

#include <QPainter>
#include <QPen>
#include <QPicture>
#include <QtTest>
#include <cmath>
#include <qwt_scale_map.h>

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

QImage blanche()
{
    QImage image(600, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

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
    void dessinCommeLeTraitComplet_data();
    void dessinCommeLeTraitComplet();
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

// The live curve and the kept sweeps, drawn from their column extremes (on
// screen as spans, in a document as a line), ink the pixels that a stroke
// through every point inks, about as darkly (measured: 0.99 of its ink, 0.81
// for the noisy 1000 Hz row).
void CourbeTest::dessinCommeLeTraitComplet_data()
{
    QTest::addColumn<double>("frequence");
    QTest::addColumn<double>("periode"); // of the wave, 0 for a flat line
    QTest::addColumn<double>("bruit");
    QTest::addColumn<double>("pic"); // the readings from 4 to 5 s, 0 for the wave's
    QTest::addColumn<double>("niveau");
    QTest::newRow("1000 Hz breathing with noise") << 1000.0 << 4.0 << 1.0 << 0.0 << 50.0;
    QTest::newRow("100 Hz breathing") << 100.0 << 4.0 << 0.0 << 0.0 << 50.0;
    QTest::newRow("10 Hz, points far apart") << 10.0 << 4.0 << 0.0 << 0.0 << 50.0;
    QTest::newRow("steep fast wave") << 1000.0 << 0.3 << 0.0 << 0.0 << 50.0;
    QTest::newRow("flat line") << 100.0 << 0.0 << 0.0 << 0.0 << 50.0;
    QTest::newRow("line cut by missing values") << 100.0 << 4.0 << 0.0 << qQNaN() << 50.0;
    QTest::newRow("readings far off the scale") << 100.0 << 4.0 << 0.0 << 1e9 << 50.0;
    QTest::newRow("every reading off the scale") << 100.0 << 4.0 << 0.0 << 0.0 << -1e9;
}

void CourbeTest::dessinCommeLeTraitComplet()
{
    QFETCH(double, frequence);
    QFETCH(double, periode);
    QFETCH(double, bruit);
    QFETCH(double, pic);
    QFETCH(double, niveau);
    auto* tampon = new Tampon(1 / frequence, 10);
    Courbe courbe("CO2", tampon, palette);
    QPen stylo(QColor(Qt::darkBlue), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    courbe.setPen(stylo);
    const int n = qRound(10 * frequence);
    QVector<QPointF> points;
    for (int i = 0; i < n; ++i) {
        const double t = i / frequence;
        double v = niveau + (periode > 0 ? 30 * std::sin(2 * M_PI * t / periode) : 0) +
                   bruit * ((i * 7919 % 101) / 100.0 - 0.5);
        if (pic != 0 && t >= 4 && t < 5)
            v = pic;
        tampon->ajouterValeur(v);
        points << tampon->sample(i);
    }
    QwtScaleMap xMap, yMap;
    xMap.setPaintInterval(0, 600);
    xMap.setScaleInterval(0, 10);
    yMap.setPaintInterval(300, 0);
    yMap.setScaleInterval(0, 100);
    const QRectF cadre(0, 0, 600, 300);

    QImage reference = blanche();
    {
        QPainter peintre(&reference);
        peintre.setRenderHint(QPainter::Antialiasing);
        peintre.setPen(stylo);
        QPolygonF ligne;
        for (const QPointF& p : points + QVector<QPointF>{QPointF(0, std::nan(""))}) {
            if (std::isfinite(p.y())) {
                ligne << QPointF(xMap.transform(p.x()), yMap.transform(p.y()));
            } else {
                peintre.drawPolyline(ligne);
                ligne.clear();
            }
        }
    }
    CoucheBalayages couche;
    couche.ajouter("CO2", points, stylo, xMap);
    auto dessiner = [&](QwtPlotItem& item, bool document) {
        QImage image = blanche();
        QPicture dessin;
        QPainter peintre;
        document ? peintre.begin(&dessin) : peintre.begin(&image);
        peintre.setRenderHint(QPainter::Antialiasing);
        item.draw(&peintre, xMap, yMap, cadre);
        peintre.end();
        if (document)
            QPainter(&image).drawPicture(0, 0, dessin);
        return image;
    };
    const QImage images[] = {dessiner(courbe, false), dessiner(couche, false),
                             dessiner(couche, true)};
    for (const QImage& image : images) {
        QVERIFY(PixelsEcran::horsDe(reference, image) < 0.01);
        QVERIFY(PixelsEcran::horsDe(image, reference) < 0.01);
        const double encre = PixelsEcran::encreTotale(reference);
        if (encre == 0) { // nothing within the canvas
            QCOMPARE(PixelsEcran::encreTotale(image), 0.0);
            continue;
        }
        const double rapport = PixelsEcran::encreTotale(image) / encre;
        // A dense zigzag stroked in one piece darkens its antialiased edges
        // where its segments overlap: a little more ink than the line covers.
        QVERIFY2(rapport > 0.75 && rapport < 1.15, qPrintable(QString::number(rapport)));
    }
}
