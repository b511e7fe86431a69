#pragma once

#include <QMarginsF>
#include <QPageLayout>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QFont;
class QPainter;
class QPicture;
class QPrinter;

// Lays the drawing of the plots area out on one printed page (PDF or
// PostScript): landscape when the drawing is wider than high, margins all
// round, the drawing scaled to fill the printable area above a one-line
// caption, the whole block centred. The drawing stays vector graphics and the
// caption is text.
class MiseEnPage
{
public:
    // Margins of the page, in millimetres.
    static QMarginsF marges() { return QMarginsF(15, 15, 15, 15); }
    // Gap between the drawing and its caption, in points.
    static constexpr qreal ecartLegende = 6;

    static QPageLayout::Orientation orientationPour(const QSizeF& dessin);

    // Gives the printer the orientation for a drawing of that size and the
    // margins; the page size stays the printer's.
    static void preparer(QPrinter& printer, const QSizeF& dessin);

    // The rectangle, inside zone, of a drawing of that size scaled to the
    // largest size that leaves room under it for a caption line of
    // hauteurLegende plus ecart; the drawing and the caption together are
    // centred in zone. Empty when nothing fits.
    static QRectF cadreDessin(const QRectF& zone, const QSizeF& dessin, qreal hauteurLegende,
                              qreal ecart);

    // Draws the picture (of tailleEcran screen pixels) and the caption on the
    // printer's page, which painter is open on.
    static void imprimer(QPainter& painter, QPrinter& printer, const QPicture& dessin,
                         const QSizeF& tailleEcran, const QString& legende, const QFont& police);
};
