#include "TraceColonnes.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <limits>
#include <qwt_clipper.h>
#include <qwt_painter.h>
#include <qwt_scale_map.h>

namespace {

// Sample lines across one pixel column, at x = c + (k + 0.5) / echantillons.
constexpr int echantillons = 2;

// A pixel coordinate made an int within [bas, haut]: a value far off the
// canvas (a reading of 1e9 on a 0 to 100 scale) lands on its edge.
int borne(double v, int bas, int haut)
{
    return static_cast<int>(std::max(double(bas), std::min(double(haut), v)));
}

bool fini(const QPointF& p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// The part of a vertical line x = X inside the capsule of radius r around the
// segment a-b (a round-capped stroke), added to [bas, haut].
class Capsule
{
public:
    Capsule(const QPointF& a_, const QPointF& b_, double r_) : a(a_), b(b_), r(r_)
    {
        const QPointF d = b - a;
        const double longueur = std::hypot(d.x(), d.y());
        rectangle = longueur > 0;
        if (rectangle) {
            const QPointF n(-d.y() * r / longueur, d.x() * r / longueur);
            coins[0] = a + n;
            coins[1] = b + n;
            coins[2] = b - n;
            coins[3] = a - n;
        }
    }

    void etendre(double X, double& bas, double& haut) const
    {
        auto prendre = [&](double y) {
            bas = std::min(bas, y);
            haut = std::max(haut, y);
        };
        for (const QPointF* p : {&a, &b}) {
            const double dx = p->x() - X;
            if (std::abs(dx) <= r) {
                const double h = std::sqrt(r * r - dx * dx);
                prendre(p->y() - h);
                prendre(p->y() + h);
            }
        }
        if (!rectangle)
            return;
        // Where the line crosses the edges of the rectangle around the segment.
        for (int i = 0; i < 4; ++i) {
            const QPointF& p = coins[i];
            const QPointF& q = coins[(i + 1) % 4];
            if ((p.x() - X) * (q.x() - X) > 0 || p.x() == q.x())
                continue;
            prendre(p.y() + (X - p.x()) / (q.x() - p.x()) * (q.y() - p.y()));
        }
    }

private:
    QPointF a, b;
    double r;
    bool rectangle;
    QPointF coins[4];
};

// The spans of a line, computed before any pixel is written.
struct Colonnes
{
    QVector<double> bas, haut; // per sample line, from the column `gauche`
    int gauche = 0;
    int premiere = 0, derniere = -1; // sample lines reached
    int ligne0 = 0, ligne1 = 0;      // rows reached, within the clip

    bool vide() const { return derniere < premiere || ligne1 <= ligne0; }
    QRect rectangle() const
    {
        return QRect(gauche + premiere / echantillons, ligne0,
                     derniere / echantillons - premiere / echantillons + 1, ligne1 - ligne0);
    }
};

Colonnes calculer(const QPolygonF& pixels, double r, const QRectF& clip)
{
    Colonnes spans;
    spans.gauche = static_cast<int>(std::floor(clip.left()));
    const int colonnes = static_cast<int>(std::ceil(clip.right())) - spans.gauche;
    if (colonnes <= 0 || pixels.isEmpty())
        return spans;
    const double infini = std::numeric_limits<double>::infinity();
    const int lignes = colonnes * echantillons;
    spans.bas.fill(infini, lignes);
    spans.haut.fill(-infini, lignes);
    spans.premiere = lignes;
    auto segment = [&](const QPointF& a, const QPointF& b) {
        const double xMin = std::min(a.x(), b.x()) - r - spans.gauche;
        const double xMax = std::max(a.x(), b.x()) + r - spans.gauche;
        const int kMin = borne(std::ceil(xMin * echantillons - 0.5), 0, lignes);
        const int kMax = borne(std::floor(xMax * echantillons - 0.5), -1, lignes - 1);
        if (kMin > kMax)
            return;
        const Capsule capsule(a, b, r);
        for (int k = kMin; k <= kMax; ++k)
            capsule.etendre(spans.gauche + (k + 0.5) / echantillons, spans.bas[k], spans.haut[k]);
        spans.premiere = std::min(spans.premiere, kMin);
        spans.derniere = std::max(spans.derniere, kMax);
    };
    for (int i = 0; i < pixels.size(); ++i) {
        if (!fini(pixels[i]))
            continue;
        const bool suivant = i + 1 < pixels.size() && fini(pixels[i + 1]);
        if (suivant)
            segment(pixels[i], pixels[i + 1]);
        else if (i == 0 || !fini(pixels[i - 1]))
            segment(pixels[i], pixels[i]); // a point alone: a dot
    }
    double yMin = infini, yMax = -infini;
    for (int k = spans.premiere; k <= spans.derniere; ++k) {
        if (spans.bas[k] <= spans.haut[k]) {
            yMin = std::min(yMin, spans.bas[k]);
            yMax = std::max(yMax, spans.haut[k]);
        }
    }
    if (!(yMin <= yMax))
        return spans;
    const int haut = static_cast<int>(std::floor(clip.top()));
    const int bas = static_cast<int>(std::ceil(clip.bottom()));
    spans.ligne0 = borne(std::floor(yMin), haut, bas);
    spans.ligne1 = borne(std::ceil(yMax), haut, bas);
    return spans;
}

// Lays the spans over an ARGB32 premultiplied image whose pixel (0, 0) is the
// point `origine`, each pixel's coverage the mean over the column's sample
// lines of the part of the pixel inside their spans.
void peindre(const Colonnes& spans, QImage& image, const QPoint& origine, const QColor& couleur)
{
    const QRect zone = spans.rectangle().intersected(QRect(origine, image.size()));
    if (zone.isEmpty())
        return;
    QVector<float> couverture(zone.height(), 0.0f);
    const float opacite = static_cast<float>(couleur.alphaF());
    const int rouge = couleur.red(), vert = couleur.green(), bleu = couleur.blue();
    const QRgb plein = qRgba(rouge, vert, bleu, 255);
    constexpr double partEchantillon = 1.0 / echantillons;
    uchar* debut = image.bits(); // detaches once, not at every pixel
    const qsizetype pas = image.bytesPerLine();
    for (int c = zone.left(); c <= zone.right(); ++c) {
        int yDebut = zone.height(), yFin = 0;
        for (int s = 0; s < echantillons; ++s) {
            const int k = (c - spans.gauche) * echantillons + s;
            if (spans.bas[k] > spans.haut[k])
                continue;
            const double lo = std::max(spans.bas[k], double(zone.top())) - zone.top();
            const double hi = std::min(spans.haut[k], double(zone.bottom() + 1)) - zone.top();
            if (!(hi > lo))
                continue;
            // Rows y0 and y1 partly covered, those between them wholly.
            const int y0 = static_cast<int>(std::floor(lo));
            const int y1 = std::max(y0, static_cast<int>(std::ceil(hi)) - 1);
            if (y0 == y1) {
                couverture[y0] += static_cast<float>((hi - lo) * partEchantillon);
            } else {
                couverture[y0] += static_cast<float>((y0 + 1 - lo) * partEchantillon);
                for (int y = y0 + 1; y < y1; ++y)
                    couverture[y] += static_cast<float>(partEchantillon);
                couverture[y1] += static_cast<float>((hi - y1) * partEchantillon);
            }
            yDebut = std::min(yDebut, y0);
            yFin = std::max(yFin, y1 + 1);
        }
        for (int y = yDebut; y < yFin; ++y) {
            const int a = static_cast<int>(std::min(couverture[y], 1.0f) * opacite * 255 + 0.5f);
            couverture[y] = 0.0f;
            if (a <= 0)
                continue;
            QRgb& pixel = reinterpret_cast<QRgb*>(debut + (zone.top() + y - origine.y()) *
                                                              pas)[c - origine.x()];
            if (a >= 255) { // wholly covered by an opaque pen
                pixel = plein;
                continue;
            }
            const int reste = 255 - a;
            pixel = qRgba((rouge * a + qRed(pixel) * reste + 127) / 255,
                          (vert * a + qGreen(pixel) * reste + 127) / 255,
                          (bleu * a + qBlue(pixel) * reste + 127) / 255,
                          (255 * a + qAlpha(pixel) * reste + 127) / 255);
        }
    }
}

} // namespace

QVector<QPointF> TraceColonnes::reduire(const QVector<QPointF>& points, const QwtScaleMap& xMap)
{
    QVector<QPointF> gardes;
    const int to = points.size() - 1;
    int i = 0;
    while (i <= to) {
        const QPointF premier = points[i];
        const double colonne = std::floor(xMap.transform(premier.x()));
        QPointF bas = premier, haut = premier, dernier = premier;
        int iBas = i, iHaut = i, iDernier = i;
        int j = i + 1;
        // Non-finite points are kept alone: they cut the line where they are.
        if (fini(premier)) {
            for (; j <= to; ++j) {
                const QPointF p = points[j];
                if (!fini(p) || std::floor(xMap.transform(p.x())) != colonne)
                    break;
                if (p.y() < bas.y()) {
                    bas = p;
                    iBas = j;
                }
                if (p.y() > haut.y()) {
                    haut = p;
                    iHaut = j;
                }
                dernier = p;
                iDernier = j;
            }
        }
        gardes.append(premier);
        const bool basAvant = iBas < iHaut;
        const int milieu[2] = {basAvant ? iBas : iHaut, basAvant ? iHaut : iBas};
        const QPointF milieuPoints[2] = {basAvant ? bas : haut, basAvant ? haut : bas};
        int precedent = i;
        for (int k = 0; k < 2; ++k) {
            if (milieu[k] != precedent && milieu[k] != iDernier) {
                gardes.append(milieuPoints[k]);
                precedent = milieu[k];
            }
        }
        if (iDernier != i)
            gardes.append(dernier);
        i = j;
    }
    return gardes;
}

void TraceColonnes::dessiner(QPainter* painter, const QVector<QPointF>& points,
                             const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                             const QRectF& canvasRect, const QPen& stylo)
{
    if (points.isEmpty())
        return;
    const QPolygonF pixels = TraceColonnes::pixels(points, xMap, yMap);
    const bool raster = painter->paintEngine() &&
                        painter->paintEngine()->type() == QPaintEngine::Raster &&
                        painter->testRenderHint(QPainter::Antialiasing) &&
                        painter->transform().type() <= QTransform::TxTranslate &&
                        stylo.style() == Qt::SolidLine && stylo.capStyle() == Qt::RoundCap &&
                        stylo.joinStyle() == Qt::RoundJoin && stylo.widthF() >= 1;
    if (raster) {
        dessinerColonnes(painter, pixels, stylo, canvasRect);
        return;
    }
    // As the curve clips its polygons: a little outside the canvas, by the pen.
    const double marge = std::max(stylo.widthF(), 1.0);
    const QRectF cadre = canvasRect.adjusted(-marge, -marge, marge, marge);
    painter->save();
    painter->setPen(stylo);
    // A non-finite point splits the line, as it would leave no point to draw.
    int debut = 0;
    for (int i = 0; i <= pixels.size(); ++i) {
        if (i < pixels.size() && fini(pixels[i]))
            continue;
        if (i - debut >= 1) {
            const QPolygonF morceau =
                QwtClipper::clipPolygonF(cadre, pixels.mid(debut, i - debut), false);
            QwtPainter::drawPolyline(painter, morceau);
        }
        debut = i + 1;
    }
    painter->restore();
}

void TraceColonnes::dessinerColonnes(QPainter* painter, const QPolygonF& pixels, const QPen& stylo,
                                     const QRectF& clip)
{
    const Colonnes spans = calculer(pixels, stylo.widthF() / 2, clip);
    if (spans.vide())
        return;
    const QRect zone = spans.rectangle();
    QImage image(zone.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    peindre(spans, image, zone.topLeft(), stylo.color());
    painter->drawImage(zone.topLeft(), image);
}

void TraceColonnes::dessinerDans(QImage& image, const QPoint& origine, const QPolygonF& pixels,
                                 const QPen& stylo, const QRectF& clip)
{
    const Colonnes spans = calculer(pixels, stylo.widthF() / 2, clip);
    if (!spans.vide() && image.format() == QImage::Format_ARGB32_Premultiplied)
        peindre(spans, image, origine, stylo.color());
}

QPolygonF TraceColonnes::pixels(const QVector<QPointF>& points, const QwtScaleMap& xMap,
                                const QwtScaleMap& yMap)
{
    QPolygonF resultat(points.size());
    for (int i = 0; i < points.size(); ++i)
        resultat[i] = QPointF(xMap.transform(points[i].x()), yMap.transform(points[i].y()));
    return resultat;
}
