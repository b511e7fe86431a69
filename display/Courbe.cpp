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
    QVector<QPointF> points;
    if (tampon && data() == tampon) {
        const QVector<QPointF> copie = tampon->copie(from, to);
        points =
            TraceColonnes::reduire([&copie](int i) { return copie[i]; }, 0, copie.size() - 1, xMap);
    } else {
        const QwtSeriesData<QPointF>* serie = data();
        points =
            TraceColonnes::reduire([serie](int i) { return serie->sample(i); }, from, to, xMap);
    }
    TraceColonnes::dessiner(painter, points, xMap, yMap, canvasRect, painter->pen());
}
