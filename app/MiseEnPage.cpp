#include "MiseEnPage.h"

#include <QFont>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPageLayout>
#include <QPainter>
#include <QPicture>
#include <QPrinter>
#include <QRectF>

namespace {

// Gap between the drawing and its caption, in points.
constexpr qreal ecartLegende = 6;

// The rectangle, inside zone, of a drawing of that size scaled to the largest
// size that leaves room under it for a caption line of hauteurLegende plus
// ecart; the drawing and the caption together are centred in zone. Empty when
// nothing fits.
QRectF cadreDessin(const QRectF& zone, const QSizeF& dessin, qreal hauteurLegende, qreal ecart)
{
    const qreal hauteurLibre = zone.height() - hauteurLegende - ecart;
    if (dessin.isEmpty() || zone.width() <= 0 || hauteurLibre <= 0)
        return QRectF();
    const qreal facteur = qMin(zone.width() / dessin.width(), hauteurLibre / dessin.height());
    const QSizeF taille = dessin * facteur;
    const qreal bloc = taille.height() + ecart + hauteurLegende;
    return QRectF(QPointF(zone.left() + (zone.width() - taille.width()) / 2,
                          zone.top() + (zone.height() - bloc) / 2),
                  taille);
}

} // namespace

void MiseEnPage::preparer(QPrinter& printer, const QSizeF& dessin)
{
    printer.setPageOrientation(dessin.width() > dessin.height() ? QPageLayout::Landscape
                                                                : QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
}

void MiseEnPage::imprimer(QPainter& painter, QPrinter& printer, const QPicture& dessin,
                          const QSizeF& tailleEcran, const QString& legende, const QFont& police)
{
    // The painter's origin is the top left corner of the printable area.
    const QRectF zone(QPointF(0, 0),
                      printer.pageLayout().paintRectPixels(printer.resolution()).size());
    // QPainter::drawPicture already scales from the picture's resolution to
    // the printer's: this is the drawing's size on paper at scale 1.
    const QSizeF taille(tailleEcran.width() * printer.logicalDpiX() / dessin.logicalDpiX(),
                        tailleEcran.height() * printer.logicalDpiY() / dessin.logicalDpiY());
    const QFont policeImprimee(police, &printer);
    const QFontMetricsF mesures(policeImprimee, &printer);
    const qreal ecart = ecartLegende * printer.resolution() / 72.0;
    const qreal hauteurLegende = legende.isEmpty() ? 0 : mesures.height();
    const QRectF cadre = cadreDessin(zone, taille, hauteurLegende, legende.isEmpty() ? 0 : ecart);
    if (cadre.isEmpty())
        return;

    painter.save();
    painter.translate(cadre.topLeft());
    painter.scale(cadre.width() / taille.width(), cadre.height() / taille.height());
    painter.drawPicture(0, 0, dessin);
    painter.restore();

    if (legende.isEmpty())
        return;
    painter.setFont(policeImprimee);
    painter.setPen(Qt::black);
    const qreal largeur = zone.right() - cadre.left();
    const QRectF ligne(cadre.left(), cadre.bottom() + ecart, largeur, hauteurLegende);
    painter.drawText(ligne, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     mesures.elidedText(legende, Qt::ElideRight, largeur));
}
