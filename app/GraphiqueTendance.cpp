#include "GraphiqueTendance.h"

#include "ModeleCycles.h"

#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_legenditem.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <algorithm>
#include <limits>

namespace {

// A curve drawn in pieces: no line joins the points on either side of a break.
class CourbeCoupee : public QwtPlotCurve
{
public:
    explicit CourbeCoupee(const QString& nom) : QwtPlotCurve(nom) {}

    QVector<int> coupures; // indices of the points that begin a piece, ascending

    void drawSeries(QPainter* peintre, const QwtScaleMap& x, const QwtScaleMap& y,
                    const QRectF& zone, int depuis, int jusqua) const override
    {
        if (jusqua < 0)
            jusqua = int(dataSize()) - 1;
        int debut = depuis;
        for (int coupure : coupures) {
            if (coupure <= debut)
                continue;
            if (coupure > jusqua)
                break;
            QwtPlotCurve::drawSeries(peintre, x, y, zone, debut, coupure - 1);
            debut = coupure;
        }
        QwtPlotCurve::drawSeries(peintre, x, y, zone, debut, jusqua);
    }
};

} // namespace

GraphiqueTendance::GraphiqueTendance(const QString& titre, const QList<Serie>& lesSeries,
                                     QWidget* parent)
    : QwtPlot(parent), series(lesSeries)
{
    setCanvasBackground(Qt::white);
    setMinimumSize(160, 90);
    QwtText titreValeur(titre);
    titreValeur.setFont(axisFont(QwtPlot::yLeft));
    setAxisTitle(QwtPlot::yLeft, titreValeur);
    QwtText titreTemps(tr("Temps (min)"));
    titreTemps.setFont(axisFont(QwtPlot::xBottom));
    setAxisTitle(QwtPlot::xBottom, titreTemps);
    auto* grille = new QwtPlotGrid;
    grille->setMajorPen(QColor(128, 128, 128, 120), 0, Qt::DashLine);
    grille->attach(this);
    if (series.size() > 1) {
        // Inside the canvas, so that it takes no room from the plot.
        auto* legende = new QwtPlotLegendItem;
        legende->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        legende->setBackgroundBrush(QColor(255, 255, 255, 220));
        legende->setBorderPen(QPen(QColor(160, 160, 160)));
        legende->setBorderRadius(3);
        legende->attach(this);
    }
    for (const Serie& serie : qAsConst(series)) {
        auto* courbe = new CourbeCoupee(serie.nom);
        courbe->setPen(serie.couleur, 1.5);
        courbe->setItemAttribute(QwtPlotItem::Legend, true);
        courbe->setLegendAttribute(QwtPlotCurve::LegendShowLine, true);
        courbe->attach(this);
        courbes.append(courbe);
    }

    setAutoReplot(false);
}

void GraphiqueTendance::tracer(const std::vector<Cycle>& cycles)
{
    // Few breaths read better as dots joined by lines.
    const bool points = cycles.size() <= 300;
    double bas = std::numeric_limits<double>::infinity();
    double haut = -bas;
    for (int i = 0; i < series.size(); ++i) {
        auto* c = static_cast<CourbeCoupee*>(courbes[i]);
        const QVector<QPointF> echantillons =
            decimer(cycles, series[i].colonne, pointsMax, &c->coupures);
        for (const QPointF& p : echantillons) {
            bas = std::min(bas, p.y());
            haut = std::max(haut, p.y());
        }
        c->setSamples(echantillons);
        c->setSymbol(points ? new QwtSymbol(QwtSymbol::Ellipse, series[i].couleur,
                                            QPen(series[i].couleur), QSize(5, 5))
                            : nullptr);
    }
    const double fin = cycles.empty() ? 0.0 : (cycles.back().debut + cycles.back().duree) / 60.0;
    setAxisScale(QwtPlot::xBottom, 0.0, std::max(fin, 1.0));
    if (echelleLibre) {
        if (bas <= haut && haut - bas < etendueMin) {
            const double milieu = (bas + haut) / 2.0;
            setAxisScale(QwtPlot::yLeft, milieu - etendueMin / 2.0, milieu + etendueMin / 2.0);
        } else {
            setAxisAutoScale(QwtPlot::yLeft, true);
        }
    }
    replot();
}

void GraphiqueTendance::imposerEchelle(double min, double max)
{
    echelleLibre = false;
    setAxisScale(QwtPlot::yLeft, min, max);
}

QVector<QPointF> GraphiqueTendance::decimer(const std::vector<Cycle>& cycles, int colonne,
                                            int points, QVector<int>* coupures)
{
    QVector<QPointF> resultat;
    if (coupures)
        coupures->clear();
    auto couper = [&resultat, coupures] {
        if (coupures && !resultat.isEmpty() &&
            (coupures->isEmpty() || coupures->last() != resultat.size()))
            coupures->append(resultat.size());
    };
    auto point = [colonne](const Cycle& c) {
        return QPointF(c.debut / 60.0, ModeleCycles::valeur(c, colonne));
    };
    // One point is kept for the newest breath, at the right end.
    const int groupes = std::max(1, (points - 1) / 2);
    if (cycles.size() <= size_t(points)) {
        resultat.reserve(int(cycles.size()));
        for (const Cycle& c : cycles) {
            if (c.apneePrecedente > 0.0 || c.apresCoupure)
                couper();
            resultat.append(point(c));
        }
        return resultat;
    }

    // Groups of equal time spans; each non-empty one gives its lowest and its
    // highest point, in the order they came.
    const double debut = cycles.front().debut;
    const double duree = std::max(cycles.back().debut - debut, 1e-9);
    resultat.reserve(2 * groupes);
    size_t i = 0;
    for (int g = 0; g < groupes && i < cycles.size(); ++g) {
        const double fin = debut + duree * (g + 1) / groupes;
        const size_t depart = i;
        size_t bas = i;
        size_t haut = i;
        bool apnee = false;
        for (; i < cycles.size() && (cycles[i].debut <= fin || g == groupes - 1); ++i) {
            apnee = apnee || cycles[i].apneePrecedente > 0.0 || cycles[i].apresCoupure;
            const double v = ModeleCycles::valeur(cycles[i], colonne);
            if (v < ModeleCycles::valeur(cycles[bas], colonne))
                bas = i;
            if (v > ModeleCycles::valeur(cycles[haut], colonne))
                haut = i;
        }
        if (i == depart)
            continue;
        // An apnea or a lost line within a group breaks the curve before it.
        if (apnee)
            couper();
        resultat.append(point(cycles[std::min(bas, haut)]));
        if (bas != haut)
            resultat.append(point(cycles[std::max(bas, haut)]));
    }
    if (resultat.last().x() != point(cycles.back()).x())
        resultat.append(point(cycles.back()));
    return resultat;
}
