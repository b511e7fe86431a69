#include "Graphique.h"
#include "Courbe.h"
#include "Tampon.h"
#include "display/PixelsEcran.h"

#include <QThread>
#include <QVBoxLayout>
#include <QtTest>
#include <cmath>

namespace {

const QList<Qt::GlobalColor> palette = {
    Qt::darkBlue, Qt::darkCyan, Qt::darkMagenta, Qt::darkYellow, Qt::darkGreen,
    Qt::darkRed,  Qt::black,    Qt::blue,        Qt::magenta,    Qt::green};

// Counts replots, drives refresh ticks by hand and shows the sweep state.
class GraphiqueSonde : public Graphique
{
public:
    using Graphique::Graphique;

    int replots = 0;
    void replot() override
    {
        ++replots;
        Graphique::replot();
    }
    void tick()
    {
        QTimerEvent evenement(timerId);
        timerEvent(&evenement);
    }
    bool timerActif() const { return timerId != 0; }
    const QElapsedTimer& horlogeBalayage() const { return horloge; }
    int traces(const QString& titre) const { return pointsTraces.value(titre); }
    int couleur() const { return indexCouleur; }
};

class TamponTemoin : public Tampon
{
public:
    explicit TamponTemoin(bool* drapeau) : Tampon(0.01, 10), detruit(drapeau) {}
    ~TamponTemoin() override { *detruit = true; }

private:
    bool* detruit;
};

void remplir(Tampon* tampon, int nombre, double niveau)
{
    for (int i = 0; i < nombre; ++i) {
        tampon->ajouterValeur(niveau + 8 * std::sin(i / 15.0));
    }
}

// A new sweep: the buffer is cleared and refilled, then the plot ticks.
void balayer(GraphiqueSonde& plot, Tampon* tampon, int nombre, double niveau)
{
    plot.flushCourbesData();
    remplir(tampon, nombre, niveau);
    plot.tick();
}

// Shows the plot on screen with a 0 to 100 scale over 10 s and the trend count.
bool afficher(GraphiqueSonde& plot, int tendance)
{
    plot.setAxisScale(QwtPlot::yLeft, 0, 100);
    plot.setAxisScale(QwtPlot::xBottom, 0, 10);
    plot.setTendance(tendance);
    plot.resize(600, 300);
    plot.show();
    const bool expose = QTest::qWaitForWindowExposed(&plot);
    QTest::qWait(50);
    return expose;
}

void enregistrer(const QImage& image, const QString& nom)
{
    const QString dossier = qEnvironmentVariable("DISPLAY_GRAB_DIR");
    if (!dossier.isEmpty()) {
        image.save(dossier + "/" + nom);
    }
}

} // namespace

class GraphiqueTest : public QObject
{
    Q_OBJECT

private slots:
    void tendanceChangeDeCouleurEtEfface_data();
    void tendanceChangeDeCouleurEtEfface();
    void tendanceSuperposeLesBalayagesAlEcran();
    void remplissageAuDelaDuTraceNeCommencePasDeTrace();
    void debordementEntreDeuxTopsSansRetour();
    void axesDuTempsAlignes();
    void pauseArreteEtRepriseRedessine();
    void echelleDuTempsDimensionneLesTampons_data();
    void echelleDuTempsDimensionneLesTampons();
    void balayageEffaceUneSeuleFois();
    void tendanceGardeeAuRedessin_data();
    void tendanceGardeeAuRedessin();
    void echelleRedessineSeulementApresLePremierTop();
    void balayagesSuiventEchellesEtLargeur_data();
    void balayagesSuiventEchellesEtLargeur();
    void horlogeNonDemarreeNeTerminePasDeBalayage();
    void decalageAtteintChaqueTamponEtLesVide();
    void destructionDetruitCourbesEtTampons();
};

// Each new trace takes the next trend colour and keeps the earlier ones as
// sweeps beside the live curve, at most nbCourbes - 1 of them, also when the
// trend count is lowered while they are shown; the colours wrap with a replot.
void GraphiqueTest::tendanceChangeDeCouleurEtEfface_data()
{
    QTest::addColumn<int>("tendance");
    QTest::addColumn<int>("nouvelleTendance"); // set before the last trace
    QTest::addColumn<QList<int>>("couleurs");  // palette entry of traces 2 to 6
    QTest::addColumn<QList<int>>("replots");   // cumulated replots after each of them
    QTest::addColumn<QList<int>>("gardes");    // sweeps kept after each of them
    const QList<int> seule{0, 0, 0, 0, 0};
    const QList<int> chaqueFois{1, 2, 3, 4, 5};
    QTest::newRow("trend of 1") << 1 << 1 << seule << chaqueFois << seule;
    QTest::newRow("trend of 3") << 3 << 3 << QList<int>{1, 2, 0, 1, 2} << QList<int>{0, 0, 1, 1, 1}
                                << QList<int>{1, 2, 0, 1, 2};
    QTest::newRow("zero counts as 1") << 0 << 0 << seule << chaqueFois << seule;
    QTest::newRow("negative counts as 1") << -2 << -2 << seule << chaqueFois << seule;
    // Lowering the count drops the extra sweeps at once: one more replot.
    QTest::newRow("trend of 5 lowered to 2")
        << 5 << 2 << QList<int>{1, 2, 3, 4, 1} << QList<int>{0, 0, 0, 0, 2}
        << QList<int>{1, 2, 3, 4, 1};
    QTest::newRow("trend of 3 turned off")
        << 3 << 1 << QList<int>{1, 2, 0, 1, 0} << QList<int>{0, 0, 1, 1, 3}
        << QList<int>{1, 2, 0, 1, 0};
    QTest::newRow("trend of 4 lowered to 3")
        << 4 << 3 << QList<int>{1, 2, 3, 0, 1} << QList<int>{0, 0, 0, 1, 1}
        << QList<int>{1, 2, 3, 0, 1};
}

void GraphiqueTest::tendanceChangeDeCouleurEtEfface()
{
    QFETCH(int, tendance);
    QFETCH(int, nouvelleTendance);
    QFETCH(QList<int>, couleurs);
    QFETCH(QList<int>, replots);
    QFETCH(QList<int>, gardes);
    auto* tampon = new Tampon(0.01, 10);
    auto* courbe = new Courbe("CO2", tampon, palette);
    GraphiqueSonde plot({courbe});
    plot.setTendance(tendance);
    remplir(tampon, 40, 0);
    plot.tick();
    QCOMPARE(courbe->pen().color(), QColor(palette[0]));
    QCOMPARE(plot.traces("CO2"), 40);
    for (int trace = 0; trace < couleurs.size(); ++trace) {
        if (trace == couleurs.size() - 1)
            plot.setTendance(nouvelleTendance);
        balayer(plot, tampon, 10, 0);
        QCOMPARE(courbe->pen().color(), QColor(palette[couleurs[trace]]));
        QCOMPARE(plot.replots, replots[trace]);
        QCOMPARE(plot.nombreBalayages("CO2"), gardes[trace]);
        QCOMPARE(plot.traces("CO2"), 10);
        remplir(tampon, 30, 0);
        plot.tick();
        QCOMPARE(plot.traces("CO2"), 40);
    }
}

// Trend of 3 on screen: the second and third sweeps are painted over the first
// in their own colours; the fourth wipes the canvas and comes back to the first
// colour.
void GraphiqueTest::tendanceSuperposeLesBalayagesAlEcran()
{
    auto* tampon = new Tampon(0.01, 10);
    GraphiqueSonde plot({new Courbe("CO2", tampon, palette)});
    QVERIFY(afficher(plot, 3));

    const QColor bleu(Qt::darkBlue), cyan(Qt::darkCyan), magenta(Qt::darkMagenta);
    balayer(plot, tampon, 600, 20);
    QImage image = PixelsEcran::capturer(plot.canvas());
    QVERIFY(PixelsEcran::compter(image, bleu) > 100);

    balayer(plot, tampon, 400, 50);
    balayer(plot, tampon, 300, 80);
    image = PixelsEcran::capturer(plot.canvas());
    enregistrer(PixelsEcran::capturer(&plot), "graphique-tendance.png");
    QVERIFY(PixelsEcran::compter(image, bleu) > 100);
    QVERIFY(PixelsEcran::compter(image, cyan) > 100);
    QVERIFY(PixelsEcran::compter(image, magenta) > 100);

    balayer(plot, tampon, 200, 35);
    image = PixelsEcran::capturer(plot.canvas());
    QVERIFY(PixelsEcran::compter(image, bleu) > 50);
    QCOMPARE(PixelsEcran::compter(image, cyan), 0);
    QCOMPARE(PixelsEcran::compter(image, magenta), 0);
}

void GraphiqueTest::remplissageAuDelaDuTraceNeCommencePasDeTrace()
{
    auto* tampon = new Tampon(0.01, 10);
    auto* courbe = new Courbe("O2", tampon, palette);
    GraphiqueSonde plot({courbe});
    plot.setTendance(3);
    remplir(tampon, 10, 0);
    plot.tick();
    balayer(plot, tampon, 20, 0);
    QCOMPARE(plot.couleur(), 0);
    QCOMPARE(courbe->pen().color(), QColor(Qt::darkBlue));
    QCOMPARE(plot.traces("O2"), 20);
}

// A wrap and refill past the painted count between two ticks: no line joins the
// two sweeps' levels.
void GraphiqueTest::debordementEntreDeuxTopsSansRetour()
{
    auto* tampon = new Tampon(0.01, 10);
    GraphiqueSonde plot({new Courbe("O2", tampon, palette)});
    QVERIFY(afficher(plot, 3));
    remplir(tampon, 300, 80);
    plot.tick();
    remplir(tampon, 700, 80);
    remplir(tampon, 500, 20);
    plot.tick();
    balayer(plot, tampon, 100, 20);
    plot.replot();
    const int haut = qRound(plot.transform(QwtPlot::yLeft, 65));
    const QImage bande = PixelsEcran::capturer(plot.canvas())
                             .copy(0, haut, 600, qRound(plot.transform(QwtPlot::yLeft, 35)) - haut);
    QCOMPARE(PixelsEcran::compter(bande, Qt::darkBlue), 0);
}

// The canvases start at the same x whatever the labels ("1e+09").
void GraphiqueTest::axesDuTempsAlignes()
{
    QWidget zone;
    auto* disposition = new QVBoxLayout(&zone);
    QList<QwtPlot*> plots;
    for (double max : {1e9, 65.0, 15.0}) {
        auto* plot = new GraphiqueSonde({new Courbe("C", new Tampon(0.01, 10), palette)});
        plot->setAxisScale(QwtPlot::yLeft, -20, max);
        disposition->addWidget(plot);
        plots << plot;
    }
    Graphique::alignerAxesGauches(plots);
    zone.show();
    QVERIFY(QTest::qWaitForWindowExposed(&zone));
    for (QwtPlot* plot : plots)
        QCOMPARE(plot->canvas()->x(), plots[0]->canvas()->x());
}

void GraphiqueTest::pauseArreteEtRepriseRedessine()
{
    auto* tampon = new Tampon(0.01, 10);
    GraphiqueSonde plot({new Courbe("Flux", tampon, palette)});
    remplir(tampon, 10, 0);
    plot.tick();
    QVERIFY(plot.timerActif());

    plot.setPause(false); // running: nothing
    QCOMPARE(plot.replots, 0);
    QCOMPARE(tampon->size(), size_t(10));

    plot.setPause(true);
    plot.setPause(true);
    QVERIFY(!plot.timerActif());
    remplir(tampon, 10, 0);
    QCOMPARE(tampon->size(), size_t(10));
    plot.tick(); // a stopped timer paints nothing
    QCOMPARE(plot.traces("Flux"), 10);
    QCOMPARE(plot.replots, 0);
    QVERIFY(!plot.horlogeBalayage().isValid());

    plot.setPause(false);
    QVERIFY(plot.timerActif());
    QVERIFY(plot.horlogeBalayage().isValid());
    QCOMPARE(plot.replots, 1);
    QCOMPARE(tampon->size(), size_t(0));
    remplir(tampon, 5, 0);
    QCOMPARE(tampon->size(), size_t(5));
    QCOMPARE(tampon->sample(0).x(), 0.0);

    plot.setPause(false);
    QCOMPARE(plot.replots, 1);
}

// The buffers hold the span of the time axis, whole seconds or not, so that a
// sweep runs to the right edge: the last point of a full buffer lies one sample
// before it, and the next one starts a new sweep.
void GraphiqueTest::echelleDuTempsDimensionneLesTampons_data()
{
    QTest::addColumn<int>("axe");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<int>("points");
    QTest::newRow("x axis 10.9 s") << int(QwtPlot::xBottom) << 0.0 << 10.9 << 1090;
    QTest::newRow("x axis of 3 cycles of 3.2 s") << int(QwtPlot::xBottom) << 0.0 << 10.35 << 1035;
    QTest::newRow("x axis 20 s") << int(QwtPlot::xBottom) << 0.0 << 20.0 << 2000;
    QTest::newRow("x axis under 1 s") << int(QwtPlot::xBottom) << 0.0 << 0.5 << 50;
    QTest::newRow("span, not upper bound") << int(QwtPlot::xBottom) << 2.0 << 12.5 << 1050;
    QTest::newRow("y axis changes no buffer") << int(QwtPlot::yLeft) << -20.0 << 70.0 << 500;
}

void GraphiqueTest::echelleDuTempsDimensionneLesTampons()
{
    QFETCH(int, axe);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(int, points);
    auto* co2 = new Tampon(0.01, 5);
    auto* o2 = new Tampon(0.01, 5);
    Graphique plot({new Courbe("CO2", co2, palette), new Courbe("O2", o2, palette)});
    plot.setAxisScale(axe, min, max);
    QCOMPARE(plot.axisScaleDiv(axe).upperBound(), max);
    for (Tampon* tampon : {co2, o2}) {
        QVERIFY(std::abs(tampon->boundingRect().width() - points * 0.01) < 1e-9);
        remplir(tampon, points, 0);
        QCOMPARE(tampon->size(), size_t(points));
        QVERIFY(std::abs(tampon->sample(points - 1).x() - (points - 1) * 0.01) < 1e-9);
        remplir(tampon, 1, 0);
        QCOMPARE(tampon->size(), size_t(1));
    }
}

// A buffer that wraps on its own ends the sweep; the sweep clock, which runs a
// little behind the samples, must not end it a second time (a second colour
// for the same sweep, its first points wiped).
void GraphiqueTest::balayageEffaceUneSeuleFois()
{
    auto* tampon = new Tampon(0.01, 10);
    auto* courbe = new Courbe("O2", tampon, palette);
    GraphiqueSonde plot({courbe});
    plot.setTendance(10);
    plot.setAxisScale(QwtPlot::xBottom, 0, 2.0); // 200 points
    plot.capture();
    remplir(tampon, 100, 50);
    plot.tick();
    QThread::msleep(800);
    remplir(tampon, 101, 50); // the 201st point starts the next sweep
    plot.tick();
    QCOMPARE(plot.couleur(), 1);
    QCOMPARE(plot.traces("O2"), 1);

    QThread::msleep(1400); // 2.2 s since the clock started, 1.4 s since the wrap
    remplir(tampon, 5, 50);
    plot.tick();
    QCOMPARE(plot.couleur(), 1);
    QCOMPARE(tampon->size(), size_t(6));
    QCOMPARE(plot.traces("O2"), 6);
}

// The earlier sweeps of a trend are shown again by every repaint of the plot,
// a replot included, in their own colours; a grab of it (what the raster and
// SVG exports are made of) shows the same pixels as the screen.
void GraphiqueTest::tendanceGardeeAuRedessin_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("none") << "none";
    QTest::newRow("resize") << "resize";
    QTest::newRow("repaint") << "repaint";
    QTest::newRow("pause and resume") << "resume";
    QTest::newRow("shorter time axis") << "axis";
}

void GraphiqueTest::tendanceGardeeAuRedessin()
{
    QFETCH(QString, action);
    auto* tampon = new Tampon(0.01, 10);
    GraphiqueSonde plot({new Courbe("CO2", tampon, palette)});
    // A fourth trace, begun by the action, keeps the first three.
    QVERIFY(afficher(plot, 4));
    // Each sweep shorter than the one before, so that the tick sees it begin.
    balayer(plot, tampon, 600, 20);
    balayer(plot, tampon, 400, 50);
    balayer(plot, tampon, 300, 80);

    if (action == "resize") {
        plot.resize(700, 350);
        // A shown window takes its new size when the window system says so.
        QTRY_COMPARE(plot.size(), QSize(700, 350));
        QTest::qWait(100);
    } else if (action == "repaint") {
        plot.canvas()->repaint();
    } else if (action == "resume") {
        plot.setPause(true);
        plot.setPause(false);
    } else if (action == "axis") {
        plot.setAxisScale(QwtPlot::xBottom, 0, 2.5); // 250 points: the buffer is cleared
    }
    const QImage image = PixelsEcran::capturer(plot.canvas());
    enregistrer(image, "graphique-tendance-" + action + ".png");
    QCOMPARE(plot.canvas()->grab().toImage().convertToFormat(QImage::Format_RGB32), image);
    for (Qt::GlobalColor couleur : {Qt::darkBlue, Qt::darkCyan, Qt::darkMagenta})
        QVERIFY2(PixelsEcran::compter(image, couleur) > 100, qPrintable(QColor(couleur).name()));
}

void GraphiqueTest::echelleRedessineSeulementApresLePremierTop()
{
    GraphiqueSonde plot({new Courbe("CO2", new Tampon(0.01, 10), palette)});
    plot.setAxisScale(QwtPlot::xBottom, 0, 10);
    plot.setAxisScale(QwtPlot::yLeft, 0, 5);
    QCOMPARE(plot.replots, 0);
    plot.tick();
    QCOMPARE(plot.replots, 0);
    plot.setAxisScale(QwtPlot::yLeft, 0, 7);
    QCOMPARE(plot.replots, 1);
    plot.setAxisScale(QwtPlot::yLeft, 0, 7); // unchanged: nothing to redraw
    QCOMPARE(plot.replots, 1);
}

// Both scales of a plot set together replot it once, or not at all when they
// are as they were. The kept sweeps are drawn for the scales and the canvas of
// the drawing, not for those they were first drawn with: after a change they
// lie where the new maps put them, and nowhere else.
void GraphiqueTest::balayagesSuiventEchellesEtLargeur_data()
{
    QTest::addColumn<double>("tMax");
    QTest::addColumn<double>("yMax");
    QTest::addColumn<int>("largeur");
    QTest::addColumn<int>("replots");
    QTest::newRow("value scale") << 10.0 << 200.0 << 600 << 1;
    QTest::newRow("time scale") << 20.0 << 100.0 << 600 << 1;
    QTest::newRow("both scales") << 20.0 << 150.0 << 600 << 1;
    QTest::newRow("narrower canvas, same scales") << 10.0 << 100.0 << 400 << 0;
}

void GraphiqueTest::balayagesSuiventEchellesEtLargeur()
{
    QFETCH(double, tMax);
    QFETCH(double, yMax);
    QFETCH(int, largeur);
    QFETCH(int, replots);
    auto* tampon = new Tampon(0.01, 10);
    GraphiqueSonde plot({new Courbe("CO2", tampon, palette)});
    QVERIFY(afficher(plot, 4));
    balayer(plot, tampon, 600, 20);
    balayer(plot, tampon, 400, 50); // kept, in cyan: 4 s between 42 and 58
    balayer(plot, tampon, 300, 80);
    plot.replot();
    plot.resize(largeur, 300);
    QTRY_COMPARE(plot.size(), QSize(largeur, 300));
    QTest::qWait(100);
    const int avant = plot.replots;
    plot.setEchelles(0, tMax, 0, yMax);
    QCOMPARE(plot.replots - avant, replots);
    plot.replot();
    const QImage image = PixelsEcran::capturer(plot.canvas());
    const QRect bande(QPoint(0, qRound(plot.transform(QwtPlot::yLeft, 62))),
                      QPoint(qRound(plot.transform(QwtPlot::xBottom, 4)) + 3,
                             qRound(plot.transform(QwtPlot::yLeft, 38))));
    const int dedans = PixelsEcran::compter(image.copy(bande), Qt::darkCyan);
    QVERIFY(dedans > 100);
    QCOMPARE(PixelsEcran::compter(image, Qt::darkCyan), dedans);
}

// The clock ends sweeps only once started; before that the buffers' own wrap
// drives them.
void GraphiqueTest::horlogeNonDemarreeNeTerminePasDeBalayage()
{
    auto* tampon = new Tampon(0.01, 10);
    GraphiqueSonde plot({new Courbe("CO2", tampon, palette)});
    plot.setAxisScale(QwtPlot::xBottom, 0, 0.04);
    plot.setAxisScale(QwtPlot::xBottom, 0, 10);
    remplir(tampon, 10, 0);
    QThread::msleep(60);
    plot.tick();
    QCOMPARE(tampon->size(), size_t(10));
    plot.capture(false);
    QVERIFY(!plot.horlogeBalayage().isValid());

    plot.capture();
    QVERIFY(plot.horlogeBalayage().isValid());
    QThread::msleep(60);
    plot.tick(); // 60 ms of a 10 s axis: the sweep goes on
    QCOMPARE(tampon->size(), size_t(10));
    plot.capture(false); // does not restart the clock
    QVERIFY(plot.horlogeBalayage().elapsed() >= 60);

    // A 0.04 s axis set on the base plot leaves the buffers' 10 s windows.
    plot.QwtPlot::setAxisScale(QwtPlot::xBottom, 0, 0.04);
    plot.updateAxes();
    plot.tick();
    QCOMPARE(tampon->size(), size_t(0));
    QVERIFY(plot.horlogeBalayage().elapsed() < 40);
}

void GraphiqueTest::decalageAtteintChaqueTamponEtLesVide()
{
    auto* co2 = new Tampon(0.01, 10);
    auto* flux = new Tampon(0.01, 10);
    Graphique plot({new Courbe("CO2", co2, palette), new Courbe("Flux", flux, palette)});
    remplir(co2, 10, 0);
    remplir(flux, 10, 0);
    plot.setDecalage(0.03, 0.02);
    QCOMPARE(co2->size(), size_t(0));
    QCOMPARE(flux->size(), size_t(0));
    for (Tampon* tampon : {co2, flux}) {
        for (int i = 1; i <= 5; ++i) {
            tampon->ajouterValeur(i);
        }
        QCOMPARE(tampon->size(), size_t(1));
        QCOMPARE(tampon->sample(0).y(), 3.0);
    }
}

void GraphiqueTest::destructionDetruitCourbesEtTampons()
{
    bool co2Detruit = false;
    bool o2Detruit = false;
    auto* plot = new Graphique({new Courbe("CO2", new TamponTemoin(&co2Detruit), palette),
                                new Courbe("O2", new TamponTemoin(&o2Detruit), palette)});
    QCOMPARE(plot->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 2);
    delete plot;
    QVERIFY(co2Detruit);
    QVERIFY(o2Detruit);
}

QTEST_MAIN(GraphiqueTest)
#include "GraphiqueTest.moc"
