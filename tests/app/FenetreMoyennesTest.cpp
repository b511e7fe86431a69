// The averaged-data tab in a real window, on breaths the simulator makes with a
// fixed period and seed: the table, the rate line and the export are what the
// batch tool finds in the same capture file; the apnea shows after its delay
// and clears at the next breath; a pause loses no breath; a new capture starts
// an empty table.
#include "DialogueAutomatique.h"
#include "Fenetre.h"
#include "RegardFenetre.h"
#include "ScenarioFenetre.h"
#include "SimulateurInstrument.h"

#include "CsvCycles.h"
#include "GraphiqueCycleMoyen.h"
#include "IndicateurRespiration.h"
#include "ModeleCycles.h"
#include "OngletMoyennes.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <qwt_plot_curve.h>

#include <cmath>
#include <memory>

namespace {

const double kPeriode = 3.0; // seconds, the simulator's breathing

// The breath table souffles writes for a capture file, header first.
QByteArray tableSouffles(const QString& capture, int delaiApnee = 20, int frequence = 100)
{
    QProcess souffles;
    souffles.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    souffles.start(QStringLiteral(STATION_SOUFFLES),
                   {"--frequence", QString::number(frequence), "--apnee",
                    QString::number(delaiApnee), capture});
    souffles.waitForFinished(30000);
    return souffles.readAllStandardOutput();
}

double champ(const QByteArray& ligne, int colonne)
{
    return ligne.split(';').value(colonne).toDouble();
}

// Mean of a column over the last `nombre` lines of a breath table.
double moyenneDesDerniers(const QList<QByteArray>& table, int colonne, int nombre)
{
    double somme = 0.0;
    for (int i = table.size() - nombre; i < table.size(); ++i)
        somme += champ(table[i], colonne);
    return somme / nombre;
}

double nombreDe(const QString& texte)
{
    const QStringList mots = texte.split(' ', Qt::SkipEmptyParts);
    for (const QString& mot : mots) {
        bool ok = false;
        const double v = mot.toDouble(&ok);
        if (ok)
            return v;
    }
    return std::nan("");
}

} // namespace

class FenetreMoyennesTest : public QObject, private ScenarioFenetre
{
    Q_OBJECT

private:
    OngletMoyennes* onglet() const { return fenetre->findChild<OngletMoyennes*>(); }
    ModeleCycles* modele() const { return onglet()->modele(); }
    GraphiqueCycleMoyen* cycleMoyen(const char* canal) const
    {
        return controle<GraphiqueCycleMoyen>(
            qPrintable(QStringLiteral("cycleMoyen") + QLatin1String(canal)));
    }
    void montrerMoyennes() const
    {
        auto* onglets = controle<QTabWidget>("tabWidget");
        onglets->setCurrentWidget(controle<QWidget>("tab_moyennes"));
        QTest::qWait(200); // the tab draws what waited while it was hidden
    }
    void cliquer(const char* bouton) const
    {
        QTest::mouseClick(controle<QAbstractButton>(bouton), Qt::LeftButton);
    }
    void choisirSource(const QString& port) const
    {
        controle<QComboBox>("source")->setEditText(port);
    }
    QString texteStatistique(int ligne, int colonne) const
    {
        return controle<QTableWidget>("statistiquesCycles")->item(ligne, colonne)->text();
    }

    // The breaths of the table as souffles lines, oldest first.
    QList<QByteArray> lignesDuTableau(const QString& fichier, int nombre) const
    {
        QList<QByteArray> resultat;
        const std::vector<Cycle>& cycles = modele()->cycles();
        for (int i = 0; i < nombre && size_t(i) < cycles.size(); ++i)
            resultat << CsvCycles::ligne(cycles[size_t(i)], fichier).toUtf8().chopped(1);
        return resultat;
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        QVERIFY(dossier.isValid());
        QVERIFY(QFile::exists(QStringLiteral(STATION_SIMULATEUR)));
        QVERIFY(QFile::exists(QStringLiteral(STATION_SOUFFLES)));
    }

    void init() { QVERIFY(ouvrirFenetre(dossier, fenetre)); }

    void cleanup() { fenetre.reset(); }

    void liveCaptureGivesTheBatchToolsTableAndAveragesTheLastBreaths()
    {
        // 90 s of breathing, sent as fast as the station reads it.
        const QStringList options{"--period", QString::number(kPeriode), "--count", "9000"};
        const QByteArray attendu = Simulateur::lignesAttendues(options);
        Simulateur simulateur(options + QStringList{"--fast"});
        QVERIFY(!simulateur.port.isEmpty());
        choisirSource(simulateur.port);
        cliquer("btnCapturer");
        QCOMPARE(refusDuPort(0), QString());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(fichierCapture()).size() == attendu.size(), 20000);
        const QString capture = fichierCapture();
        cliquer("btnCapturer");
        QTRY_VERIFY(controle<QWidget>("btnRejouer")->isEnabled());
        QTest::qWait(300); // the last breaths found reach the window

        const QList<QByteArray> souffles = lignes(tableSouffles(capture));
        const int nombre = souffles.size() - 1;
        QVERIFY2(nombre >= 25, qPrintable(QString::number(nombre)));
        QCOMPARE(modele()->rowCount(), nombre);
        QCOMPARE(lignesDuTableau(capture, nombre), souffles.mid(1));
        // Within 1 breath/min of the simulator's rate, but for the breath the
        // recording begins in.
        for (const QByteArray& ligne : souffles.mid(2))
            QVERIFY2(std::abs(champ(ligne, 2) - 60.0 / kPeriode) < 1.0, ligne.constData());

        // Newest first; a live capture has neither CO2 nor Flux, so their
        // columns and plots are hidden.
        QCOMPARE(modele()->index(0, ModeleCycles::Temps).data().toString(),
                 ModeleCycles::temps(champ(souffles.last(), 0)));
        auto* tableau = controle<QTableView>("tableauCycles");
        for (int colonne : {ModeleCycles::CO2Max, ModeleCycles::VolumeInspire})
            QVERIFY(tableau->isColumnHidden(colonne));
        QVERIFY(!tableau->isColumnHidden(ModeleCycles::O2Inspire));
        montrerMoyennes();
        QVERIFY(cycleMoyen("O2")->isVisible());
        QVERIFY(!cycleMoyen("CO2")->isVisible() && !cycleMoyen("Flux")->isVisible());

        // The rate line, the statistics and the mean curve follow the last N.
        auto* indicateur = controle<IndicateurRespiration>("indicateurRespiration");
        QCOMPARE(cycleMoyen("O2")->nombreCycles(), 8);
        QVERIFY(std::abs(nombreDe(indicateur->texteFrequence()) -
                         moyenneDesDerniers(souffles, 2, 8)) < 0.051);
        const double moyenne8 = cycleMoyen("O2")->courbeMoyenne()->sample(50).y();
        controle<QSpinBox>("moyenneSur")->setValue(2);
        QTRY_COMPARE(cycleMoyen("O2")->nombreCycles(), 2);
        QVERIFY(cycleMoyen("O2")->courbeMoyenne()->sample(50).y() != moyenne8);
        QVERIFY(std::abs(nombreDe(texteStatistique(0, ModeleCycles::Frequence)) -
                         moyenneDesDerniers(souffles, 2, 2)) < 0.051);
        QVERIFY(std::abs(nombreDe(indicateur->texteFrequence()) -
                         moyenneDesDerniers(souffles, 2, 2)) < 0.051);
        const double ecart = std::abs(champ(souffles.last(), 2) - champ(souffles.end()[-2], 2));
        QVERIFY(std::abs(nombreDe(texteStatistique(1, ModeleCycles::Frequence)) -
                         ecart / std::sqrt(2.0)) < 0.051);

        // The export is the batch tool's table, byte for byte.
        {
            DialogueAutomatique operateur(QDir::current().absoluteFilePath("cycles.csv"));
            cliquer("btnExporterCycles");
            QTRY_COMPARE(operateur.vus, 1);
        }
        const QByteArray table = tableSouffles(capture);
        QTRY_COMPARE(QFileInfo("cycles.csv").size(), qint64(table.size()));
        QFile exporte("cycles.csv");
        QVERIFY(exporte.open(QIODevice::ReadOnly));
        QCOMPARE(exporte.readAll(), table);

        // A new capture starts an empty table.
        Simulateur suivant({"--period", "2"});
        choisirSource(suivant.port);
        cliquer("btnCapturer");
        QCOMPARE(refusDuPort(1), QString());
        QTRY_COMPARE(modele()->rowCount(), 0);
        QTRY_COMPARE(cycleMoyen("O2")->nombreCycles(), 0);
        QVERIFY(indicateur->texteFrequence().contains("--"));
        cliquer("btnCapturer");
    }

    void replayShowsApneaAndLosesNoBreathToAPause()
    {
        // Breathing, 14 s without a breath, breathing again; CO2 and Flux
        // follow the O2 so that every column has a signal.
        const QList<QByteArray> respiration =
            lignes(Simulateur::lignesAttendues({"--period", "2", "--count", "1600"}));
        QVector<double> o2;
        for (int i = 0; i < 800; ++i)
            o2 << champ(respiration[i], 1);
        o2 += QVector<double>(1400, o2.last());
        for (int i = 800; i < respiration.size(); ++i)
            o2 << champ(respiration[i], 1);
        QByteArray contenu;
        for (int i = 0; i < o2.size(); ++i) {
            const double flux = 2.5 * (o2.value(i + 10, o2.last()) - o2.value(i - 10, o2.first()));
            contenu += QByteArray::number(5.0 * (60.0 - o2[i]), 'g', 6) + ';' +
                       QByteArray::number(o2[i], 'g', 6) + ';' + QByteArray::number(flux, 'g', 6) +
                       "\r\n";
        }
        QVERIFY(ecrireFichier("apnee.csv", contenu));
        const QList<QByteArray> souffles = lignes(tableSouffles("apnee.csv", 10));
        QVERIFY(souffles.size() > 5); // the header and five whole breaths

        controle<QSpinBox>("delaiApnee")->setValue(10);
        {
            DialogueAutomatique operateur(QDir::current().absoluteFilePath("apnee.csv"));
            cliquer("btnRejouer");
            QTRY_COMPARE(operateur.vus, 1);
        }
        // A pause while breaths come: nothing moves, nothing is lost.
        QTRY_VERIFY_WITH_TIMEOUT(modele()->rowCount() >= 1, 10000);
        cliquer("btnPause");
        const int figees = modele()->rowCount();
        QTest::qWait(2500);
        QCOMPARE(modele()->rowCount(), figees);
        cliquer("btnPause");
        QVERIFY(modele()->rowCount() > figees);

        // The apnea shows on both tabs after 10 s without a breath.
        auto* instantane = controle<IndicateurRespiration>("indicateurRespiration");
        auto* moyennes = controle<IndicateurRespiration>("indicateurMoyennes");
        QTRY_VERIFY_WITH_TIMEOUT(instantane->apneeAffichee(), 15000);
        QVERIFY(moyennes->apneeAffichee());
        QVERIFY(controle<QTextEdit>("valeursTexte")->toPlainText().contains("-- seconde(s)"));
        QTRY_VERIFY_WITH_TIMEOUT(!instantane->apneeAffichee(), 8000);
        QVERIFY(!moyennes->apneeAffichee());

        // Every breath of the file, as the batch tool finds them; the replay
        // then goes on with the file again.
        const int nombre = souffles.size() - 1;
        QTRY_VERIFY_WITH_TIMEOUT(modele()->rowCount() >= nombre, 15000);
        QCOMPARE(lignesDuTableau("apnee.csv", nombre), souffles.mid(1));
        auto* tableau = controle<QTableView>("tableauCycles");
        for (int colonne = 0; colonne < ModeleCycles::NombreColonnes; ++colonne)
            QVERIFY(!tableau->isColumnHidden(colonne));

        montrerMoyennes();
        for (const char* canal : {"CO2", "O2", "Flux"})
            QVERIFY2(cycleMoyen(canal)->isVisible(), canal);
        fenetre->grab().save(
            QDir(QStringLiteral(STATION_TEST_OUTPUT)).filePath("donnees-moyennees.png"));

        // With this tab current, the plots export shows its plots, frozen by
        // the pause as the screen is. The tab's own pause is the first tab's,
        // and says so; its own export is the first tab's too.
        cliquer("btnPauseMoyennes");
        QVERIFY(controle<QAbstractButton>("btnPause")->isChecked());
        QCOMPARE(controle<QAbstractButton>("btnPauseMoyennes")->text(), QString("En pause"));
        QTest::qWait(300);
        const QImage fige = onglet()->zoneGraphiques()->grab().toImage();
        for (const char* nom : {"moyennes.png", "moyennes.pdf", "moyennes.svg"}) {
            DialogueAutomatique operateur(QDir::current().absoluteFilePath(nom));
            cliquer(QByteArray(nom).endsWith("png") ? "btnExporterMoyennes" : "btnExporter");
            QTRY_COMPARE(operateur.vus, 1);
            QTRY_VERIFY2(QFileInfo(nom).size() > 0, nom);
        }
        QImage png;
        QVERIFY(png.load("moyennes.png"));
        QCOMPARE(png.convertToFormat(QImage::Format_RGB32),
                 fige.convertToFormat(QImage::Format_RGB32));
        QFile pdf("moyennes.pdf");
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QByteArray document = pdf.readAll();
        QVERIFY(document.startsWith("%PDF-"));
        QVERIFY2(!document.contains("/Subtype /Image"), "vector drawing");
        QFile svg("moyennes.svg");
        QVERIFY(svg.open(QIODevice::ReadOnly));
        QVERIFY(svg.readAll().contains("Temps depuis le d"));
        cliquer("btnPause");
        QVERIFY(!controle<QAbstractButton>("btnPauseMoyennes")->isChecked());
        cliquer("btnRejouer");
    }

    // A replay of 10 s of breathing, played at twice the pace, past its loop:
    // the table only ever holds one pass, the file's breaths as the batch
    // tool finds them; the status bar and the selector name the file.
    void replayLoopIsANewPassOverTheFile()
    {
        QVERIFY(ecrireFichier("boucle.csv",
                              Simulateur::lignesAttendues({"--period", "2", "--count", "2000"})));
        const QList<QByteArray> souffles = lignes(tableSouffles("boucle.csv", 20, 200));
        const int nombre = souffles.size() - 1;
        QVERIFY(nombre >= 3);

        controle<QDoubleSpinBox>("frequence")->setValue(200);
        choisirSource("ttyS0: avant");
        int passes = 0;
        const QMetaObject::Connection remises =
            connect(modele(), &QAbstractItemModel::modelReset, this, [&passes] { ++passes; });
        {
            DialogueAutomatique operateur(QDir::current().absoluteFilePath("boucle.csv"));
            cliquer("btnRejouer");
            QTRY_COMPARE(operateur.vus, 1);
        }
        QCOMPARE(controle<QComboBox>("source")->currentText(), QString("boucle.csv"));
        auto* etat = controle<QLabel>("etatAcquisition");
        QTRY_VERIFY2(etat->text().startsWith("Rejouer : boucle.csv — 00:0"),
                     qPrintable(etat->text()));
        QVERIFY2(etat->text().endsWith(" / 00:10"), qPrintable(etat->text()));
        // The start empties the table, and so does the loop.
        QTRY_COMPARE_WITH_TIMEOUT(passes, 2, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(modele()->rowCount() == nombre, 15000);
        QCOMPARE(lignesDuTableau("boucle.csv", nombre), souffles.mid(1));
        disconnect(remises);
        cliquer("btnRejouer");
        QCOMPARE(controle<QComboBox>("source")->currentText(), QString("ttyS0: avant"));
        QVERIFY(etat->text().isEmpty());
    }
};

QTEST_MAIN(FenetreMoyennesTest)
#include "FenetreMoyennesTest.moc"
