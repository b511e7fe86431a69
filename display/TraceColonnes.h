#pragma once

#include <QPointF>
#include <QPolygonF>
#include <QVector>

class QImage;
class QPainter;
class QPoint;
class QPen;
class QRectF;
class QwtScaleMap;

// A line of many points drawn from what each pixel column holds. reduire()
// keeps, per column, the first, lowest, highest and last point (in their
// order): the line through them inks the same pixels as the line through all
// of them. dessiner() draws a line of round caps and joins on a raster
// painter as one image of vertical spans, one per column, each the line's
// extent there with its pen (the pixels' coverage sampled twice across a
// column and exactly along it, as antialiasing does), instead of stroking
// every segment; on any other painter (PDF, SVG, a recording) it strokes the
// reduced line.
class TraceColonnes
{
public:
    // The points of a line, x mapped by xMap, reduced to what each pixel
    // column needs; the points kept are returned in the line's own coordinates.
    static QVector<QPointF> reduire(const QVector<QPointF>& points, const QwtScaleMap& xMap);

    static void dessiner(QPainter* painter, const QVector<QPointF>& points, const QwtScaleMap& xMap,
                         const QwtScaleMap& yMap, const QRectF& canvasRect, const QPen& stylo);

    // The spans of a line given in pixels (as dessiner() draws them on a
    // raster painter) laid straight over an ARGB32 premultiplied image whose
    // pixel (0, 0) is the point `origine`.
    static void dessinerDans(QImage& image, const QPoint& origine, const QPolygonF& pixels,
                             const QPen& stylo, const QRectF& clip);
    static QPolygonF pixels(const QVector<QPointF>& points, const QwtScaleMap& xMap,
                            const QwtScaleMap& yMap);

private:
    // The spans drawn on a raster painter whose transform is at most a
    // translation; clip bounds the pixels written.
    static void dessinerColonnes(QPainter* painter, const QPolygonF& pixels, const QPen& stylo,
                                 const QRectF& clip);
};
