#pragma once

#include <QList>
#include <QString>
#include <qwt_plot_curve.h>

class Tampon;

// The live curve of one channel. Its data series is the channel's buffer, which the
// curve owns (the base class deletes it), and it carries the palette through
// which the plot steps from one sweep to the next.
class Courbe : public QwtPlotCurve
{
public:
    Courbe(const QString& titre, Tampon* tampon, QList<Qt::GlobalColor> couleurs);
    ~Courbe() override;

    void setCouleur(int index);
    void viderDonnees();
    void setPause(bool pauseActive);

protected:
    // Drawn from the points' per-pixel-column extremes (TraceColonnes): a long
    // window costs one column's worth of drawing per pixel, not per sample.
    void drawLines(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                   const QRectF& canvasRect, int from, int to) const override;

private:
    Tampon* tampon;
    QList<Qt::GlobalColor> couleurs;
};
