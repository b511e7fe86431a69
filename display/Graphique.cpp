#include "Graphique.h"

#include "CoucheBalayages.h"
#include "Courbe.h"
#include "Tampon.h"

#include <QDebug>
#include <QPen>
#include <QTimerEvent>
#include <qwt_plot_canvas.h>
#include <qwt_plot_directpainter.h>
#include <qwt_scale_div.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_widget.h>

namespace {

constexpr int intervalleRafraichissement = 25; // ms

// Three plots stacked in one window must fit a 768-pixel-high screen.
constexpr int largeurMinimale = 300;
constexpr int hauteurMinimale = 120;

Tampon* tamponDe(Courbe* courbe)
{
    return dynamic_cast<Tampon*>(courbe->data());
}

} // namespace

Graphique::Graphique(QList<Courbe*> liste, QWidget* parent)
    : QwtPlot(parent), directPainter(new QwtPlotDirectPainter()), balayages(new CoucheBalayages)
{
    setAutoReplot(false);
    setCanvasBackground(QBrush(Qt::white));
    // Qwt 6.1 hands the canvas out as a plain QWidget.
    if (auto* toile = qobject_cast<QwtPlotCanvas*>(canvas())) {
        // Painted immediately and without a backing store, so that the direct
        // painter's segments land on screen at once and stay there.
        toile->setPaintAttribute(QwtPlotCanvas::BackingStore, false);
        toile->setPaintAttribute(QwtPlotCanvas::ImmediatePaint, true);
        toile->setFocusIndicator(QwtPlotCanvas::CanvasFocusIndicator);
    }
    enableAxis(QwtPlot::yLeft, true);
    enableAxis(QwtPlot::xBottom, false);
    setMinimumSize(largeurMinimale, hauteurMinimale);
    // Under the live curves (z from 100).
    balayages->setZ(99.5);
    balayages->attach(this);

    for (Courbe* courbe : liste) {
        if (!courbe) {
            qDebug() << "Graphique: null curve ignored";
            continue;
        }
        attacherCourbe(courbe);
        pointsTraces[courbe->title().text()] = 0;
    }
    timerId = startTimer(intervalleRafraichissement);
}

// Each curve deletes its buffer. Deleting a curve detaches it, so the base
// plot does not delete it a second time.
Graphique::~Graphique()
{
    delete balayages; // deleting an item detaches it
    for (Courbe* courbe : qAsConst(courbes)) {
        delete courbe;
    }
    courbes.clear();
    delete directPainter;
}

void Graphique::attacherCourbe(Courbe* courbe)
{
    QPen stylo = courbe->pen();
    stylo.setWidth(largeurTrait);
    stylo.setCapStyle(Qt::RoundCap);
    stylo.setJoinStyle(Qt::RoundJoin);
    courbe->setPen(stylo);
    courbe->setZ(100 + courbes.size());
    courbe->attach(this);
    courbes.insert(courbe->title().text(), courbe);
}

void Graphique::setAxisScale(int axisId, double min, double max, double step)
{
    if (appliquerEchelle(axisId, min, max, step))
        redessinerEchelles();
}

void Graphique::setEchelles(double tMin, double tMax, double yMin, double yMax)
{
    const bool temps = appliquerEchelle(QwtPlot::xBottom, tMin, tMax, 0);
    if (appliquerEchelle(QwtPlot::yLeft, yMin, yMax, 0) || temps)
        redessinerEchelles();
}

int Graphique::nombreBalayages(const QString& titre) const
{
    return balayages->nombre(titre);
}

// Returns whether the scale changed. A scale set again as it is changes nothing
// shown: no replot (each one costs the whole trend), and the buffers keep their
// points.
bool Graphique::appliquerEchelle(int axisId, double min, double max, double step)
{
    const QwtScaleDiv& actuelle = axisScaleDiv(axisId);
    if (!axisAutoScale(axisId) && axisStepSize(axisId) == step && actuelle.lowerBound() == min &&
        actuelle.upperBound() == max)
        return false;
    QwtPlot::setAxisScale(axisId, min, max, step);
    // The base plot applies a scale only at its next replot; the refresh tick
    // reads the x width before any replot, so apply it now.
    updateAxes();
    if (axisId == QwtPlot::xBottom) {
        // The sweep clock measures the same span: the buffers' own wrap and
        // the clock end a sweep together.
        for (Courbe* courbe : qAsConst(courbes)) {
            if (!courbe) {
                break;
            }
            if (Tampon* tampon = tamponDe(courbe)) {
                tampon->setDuree(max - min);
            }
        }
    }
    return true;
}

void Graphique::redessinerEchelles()
{
    if (demarre) {
        terminerTracesVidees();
        replot();
    }
}

void Graphique::alignerAxesGauches(const QList<QwtPlot*>& plots)
{
    double extent = 0;
    for (QwtPlot* plot : plots) {
        QwtScaleWidget* axe = plot->axisWidget(QwtPlot::yLeft);
        axe->scaleDraw()->setMinimumExtent(0);
        extent = qMax(extent, axe->scaleDraw()->extent(axe->font()));
    }
    for (QwtPlot* plot : plots) {
        plot->axisWidget(QwtPlot::yLeft)->scaleDraw()->setMinimumExtent(extent);
        plot->updateLayout();
    }
}

void Graphique::setPause(bool pauseActive)
{
    for (Courbe* courbe : qAsConst(courbes)) {
        if (!courbe) {
            break;
        }
        courbe->setPause(pauseActive);
    }
    if (timerId == 0 && !pauseActive) {
        // The buffers start again empty: the traces shown before the pause end
        // here, and the replot keeps them in the trend.
        terminerTracesVidees();
        timerId = startTimer(intervalleRafraichissement);
        horloge.start();
        replot();
    } else if (timerId != 0 && pauseActive) {
        killTimer(timerId);
        timerId = 0;
    }
}

void Graphique::setDecalage(double retard, double masque)
{
    for (Courbe* courbe : qAsConst(courbes)) {
        if (!courbe) {
            break;
        }
        if (Tampon* tampon = tamponDe(courbe)) {
            tampon->setDecalage(retard, masque);
        }
    }
    flushCourbesData();
}

// Fewer sweeps go at once, not when the current one ends: unchecking the trend
// leaves the live trace alone on screen, in the first colour.
void Graphique::setTendance(int nombre)
{
    nbCourbes = nombre > 0 ? nombre : 1;
    bool redessiner = false;
    for (auto it = courbes.constBegin(); it != courbes.constEnd(); ++it)
        redessiner |= balayages->limiter(it.key(), nbCourbes - 1);
    if (indexCouleur >= nbCourbes) {
        indexCouleur = 0;
        for (Courbe* courbe : qAsConst(courbes))
            courbe->setCouleur(0);
        redessiner = true;
    }
    if (redessiner)
        replot();
}

void Graphique::flushCourbesData()
{
    for (Courbe* courbe : qAsConst(courbes)) {
        if (courbe) {
            courbe->viderDonnees();
        }
    }
}

void Graphique::capture(bool active)
{
    if (active) {
        horloge.start();
    }
}

void Graphique::timerEvent(QTimerEvent* event)
{
    if (timerId != 0 && event->timerId() == timerId) {
        rafraichir();
    }
    QwtPlot::timerEvent(event);
}

void Graphique::resizeEvent(QResizeEvent* event)
{
    QwtPlot::resizeEvent(event);
    directPainter->reset();
}

// One refresh tick: end the sweep when the clock has run across the x axis,
// then paint what each curve gained since the previous tick.
void Graphique::rafraichir()
{
    demarre = true;
    if (horloge.isValid() && horloge.elapsed() / 1000.0 >= axisScaleDiv(QwtPlot::xBottom).range()) {
        horloge.start();
        flushCourbesData();
    }
    if (terminerTracesVidees()) {
        replot();
    }
    for (auto it = courbes.constBegin(); it != courbes.constEnd(); ++it) {
        Courbe* courbe = it.value();
        if (!courbe) {
            break;
        }
        const int n = static_cast<int>(courbe->dataSize());
        int& traces = pointsTraces[it.key()];
        if (traces < n) {
            QVector<QPointF>& trace = traceCourante[it.key()];
            const int copies = trace.size();
            for (int i = traces; i < n; ++i) {
                trace.append(courbe->sample(i));
            }
            // Cleared meanwhile: these points may be the next sweep's. Nothing is
            // painted, and the next tick ends the trace where it was painted.
            const Tampon* tampon = tamponDe(courbe);
            if (tampon && tampon->nombreEffacements() != effacementsVus.value(it.key())) {
                trace.resize(copies);
                continue;
            }
            // Starting one point back joins the segment to the painted trace;
            // the painter clamps -1 to the first point.
            directPainter->drawSeries(courbe, traces - 1, n - 1);
            traces = n;
        }
    }
}

// The trace that ended is kept as a sweep of the trend, or all the sweeps are
// wiped when the colours wrap. Returns whether the plot must be redrawn for
// the screen to show what is kept.
bool Graphique::commencerTrace(const QString& titre, Courbe* courbe)
{
    pointsTraces[titre] = 0;
    // The sweep clock starts again with the trace, so that a buffer that
    // wrapped on its own is not cleared once more by the clock.
    if (horloge.isValid()) {
        horloge.start();
    }
    indexCouleur = (indexCouleur + 1) % nbCourbes;
    bool redessiner = true;
    if (indexCouleur == 0) {
        traceCourante[titre].clear();
        balayages->vider();
    } else {
        redessiner = garderBalayage(titre, courbe);
    }
    courbe->setCouleur(indexCouleur);
    return redessiner;
}

// A count below what was painted means the buffer was cleared (by its own
// wrap, the sweep clock, a resume or a shorter window): that trace ends and a
// new one begins in the next trend colour. Called before a replot, so that the
// replot keeps the ended traces as the screen showed them; returns whether the
// plot must be redrawn for what is kept.
bool Graphique::terminerTracesVidees()
{
    bool redessiner = false;
    for (auto it = courbes.constBegin(); it != courbes.constEnd(); ++it) {
        if (!it.value()) {
            break;
        }
        // The count is read before the clearings, so that a clearing between
        // the two reads is seen. A buffer that wrapped and refilled past the
        // painted count between two ticks goes on in the same trace (only a
        // smaller count starts a new one), but its points are painted afresh
        // from the first: joined to the last point painted they would draw a
        // line back across the plot.
        const int n = static_cast<int>(it.value()->dataSize());
        const Tampon* tampon = tamponDe(it.value());
        const quint64 effacements = tampon ? tampon->nombreEffacements() : 0;
        const bool efface = effacements != effacementsVus.value(it.key());
        effacementsVus[it.key()] = effacements;
        if (efface && n >= pointsTraces.value(it.key())) {
            pointsTraces[it.key()] = 0;
            traceCourante[it.key()].clear();
        }
        if (n < pointsTraces.value(it.key())) {
            redessiner |= commencerTrace(it.key(), it.value());
        }
    }
    return redessiner;
}

// The trace that just ended stays on screen under the next ones, among the
// kept sweeps. A trend count lowered since the sweeps began leaves
// more sweeps than it shows; the oldest go, and the plot must be redrawn
// without them (the return value).
bool Graphique::garderBalayage(const QString& titre, Courbe* courbe)
{
    QVector<QPointF>& trace = traceCourante[titre];
    if (!trace.isEmpty()) {
        balayages->ajouter(titre, trace, courbe->pen(), canvasMap(QwtPlot::xBottom));
        // The sweep shares the points now: the next trace gets a vector of its
        // own, rather than a copy of these made only to be cleared.
        const int taille = trace.size();
        trace = QVector<QPointF>();
        trace.reserve(taille);
    }
    return balayages->limiter(titre, nbCourbes - 1);
}
