#pragma once

#include "FormeCycle.h"

#include <QPointF>
#include <QVector>

// Breaths drawn over each other, aligned at the onset of their inspiration,
// and their mean: points in seconds since the onset.
class CycleMoyen
{
public:
    enum class Canal { CO2, O2, Flux };

    static const QVector<float>& valeurs(const FormeCycle& forme, Canal canal);
    // The points of one breath on one channel.
    static QVector<QPointF> points(const FormeCycle& forme, Canal canal);
    // The mean of the last `nombre` breaths of `formes` (all of them when there
    // are fewer), on the time steps of the coarsest of them. A breath counts
    // where it lasts; the mean stops where fewer than half of the breaths last,
    // so that its end is not the end of a single long breath.
    static QVector<QPointF> moyenne(const QVector<FormeCycle>& formes, int nombre, Canal canal);
    // Whether a channel varies in any of the last `nombre` breaths.
    static bool porteUnSignal(const QVector<FormeCycle>& formes, int nombre, Canal canal);
};
