#include "GraphiqueCycleMoyen.h"

#include <QFontMetrics>
#include <QPen>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_text.h>

#include <algorithm>

GraphiqueCycleMoyen::GraphiqueCycleMoyen(const QString& nomCanal, CycleMoyen::Canal canal,
                                         const QColor& couleurCanal, QWidget* parent)
    : QwtPlot(parent), quoi(canal), couleur(couleurCanal), moyenne(new QwtPlotCurve(nomCanal))
{
    setCanvasBackground(Qt::white);
    // Stacked with the other channels in a small area: they share the room.
    setMinimumSize(160, 90);
    QwtText titreCanal(nomCanal);
    titreCanal.setFont(axisFont(QwtPlot::yLeft));
    setAxisTitle(QwtPlot::yLeft, titreCanal);
    setTitreTemps(true);

    auto* grille = new QwtPlotGrid;
    grille->setMajorPen(QColor(128, 128, 128, 120), 0, Qt::DashLine);
    grille->attach(this);

    moyenne->setPen(couleur, 2.5);
    moyenne->setRenderHint(QwtPlotItem::RenderAntialiased);
    moyenne->setZ(20);
    moyenne->attach(this);
    setAutoReplot(false);
}

// As many value labels as the height holds without one running into the next.
void GraphiqueCycleMoyen::resizeEvent(QResizeEvent* event)
{
    QwtPlot::resizeEvent(event);
    const int hauteurLigne = QFontMetrics(axisFont(QwtPlot::yLeft)).height();
    const int graduations =
        std::max(3, std::min(8, canvas()->height() * 2 / (3 * std::max(1, hauteurLigne))));
    if (graduations != axisMaxMajor(QwtPlot::yLeft)) {
        setAxisMaxMajor(QwtPlot::yLeft, graduations);
        replot();
    }
}

void GraphiqueCycleMoyen::setTitreTemps(bool affiche)
{
    QwtText titre(affiche ? tr("Temps depuis le début de l'inspiration (s)") : QString());
    titre.setFont(axisFont(QwtPlot::xBottom));
    setAxisTitle(QwtPlot::xBottom, titre);
}

void GraphiqueCycleMoyen::tracer(const QVector<FormeCycle>& formes, int nombre)
{
    const int premier = std::max(0, formes.size() - nombre);
    cyclesTraces = formes.size() - premier;
    QColor clair = couleur;
    clair.setAlpha(60);
    while (cycles.size() < cyclesTraces) {
        auto* courbe = new QwtPlotCurve;
        courbe->setPen(clair, 1.0);
        courbe->setItemAttribute(QwtPlotItem::Legend, false);
        courbe->setZ(10);
        courbe->attach(this);
        cycles.append(courbe);
    }
    for (int i = 0; i < cycles.size(); ++i) {
        const bool trace = i < cyclesTraces;
        cycles[i]->setSamples(trace ? CycleMoyen::points(formes[premier + i], quoi)
                                    : QVector<QPointF>());
        cycles[i]->setVisible(trace);
    }
    moyenne->setSamples(CycleMoyen::moyenne(formes, nombre, quoi));

    double fin = 1.0;
    for (int i = premier; i < formes.size(); ++i)
        fin = std::max(fin, formes[i].fin());
    setAxisScale(QwtPlot::xBottom, 0.0, fin);
    replot();
}
