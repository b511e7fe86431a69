#include "GraphiqueRevue.h"

#include "DonneesRevue.h"

#include <QPaintEngine>
#include <QPainter>
#include <cmath>
#include <qwt_plot_canvas.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_item.h>
#include <qwt_plot_layout.h>
#include <qwt_plot_zoneitem.h>
#include <qwt_scale_div.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_map.h>
#include <qwt_scale_widget.h>
#include <qwt_text.h>

namespace {

// Times as h:mm:ss from the file's start, with tenths when the ticks are closer
// than a second.
class EchelleTemps : public QwtScaleDraw
{
public:
    void setDecimales(int nombre)
    {
        if (nombre == decimales)
            return;
        decimales = nombre;
        invalidateCache();
    }

    QwtText label(double secondes) const override
    {
        const bool negatif = secondes < 0;
        const double arrondi = std::round(std::fabs(secondes) * 10.0) / 10.0;
        const qint64 entier = qint64(arrondi);
        QString texte = QStringLiteral("%1:%2:%3")
                            .arg(entier / 3600)
                            .arg((entier / 60) % 60, 2, 10, QLatin1Char('0'))
                            .arg(entier % 60, 2, 10, QLatin1Char('0'));
        if (decimales > 0)
            texte += QLatin1Char('.') + QString::number(qint64(arrondi * 10.0) % 10);
        return negatif ? QLatin1Char('-') + texte : texte;
    }

private:
    int decimales = 0;
};

// Tick steps a reader of a clock expects, in seconds.
constexpr double pasTemps[] = {0.1, 0.2, 0.5, 1,    2,    5,    10,    15,    30,    60,   120,
                               300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};

} // namespace

// The channel drawn from its levels.
class GraphiqueRevue::Trace : public QwtPlotItem
{
public:
    Trace(int canal, const QColor& couleur) : indice(canal), crayon(couleur, 0) {}

    int rtti() const override { return QwtPlotItem::Rtti_PlotUserItem; }

    void draw(QPainter* peintre, const QwtScaleMap& x, const QwtScaleMap& y,
              const QRectF& zone) const override
    {
        if (!donnees)
            return;
        const PyramideMinMax& p = donnees->canaux[indice];
        const double fe = donnees->fe;
        const int colonnes = std::max(1, int(std::ceil(std::fabs(x.p2() - x.p1()))));
        const double debut = std::max(0.0, std::min(x.s1(), x.s2()) * fe);
        const double fin = std::min(double(p.taille()), std::max(x.s1(), x.s2()) * fe);
        if (!(fin > debut))
            return;
        peintre->save();
        peintre->setPen(crayon);
        peintre->setClipRect(zone);
        QVector<QLineF> traits;
        if (fin - debut < 2.0 * colonnes) {
            // Fewer samples than columns: the samples themselves, joined.
            const qint64 premier = std::max<qint64>(0, qint64(std::floor(debut)) - 1);
            const qint64 dernier = std::min(p.taille() - 1, qint64(std::ceil(fin)) + 1);
            QPolygonF points;
            points.reserve(int(dernier - premier + 1));
            for (qint64 i = premier; i <= dernier; ++i)
                points << QPointF(x.transform(i / fe), y.transform(p.valeur(i)));
            peintre->drawPolyline(points);
        } else {
            // A stroke a column from its minimum to its maximum, each reaching
            // the one before so that a steep edge stays one line.
            const double pixelsDebut = x.transform(debut / fe);
            const double largeur = (x.transform(fin / fe) - pixelsDebut) / colonnes;
            std::vector<PyramideMinMax::Etendue> etendues;
            p.colonnes(debut, fin, colonnes, etendues);
            traits.reserve(colonnes);
            float avantMin = 0.0f, avantMax = 0.0f;
            bool avant = false;
            for (int c = 0; c < colonnes; ++c) {
                const PyramideMinMax::Etendue& e = etendues[size_t(c)];
                if (e.vide)
                    continue;
                float bas = e.min, haut = e.max;
                if (avant) {
                    bas = std::min(bas, avantMax);
                    haut = std::max(haut, avantMin);
                }
                const double px = pixelsDebut + (c + 0.5) * largeur;
                traits << QLineF(px, y.transform(bas), px, y.transform(haut) - 0.5);
                avantMin = e.min;
                avantMax = e.max;
                avant = true;
            }
            if (peintre->paintEngine()->type() == QPaintEngine::Raster &&
                peintre->transform().type() <= QTransform::TxTranslate) {
                // On the screen or an image a stroke is a column of pixels,
                // filled as a rectangle a pixel wide: several times cheaper
                // than a line, the most of a redraw.
                for (const QLineF& t : qAsConst(traits)) {
                    const int haut = int(std::floor(std::min(t.y1(), t.y2())));
                    const int bas = int(std::floor(std::max(t.y1(), t.y2())));
                    peintre->fillRect(QRect(int(std::floor(t.x1())), haut, 1, bas - haut + 1),
                                      crayon.color());
                }
            } else {
                peintre->drawLines(traits);
            }
        }
        peintre->restore();
    }

    std::shared_ptr<const DonneesRevue> donnees;

private:
    int indice;
    QPen crayon;
};

// The apneas shaded, and the onsets of the inspirations marked on the breathing
// channel, at most one mark a pixel column.
class GraphiqueRevue::Reperes : public QwtPlotItem
{
public:
    explicit Reperes(double retard) : decalage(retard) { setZ(-1.0); }

    int rtti() const override { return QwtPlotItem::Rtti_PlotUserItem + 1; }

    void draw(QPainter* peintre, const QwtScaleMap& x, const QwtScaleMap&,
              const QRectF& zone) const override
    {
        if (!donnees)
            return;
        peintre->save();
        peintre->setClipRect(zone);
        const double t0 = std::min(x.s1(), x.s2());
        const double t1 = std::max(x.s1(), x.s2());
        for (const auto& [debut, fin] : apnees) {
            if (fin + decalage < t0 || debut + decalage > t1)
                continue;
            const double a = x.transform(debut + decalage);
            const double b = std::max(a + 1.0, x.transform(fin + decalage));
            peintre->fillRect(QRectF(a, zone.top(), b - a, zone.height()),
                              QColor(255, 160, 60, 90));
        }
        if (marques) {
            peintre->setPen(QPen(QColor(200, 0, 0, 150), 0));
            const std::vector<Cycle>& cycles = donnees->cycles;
            auto premier = std::lower_bound(cycles.begin(), cycles.end(), t0 - decalage,
                                            [](const Cycle& c, double t) { return c.debut < t; });
            QVector<QLineF> traits;
            double dernierPixel = -1e9;
            const double hauteur = std::min(zone.height(), 12.0);
            for (auto c = premier; c != cycles.end() && c->debut + decalage <= t1; ++c) {
                const double px = std::round(x.transform(c->debut + decalage));
                if (px == dernierPixel)
                    continue;
                dernierPixel = px;
                traits << QLineF(px, zone.bottom(), px, zone.bottom() - hauteur)
                       << QLineF(px, zone.top(), px, zone.top() + hauteur);
            }
            peintre->drawLines(traits);
            peintre->setPen(QPen(QColor(200, 0, 0, 50), 0, Qt::DotLine));
            if (traits.size() < 400) {
                for (int i = 0; i < traits.size(); i += 2)
                    peintre->drawLine(
                        QLineF(traits[i].x1(), zone.top(), traits[i].x1(), zone.bottom()));
            }
        }
        peintre->restore();
    }

    std::shared_ptr<const DonneesRevue> donnees;
    std::vector<QPair<double, double>> apnees;
    double decalage;
    bool marques = false;
};

GraphiqueRevue::GraphiqueRevue(const QString& nom, int canal, const QColor& couleur,
                               bool vueEnsemble, QWidget* parent)
    : QwtPlot(parent), indiceCanal(canal), apercu(vueEnsemble)
{
    setAutoReplot(false);
    setCanvasBackground(Qt::white);
    if (auto* toile = qobject_cast<QwtPlotCanvas*>(canvas())) {
        toile->setFrameStyle(QFrame::Box | QFrame::Plain);
        toile->setLineWidth(1);
    }
    auto* echelle = new EchelleTemps;
    setAxisScaleDraw(QwtPlot::xBottom, echelle);
    // Room at both ends for the widest label, shown or not: the stacked
    // canvases then start and end at the same pixels, whatever the times.
    const int bord =
        QFontMetrics(axisFont(QwtPlot::xBottom)).horizontalAdvance(QStringLiteral("00:00:00.0")) /
            2 +
        2;
    axisWidget(QwtPlot::xBottom)->setMinBorderDist(bord, bord);
    // The canvas ends where the time scale does: no strip without samples.
    plotLayout()->setAlignCanvasToScales(true);
    QwtText titre(nom);
    titre.setFont(axisFont(QwtPlot::yLeft));
    setAxisTitle(QwtPlot::yLeft, titre);
    if (!apercu) {
        auto* grille = new QwtPlotGrid;
        grille->setMajorPen(QColor(128, 128, 128, 120), 0, Qt::DashLine);
        grille->attach(this);
    }
    reperes = new Reperes(0.0);
    reperes->attach(this);
    zoneSelection = new QwtPlotZoneItem;
    zoneSelection->setOrientation(Qt::Vertical);
    zoneSelection->setBrush(QColor(60, 120, 230, 60));
    zoneSelection->setPen(QPen(QColor(60, 120, 230, 160), 0));
    zoneSelection->setVisible(false);
    zoneSelection->attach(this);
    zoneCycle = new QwtPlotZoneItem;
    zoneCycle->setOrientation(Qt::Vertical);
    zoneCycle->setBrush(QColor(40, 170, 60, 50));
    zoneCycle->setVisible(false);
    zoneCycle->attach(this);
    if (apercu) {
        zoneVue = new QwtPlotZoneItem;
        zoneVue->setOrientation(Qt::Vertical);
        zoneVue->setBrush(QColor(255, 200, 0, 110));
        zoneVue->setPen(QPen(QColor(200, 130, 0), 1));
        zoneVue->attach(this);
        setMinimumHeight(70);
        setMaximumHeight(110);
    } else {
        setMinimumHeight(90);
    }
    trace = new Trace(canal, couleur);
    trace->setZ(10.0);
    trace->attach(this);
    setAxisScale(QwtPlot::yLeft, 0.0, 1.0);
}

void GraphiqueRevue::setDonnees(std::shared_ptr<const DonneesRevue> donnees)
{
    trace->donnees = donnees;
    reperes->donnees = donnees;
    reperes->apnees.clear();
    if (donnees)
        reperes->decalage = indiceCanal == 0   ? donnees->decalageCo2
                            : indiceCanal == 1 ? donnees->decalageO2
                                               : 0.0;
    zoneSelection->setVisible(false);
    zoneCycle->setVisible(false);
    const double duree = donnees ? std::max(donnees->duree(), 1.0 / donnees->fe) : 1.0;
    if (apercu)
        diviserTemps(0.0, duree);
}

void GraphiqueRevue::setApnees(const std::vector<QPair<double, double>>& apnees)
{
    reperes->apnees = apnees;
}

void GraphiqueRevue::setVue(double debut, double fin)
{
    if (apercu)
        zoneVue->setInterval(debut, fin);
    else
        diviserTemps(debut, fin);
    replot();
}

void GraphiqueRevue::setEchelle(double min, double max)
{
    setAxisScale(QwtPlot::yLeft, min, max);
}

void GraphiqueRevue::setSelection(double debut, double fin)
{
    zoneSelection->setVisible(fin > debut);
    zoneSelection->setInterval(debut, fin);
}

void GraphiqueRevue::setCycleMarque(double debut, double fin)
{
    zoneCycle->setVisible(fin > debut);
    zoneCycle->setInterval(debut + reperes->decalage, fin + reperes->decalage);
}

void GraphiqueRevue::setMarquesInspiration(bool marques)
{
    reperes->marques = marques;
}

void GraphiqueRevue::setEtiquettesTemps(bool affichees)
{
    axisScaleDraw(QwtPlot::xBottom)->enableComponent(QwtAbstractScaleDraw::Labels, affichees);
    axisWidget(QwtPlot::xBottom)->update();
    updateLayout();
}

double GraphiqueRevue::tempsA(int x) const
{
    return canvasMap(QwtPlot::xBottom).invTransform(x);
}

// Ticks at a clock's steps, about one every 110 pixels, with four minor ones
// between.
void GraphiqueRevue::diviserTemps(double debut, double fin)
{
    const double largeur = std::max(100, canvas()->width());
    const double voulu = (fin - debut) * 110.0 / largeur;
    double pas = pasTemps[std::size(pasTemps) - 1];
    for (double p : pasTemps) {
        if (p >= voulu) {
            pas = p;
            break;
        }
    }
    QList<double> majeurs, mineurs;
    const double mineur = pas / 5.0;
    for (double t = std::ceil(debut / mineur) * mineur; t <= fin + 1e-9; t += mineur) {
        const double arrondi = std::round(t / mineur) * mineur;
        if (std::fabs(std::remainder(arrondi, pas)) < mineur * 1e-3)
            majeurs << arrondi;
        else
            mineurs << arrondi;
    }
    QwtScaleDiv division(debut, fin, mineurs, QList<double>(), majeurs);
    static_cast<EchelleTemps*>(axisScaleDraw(QwtPlot::xBottom))->setDecimales(pas < 1.0 ? 1 : 0);
    setAxisScaleDiv(QwtPlot::xBottom, division);
}
