#include "ExportGraphique.h"

#include "ConvertisseurPostScript.h"
#include "MiseEnPage.h"

#include <QBuffer>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImageWriter>
#include <QPainter>
#include <QPicture>
#include <QPixmap>
#include <QPrinter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <QSvgGenerator>
#include <QTemporaryDir>
#include <QWidget>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_renderer.h>

#include <functional>
#include <vector>

namespace {

// The part of the file name from its last dot, dot included, or the whole file
// name when it has none. The directories are left out: a dot or the letters
// "ps" in a folder name say nothing about the kind of file wanted.
QString extension(const QString& nomFichier)
{
    const QString nom = QFileInfo(nomFichier).fileName();
    const int point = nom.lastIndexOf(QLatin1Char('.'));
    return point < 0 ? nom : nom.mid(point);
}

// Gives a plot's grids and curves, for the time of a drawing on paper, the pens
// that look as they do on screen. A pen of width 0 is one device pixel wide: on
// a 1200 dpi page a hairline, its dots a hairline apart, so the dotted minor
// grid would print as a dense solid mesh; it becomes one screen pixel wide.
// Translucent colours are mixed with the canvas background: PostScript has no
// transparency, and Qt writes a translucent dotted line to PDF as one filled
// rectangle per dot.
class StylosImprimables
{
public:
    explicit StylosImprimables(QwtPlot* graphe) : plot(graphe), autoReplot(graphe->autoReplot())
    {
        // The pens are put back before anything is painted on screen again.
        plot->setAutoReplot(false);
        const QColor fond = plot->canvasBackground().color();
        for (QwtPlotItem* item : plot->itemList(QwtPlotItem::Rtti_PlotGrid)) {
            auto* grille = static_cast<QwtPlotGrid*>(item);
            const QPen majeur = grille->majorPen();
            const QPen mineur = grille->minorPen();
            grille->setMajorPen(imprimable(majeur, fond));
            grille->setMinorPen(imprimable(mineur, fond));
            retours.push_back([grille, majeur, mineur] {
                grille->setMajorPen(majeur);
                grille->setMinorPen(mineur);
            });
        }
        for (QwtPlotItem* item : plot->itemList(QwtPlotItem::Rtti_PlotCurve)) {
            auto* courbe = static_cast<QwtPlotCurve*>(item);
            const QPen stylo = courbe->pen();
            courbe->setPen(imprimable(stylo, fond));
            retours.push_back([courbe, stylo] { courbe->setPen(stylo); });
        }
    }

    ~StylosImprimables()
    {
        for (const auto& retour : retours)
            retour();
        plot->setAutoReplot(autoReplot);
    }

    StylosImprimables(const StylosImprimables&) = delete;
    StylosImprimables& operator=(const StylosImprimables&) = delete;

private:
    static QPen imprimable(QPen stylo, const QColor& fond)
    {
        if (stylo.widthF() == 0.0)
            stylo.setWidthF(1.0);
        stylo.setCosmetic(false);
        const QColor couleur = stylo.color();
        if (couleur.alpha() < 255 && fond.isValid()) {
            const qreal a = couleur.alphaF();
            stylo.setColor(QColor::fromRgbF(a * couleur.redF() + (1 - a) * fond.redF(),
                                            a * couleur.greenF() + (1 - a) * fond.greenF(),
                                            a * couleur.blueF() + (1 - a) * fond.blueF()));
        }
        return stylo;
    }

    QwtPlot* plot;
    bool autoReplot;
    std::vector<std::function<void()>> retours;
};

// Draws a widget tree as vector graphics. QWidget::render onto a printer goes
// through a pixmap, and a Qwt canvas paints its backing store even into a
// QPicture, so the plots are drawn by QwtPlotRenderer from their items instead;
// any other widget paints itself, then its children are drawn the same way.
void dessinerWidget(QWidget* widget, QPainter& painter, const QPoint& position,
                    QWidget::RenderFlags drapeaux)
{
    if (auto* plot = qobject_cast<QwtPlot*>(widget)) {
        const StylosImprimables stylos(plot);
        QwtPlotRenderer().render(plot, &painter, QRectF(position, plot->size()));
        return;
    }
    widget->render(&painter, position, QRegion(), drapeaux);
    for (QObject* enfant : widget->children()) {
        auto* sousWidget = qobject_cast<QWidget*>(enfant);
        if (sousWidget && !sousWidget->isWindow() && sousWidget->isVisibleTo(widget))
            dessinerWidget(sousWidget, painter, position + sousWidget->pos(),
                           QWidget::RenderFlags());
    }
}

// Prints the container on one page of a PDF document, laid out with its
// caption (MiseEnPage). For a document to be turned into PostScript, the
// PDF/A-1b flavour makes Qt draw whatever is still translucent opaque (PDF/A-1
// forbids transparency): cairo would otherwise paste a bitmap wherever
// translucent drawing overlaps other drawing.
bool imprimerPdf(QWidget* conteneur, const QString& nomFichier, bool opaque, const QString& legende,
                 const QPicture* fige)
{
    if (!conteneur) {
        qDebug() << "PDF export: no plots area to draw";
        return false;
    }
    const QPicture dessin = fige ? *fige : ExportGraphique::dessinVectoriel(conteneur);

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFileName(nomFichier);
    printer.setOutputFormat(QPrinter::PdfFormat);
    if (opaque)
        printer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
    MiseEnPage::preparer(printer, conteneur->size());
    QPainter painter;
    if (!painter.begin(&printer)) {
        qDebug() << "PDF export: cannot write" << nomFichier;
        return false;
    }
    // Without ligatures, the caption reads back letter for letter ("fichier",
    // not its "fi" ligature) when it is copied or searched.
    QFont police = conteneur->font();
    police.setPointSizeF(9);
    police.setStyleStrategy(QFont::PreferNoShaping);
    MiseEnPage::imprimer(painter, printer, dessin, conteneur->size(), legende, police);
    return painter.end();
}

// Replaces the file in one step, so that a failure leaves the former file as it
// was.
bool remplacerFichier(const QString& nomFichier, const QByteArray& contenu)
{
    QSaveFile fichier(nomFichier);
    if (!fichier.open(QIODevice::WriteOnly) || fichier.write(contenu) != contenu.size() ||
        !fichier.commit()) {
        qDebug() << "export: cannot write" << nomFichier << fichier.errorString();
        return false;
    }
    return true;
}

// The vector drawing written as SVG, at the screen's resolution so that its
// text keeps the size it has on screen.
bool ecrireSvgDessin(const QPicture& dessin, QWidget* conteneur, const QString& fichierSvg)
{
    QSvgGenerator generateur;
    generateur.setFileName(fichierSvg);
    generateur.setResolution(conteneur->logicalDpiX());
    generateur.setSize(conteneur->size());
    generateur.setViewBox(QRect(QPoint(0, 0), conteneur->size()));
    QPainter painter;
    if (!painter.begin(&generateur)) {
        qDebug() << "SVG export: cannot write" << fichierSvg;
        return false;
    }
    painter.drawPicture(0, 0, dessin);
    return painter.end();
}

} // namespace

QPicture ExportGraphique::dessinVectoriel(QWidget* conteneur)
{
    QPicture dessin;
    if (!conteneur)
        return dessin;
    QPainter painter(&dessin);
    dessinerWidget(conteneur, painter, QPoint(0, 0), QWidget::DrawWindowBackground);
    painter.end();
    return dessin;
}

QString ExportGraphique::nomPropose(const QDateTime& moment)
{
    return tr("exportation_") + moment.toString(tr("dd_MM_yyyy_hh_mm_ss")) + QStringLiteral(".png");
}

QString ExportGraphique::legende(const QDateTime& moment, const QString& source)
{
    const QString instant = tr("Instantané du %1 à %2")
                                .arg(moment.toString(QStringLiteral("dd/MM/yyyy")),
                                     moment.toString(QStringLiteral("hh:mm:ss")));
    return source.isEmpty() ? instant : tr("%1 — %2").arg(instant, source);
}

QString ExportGraphique::filtreImages()
{
    // PNG first: a save dialog that selects this filter gives the proposed name
    // the suffix of the filter's first pattern, and the proposed name is a PNG.
    QStringList motifs;
    for (const QByteArray& format : QImageWriter::supportedImageFormats()) {
        const QString motif = QStringLiteral("*.") + QString::fromLatin1(format);
        if (format == "png")
            motifs.prepend(motif);
        else
            motifs << motif;
    }
    if (motifs.isEmpty())
        return QString();
    return tr("Images (%1)").arg(motifs.join(QLatin1Char(' ')));
}

QString ExportGraphique::filtres()
{
    QStringList liste{tr("Document PDF (*.pdf)"), tr("Image vectorielle SVG (*.svg)"),
                      tr("Document Postscript (*.ps)")};
    const QString images = filtreImages();
    if (!images.isEmpty())
        liste << images;
    return liste.join(QStringLiteral(";;"));
}

ExportGraphique::Format ExportGraphique::formatPourNom(const QString& nomFichier)
{
    const QString suffixe = extension(nomFichier);
    if (suffixe.contains(QLatin1String("pdf"), Qt::CaseInsensitive))
        return Format::Pdf;
    if (suffixe.contains(QLatin1String("ps"), Qt::CaseInsensitive))
        return Format::PostScript;
    if (suffixe.contains(QLatin1String("svg"), Qt::CaseInsensitive))
        return Format::Svg;
    return Format::Image;
}

QString ExportGraphique::avecSuffixeDuFiltre(const QString& nomFichier, const QString& filtre)
{
    if (nomFichier.isEmpty() || !QFileInfo(nomFichier).suffix().isEmpty())
        return nomFichier;
    const QRegularExpression motif(QStringLiteral("\\*\\.(\\w+)"));
    const QRegularExpressionMatch trouve = motif.match(filtre);
    return trouve.hasMatch() ? nomFichier + QLatin1Char('.') + trouve.captured(1) : nomFichier;
}

QPixmap ExportGraphique::prendreInstantane(QWidget* conteneur)
{
    if (!conteneur) {
        qDebug() << "snapshot: no plots area";
        return QPixmap();
    }
    return conteneur->grab();
}

bool ExportGraphique::ecrireSvgInstantane(QWidget* conteneur, const QString& fichierSvg)
{
    if (!conteneur)
        return false;
    QSvgGenerator generateur;
    generateur.setFileName(fichierSvg);
    // Text is laid out in points: at the generator's default 72 dpi it would
    // come out smaller than on screen.
    generateur.setResolution(conteneur->logicalDpiX());
    generateur.setSize(conteneur->size());
    generateur.setViewBox(conteneur->contentsRect());
    generateur.setTitle(tr("SVG Generator Test"));
    generateur.setDescription(tr("Test"));
    QPainter painter;
    if (!painter.begin(&generateur)) {
        qDebug() << "snapshot: cannot write" << fichierSvg;
        return false;
    }
    conteneur->render(&painter, QPoint(0, 0), QRegion(),
                      QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return painter.end();
}

bool ExportGraphique::exporter(QWidget* conteneur, const QPixmap& instantane,
                               const QString& nomFichier, const QString& fichierSvg,
                               const QString& legende, const QPicture* dessin)
{
    if (nomFichier.isEmpty()) {
        qDebug() << "export: no file name, nothing written";
        return false;
    }
    switch (formatPourNom(nomFichier)) {
    case Format::Pdf:
        return ecrirePdf(conteneur, nomFichier, legende, dessin);
    case Format::PostScript:
        return ecrirePostScript(
            conteneur, nomFichier,
            extension(nomFichier).compare(QLatin1String(".eps"), Qt::CaseInsensitive) == 0, legende,
            dessin);
    case Format::Svg:
        return fichierSvg.isEmpty() ? ecrireSvg(conteneur, nomFichier, dessin)
                                    : copierSvg(fichierSvg, nomFichier);
    case Format::Image:
        break;
    }
    return ecrireImage(instantane, nomFichier);
}

// The printer writes its file itself, truncating it first: it prints into a
// scratch folder, and the page replaces the file once whole.
bool ExportGraphique::ecrirePdf(QWidget* conteneur, const QString& nomFichier,
                                const QString& legende, const QPicture* dessin)
{
    const QTemporaryDir dossier;
    if (!dossier.isValid()) {
        qDebug() << "PDF export: no temporary folder" << dossier.errorString();
        return false;
    }
    const QString pdf = dossier.filePath(QStringLiteral("page.pdf"));
    if (!imprimerPdf(conteneur, pdf, false, legende, dessin))
        return false;
    QFile page(pdf);
    if (!page.open(QIODevice::ReadOnly)) {
        qDebug() << "PDF export: cannot read the page back" << page.errorString();
        return false;
    }
    return remplacerFichier(nomFichier, page.readAll());
}

bool ExportGraphique::ecrirePostScript(QWidget* conteneur, const QString& nomFichier, bool eps,
                                       const QString& legende, const QPicture* dessin)
{
    const QTemporaryDir dossier;
    if (!dossier.isValid()) {
        qDebug() << "PostScript export: no temporary folder" << dossier.errorString();
        return false;
    }
    const QString pdf = dossier.filePath(QStringLiteral("page.pdf"));
    if (!imprimerPdf(conteneur, pdf, true, legende, dessin))
        return false;
    std::string postScript;
    std::string erreur;
    if (!ConvertisseurPostScript::convertir(QFile::encodeName(pdf).toStdString(), eps, postScript,
                                            erreur)) {
        qDebug() << "PostScript export:" << QString::fromStdString(erreur);
        return false;
    }
    return remplacerFichier(nomFichier, QByteArray::fromStdString(postScript));
}

// The drawing goes to a scratch file in a temporary folder, never in the
// working folder, and replaces the file once whole.
bool ExportGraphique::ecrireSvg(QWidget* conteneur, const QString& nomFichier,
                                const QPicture* dessin)
{
    const QTemporaryDir dossier;
    if (!dossier.isValid()) {
        qDebug() << "SVG export: no temporary folder" << dossier.errorString();
        return false;
    }
    const QString brouillon = dossier.filePath(QStringLiteral("instantane.svg"));
    const bool dessine = dessin && conteneur ? ecrireSvgDessin(*dessin, conteneur, brouillon)
                                             : ecrireSvgInstantane(conteneur, brouillon);
    return dessine && copierSvg(brouillon, nomFichier);
}

bool ExportGraphique::copierSvg(const QString& fichierSvg, const QString& nomFichier)
{
    QFile source(fichierSvg);
    if (!source.open(QIODevice::ReadOnly)) {
        qDebug() << "SVG export: no snapshot to copy" << fichierSvg << source.errorString();
        return false;
    }
    const QByteArray contenu = source.readAll();
    source.close();
    return remplacerFichier(nomFichier, contenu);
}

bool ExportGraphique::ecrireImage(const QPixmap& instantane, const QString& nomFichier)
{
    if (instantane.isNull()) {
        qDebug() << "image export: no snapshot taken";
        return false;
    }
    // Checked before the file is opened: an image writer that does not know the
    // format would still have created, or emptied, the file.
    const QByteArray format = QFileInfo(nomFichier).suffix().toLower().toLatin1();
    if (!QImageWriter::supportedImageFormats().contains(format)) {
        qDebug() << "image export: no writable image format for" << nomFichier;
        return false;
    }
    // Encoded in memory first: a disk that fails then fails the file's
    // write, not the encoder halfway through its image.
    QByteArray image;
    QBuffer tampon(&image);
    if (!tampon.open(QIODevice::WriteOnly) || !instantane.save(&tampon, format.constData())) {
        qDebug() << "image export: cannot encode" << nomFichier;
        return false;
    }
    return remplacerFichier(nomFichier, image);
}
