// The review tab in a real window, on a capture made of the simulator's
// breaths with a pause longer than the apnea delay: a file of words is
// refused; the capture's breath table is the batch tool's; a row brings its
// breath to the middle of every plot; a constant channel is folded; a
// shift-drag selection exports the file's own lines and its breaths; the
// plots' export names the file and the stretch.
#include "DialogueAutomatique.h"
#include "Fenetre.h"
#include "PageRendue.h"
#include "RegardFenetre.h"
#include "ScenarioFenetre.h"
#include "SimulateurInstrument.h"

#include "CsvCycles.h"
#include "DonneesRevue.h"
#include "ExtraitCapture.h"
#include "GraphiqueRevue.h"
#include "ModeleCycles.h"
#include "OngletRevue.h"

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <qwt_plot_canvas.h>
#include <qwt_scale_div.h>

#include <memory>

namespace {

QByteArray tableSouffles(const QString& capture)
{
    QProcess souffles;
    souffles.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    souffles.start(QStringLiteral(STATION_SOUFFLES), {capture});
    souffles.waitForFinished(30000);
    return souffles.readAllStandardOutput();
}

// Breathing from the simulator, 25 s without a breath, breathing again; CO2
// follows O2, Flux stays 0. Lines end in CR LF as the instrument's do.
QByteArray captureAvecApnee()
{
    const QList<QByteArray> respiration =
        lignes(Simulateur::lignesAttendues({"--period", "3", "--count", "9000"}));
    QVector<double> o2;
    for (const QByteArray& ligne : respiration)
        o2 << ligne.split(';').value(1).toDouble();
    o2.insert(4000, 2500, o2[3999]);
    QByteArray contenu;
    for (double v : qAsConst(o2))
        contenu += QByteArray::number(5.0 * (60.0 - v), 'g', 6) + ';' +
                   QByteArray::number(v, 'g', 6) + ";0\r\n";
    return contenu;
}

} // namespace

class FenetreRevueTest : public QObject, private ScenarioFenetre
{
    Q_OBJECT

private:
    OngletRevue* onglet() const { return fenetre->findChild<OngletRevue*>(); }
    QList<GraphiqueRevue*> courbesVisibles() const
    {
        QList<GraphiqueRevue*> plots;
        for (const char* nom : {"revueCO2", "revueO2", "revueFlux"}) {
            if (controle<GraphiqueRevue>(nom)->isVisible())
                plots << controle<GraphiqueRevue>(nom);
        }
        return plots;
    }
    // Opens a file through « Ouvrir une capture… »; the texts of the boxes shown.
    QStringList ouvrir(const QString& nom)
    {
        DialogueAutomatique dialogue(nom);
        QSignalSpy ouvert(onglet(), &OngletRevue::fichierOuvert);
        QTest::mouseClick(controle<QAbstractButton>("btnOuvrirRevue"), Qt::LeftButton);
        const bool fini =
            QTest::qWaitFor([&] { return !ouvert.isEmpty() || !dialogue.boites.isEmpty(); }, 20000);
        return fini ? dialogue.boites : QStringList{QStringLiteral("nothing happened")};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dossier.isValid());
        QVERIFY(ouvrirFenetre(dossier, fenetre));
        fenetre->resize(1400, 950);
        auto* onglets = controle<QTabWidget>("tabWidget");
        onglets->setCurrentWidget(controle<QWidget>("tab_revue"));
        QTest::qWait(100);
    }

    void reviewsAWholeCaptureLikeTheBatchTool()
    {
        // Longer than the lines a capture is judged on.
        QVERIFY(ecrireFichier("notes.csv", QByteArray("pas de nombre ici\n").repeated(1200)));
        QStringList boites = ouvrir("notes.csv");
        QCOMPARE(boites.size(), 1);
        QVERIFY2(boites.first().contains("n'est pas un fichier de capture"),
                 qPrintable(boites.first()));
        QVERIFY(!onglet()->donnees());

        const QByteArray contenu = captureAvecApnee();
        QVERIFY(ecrireFichier("revue.csv", contenu));
        // The channels are drawn first, over the whole file, before the
        // breaths are all found; the table cannot be exported until they are.
        int lignesAuxCanaux = -1;
        bool exportAuxCanaux = true;
        double finAuxCanaux = 0.0;
        const auto montres = connect(onglet(), &OngletRevue::canauxMontres, this, [&] {
            lignesAuxCanaux = onglet()->modele()->rowCount();
            exportAuxCanaux = controle<QAbstractButton>("btnExporterCyclesRevue")->isEnabled();
            finAuxCanaux =
                controle<GraphiqueRevue>("revueO2")->axisScaleDiv(QwtPlot::xBottom).upperBound();
        });
        boites = ouvrir("revue.csv");
        disconnect(montres);
        QCOMPARE(boites, QStringList());
        const auto donnees = onglet()->donnees();
        QVERIFY(donnees);
        QCOMPARE(lignesAuxCanaux, 0);
        QVERIFY(!exportAuxCanaux);
        QCOMPARE(finAuxCanaux, donnees->duree());
        QVERIFY(controle<QAbstractButton>("btnExporterCyclesRevue")->isEnabled());

        // The table is souffles' own, apnea included.
        ModeleCycles* modele = onglet()->modele();
        QByteArray table = CsvCycles::entete().toUtf8();
        bool apnee = false;
        for (const Cycle& c : modele->cycles()) {
            table += CsvCycles::ligne(c, "revue.csv").toUtf8();
            apnee = apnee || c.apneePrecedente > 0.0;
        }
        QVERIFY(modele->rowCount() > 20);
        QVERIFY(apnee);
        QCOMPARE(table, tableSouffles("revue.csv"));

        // Flux never varies: folded away; CO2 and O2 are shown over the whole file.
        QCOMPARE(courbesVisibles().size(), 2);
        QVERIFY(!controle<GraphiqueRevue>("revueFlux")->isVisible());
        QVERIFY(controle<QLabel>("canauxReplies")->text().contains("Flux"));
        // Stacked on one time axis: every canvas spans the overview's pixels.
        QWidget* apercu = controle<GraphiqueRevue>("apercuRevue")->canvas();
        const QRect etendue(apercu->mapTo(fenetre.get(), QPoint()), apercu->size());
        for (GraphiqueRevue* plot : courbesVisibles()) {
            const QPoint coin = plot->canvas()->mapTo(fenetre.get(), QPoint());
            QCOMPARE(coin.x(), etendue.x());
            QCOMPARE(plot->canvas()->width(), etendue.width());
            QCOMPARE(plot->axisScaleDiv(QwtPlot::xBottom).lowerBound(), 0.0);
            QCOMPARE(plot->axisScaleDiv(QwtPlot::xBottom).upperBound(), donnees->duree());
        }

        // A row brings its breath to the middle of every plot.
        auto* tableau = controle<QTableView>("tableauRevue");
        const int ligne = modele->rowCount() / 3;
        const QModelIndex index = modele->index(ligne, ModeleCycles::Frequence);
        tableau->scrollTo(index);
        QTest::mouseClick(tableau->viewport(), Qt::LeftButton, {},
                          tableau->visualRect(index).center());
        const Cycle& choisi = modele->cycles()[modele->cycles().size() - 1 - size_t(ligne)];
        for (GraphiqueRevue* plot : courbesVisibles()) {
            const QwtScaleDiv vue = plot->axisScaleDiv(QwtPlot::xBottom);
            QVERIFY2(qAbs((vue.lowerBound() + vue.upperBound()) / 2 -
                          (choisi.debut + choisi.duree / 2)) < 1e-6,
                     qPrintable(plot->objectName()));
            QVERIFY(vue.range() >= choisi.duree && vue.range() < donnees->duree() / 2);
        }
        QTest::qWait(100);
        fenetre->grab().save(QStringLiteral(STATION_TEST_OUTPUT "/revue-cycle.png"));

        // « Exporter graphique » prints that view, the curves drawn from their
        // levels, the file and the stretch in the caption.
        {
            DialogueAutomatique exporter("revue.pdf");
            QTest::mouseClick(controle<QAbstractButton>("btnExporterRevue"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo("revue.pdf").size() > 0, 10000);
            QCOMPARE(exporter.boites, QStringList());
        }
        QProcess texte;
        texte.start("pdftotext", {"revue.pdf", "-"});
        QVERIFY(texte.waitForFinished(30000));
        const QString lu = QString::fromUtf8(texte.readAllStandardOutput()).simplified();
        QVERIFY2(lu.contains("fichier revue.csv, de " + ModeleCycles::temps(onglet()->vue().first) +
                             " à " + ModeleCycles::temps(onglet()->vue().second)),
                 qPrintable(lu));
        QVERIFY(rendrePage("pdftoppm", "revue.pdf", 50, STATION_TEST_OUTPUT "/revue.pdf.png"));
        const QImage page(STATION_TEST_OUTPUT "/revue.pdf.png");
        int bleus = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x) {
                const QColor c = page.pixelColor(x, y);
                bleus += c.blue() > 90 && c.red() < 90 && c.green() < 90;
            }
        QVERIFY2(bleus > 300, qPrintable(QString::number(bleus)));

        // Back to the whole file, then a shift-drag over its middle half.
        QWidget* toile = controle<GraphiqueRevue>("revueO2")->canvas();
        QTest::mouseDClick(toile, Qt::LeftButton, {}, toile->rect().center());
        QCOMPARE(onglet()->vue().second, donnees->duree());

        // The wheel zooms around the pointer: the time under it stays there;
        // a drag moves the view by the time the pointer crossed.
        auto* o2 = controle<GraphiqueRevue>("revueO2");
        const QPoint pointeur(toile->width() / 3, toile->height() / 2);
        const double sousPointeur = o2->tempsA(pointeur.x());
        QWheelEvent roue(pointeur, toile->mapToGlobal(pointeur), QPoint(), QPoint(0, 240),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(toile, &roue);
        const double largeur = onglet()->vue().second - onglet()->vue().first;
        QVERIFY(qAbs(largeur - 0.64 * donnees->duree()) < 1e-6);
        QVERIFY(qAbs(o2->tempsA(pointeur.x()) - sousPointeur) < largeur / toile->width());
        const double debutAvant = onglet()->vue().first;
        QTest::mousePress(toile, Qt::LeftButton, {}, pointeur);
        QTest::mouseMove(toile, pointeur - QPoint(100, 0));
        QTest::mouseRelease(toile, Qt::LeftButton, {}, pointeur - QPoint(100, 0));
        QVERIFY(qAbs(onglet()->vue().first - debutAvant - 100 * largeur / toile->width()) <
                2 * largeur / toile->width());
        QTest::mouseDClick(toile, Qt::LeftButton, {}, toile->rect().center());

        const QPoint de(toile->width() / 4, toile->height() / 2);
        const QPoint a(3 * toile->width() / 4, toile->height() / 2);
        QTest::mousePress(toile, Qt::LeftButton, Qt::ShiftModifier, de);
        QTest::mouseMove(toile, a);
        QTest::mouseRelease(toile, Qt::LeftButton, Qt::ShiftModifier, a);
        const QPair<double, double> selection = onglet()->selection();
        QVERIFY(selection.first > donnees->duree() * 0.2 &&
                selection.first < donnees->duree() * 0.3);
        QVERIFY(selection.second > donnees->duree() * 0.7 &&
                selection.second < donnees->duree() * 0.8);
        const int dedans = int(onglet()->cyclesSelection().size());
        QVERIFY(dedans > 5 && dedans < modele->rowCount());
        QVERIFY(controle<QLabel>("resumeSelection")->text().contains(QString::number(dedans)));
        fenetre->grab().save(QStringLiteral(STATION_TEST_OUTPUT "/revue-selection.png"));

        DialogueAutomatique enregistrer("extrait.csv");
        QTest::mouseClick(controle<QAbstractButton>("btnExporterSelection"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(ExtraitCapture::nomTableCycles("extrait.csv")),
                                 10000);
        QCOMPARE(enregistrer.boites, QStringList());
        const QList<QByteArray> toutes = lignesBrutes(contenu);
        const qint64 premiere = qint64(std::ceil(selection.first * donnees->fe - 1e-9));
        const qint64 derniere = qint64(std::floor(selection.second * donnees->fe + 1e-9));
        QByteArray attendu;
        for (qint64 i = premiere; i <= derniere; ++i)
            attendu += toutes[int(i)];
        QFile extrait("extrait.csv");
        QVERIFY(extrait.open(QIODevice::ReadOnly));
        QCOMPARE(extrait.readAll(), attendu);
        QFile cyclesExtrait(ExtraitCapture::nomTableCycles("extrait.csv"));
        QVERIFY(cyclesExtrait.open(QIODevice::ReadOnly));
        QCOMPARE(lignes(cyclesExtrait.readAll()).size(), dedans + 1);
    }
};

QTEST_MAIN(FenetreRevueTest)
#include "FenetreRevueTest.moc"
