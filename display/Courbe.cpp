#include "Courbe.h"

#include "Tampon.h"
#include "TraceColonnes.h"

#include <QPainter>
#include <QPen>

Courbe::Courbe(const QString& titre, Tampon* tampon_, QList<Qt::GlobalColor> couleurs_)
    : QwtPlotCurve(titre), tampon(nullptr)
{
    setRenderHint(QwtPlotItem::RenderAntialiased);
    setPaintAttribute(QwtPlotCurve::ClipPolygons);
    setLegendAttribute(QwtPlotCurve::LegendShowLine);
    couleurs = couleurs_;
    setCouleur(0);
    tampon = tampon_;
    setData(tampon);
}

// The buffer goes with the series data, which the base destructor deletes.
Courbe::~Courbe() = default;

// An empty palette draws in black rather than failing.
void Courbe::setCouleur(int index)
{
    Qt::GlobalColor couleur = Qt::black;
    if (!couleurs.isEmpty()) {
        couleur = couleurs.at(qMax(index, 0) % couleurs.size());
    }
    QPen stylo = pen();
    stylo.setColor(couleur);
    setPen(stylo);
}

void Courbe::viderDonnees()
{
    if (tampon) {
        tampon->viderDonnees();
    }
}

void Courbe::setPause(bool pauseActive)
{
    if (tampon) {
        tampon->setPause(pauseActive);
    }
}

void Courbe::drawLines(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                       const QRectF& canvasRect, int from, int to) const
{
    // The buffer's points in one copy under its lock; other samples set on the
    // curve point by point.
    QVector<QPointF> points;
    if (tampon && data() == tampon) {
        points = tampon->copie(from, to);
    } else {
        for (int i = from; i <= to; ++i)
            points.append(data()->sample(size_t(i)));
    }
    TraceColonnes::dessiner(painter, TraceColonnes::reduire(points, xMap), xMap, yMap, canvasRect,
                            painter->pen());
}
