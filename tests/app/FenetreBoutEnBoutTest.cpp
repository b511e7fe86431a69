// The whole station as an operator uses it, in a real window: the instrument
// simulator streams on a pseudo-terminal, the operator types its port, captures,
// replays, pauses and exports, loses the instrument, and closes the window.
#include "DialogueAutomatique.h"
#include "Fenetre.h"
#include "RegardFenetre.h"
#include "ScenarioFenetre.h"
#include "SimulateurInstrument.h"

#include "Graphique.h"
#include "IndicateurRespiration.h"
#include "Tampon.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QProcess>
#include <QSpinBox>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>

#include <cmath>
#include <memory>

namespace {

// The capture lines the station must record for the first `nombre` samples.
QByteArray capturesAttendues(int nombre)
{
    return Simulateur::lignesAttendues({"--count", QString::number(nombre)});
}

double valeurO2(const QByteArray& ligne)
{
    return ligne.split(';').value(1).toDouble();
}

} // namespace

class FenetreBoutEnBoutTest : public QObject, private ScenarioFenetre
{
    Q_OBJECT

private:
    Tampon* tampon(const QString& canal) const
    {
        return RegardFenetre(fenetre.get()).tampon(canal);
    }
    QVector<double> valeurs(const QString& canal) const
    {
        return RegardFenetre(fenetre.get()).valeurs(canal);
    }

    void choisirSource(const QString& port)
    {
        auto* source = controle<QComboBox>("source");
        source->setEditText(port);
        QCOMPARE(source->currentText(), port);
    }

    static void verifierPrefixe(const QByteArray& capture, const QByteArray& attendu)
    {
        QVERIFY(!capture.isEmpty());
        QVERIFY2(capture.endsWith("\r\n"), "the last line is complete");
        QVERIFY2(attendu.startsWith(capture), "every sample received, in order, right values");
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        QVERIFY(dossier.isValid());
        QVERIFY(QFile::exists(QStringLiteral(STATION_SIMULATEUR)));
    }

    void init() { QVERIFY(ouvrirFenetre(dossier, fenetre)); }

    void cleanup() { fenetre.reset(); }

    void liveCaptureSweepsFindsThePeriodAndRecordsEverySample()
    {
        const int nombre = 1504; // whole 16-byte blocks of 8 samples
        const QList<QByteArray> attendu = lignes(capturesAttendues(nombre));
        QCOMPARE(attendu.size(), nombre);
        Simulateur simulateur({"--count", QString::number(nombre)});
        QVERIFY(!simulateur.port.isEmpty());

        choisirSource(simulateur.port);
        QTest::mouseClick(controle<QAbstractButton>("btnCapturer"), Qt::LeftButton);
        QVERIFY(controle<QAbstractButton>("btnCapturer")->isChecked());

        // The O2 curve sweeps with the instrument's signal; CO2 and Flux stay at 0.
        QTRY_VERIFY(tampon("O2")->size() >= 200);
        const QVector<double> o2 = valeurs("O2");
        for (int i = 0; i < o2.size(); ++i)
            QVERIFY2(std::abs(o2[i] - valeurO2(attendu[i])) < 1e-3, qPrintable(QString::number(i)));
        for (const char* canal : {"CO2", "Flux"})
            for (double v : valeurs(canal))
                QCOMPARE(v, 0.0);
        QImage ecran = fenetre->grab().toImage();
        ecran.save(QDir(QStringLiteral(STATION_TEST_OUTPUT)).filePath("bout-en-bout.png"));

        // 1024 samples at 100 Hz, then the next one-second estimation: about 11 s.
        auto* panneau = controle<QTextEdit>("valeursTexte");
        QTRY_VERIFY_WITH_TIMEOUT(panneau->toPlainText().contains("3.41333 seconde(s)"), 16000);

        auto* cycles = controle<QAbstractButton>("radioCycles");
        QVERIFY(cycles->isEnabled());
        QTest::mouseClick(cycles, Qt::LeftButton);
        QVERIFY(cycles->isChecked());
        for (Graphique* g : fenetre->findChildren<Graphique*>())
            QCOMPARE(g->axisScaleDiv(QwtPlot::xBottom).upperBound(), (1024.0 / 300 + 0.25) * 3);

        // The capture file is on disk while the acquisition runs; once the last
        // sample is in, releasing the button closes it with every sample.
        QTRY_VERIFY_WITH_TIMEOUT(!fichierCapture().isEmpty(), 2000);
        QFile capture(fichierCapture());
        const qint64 tailleAttendue = capturesAttendues(nombre).size();
        QTRY_VERIFY2_WITH_TIMEOUT(
            capture.size() >= tailleAttendue,
            qPrintable(QString("%1 of %2 bytes written").arg(capture.size()).arg(tailleAttendue)),
            10000);
        ecran = fenetre->grab().toImage();
        ecran.save(QDir(QStringLiteral(STATION_TEST_OUTPUT)).filePath("bout-en-bout.png"));
        QTest::mouseClick(controle<QAbstractButton>("btnCapturer"), Qt::LeftButton);
        QVERIFY(!controle<QAbstractButton>("btnCapturer")->isChecked());
        QTRY_VERIFY(controle<QWidget>("btnRejouer")->isEnabled());
        QVERIFY(capture.open(QIODevice::ReadOnly));
        QCOMPARE(capture.readAll(), capturesAttendues(nombre));
    }

    void replayShowsTheCaptureAgainLoopingAndExportsFreeze()
    {
        // A capture file as the station records it.
        const int nombre = 600;
        const QByteArray contenu = capturesAttendues(nombre);
        QVERIFY(ecrireFichier("acquisition0.csv", contenu));
        const QList<QByteArray> attendu = lignes(contenu);

        // At 1000 Hz the 600 lines replay in well under a second, then loop after
        // one tick of zeros.
        controle<QDoubleSpinBox>("frequence")->setValue(1000);
        {
            DialogueAutomatique operateur(QDir::current().absoluteFilePath("acquisition0.csv"));
            QTest::mouseClick(controle<QAbstractButton>("btnRejouer"), Qt::LeftButton);
            QTRY_COMPARE(operateur.vus, 1);
        }
        QVERIFY(controle<QAbstractButton>("btnRejouer")->isChecked());
        QVERIFY(!controle<QWidget>("btnCapturer")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(tampon("O2")->size() > size_t(2 * nombre + 10), 10000);
        const QVector<double> o2 = valeurs("O2");
        for (int i = 0; i < 2 * nombre + 2; ++i) {
            const double attenduIci =
                i % (nombre + 1) == nombre ? 0.0 : valeurO2(attendu[i % (nombre + 1)]);
            QVERIFY2(std::abs(o2[i] - attenduIci) < 1e-9, qPrintable(QString::number(i)));
        }

        // Pause: every export shows the display as it froze, though the replay
        // goes on behind it.
        QTest::mouseClick(controle<QAbstractButton>("btnPause"), Qt::LeftButton);
        QWidget* conteneur = controle<QWidget>("graphiqueContainer");
        const QImage fige = conteneur->grab().toImage();
        QTest::qWait(400);
        for (const char* nom : {"export.png", "export.pdf", "export.ps", "export.svg"}) {
            DialogueAutomatique operateur(QDir::current().absoluteFilePath(nom));
            QTest::mouseClick(controle<QAbstractButton>("btnExporter"), Qt::LeftButton);
            QTRY_COMPARE(operateur.vus, 1);
            QTRY_VERIFY2(QFileInfo(nom).size() > 0, nom);
        }
        QImage png;
        QVERIFY(png.load("export.png"));
        QCOMPARE(png.convertToFormat(QImage::Format_RGB32),
                 fige.convertToFormat(QImage::Format_RGB32));
        QFile pdf("export.pdf");
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
        QFile ps("export.ps");
        QVERIFY(ps.open(QIODevice::ReadOnly));
        QVERIFY(ps.read(10) == "%!PS-Adobe");
        QSvgRenderer svg(QStringLiteral("export.svg"));
        QVERIFY(svg.isValid());

        QTest::mouseClick(controle<QAbstractButton>("btnPause"), Qt::LeftButton);
        QTest::mouseClick(controle<QAbstractButton>("btnRejouer"), Qt::LeftButton);
        QVERIFY(controle<QWidget>("btnCapturer")->isEnabled());
    }

    void lostInstrumentIsReportedAndTheCaptureKept()
    {
        auto simulateur = std::make_unique<Simulateur>(QStringList());
        choisirSource(simulateur->port);
        QTest::mouseClick(controle<QAbstractButton>("btnCapturer"), Qt::LeftButton);
        QTRY_VERIFY(tampon("O2")->size() >= 100);

        DialogueAutomatique operateur;
        simulateur->arreter();
        QTRY_COMPARE_WITH_TIMEOUT(operateur.vus, 1, 5000);
        QCOMPARE(operateur.titre, QString("Erreur"));
        QCOMPARE(operateur.texte,
                 QString("Connexion perdue avec le port %1").arg(simulateur->port));
        QTRY_VERIFY(!controle<QAbstractButton>("btnCapturer")->isChecked());
        QVERIFY(controle<QWidget>("btnRejouer")->isEnabled());
        QVERIFY(controle<QWidget>("source")->isEnabled());

        QFile capture(fichierCapture());
        QVERIFY(capture.open(QIODevice::ReadOnly));
        const QByteArray recu = capture.readAll();
        QVERIFY(lignes(recu).size() >= 100);
        verifierPrefixe(recu, capturesAttendues(lignes(recu).size() + 10));
    }

    // An instrument that sends 15 s of breathing at once, then nothing while
    // its line stays open: the silence, then the apnea show on the clock, the
    // rate and the period give way to "--", and the status bar names the file.
    void silentInstrumentIsToldOnTheClock()
    {
        const QStringList options{"--period", "3", "--count", "1504"}; // whole blocks
        Simulateur simulateur(options + QStringList{"--fast"});
        controle<QSpinBox>("delaiApnee")->setValue(10);
        choisirSource(simulateur.port);
        QTest::mouseClick(controle<QAbstractButton>("btnCapturer"), Qt::LeftButton);
        QTRY_VERIFY(!fichierCapture().isEmpty());
        QTRY_COMPARE(controle<QLabel>("etatAcquisition")->text(),
                     "Enregistrement : " + QFileInfo(fichierCapture()).absoluteFilePath());
        const qint64 recu = Simulateur::lignesAttendues(options).size();
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(fichierCapture()).size(), recu, 5000);

        auto* instantane = controle<IndicateurRespiration>("indicateurRespiration");
        auto* moyennes = controle<IndicateurRespiration>("indicateurMoyennes");
        QTRY_VERIFY_WITH_TIMEOUT(
            instantane->texteSilence().startsWith("Aucune donnée reçue depuis"), 8000);
        QCOMPARE(moyennes->texteSilence(), instantane->texteSilence());
        QVERIFY2(controle<QTextEdit>("valeursTexte")->toPlainText().contains("--"),
                 qPrintable(controle<QTextEdit>("valeursTexte")->toPlainText()));
        QVERIFY(!instantane->apneeAffichee());
        // The last breath came at most 15 s of samples ago; 10 s on, apnea.
        QTRY_VERIFY_WITH_TIMEOUT(instantane->apneeAffichee(), 15000);
        QVERIFY(moyennes->apneeAffichee());
        QVERIFY2(instantane->texteFrequence().contains("-- /min"),
                 qPrintable(instantane->texteFrequence()));

        QTest::mouseClick(controle<QAbstractButton>("btnCapturer"), Qt::LeftButton);
        QTRY_VERIFY(instantane->texteSilence().isEmpty() && !instantane->apneeAffichee());
        QVERIFY(controle<QLabel>("etatAcquisition")->text().isEmpty());
    }

    void closingDuringACaptureLeavesACompleteFile()
    {
        Simulateur simulateur({});
        choisirSource(simulateur.port);
        QTest::mouseClick(controle<QAbstractButton>("btnCapturer"), Qt::LeftButton);
        QTRY_VERIFY(tampon("O2")->size() >= 150);

        QElapsedTimer duree;
        duree.start();
        fenetre->close();
        fenetre.reset();
        QVERIFY2(duree.elapsed() < 2000, qPrintable(QString::number(duree.elapsed())));

        QFile capture(fichierCapture());
        QVERIFY(capture.open(QIODevice::ReadOnly));
        const QByteArray recu = capture.readAll();
        QVERIFY(lignes(recu).size() >= 150);
        verifierPrefixe(recu, capturesAttendues(lignes(recu).size() + 200));
    }
};

QTEST_MAIN(FenetreBoutEnBoutTest)
#include "FenetreBoutEnBoutTest.moc"
