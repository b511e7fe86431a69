#pragma once

#include "Cycle.h"

#include <QColor>
#include <QList>
#include <QVector>
#include <qwt_plot.h>
#include <vector>

class QwtPlotCurve;

// A measure of every breath of the capture against time, one curve per
// column of the breath table. However many breaths there are, at most
// pointsMax points per curve are drawn: beyond that the breaths are grouped by
// time and each group drawn by its lowest and highest value, so that an
// outlier stays visible, and the newest breath ends the curve. A curve breaks
// where an apnea or a lost line came between two breaths, rather than bridge
// it. The value
// axis, while it scales itself, spans at least a minimum, so that noise does
// not look like a trend.
class GraphiqueTendance : public QwtPlot
{
    Q_OBJECT

public:
    static constexpr int pointsMax = 2000;

    struct Serie
    {
        QString nom;
        int colonne; // a column of the breath table
        QColor couleur;
    };

    GraphiqueTendance(const QString& titre, const QList<Serie>& series, QWidget* parent = nullptr);

    void tracer(const std::vector<Cycle>& cycles);
    // The least span of the value axis when it follows the data.
    void setEtendueMin(double etendue) { etendueMin = etendue; }
    // A fixed value axis, which the data no longer moves.
    void imposerEchelle(double min, double max);
    const QwtPlotCurve* courbe(int serie) const { return courbes.value(serie); }

    // Points (minutes since the start, value of the column), decimated.
    // `coupures`, when given, receives the indices of the points that follow
    // an apnea or a lost line, where the curve breaks.
    static QVector<QPointF> decimer(const std::vector<Cycle>& cycles, int colonne,
                                    int points = pointsMax, QVector<int>* coupures = nullptr);

private:
    QList<Serie> series;
    QList<QwtPlotCurve*> courbes;
    double etendueMin = 0.0;
    bool echelleLibre = true;
};
