#pragma once

#include <QImage>
#include <QList>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVector>
#include <qwt_plot_item.h>

class QwtScaleMap;

// The earlier sweeps of a trend, in the colours they were painted in, under the
// live curves; the newer ones lie over the older ones, as on screen.
//
// Each sweep keeps its points, and for the x scale and canvas width of the last
// drawing the per-pixel-column extremes of them (TraceColonnes::reduire); the
// screen is drawn from those only. On screen the sweeps are one image, redrawn
// when a scale or the canvas changes or a sweep goes, and added to when a sweep
// comes: a replot draws that image, not the sweeps.
class CoucheBalayages : public QwtPlotItem
{
public:
    CoucheBalayages();

    int rtti() const override;
    void draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
              const QRectF& canvasRect) const override;

    // xMap, the plot's x map when the sweep ends: its column extremes are found
    // then, in the tick that ends it, rather than in the next replot.
    void ajouter(const QString& titre, const QVector<QPointF>& points, const QPen& stylo,
                 const QwtScaleMap& xMap);
    // Removes the oldest sweeps of a curve beyond `garder`; returns whether any went.
    bool limiter(const QString& titre, int garder);
    void vider();
    int nombre(const QString& titre) const;

private:
    struct Balayage
    {
        QString titre;
        QVector<QPointF> points;
        QPen stylo;
        // Column extremes for the x map of cleReduits.
        mutable QVector<QPointF> reduits;
        mutable QVector<double> cleReduits;
    };

    const QVector<QPointF>& reduits(const Balayage& balayage, const QwtScaleMap& xMap) const;

    QList<Balayage> balayages; // oldest first
    // The screen image: the first `dessines` sweeps drawn with the maps and
    // canvas of `cleImage`.
    mutable QImage image;
    mutable QVector<double> cleImage;
    mutable int dessines = 0;
};
