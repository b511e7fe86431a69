#pragma once

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
    // Gives the printer the orientation for a drawing of that size and 15 mm
    // margins; the page size stays the printer's.
    static void preparer(QPrinter& printer, const QSizeF& dessin);

    // Draws the picture (of tailleEcran screen pixels) and the caption on the
    // printer's page, which painter is open on: the drawing scaled to the
    // largest size that leaves room under it for the caption line, the two
    // together centred in the printable area.
    static void imprimer(QPainter& painter, QPrinter& printer, const QPicture& dessin,
                         const QSizeF& tailleEcran, const QString& legende, const QFont& police);
};
