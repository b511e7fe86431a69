#pragma once

#include <QCoreApplication>
#include <QString>

class QDateTime;
class QPicture;
class QPixmap;
class QWidget;

// Writes what the plots area shows into a file whose kind follows the letters
// of its extension: PDF, PostScript, SVG, or otherwise a raster image of the
// last snapshot. PDF, PostScript and SVG are drawn from the plots as vector
// graphics when the export is written (a paused display still shows what it
// froze on); raster exports save the snapshot. Failures are reported by the
// return value and the debug output; the window tells the operator.
class ExportGraphique
{
    Q_DECLARE_TR_FUNCTIONS(ExportGraphique)

public:
    enum class Format { Pdf, PostScript, Svg, Image };

    // "exportation_dd_MM_yyyy_hh_mm_ss.png" for the given local date and time.
    static QString nomPropose(const QDateTime& moment);
    // The caption printed under the plots of a PDF or PostScript page:
    // "Instantané du dd/MM/yyyy à hh:mm:ss — " and the source described, or the
    // moment alone when the source is empty.
    static QString legende(const QDateTime& moment, const QString& source);
    // "Images (*.png *.bmp *.jpg ...)" over every writable image format, PNG
    // first and the others in the image writer's order; empty when there is
    // none.
    static QString filtreImages();
    // The save dialog's filters in order (PDF, SVG, PostScript, images) joined by
    // ";;".
    static QString filtres();
    // The kind of file written for a chosen name.
    static Format formatPourNom(const QString& nomFichier);

    // The name given a suffix from the first pattern of the selected filter
    // ("*.pdf") when it has none; unchanged otherwise.
    static QString avecSuffixeDuFiltre(const QString& nomFichier, const QString& filtre);

    // The container drawn as vector graphics, the plots from their items: what
    // PDF, PostScript and SVG exports are made of (empty for a null container).
    static QPicture dessinVectoriel(QWidget* conteneur);
    // Grabs the container into a pixmap (null when the container is null).
    static QPixmap prendreInstantane(QWidget* conteneur);
    // Writes the SVG drawing of the container to fichierSvg.
    static bool ecrireSvgInstantane(QWidget* conteneur, const QString& fichierSvg);

    // Writes the export file nomFichier (an empty name, a cancelled dialog,
    // writes nothing). The container is drawn for PDF and PostScript, on one
    // page with legende under it, and for SVG unless a drawing already made is
    // given as fichierSvg, which is then copied; instantane is saved for raster
    // images. A dessin taken with the snapshot (dessinVectoriel) is written in
    // place of a drawing made now, so that every format shows one moment; the
    // container then only gives its size and font.
    static bool exporter(QWidget* conteneur, const QPixmap& instantane, const QString& nomFichier,
                         const QString& fichierSvg = QString(), const QString& legende = QString(),
                         const QPicture* dessin = nullptr);

    static bool ecrirePdf(QWidget* conteneur, const QString& nomFichier,
                          const QString& legende = QString(), const QPicture* dessin = nullptr);
    // With eps set, the document is Encapsulated PostScript.
    static bool ecrirePostScript(QWidget* conteneur, const QString& nomFichier, bool eps = false,
                                 const QString& legende = QString(),
                                 const QPicture* dessin = nullptr);
    // Draws the container (or dessin) as SVG into nomFichier.
    static bool ecrireSvg(QWidget* conteneur, const QString& nomFichier,
                          const QPicture* dessin = nullptr);
    // Replaces nomFichier by a copy of fichierSvg.
    static bool copierSvg(const QString& fichierSvg, const QString& nomFichier);
    static bool ecrireImage(const QPixmap& instantane, const QString& nomFichier);
};
