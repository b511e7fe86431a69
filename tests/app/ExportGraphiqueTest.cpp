#include "ExportGraphique.h"
#include "PageRendue.h"
#include "PetitDisque.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>

#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(ExportGraphique::Format)

namespace {

// A stand-in for the window's plots area: a raised frame holding three plots,
// each with a dark blue curve, a translucent dotted and dashed grid, axis
// labels and a title, the way the main window builds them.
QFrame* construireConteneur()
{
    auto* conteneur = new QFrame;
    conteneur->setFrameShape(QFrame::StyledPanel);
    conteneur->setFrameShadow(QFrame::Raised);
    auto* disposition = new QVBoxLayout(conteneur);
    const QStringList canaux{QStringLiteral("CO2"), QStringLiteral("O2"), QStringLiteral("Flux")};
    for (int numero = 0; numero < canaux.size(); ++numero) {
        auto* plot = new QwtPlot;
        plot->setTitle(canaux[numero]);
        plot->setAxisScale(QwtPlot::xBottom, 0, 10);
        plot->setAxisScale(QwtPlot::yLeft, -15, 15);
        auto* courbe = new QwtPlotCurve(canaux[numero]);
        QVector<QPointF> points;
        for (int i = 0; i <= 1000; ++i)
            points << QPointF(i * 0.01, 12 * std::sin(i * 0.02 + numero));
        courbe->setSamples(points);
        courbe->setPen(QPen(Qt::darkBlue, 2));
        courbe->attach(plot);
        auto* grille = new QwtPlotGrid;
        grille->enableXMin(true);
        grille->enableYMin(true);
        QPen crayon(QColor(128, 128, 128, 200), 0, Qt::DotLine);
        grille->setMinorPen(crayon);
        crayon.setStyle(Qt::DashLine);
        crayon.setWidth(1);
        grille->setMajorPen(crayon);
        grille->attach(plot);
        disposition->addWidget(plot);
    }
    conteneur->resize(640, 600);
    return conteneur;
}

QByteArray lire(const QString& chemin)
{
    QFile fichier(chemin);
    return fichier.open(QIODevice::ReadOnly) ? fichier.readAll() : QByteArray();
}

bool ecrire(const QString& chemin, const QByteArray& contenu)
{
    QFile fichier(chemin);
    return fichier.open(QIODevice::WriteOnly) && fichier.write(contenu) == contenu.size();
}

// Pixels of the curves' dark blue: a page without them is blank or lost its
// curves.
int pixelsDeCourbe(const QImage& image)
{
    int total = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor couleur = image.pixelColor(x, y);
            if (couleur.blue() > 90 && couleur.red() < 90 && couleur.green() < 90)
                ++total;
        }
    return total;
}

// Runs a command line tool; the output and exit code are returned for the
// checks.
bool lancer(const QString& programme, const QStringList& arguments, QByteArray* sortie = nullptr)
{
    QProcess processus;
    processus.start(programme, arguments);
    if (!processus.waitForFinished(60000))
        return false;
    if (sortie)
        *sortie = processus.readAllStandardOutput();
    return processus.exitStatus() == QProcess::NormalExit && processus.exitCode() == 0;
}

} // namespace

class ExportGraphiqueTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dossier;
    QString dossierInitial;
    QFrame* conteneur = nullptr;
    QPixmap instantane;

    QString chemin(const QString& nom) const { return dossier.filePath(nom); }
    void verifierPostScript(const QString& fichier);

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void proposedNameCarriesDateAndTime_data();
    void proposedNameCarriesDateAndTime();
    void filtersListDocumentsThenEveryWritableImageFormat();
    void extensionLettersChooseTheFormat_data();
    void extensionLettersChooseTheFormat();

    void snapshotGrabsContainerAndWritesScratchSvg();
    void rasterExportsDecodeAsTheSnapshot_data();
    void rasterExportsDecodeAsTheSnapshot();
    void pdfExportIsOneVectorPage_data();
    void pdfExportIsOneVectorPage();
    void postScriptExportIsVectorPostScript_data();
    void postScriptExportIsVectorPostScript();
    void printedPageFitsPlotsAndCaption_data();
    void printedPageFitsPlotsAndCaption();
    void svgExportCopiesSnapshotOverExistingFile();
    void failedExportsLeaveFilesUntouched_data();
    void failedExportsLeaveFilesUntouched();
    void cancelledDialogWritesNothing();
};

void ExportGraphiqueTest::initTestCase()
{
    QVERIFY(dossier.isValid());
    // The scratch SVG file lives in the current directory, as in the window.
    dossierInitial = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dossier.path()));
    conteneur = construireConteneur();
    conteneur->show();
    QVERIFY(QTest::qWaitForWindowExposed(conteneur));
    instantane = ExportGraphique::prendreInstantane(conteneur);
    QVERIFY(!instantane.isNull());
    QVERIFY(ExportGraphique::ecrireSvgInstantane(conteneur, QStringLiteral(".svgtmp")));
}

void ExportGraphiqueTest::cleanupTestCase()
{
    delete conteneur;
    QDir::setCurrent(dossierInitial);
}

void ExportGraphiqueTest::proposedNameCarriesDateAndTime_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("nom");
    QTest::newRow("afternoon") << QDateTime(QDate(2026, 3, 7), QTime(14, 5, 9))
                               << "exportation_07_03_2026_14_05_09.png";
    QTest::newRow("midnight") << QDateTime(QDate(2025, 12, 31), QTime(0, 0, 0))
                              << "exportation_31_12_2025_00_00_00.png";
}

void ExportGraphiqueTest::proposedNameCarriesDateAndTime()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, nom);
    QCOMPARE(ExportGraphique::nomPropose(moment), nom);
}

void ExportGraphiqueTest::filtersListDocumentsThenEveryWritableImageFormat()
{
    const QStringList filtres = ExportGraphique::filtres().split(QStringLiteral(";;"));
    QCOMPARE(filtres.size(), 4);
    QCOMPARE(filtres[0], QStringLiteral("Document PDF (*.pdf)"));
    QCOMPARE(filtres[1], QStringLiteral("Image vectorielle SVG (*.svg)"));
    QCOMPARE(filtres[2], QStringLiteral("Document Postscript (*.ps)"));
    QCOMPARE(filtres[3], ExportGraphique::filtreImages());

    const QRegularExpression forme(QStringLiteral("^Images \\((\\*\\.\\w+( \\*\\.\\w+)*)\\)$"));
    const QRegularExpressionMatch correspondance = forme.match(filtres[3]);
    QVERIFY2(correspondance.hasMatch(), qPrintable(filtres[3]));
    const QStringList motifs = correspondance.captured(1).split(QLatin1Char(' '));
    QCOMPARE(motifs.size(), QImageWriter::supportedImageFormats().size());
    // The proposed name is a PNG: a dialog that gives it the suffix of the
    // selected filter's first pattern keeps it.
    QCOMPARE(motifs.first(), QStringLiteral("*.png"));
    QVERIFY(motifs.contains(QStringLiteral("*.jpg")));
}

void ExportGraphiqueTest::extensionLettersChooseTheFormat_data()
{
    using Format = ExportGraphique::Format;
    QTest::addColumn<QString>("nom");
    QTest::addColumn<Format>("format");
    QTest::newRow("pdf") << "graphe.pdf" << Format::Pdf;
    QTest::newRow("PDF uppercase") << "graphe.PDF" << Format::Pdf;
    QTest::newRow("ps") << "graphe.ps" << Format::PostScript;
    QTest::newRow("eps") << "graphe.eps" << Format::PostScript;
    QTest::newRow("svg") << "graphe.Svg" << Format::Svg;
    QTest::newRow("png") << "graphe.png" << Format::Image;
    QTest::newRow("jpg") << "graphe.jpg" << Format::Image;
    QTest::newRow("last dot counts") << "rapport.pdf.png" << Format::Image;
    QTest::newRow("no dot, letters of the name") << "graphepdf" << Format::Pdf;
    QTest::newRow("folder letters ignored") << "/tmp/eps.d/graphe.png" << Format::Image;
    QTest::newRow("folder dot ignored") << "/tmp/.svgs/graphe" << Format::Image;
}

void ExportGraphiqueTest::extensionLettersChooseTheFormat()
{
    QFETCH(QString, nom);
    QFETCH(ExportGraphique::Format, format);
    QCOMPARE(ExportGraphique::formatPourNom(nom), format);
}

void ExportGraphiqueTest::snapshotGrabsContainerAndWritesScratchSvg()
{
    QFile::remove(QStringLiteral(".svgtmp"));
    const QPixmap image = ExportGraphique::prendreInstantane(conteneur);
    QCOMPARE(image.size() / image.devicePixelRatio(), conteneur->size());
    QVERIFY(pixelsDeCourbe(image.toImage()) > 500);
    // Nothing written in the working folder; SVG text at the screen's size.
    const QStringList avant = QDir::current().entryList(QDir::Files | QDir::Hidden);
    QVERIFY(QDir::current().mkpath("sortie"));
    QVERIFY(ExportGraphique::exporter(conteneur, image, chemin("sortie/frais.svg")));
    QCOMPARE(QDir::current().entryList(QDir::Files | QDir::Hidden), avant);
    const double pixels = conteneur->font().pointSizeF() * conteneur->logicalDpiY() / 72.0;
    QVERIFY(lire(chemin("sortie/frais.svg")).contains("font-size=\"" + QByteArray::number(pixels)));

    QVERIFY(ExportGraphique::ecrireSvgInstantane(conteneur, QStringLiteral(".svgtmp")));
    const QByteArray svg = lire(QDir::current().filePath(QStringLiteral(".svgtmp")));
    QVERIFY(svg.contains("<title>SVG Generator Test</title>"));
    QVERIFY(svg.contains("<desc>Test</desc>"));
    QSvgRenderer lecteur(svg);
    QVERIFY(lecteur.isValid());
    QCOMPARE(lecteur.viewBox(), conteneur->contentsRect());
}

void ExportGraphiqueTest::rasterExportsDecodeAsTheSnapshot_data()
{
    QTest::addColumn<QString>("nom");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("sansPerte");
    QTest::newRow("png") << "graphe.png" << QByteArray("png") << true;
    QTest::newRow("jpg") << "graphe.jpg" << QByteArray("jpeg") << false;
    QTest::newRow("BMP uppercase") << "graphe.BMP" << QByteArray("bmp") << true;
}

void ExportGraphiqueTest::rasterExportsDecodeAsTheSnapshot()
{
    QFETCH(QString, nom);
    QFETCH(QByteArray, format);
    QFETCH(bool, sansPerte);
    QVERIFY(ExportGraphique::exporter(conteneur, instantane, chemin(nom)));

    QImageReader lecteur(chemin(nom));
    QCOMPARE(lecteur.format(), format);
    QCOMPARE(lecteur.size(), instantane.size());
    const QImage image = lecteur.read();
    QVERIFY(!image.isNull());
    if (sansPerte)
        QCOMPARE(image.convertToFormat(QImage::Format_RGB32),
                 instantane.toImage().convertToFormat(QImage::Format_RGB32));
    else
        QVERIFY(pixelsDeCourbe(image) > 500);
}

void ExportGraphiqueTest::pdfExportIsOneVectorPage_data()
{
    QTest::addColumn<QString>("nom");
    QTest::newRow("pdf") << "graphe.pdf";
    QTest::newRow("PDF uppercase") << "GRAPHE.PDF";
}

void ExportGraphiqueTest::pdfExportIsOneVectorPage()
{
    QFETCH(QString, nom);
    const QString fichier = chemin(nom);
    const QImage ecranAvant = conteneur->grab().toImage();
    auto* grille = static_cast<QwtPlotGrid*>(
        conteneur->findChild<QwtPlot*>()->itemList(QwtPlotItem::Rtti_PlotGrid).first());
    const QPen mineurAvant = grille->minorPen();
    QVERIFY(ExportGraphique::exporter(conteneur, instantane, fichier));
    // Drawing the plots for the document must leave the screen and the plots'
    // pens as they were.
    QCOMPARE(conteneur->grab().toImage(), ecranAvant);
    QCOMPARE(grille->minorPen(), mineurAvant);
    const QByteArray pdf = lire(fichier);
    QVERIFY(pdf.startsWith("%PDF-"));
    // The plots must not be pasted in as a picture of the screen.
    QVERIFY(!pdf.contains("/Subtype /Image"));
    QVERIFY(!pdf.contains("/Subtype/Image"));

    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    const QString pdfimages = QStandardPaths::findExecutable(QStringLiteral("pdfimages"));
    if (pdftoppm.isEmpty() || pdfimages.isEmpty())
        QSKIP("pdftoppm or pdfimages is not installed");
    QByteArray liste;
    QVERIFY(lancer(pdfimages, {QStringLiteral("-list"), fichier}, &liste));
    QCOMPARE(liste.trimmed().split('\n').size(),
             2); // the two header lines, no image

    const QString prefixe = chemin(nom + QStringLiteral("-page"));
    QVERIFY(lancer(pdftoppm, {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-png"),
                              fichier, prefixe}));
    QVERIFY(QFile::exists(prefixe + QStringLiteral("-1.png")));
    QVERIFY2(!QFile::exists(prefixe + QStringLiteral("-2.png")), "more than one page");
    QVERIFY(pixelsDeCourbe(QImage(prefixe + QStringLiteral("-1.png"))) > 200);
}

void ExportGraphiqueTest::postScriptExportIsVectorPostScript_data()
{
    QTest::addColumn<QString>("nom");
    QTest::addColumn<bool>("eps");
    QTest::newRow("ps") << "graphe.ps" << false;
    QTest::newRow("PS uppercase") << "graphe2.PS" << false;
    QTest::newRow("eps") << "graphe.eps" << true;
}

void ExportGraphiqueTest::postScriptExportIsVectorPostScript()
{
    QFETCH(QString, nom);
    QFETCH(bool, eps);
    const QString fichier = chemin(nom);
    QVERIFY(ExportGraphique::exporter(conteneur, instantane, fichier));
    const QByteArray postScript = lire(fichier);
    QVERIFY(postScript.startsWith("%!PS-Adobe"));
    QCOMPARE(postScript.left(postScript.indexOf('\n')).contains("EPSF"), eps);
    // Curves are path operators; no image, not even the small patches that
    // translucent lines would turn into.
    QVERIFY(!postScript.contains("/ImageType"));
    QVERIFY(postScript.count(" l ") + postScript.count(" l\n") > 1000);
    verifierPostScript(fichier);
}

void ExportGraphiqueTest::verifierPostScript(const QString& fichier)
{
    const QString gs = QStandardPaths::findExecutable(QStringLiteral("gs"));
    if (gs.isEmpty())
        QSKIP("ghostscript is not installed");
    const QString page = fichier + QStringLiteral("-page.png");
    QVERIFY(rendrePage(gs, fichier, 40, page));
    QVERIFY(pixelsDeCourbe(QImage(page)) > 200);
}

// The page of a PDF or PostScript export presents the plots: landscape for a
// plots area wider than high, the drawing scaled to fill the printable area
// inside 15 mm margins, and the caption as text under it.
void ExportGraphiqueTest::printedPageFitsPlotsAndCaption_data()
{
    QTest::addColumn<QSize>("taille");
    QTest::addColumn<QString>("nom");
    QTest::addColumn<bool>("paysage");
    QTest::newRow("wide plots area, PDF") << QSize(1000, 620) << "large.pdf" << true;
    QTest::newRow("tall plots area, PDF") << QSize(420, 700) << "haut.pdf" << false;
    QTest::newRow("wide plots area, PostScript") << QSize(1000, 620) << "large.ps" << true;
    QTest::newRow("tall plots area, PostScript") << QSize(420, 700) << "haut.ps" << false;
}

void ExportGraphiqueTest::printedPageFitsPlotsAndCaption()
{
    QFETCH(QSize, taille);
    QFETCH(QString, nom);
    QFETCH(bool, paysage);
    const bool pdf = nom.endsWith(QLatin1String(".pdf"));
    const QString outil = QStandardPaths::findExecutable(pdf ? "pdftoppm" : "gs");
    const QString texte = QStandardPaths::findExecutable(pdf ? "pdftotext" : "gs");
    if (outil.isEmpty() || texte.isEmpty())
        QSKIP("pdftoppm, pdftotext or ghostscript is not installed");

    const std::unique_ptr<QFrame> zone(construireConteneur());
    // Titled plots ask for more height than a short area gives them, as the
    // window's plots do not.
    for (QwtPlot* plot : zone->findChildren<QwtPlot*>())
        plot->setMinimumSize(120, 100);
    zone->resize(taille);
    zone->show();
    QVERIFY(QTest::qWaitForWindowExposed(zone.get()));
    QCOMPARE(zone->size(), taille);
    const QString legende = ExportGraphique::legende(QDateTime(QDate(2026, 3, 7), QTime(14, 5, 9)),
                                                     "port /dev/ttyUSB0: FT232R USB UART");
    const QString fichier = chemin(nom);
    QVERIFY(ExportGraphique::exporter(zone.get(), QPixmap(), fichier, ".svgtmp", legende));

    // One page at 50 dpi: the margins are 15 mm, 29.5 pixels.
    const QString png = fichier + "-page.png";
    QVERIFY(rendrePage(outil, fichier, 50, png));
    const QImage page(png);
    QVERIFY(!page.isNull());
    page.save(QDir(QStringLiteral(STATION_TEST_OUTPUT)).filePath("page-" + nom + ".png"));
    QCOMPARE(page.width() > page.height(), paysage);

    // What is drawn (plots, frame and caption) stays inside the margins and
    // reaches them on two opposite sides.
    QRect dessin;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (qGray(page.pixel(x, y)) < 200)
                dessin |= QRect(x, y, 1, 1);
    const double marge = 15 / 25.4 * 50;
    const QRectF imprimable = QRectF(page.rect()).adjusted(marge, marge, -marge, -marge);
    QVERIFY2(imprimable.adjusted(-2, -2, 2, 2).contains(dessin),
             qPrintable(QString("%1 %2 %3 %4")
                            .arg(dessin.x())
                            .arg(dessin.y())
                            .arg(dessin.width())
                            .arg(dessin.height())));
    const double remplissage =
        qMax(dessin.width() / imprimable.width(), dessin.height() / imprimable.height());
    QVERIFY2(remplissage > 0.97, qPrintable(QString::number(remplissage)));
    QVERIFY(pixelsDeCourbe(page) > 1000);

    // The caption is text, under the curves.
    QByteArray extrait;
    if (pdf)
        QVERIFY(lancer(texte, {"-bbox", fichier, "-"}, &extrait));
    else
        QVERIFY(lancer(texte,
                       {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=txtwrite",
                        "-sOutputFile=-", fichier},
                       &extrait));
    const QString lu = QString::fromUtf8(extrait).simplified();
    for (const QString& mot : legende.split(' '))
        QVERIFY2(lu.contains(mot.toHtmlEscaped()), qPrintable(mot));
    if (pdf) {
        const QRegularExpression premierMot("yMin=\"([0-9.]+)\"[^>]*>Instantan");
        const QRegularExpressionMatch trouve = premierMot.match(lu);
        QVERIFY(trouve.hasMatch());
        int basDesCourbes = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x) {
                const QColor c = page.pixelColor(x, y);
                if (c.blue() > 90 && c.red() < 90 && c.green() < 90)
                    basDesCourbes = y;
            }
        QVERIFY(trouve.captured(1).toDouble() * 50 / 72 > basDesCourbes);
    }
    QVERIFY(!lire(fichier).contains(pdf ? "/Subtype /Image" : "/ImageType"));
}

void ExportGraphiqueTest::svgExportCopiesSnapshotOverExistingFile()
{
    const QString fichier = chemin(QStringLiteral("existant.svg"));
    QVERIFY(ecrire(fichier, "ancien contenu"));
    QVERIFY(ExportGraphique::exporter(conteneur, instantane, fichier));
    const QByteArray copie = lire(fichier);
    QCOMPARE(copie, lire(QStringLiteral(".svgtmp")));
    QVERIFY(QSvgRenderer(copie).isValid());
}

void ExportGraphiqueTest::failedExportsLeaveFilesUntouched_data()
{
    QTest::addColumn<QString>("nom");
    QTest::addColumn<bool>("sansInstantane");
    QTest::addColumn<QString>("fichierSvg");
    QTest::addColumn<bool>("disquePlein");
    QTest::newRow("unknown image suffix") << "existant.xyz" << false << ".svgtmp" << false;
    QTest::newRow("no snapshot yet") << "existant.png" << true << ".svgtmp" << false;
    QTest::newRow("scratch svg missing") << "existant2.svg" << false << "absent.svgtmp" << false;
    for (const char* nom : {"plein.pdf", "plein.ps", "plein.svg", "plein.png"})
        QTest::newRow(qPrintable(QStringLiteral("%1 on a full disk").arg(nom)))
            << nom << false << ".svgtmp" << true;
}

void ExportGraphiqueTest::failedExportsLeaveFilesUntouched()
{
    QFETCH(QString, nom);
    QFETCH(bool, sansInstantane);
    QFETCH(QString, fichierSvg);
    QFETCH(bool, disquePlein);
    const QString fichier = disquePlein ? chemin("disque_" + nom + "/" + nom) : chemin(nom);
    PetitDisque disque(disquePlein ? QFileInfo(fichier).path() : QString());
    if (disquePlein && !disque.estMonte())
        QSKIP("mounting a 64 KiB tmpfs needs root (and the right to mount)");
    QVERIFY(ecrire(fichier, "ancien contenu"));
    QVERIFY(!disquePlein || disque.remplir());
    QVERIFY(!ExportGraphique::exporter(conteneur, sansInstantane ? QPixmap() : instantane, fichier,
                                       fichierSvg));
    QCOMPARE(lire(fichier), QByteArray("ancien contenu"));
    if (disquePlein) // nothing left behind beside it
        QCOMPARE(QFileInfo(fichier).dir().entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void ExportGraphiqueTest::cancelledDialogWritesNothing()
{
    const QDir courant = QDir::current();
    const QStringList avant = courant.entryList(QDir::AllEntries | QDir::Hidden);
    const QByteArray svgAvant = lire(QStringLiteral(".svgtmp"));
    QVERIFY(!ExportGraphique::exporter(conteneur, instantane, QString()));
    QCOMPARE(courant.entryList(QDir::AllEntries | QDir::Hidden), avant);
    QCOMPARE(lire(QStringLiteral(".svgtmp")), svgAvant);
}

QTEST_MAIN(ExportGraphiqueTest)
#include "ExportGraphiqueTest.moc"
