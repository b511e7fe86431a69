#include "CoucheBalayages.h"

#include "TraceColonnes.h"

#include <QPaintEngine>
#include <QPainter>
#include <cmath>
#include <qwt_scale_map.h>

namespace {

QVector<double> cleDe(const QwtScaleMap& carte)
{
    return {carte.s1(), carte.s2(), carte.p1(), carte.p2()};
}

} // namespace

CoucheBalayages::CoucheBalayages()
{
    setItemAttribute(QwtPlotItem::Legend, false);
    setItemAttribute(QwtPlotItem::AutoScale, false);
    setRenderHint(QwtPlotItem::RenderAntialiased, true);
}

int CoucheBalayages::rtti() const
{
    return QwtPlotItem::Rtti_PlotUserItem + 1;
}

void CoucheBalayages::ajouter(const QString& titre, const QVector<QPointF>& points,
                              const QPen& stylo, const QwtScaleMap& xMap)
{
    balayages.append({titre, points, stylo, {}, {}});
    reduits(balayages.constLast(), xMap);
}

bool CoucheBalayages::limiter(const QString& titre, int garder)
{
    int restants = nombre(titre);
    bool retires = false;
    for (int i = 0; i < balayages.size() && restants > garder;) {
        if (balayages[i].titre == titre) {
            balayages.removeAt(i);
            --restants;
            retires = true;
        } else {
            ++i;
        }
    }
    if (retires)
        cleImage.clear();
    return retires;
}

void CoucheBalayages::vider()
{
    balayages.clear();
    cleImage.clear();
    image = QImage();
}

int CoucheBalayages::nombre(const QString& titre) const
{
    int n = 0;
    for (const Balayage& balayage : balayages)
        n += balayage.titre == titre;
    return n;
}

const QVector<QPointF>& CoucheBalayages::reduits(const Balayage& balayage,
                                                 const QwtScaleMap& xMap) const
{
    const QVector<double> cle = cleDe(xMap);
    if (balayage.cleReduits != cle) {
        balayage.reduits = TraceColonnes::reduire(balayage.points, xMap);
        balayage.cleReduits = cle;
    }
    return balayage.reduits;
}

void CoucheBalayages::draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                           const QRectF& canvasRect) const
{
    if (balayages.isEmpty())
        return;
    const QTransform& transformation = painter->transform();
    const bool ecran = painter->paintEngine() &&
                       painter->paintEngine()->type() == QPaintEngine::Raster &&
                       transformation.type() <= QTransform::TxTranslate &&
                       transformation.dx() == std::round(transformation.dx()) &&
                       transformation.dy() == std::round(transformation.dy());
    if (!ecran) {
        // A document or a recording: each sweep as a line of its column extremes.
        for (const Balayage& balayage : balayages)
            TraceColonnes::dessiner(painter, reduits(balayage, xMap), xMap, yMap, canvasRect,
                                    balayage.stylo);
        return;
    }
    const QRect cadre = canvasRect.toAlignedRect();
    QVector<double> cle = cleDe(xMap) + cleDe(yMap);
    cle << cadre.x() << cadre.y() << cadre.width() << cadre.height();
    if (cle != cleImage) {
        image = QImage(cadre.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        cleImage = cle;
        dessines = 0;
    }
    for (; dessines < balayages.size(); ++dessines) {
        const Balayage& balayage = balayages[dessines];
        TraceColonnes::dessinerDans(image, cadre.topLeft(),
                                    TraceColonnes::pixels(reduits(balayage, xMap), xMap, yMap),
                                    balayage.stylo, canvasRect);
    }
    painter->drawImage(cadre.topLeft(), image);
}
