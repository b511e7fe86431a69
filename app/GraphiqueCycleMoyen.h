#pragma once

#include "CycleMoyen.h"

#include <QColor>
#include <QList>
#include <qwt_plot.h>

class QwtPlotCurve;

// The last breaths of one channel drawn over each other in a light colour,
// aligned at the onset of their inspiration, and their mean on top in a strong
// line. Curves are kept from one drawing to the next.
class GraphiqueCycleMoyen : public QwtPlot
{
    Q_OBJECT

public:
    GraphiqueCycleMoyen(const QString& canal, CycleMoyen::Canal quoi, const QColor& couleur,
                        QWidget* parent = nullptr);

    CycleMoyen::Canal canal() const { return quoi; }
    // Draws the last `nombre` breaths of `formes` and their mean.
    void tracer(const QVector<FormeCycle>& formes, int nombre);
    // The time axis is named under the lowest of the stacked plots only.
    void setTitreTemps(bool affiche);

    int nombreCycles() const { return cyclesTraces; }
    const QwtPlotCurve* courbeMoyenne() const { return moyenne; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CycleMoyen::Canal quoi;
    QColor couleur;
    QList<QwtPlotCurve*> cycles; // light curves, reused
    QwtPlotCurve* moyenne;
    int cyclesTraces = 0;
};
