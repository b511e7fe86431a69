#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QString>
#include <QVector>
#include <qwt_plot.h>

class CoucheBalayages;
class Courbe;
class QwtPlotDirectPainter;

// Live plot of one channel, drawn like a sweeping oscilloscope: every 25 ms the
// points that arrived since the previous tick are painted straight onto the
// canvas; a full replot happens only when the trend colours wrap, on resume
// and when a scale changes after the first tick.
//
// The earlier sweeps of a trend are kept in one plot item (CoucheBalayages), in
// the colours they were painted in, so that every repaint (a resize, an
// uncovered window, a grab or an export) shows what the direct painting put on
// screen; they are drawn at the screen's resolution, so a replot costs about
// the same whatever the window and the sampling rate.
class Graphique : public QwtPlot
{
    Q_OBJECT

public:
    explicit Graphique(QList<Courbe*> courbes, QWidget* parent = nullptr);
    ~Graphique() override;

    // Hides QwtPlot::setAxisScale (not virtual) so that the buffers' windows
    // follow the x axis: they hold the axis span exactly, so that a sweep ends
    // at the right edge; call it through a Graphique.
    void setAxisScale(int axisId, double min, double max, double step = 0);
    // Both scales at once, with at most one replot (none when neither changes).
    void setEchelles(double tMin, double tMax, double yMin, double yMax);

    // The earlier sweeps of a curve still shown.
    int nombreBalayages(const QString& titre) const;

    // Gives the plots' left axes one common extent, the widest their labels
    // need, so that their canvases, and so their time axes, start at the same
    // x whatever the labels.
    static void alignerAxesGauches(const QList<QwtPlot*>& plots);

public Q_SLOTS:
    void setPause(bool pauseActive);
    void setDecalage(double retard, double masque);
    void setTendance(int nbCourbes);
    void flushCourbesData();
    void capture(bool active = true);

protected:
    void timerEvent(QTimerEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    QHash<QString, Courbe*> courbes;
    QHash<QString, int> pointsTraces;
    QwtPlotDirectPainter* directPainter;
    // Sweep clock; invalid (never started) reads as no elapsed time.
    QElapsedTimer horloge;
    int largeurTrait = 2;
    int timerId = 0;
    int indexCouleur = 0;
    int nbCourbes = 1;
    bool demarre = false;

private:
    void attacherCourbe(Courbe* courbe);
    bool appliquerEchelle(int axisId, double min, double max, double step);
    void redessinerEchelles();
    void rafraichir();
    bool commencerTrace(const QString& titre, Courbe* courbe);
    bool terminerTracesVidees();
    bool garderBalayage(const QString& titre, Courbe* courbe);

    // Points of each curve's current trace, copied as they are painted: the
    // buffer is emptied when the trace ends.
    QHash<QString, QVector<QPointF>> traceCourante;
    // Every curve's earlier sweeps still on screen; owned.
    CoucheBalayages* balayages;
    // Each buffer's clearing count when its current trace began.
    QHash<QString, quint64> effacementsVus;
};
