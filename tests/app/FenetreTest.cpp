// The main window as an operator sees it: the form's defaults and interlocks, the
// plots' scales, and the display settings reaching the plots and their buffers.
#include "Fenetre.h"
#include "DialogueAutomatique.h"
#include "PageRendue.h"
#include "RegardFenetre.h"
#include "display/PixelsEcran.h"
#include "serial/InstrumentTerminal.h"

#include "Courbe.h"
#include "Graphique.h"
#include "Tampon.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>
#include <qwt_text.h>
#include <unistd.h>

namespace {

// Read access to the plot's trend count, which has no getter of its own.
struct AccesGraphique : Graphique
{
    static int nbCourbesDe(const Graphique* plot) { return plot->*(&AccesGraphique::nbCourbes); }
};

} // namespace

class FenetreTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dossier;
    Fenetre* fenetre = nullptr;

    template <typename T>
    T* controle(const char* nom) const
    {
        return RegardFenetre(fenetre).controle<T>(nom);
    }
    Graphique* plot(const QString& canal) const { return RegardFenetre(fenetre).plot(canal); }
    Tampon* tampon(const QString& canal) const { return RegardFenetre(fenetre).tampon(canal); }

    static QPair<double, double> echelle(Graphique* g, int axe)
    {
        const QwtScaleDiv div = g->axisScaleDiv(axe);
        return {div.lowerBound(), div.upperBound()};
    }

    void invoquer(const char* slot, QGenericArgument argument = QGenericArgument())
    {
        QVERIFY(QMetaObject::invokeMethod(fenetre, slot, argument));
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        QVERIFY(dossier.isValid());
        QDir::setCurrent(dossier.path());
    }

    void init()
    {
        QSettings(QStringLiteral("station"), QStringLiteral("station")).clear();
        fenetre = new Fenetre;
        fenetre->show();
        QVERIFY(QTest::qWaitForWindowExposed(fenetre));
    }

    void cleanup()
    {
        delete fenetre;
        fenetre = nullptr;
    }

    void formShowsItsDefaults_data()
    {
        QTest::addColumn<QString>("nom");
        QTest::addColumn<QString>("propriete");
        QTest::addColumn<QVariant>("attendu");
        auto ligne = [](const char* nom, const char* propriete, const QVariant& valeur) {
            QTest::addRow("%s.%s", nom, propriete) << nom << propriete << valeur;
        };
        ligne("frequence", "value", 100.0);
        ligne("frequence", "minimum", 0.01);
        ligne("frequence", "maximum", 1000.0);
        ligne("frequence", "suffix", " Hz");
        ligne("btnCapturer", "text", "Capturer");
        ligne("btnCapturer", "checkable", true);
        ligne("btnRejouer", "text", " Rejouer une capture ");
        ligne("btnPause", "text", "Pause");
        ligne("btnExporter", "text", " Exporter graphique ");
        ligne("radioTemporel", "checked", true);
        ligne("radioCycles", "enabled", false);
        ligne("radioCycles", "text", "Cycles respiratoires");
        ligne("nbSecondes", "value", 10);
        ligne("nbSecondes", "maximum", 120);
        ligne("nbSecondes", "suffix", " secondes");
        ligne("nbCycles", "value", 3);
        ligne("nbCycles", "enabled", false);
        ligne("nbCycles", "suffix", " cycles");
        ligne("tendance", "checked", false);
        ligne("nbTendance", "value", 4);
        ligne("nbTendance", "enabled", false);
        ligne("nbTendance", "prefix", "afficher ");
        ligne("nbTendance", "suffix", " courbes");
        ligne("decalageCO2", "singleStep", 0.1);
        ligne("decalageO2", "maximum", 60.0);
        ligne("CO2Min", "value", -20);
        ligne("CO2Max", "value", 70);
        ligne("CO2Max", "maximum", 1000000000);
        ligne("O2Min", "value", 45);
        ligne("O2Max", "value", 65);
        ligne("fluxMin", "value", -15);
        ligne("fluxMax", "value", 15);
        ligne("grpEchellesVerticales", "title", "Échelles verticales");
        ligne("grpDecalages", "title", "Décalages");
        ligne("valeursTexte", "readOnly", true);
        ligne("source", "editable", true);
        ligne("repriseAutomatique", "checked", false);
    }

    void formShowsItsDefaults()
    {
        QFETCH(QString, nom);
        QFETCH(QString, propriete);
        QFETCH(QVariant, attendu);
        QObject* objet = fenetre->findChild<QObject*>(nom);
        QVERIFY2(objet, qPrintable(nom));
        QCOMPARE(objet->property(qPrintable(propriete)), attendu);
    }

    void windowHasItsTitleIconAndFirstTab()
    {
        QCOMPARE(fenetre->windowTitle(),
                 QString("Dorvane - Tilbro - Zorade Orvale") + QString(25, QLatin1Char(' ')));
        QVERIFY(!fenetre->windowIcon().isNull());
        auto* onglets = controle<QTabWidget>("tabWidget");
        QCOMPARE(onglets->currentIndex(), 0);
        QCOMPARE(onglets->tabText(0), QString("Données instantanées"));
        QCOMPARE(onglets->tabText(1), QString("Données moyennées"));
        QCOMPARE(onglets->tabPosition(), QTabWidget::South);
    }

    void plotsStackWithTheirDefaultScales_data()
    {
        QTest::addColumn<QString>("canal");
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<bool>("axeDuTemps");
        QTest::newRow("CO2") << "CO2" << -20.0 << 70.0 << false;
        QTest::newRow("O2") << "O2" << 45.0 << 65.0 << false;
        QTest::newRow("Flux") << "Flux" << -15.0 << 15.0 << true;
    }

    void plotsStackWithTheirDefaultScales()
    {
        QFETCH(QString, canal);
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(bool, axeDuTemps);
        Graphique* g = plot(canal);
        QCOMPARE(echelle(g, QwtPlot::yLeft), qMakePair(min, max));
        QCOMPARE(echelle(g, QwtPlot::xBottom), qMakePair(0.0, 10.0));
        QCOMPARE(g->axisEnabled(QwtPlot::xBottom), axeDuTemps);
        // Named by its channel, on screen and so in every export.
        QCOMPARE(g->axisTitle(QwtPlot::yLeft).text(), canal);
        QVERIFY(g->isVisible());
        // Top to bottom: CO2, O2, Flux.
        QCOMPARE(plot("CO2")->y() < plot("O2")->y() && plot("O2")->y() < plot("Flux")->y(), true);
    }

    // Both tabs say which breaths the sampling rate lets the analysis find.
    void samplingRateTellsWhichBreathsCanBeFound_data()
    {
        QTest::addColumn<double>("fe");
        QTest::addColumn<QString>("ligne"); // empty: hidden
        QTest::newRow("100 Hz: every rate") << 100.0 << QString();
        QTest::newRow("10 Hz") << 10.0
                               << "À 10 Hz, seuls les rythmes jusqu'à 60 /min peuvent être trouvés";
        QTest::newRow("0.2 Hz") << 0.2 << "Aucun cycle respiratoire ne peut être trouvé à 0.2 Hz";
    }

    void samplingRateTellsWhichBreathsCanBeFound()
    {
        QFETCH(double, fe);
        QFETCH(QString, ligne);
        controle<QDoubleSpinBox>("frequence")->setValue(fe);
        for (const char* indicateur : {"indicateurRespiration", "indicateurMoyennes"}) {
            auto* limite = controle<QWidget>(indicateur)->findChild<QLabel*>("limiteFrequence");
            QVERIFY(limite);
            QCOMPARE(limite->isHidden(), ligne.isEmpty());
            if (!ligne.isEmpty())
                QCOMPARE(limite->text(), ligne);
        }
        controle<QDoubleSpinBox>("frequence")->setValue(100.0);
    }

    void captureWithoutSourceLocksThenReleasesTheControls()
    {
        auto* capturer = controle<QAbstractButton>("btnCapturer");
        QWidget* source = controle<QWidget>("source");
        QWidget* frequence = controle<QWidget>("frequence");
        auto* rejouer = controle<QAbstractButton>("btnRejouer");
        QTest::qWait(300); // the worker's first device list has arrived
        invoquer("getPortsSeriesList", Q_ARG(QStringList, QStringList()));
        controle<QComboBox>("source")->clearEditText();

        DialogueAutomatique operateur;
        capturer->setChecked(true);
        QVERIFY(!source->isEnabled());
        QVERIFY(!frequence->isEnabled());
        QVERIFY(!rejouer->isEnabled());

        // No source chosen: the worker refuses and the window releases the button.
        QTRY_VERIFY(operateur.vus >= 1);
        QCOMPARE(operateur.titre, QString("Erreur"));
        QCOMPARE(operateur.icone, QMessageBox::Critical);
        QCOMPARE(operateur.texte, QString("La source n'est pas valide"));
        QTRY_VERIFY(!capturer->isChecked());
        QVERIFY(source->isEnabled() && frequence->isEnabled() && rejouer->isEnabled());
        // The release of the button stops nothing and adds no second box.
        QTest::qWait(500);
        QCOMPARE(operateur.boites, QStringList{"La source n'est pas valide"});
        QVERIFY(!rejouer->isChecked());
    }

    // Each of these operator actions ends in a refusal or a loss (as does a
    // capture without source, above); the release of the buttons that follows
    // stops nothing and must not add a second box.
    void oneOperatorActionShowsAtMostOneBox_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("boites"); // %1: the port
        QTest::newRow("replay dialog cancelled, no port listed") << "replay" << QStringList{};
        QTest::newRow("the only port hangs up and leaves the list")
            << "hang-up" << QStringList{"Connexion perdue avec le port %1"};
        QTest::newRow("it hangs up, waited for") << "hang-up, resumption on" << QStringList{};
    }

    void oneOperatorActionShowsAtMostOneBox()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, boites);
        auto* capturer = controle<QAbstractButton>("btnCapturer");
        auto* source = controle<QComboBox>("source");
        QTest::qWait(300); // the worker's first device list has arrived
        InstrumentTerminal instrument;
        QVERIFY(instrument.isValid());
        const bool reprise = action.endsWith("on");
        controle<QAbstractButton>("repriseAutomatique")->setChecked(reprise);
        if (action.startsWith("hang-up")) {
            invoquer("getPortsSeriesList",
                     Q_ARG(QStringList, QStringList{instrument.name() + ": pseudo-terminal"}));
        } else {
            invoquer("getPortsSeriesList", Q_ARG(QStringList, QStringList()));
            source->clearEditText();
        }

        DialogueAutomatique operateur; // closes boxes, cancels file dialogs
        if (action == "replay") {
            controle<QAbstractButton>("btnRejouer")->setChecked(true);
        } else {
            capturer->setChecked(true);
        }
        if (action.startsWith("hang-up")) {
            QTRY_VERIFY(QFile::exists("acquisition1.csv"));
            QTest::qWait(200); // the port is open
            // The adapter goes: the system's list loses it, and the line drops.
            invoquer("getPortsSeriesList", Q_ARG(QStringList, QStringList()));
            instrument.hangUp();
        }
        auto* ligne = controle<QLabel>("ligneConnexion");
        if (reprise) { // no box: a line under the values, the capture on until released
            QTRY_VERIFY(ligne->isVisible() && ligne->text().endsWith("reprise dès son retour"));
            capturer->setChecked(false); // shown only while capturing; the release ends it
        }
        QVERIFY(!ligne->isVisible());
        QTRY_VERIFY(!capturer->isChecked() &&
                    !controle<QAbstractButton>("btnRejouer")->isChecked());
        QTest::qWait(500); // time for a second box
        for (QString& boite : boites)
            boite = boite.arg(instrument.name());
        QCOMPARE(operateur.boites, boites);
    }

    void resumptionChoiceIsFoundAgainByTheNextWindow()
    {
        controle<QAbstractButton>("repriseAutomatique")->setChecked(true);
        delete fenetre;
        fenetre = new Fenetre;
        QVERIFY(controle<QAbstractButton>("repriseAutomatique")->isChecked());
    }

    void cancelledReplayDialogReleasesBothButtons()
    {
        auto* rejouer = controle<QAbstractButton>("btnRejouer");
        QTest::qWait(300); // the first device list is in
        controle<QComboBox>("source")->setEditText("/dev/ttyUSB3");
        DialogueAutomatique operateur; // cancels the file dialog
        rejouer->setChecked(true);
        QTRY_VERIFY(operateur.vus >= 1);
        QCOMPARE(operateur.titre, QString("Ouvrir une capture"));
        QVERIFY(!rejouer->isChecked());
        QCOMPARE(controle<QComboBox>("source")->currentText(), QString("/dev/ttyUSB3"));
        QVERIFY(!controle<QAbstractButton>("btnCapturer")->isChecked());
        QVERIFY(controle<QWidget>("btnCapturer")->isEnabled());
        QVERIFY(controle<QWidget>("source")->isEnabled());
    }

    void unreadableReplayFileIsReportedAndReleased()
    {
        QFile fichier(QDir::current().absoluteFilePath("illisible.csv"));
        QVERIFY(fichier.open(QIODevice::WriteOnly));
        fichier.write("1;2;3\r\n");
        fichier.close();
        QVERIFY(fichier.setPermissions(QFileDevice::Permissions()));
        // Root reads any file: look at it as an ordinary user would.
        const bool root = ::geteuid() == 0;
        if (root) {
            QVERIFY(QFile::setPermissions(QDir::currentPath(), QFileDevice::Permissions(0x7755)));
            QVERIFY(::seteuid(65534) == 0);
        }

        DialogueAutomatique operateur(fichier.fileName());
        QTest::mouseClick(controle<QAbstractButton>("btnRejouer"), Qt::LeftButton);
        QTRY_COMPARE(operateur.vus, 2); // the file dialog, then the message
        if (root)
            QVERIFY(::seteuid(0) == 0);
        QCOMPARE(operateur.titre, QString("Erreur"));
        QCOMPARE(operateur.texte, QString("Impossible d'ouvrir le fichier"));
        QTRY_VERIFY(!controle<QAbstractButton>("btnRejouer")->isChecked());
        QVERIFY(controle<QWidget>("btnCapturer")->isEnabled());
    }

    // A failed export says so; a name without a suffix takes the images filter's.
    void exportsThatFailSaySo_data()
    {
        QTest::addColumn<QString>("nom");
        QTest::addColumn<QString>("ecrit"); // empty when the export must fail
        QTest::newRow("svg, folder not writable") << "ferme/graphe.svg" << QString();
        QTest::newRow("no suffix") << "sanssuffixe"
                                   << "sanssuffixe.png";
    }

    void exportsThatFailSaySo()
    {
        QFETCH(QString, nom);
        QFETCH(QString, ecrit);
        QVERIFY(QDir::current().mkpath("ferme"));
        QVERIFY(QFile::setPermissions("ferme", QFileDevice::Permissions(0x5555)));
        const bool root = ::geteuid() == 0; // root writes anywhere
        QVERIFY(QFile::setPermissions(".", QFileDevice::Permissions(0x7777)));
        QVERIFY(!root || ::seteuid(65534) == 0);
        DialogueAutomatique operateur(QDir::current().absoluteFilePath(nom));
        QTest::mouseClick(controle<QAbstractButton>("btnExporter"), Qt::LeftButton);
        QTRY_COMPARE(operateur.vus, ecrit.isEmpty() ? 2 : 1);
        QVERIFY(!root || ::seteuid(0) == 0);
        if (ecrit.isEmpty())
            QCOMPARE(operateur.texte,
                     "Impossible d'écrire le fichier " + QDir::current().absoluteFilePath(nom));
        else
            QTRY_VERIFY(QImage(ecrit).width() > 0);
    }

    void trendOnlyWhenChecked()
    {
        controle<QSpinBox>("nbTendance")->setValue(6);
        for (const char* canal : {"CO2", "O2", "Flux"})
            QCOMPARE(AccesGraphique::nbCourbesDe(plot(canal)), 1);
        controle<QAbstractButton>("tendance")->setChecked(true);
        QVERIFY(controle<QWidget>("nbTendance")->isEnabled());
        for (const char* canal : {"CO2", "O2", "Flux"})
            QCOMPARE(AccesGraphique::nbCourbesDe(plot(canal)), 6);
    }

    void scalesReachPlotsAndTimeWindow()
    {
        controle<QSpinBox>("O2Max")->setValue(80);
        QCOMPARE(echelle(plot("O2"), QwtPlot::yLeft), qMakePair(45.0, 80.0));
        controle<QSpinBox>("nbSecondes")->setValue(4);
        for (const char* canal : {"CO2", "O2", "Flux"})
            QCOMPARE(echelle(plot(canal), QwtPlot::xBottom), qMakePair(0.0, 4.0));
        // A 4 s window at 100 Hz holds 400 points: the 401st value starts a new sweep.
        Tampon* o2 = tampon("O2");
        o2->viderDonnees();
        for (int i = 0; i < 400; ++i)
            o2->ajouterValeur(50);
        QCOMPARE(o2->size(), size_t(400));
        o2->ajouterValeur(50);
        QCOMPARE(o2->size(), size_t(1));
    }

    // Delay R and lead-in M (in samples) show in a buffer fed 1, 2, 3...: the first
    // displayed value is M + 1 and R - 1 values stay queued behind.
    void offsetsAlignChannelsOnTheSlowestGas_data()
    {
        QTest::addColumn<double>("dCO2");
        QTest::addColumn<double>("dO2");
        QTest::addColumn<QVector<int>>("attendus"); // retard, masque for CO2, O2, Flux
        QTest::newRow("none") << 0.0 << 0.0 << QVector<int>{0, 0, 0, 0, 0, 0};
        QTest::newRow("CO2 later") << 2.5 << 1.0 << QVector<int>{0, 250, 150, 100, 250, 0};
        QTest::newRow("equal") << 1.2 << 1.2 << QVector<int>{0, 120, 0, 120, 120, 0};
        QTest::newRow("O2 later") << 0.5 << 2.0 << QVector<int>{150, 50, 0, 200, 200, 0};
    }

    void offsetsAlignChannelsOnTheSlowestGas()
    {
        QFETCH(double, dCO2);
        QFETCH(double, dO2);
        QFETCH(QVector<int>, attendus);
        controle<QDoubleSpinBox>("decalageCO2")->setValue(dCO2);
        controle<QDoubleSpinBox>("decalageO2")->setValue(dO2);
        invoquer("setDecalage");
        controle<QAbstractButton>("btnPause")->setChecked(false);

        const QStringList canaux{"CO2", "O2", "Flux"};
        const int fournis = 600;
        for (int c = 0; c < 3; ++c) {
            Tampon* t = tampon(canaux[c]);
            for (int v = 1; v <= fournis; ++v)
                t->ajouterValeur(v);
        }
        for (int c = 0; c < 3; ++c) {
            const int retard = attendus[2 * c];
            const int masque = attendus[2 * c + 1];
            Tampon* t = tampon(canaux[c]);
            const int enAttente = retard > 1 ? retard - 1 : 0;
            QCOMPARE(int(t->size()), fournis - masque - enAttente);
            QCOMPARE(t->sample(0).y(), double(masque + 1));
        }
    }

    void cyclesModeFollowsThePeriod()
    {
        auto* cycles = controle<QAbstractButton>("radioCycles");
        QVERIFY(!cycles->isEnabled());
        invoquer("modeCycles");
        QVERIFY(cycles->isEnabled());
        cycles->setChecked(true);
        // No period yet: the time window stays as it was.
        QCOMPARE(echelle(plot("CO2"), QwtPlot::xBottom), qMakePair(0.0, 10.0));

        invoquer("setPeriode", Q_ARG(double, 3.2));
        for (const char* canal : {"CO2", "O2", "Flux"})
            QCOMPARE(echelle(plot(canal), QwtPlot::xBottom).second, (3.2 + 0.25) * 3);
        const QString panneau = controle<QTextEdit>("valeursTexte")->toPlainText();
        QVERIFY2(panneau.contains("Période respiratoire"), qPrintable(panneau));
        QVERIFY2(panneau.contains("3.2 seconde(s)"), qPrintable(panneau));
    }

    void periodShowsOnlyWhenTheSpectrumIsBreathing()
    {
        controle<QAbstractButton>("radioCycles")->setEnabled(true);
        controle<QAbstractButton>("radioCycles")->setChecked(true);
        auto* panneau = controle<QTextEdit>("valeursTexte");
        invoquer("setPeriode", Q_ARG(double, 3.0));
        QVERIFY(panneau->toPlainText().contains("3 seconde(s)"));
        // Noise or an apnea: no number, and the cycles window keeps its size.
        invoquer("setRespiration", Q_ARG(bool, false));
        invoquer("setPeriode", Q_ARG(double, 0.0290909));
        QVERIFY2(panneau->toPlainText().contains("-- seconde(s)"),
                 qPrintable(panneau->toPlainText()));
        QCOMPARE(echelle(plot("O2"), QwtPlot::xBottom).second, (3.0 + 0.25) * 3);
        invoquer("setRespiration", Q_ARG(bool, true));
        invoquer("setPeriode", Q_ARG(double, 4.0));
        QVERIFY(panneau->toPlainText().contains("4 seconde(s)"));
        // A new capture does not show the last one's period.
        invoquer("capture", Q_ARG(bool, true));
        QVERIFY(panneau->toPlainText().contains("-- seconde(s)"));
        invoquer("capture", Q_ARG(bool, false));
    }

    void pauseFreezesPanelAndWindow()
    {
        controle<QAbstractButton>("radioCycles")->setEnabled(true);
        controle<QAbstractButton>("radioCycles")->setChecked(true);
        invoquer("setPeriode", Q_ARG(double, 2.0));
        auto* panneau = controle<QTextEdit>("valeursTexte");
        const QString avant = panneau->toPlainText();

        controle<QAbstractButton>("btnPause")->setChecked(true);
        invoquer("setPeriode", Q_ARG(double, 4.0));
        QCOMPARE(panneau->toPlainText(), avant);
        QCOMPARE(echelle(plot("O2"), QwtPlot::xBottom).second, (2.0 + 0.25) * 3);

        controle<QAbstractButton>("btnPause")->setChecked(false);
        invoquer("setPeriode", Q_ARG(double, 5.0));
        QVERIFY(panneau->toPlainText().contains("5 seconde(s)"));
        QCOMPARE(echelle(plot("O2"), QwtPlot::xBottom).second, (5.0 + 0.25) * 3);
    }

    void frequencyReachesTheBuffers()
    {
        controle<QDoubleSpinBox>("frequence")->setValue(50);
        // At 50 Hz a 10 s window holds 500 points.
        for (const char* canal : {"CO2", "O2", "Flux"}) {
            Tampon* t = tampon(canal);
            t->viderDonnees();
            for (int i = 0; i < 500; ++i)
                t->ajouterValeur(50);
            QCOMPARE(t->size(), size_t(500));
            QCOMPARE(t->sample(499).x(), 499 * 0.02);
            t->ajouterValeur(50);
            QCOMPARE(t->size(), size_t(1));
        }
    }

    void deviceListKeepsThePreviousChoice_data()
    {
        QTest::addColumn<QStringList>("avant");
        QTest::addColumn<int>("choix");
        QTest::addColumn<QStringList>("apres");
        QTest::addColumn<QString>("retenu");
        const QStringList deux{"ttyS0: Port série", "ttyUSB0: FT232R USB UART"};
        QTest::newRow("still listed")
            << deux << 1 << QStringList{"ttyACM0: modem", deux[1]} << deux[1];
        QTest::newRow("gone") << deux << 1 << QStringList{"ttyACM0: modem", deux[0]}
                              << "ttyACM0: modem";
        QTest::newRow("empty") << deux << 0 << QStringList{} << QString();
    }

    void deviceListKeepsThePreviousChoice()
    {
        QFETCH(QStringList, avant);
        QFETCH(int, choix);
        QFETCH(QStringList, apres);
        QFETCH(QString, retenu);
        auto* source = controle<QComboBox>("source");
        invoquer("getPortsSeriesList", Q_ARG(QStringList, avant));
        source->setCurrentIndex(choix);
        invoquer("getPortsSeriesList", Q_ARG(QStringList, apres));
        QCOMPARE(source->count(), apres.size());
        QCOMPARE(source->currentText(), retenu);
    }

    void messagesShowTheirBoxAndReleaseButtons_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("titre");
        QTest::addColumn<bool>("relache");
        QTest::newRow("information") << 0 << 0 << "Information" << false;
        QTest::newRow("warning") << 1 << 0 << "Avertissement" << false;
        QTest::newRow("error, refused") << 2 << 1 << "Erreur" << true;
        QTest::newRow("no box, refused") << 5 << 1 << QString() << true;
    }

    void messagesShowTheirBoxAndReleaseButtons()
    {
        QFETCH(int, type);
        QFETCH(int, code);
        QFETCH(QString, titre);
        QFETCH(bool, relache);
        auto* capturer = controle<QAbstractButton>("btnCapturer");
        // Hold the button down without starting anything behind it.
        const QSignalBlocker bloqueur(capturer);
        capturer->setChecked(true);

        DialogueAutomatique operateur;
        QVERIFY(QMetaObject::invokeMethod(fenetre, "showMessage", Q_ARG(int, type),
                                          Q_ARG(QString, "message"), Q_ARG(int, code)));
        QCOMPARE(operateur.vus, titre.isEmpty() ? 0 : 1);
        QCOMPARE(operateur.titre, titre);
        if (!titre.isEmpty())
            QCOMPARE(operateur.texte, QString("message"));
        QCOMPARE(capturer->isChecked(), !relache);
    }

    // With the trend on, every kind of export shows the sweeps that the screen
    // shows, the earlier ones in their own colours; the PNG export equals the
    // screen pixel for pixel.
    void trendSweepsReachEveryExport_data()
    {
        QTest::addColumn<QString>("nom");
        QTest::addColumn<QString>("lecteur"); // program turning the page into PNG
        QTest::newRow("png") << "tendance.png" << QString();
        QTest::newRow("svg") << "tendance.svg" << QString();
        QTest::newRow("pdf") << "tendance.pdf"
                             << "pdftoppm";
        QTest::newRow("ps") << "tendance.ps"
                            << "gs";
    }

    void trendSweepsReachEveryExport()
    {
        QFETCH(QString, nom);
        QFETCH(QString, lecteur);
        const QString programme = QStandardPaths::findExecutable(lecteur);
        if (!lecteur.isEmpty() && programme.isEmpty())
            QSKIP("no program to read the page");
        QTest::qWait(700); // the window has taken its place on the screen
        controle<QSpinBox>("nbTendance")->setValue(3);
        controle<QAbstractButton>("tendance")->setChecked(true);
        Tampon* o2 = tampon("O2");
        // Each sweep shorter than the one before, so that the plot sees it begin.
        const QPair<int, double> balayages[] = {{900, 50}, {700, 55}, {500, 60}};
        for (const auto& balayage : balayages) {
            o2->viderDonnees();
            for (int i = 0; i < balayage.first; ++i)
                o2->ajouterValeur(balayage.second + 3 * std::sin(i * 2 * M_PI / 200.0));
            QTest::qWait(150);
        }
        QWidget* zone = controle<QWidget>("graphiqueContainer");
        const QImage vu = PixelsEcran::capturer(zone);

        DialogueAutomatique operateur(QDir::current().absoluteFilePath(nom));
        // A fourth sweep begins while the dialog is open and wipes the three on
        // screen: every format still shows the moment of the click.
        QTimer::singleShot(100, this, [o2] {
            o2->viderDonnees();
            for (int i = 0; i < 300; ++i)
                o2->ajouterValeur(52);
        });
        QTest::mouseClick(controle<QAbstractButton>("btnExporter"), Qt::LeftButton);
        QTRY_COMPARE(operateur.vus, 1);
        QTRY_VERIFY(QFileInfo(nom).size() > 0);
        QImage exporte;
        if (nom.endsWith(".png")) {
            QVERIFY(exporte.load(nom));
            QCOMPARE(exporte.convertToFormat(QImage::Format_RGB32), vu);
        } else if (nom.endsWith(".svg")) {
            QSvgRenderer svg(nom);
            QVERIFY(svg.isValid());
            exporte = QImage(zone->size(), QImage::Format_RGB32);
            exporte.fill(Qt::white);
            QPainter peintre(&exporte);
            svg.render(&peintre);
        } else {
            QVERIFY(rendrePage(programme, nom, 100, "page.png"));
            QVERIFY(exporte.load("page.png"));
        }
        exporte.save(QDir(QStringLiteral(STATION_TEST_OUTPUT)).filePath(nom + ".png"));
        for (Qt::GlobalColor couleur : {Qt::darkBlue, Qt::darkCyan, Qt::darkMagenta})
            QVERIFY2(PixelsEcran::compter(exporte, couleur) > 200,
                     qPrintable(QColor(couleur).name()));
    }

    // On the screens the station runs on, with the window filling the screen,
    // the panel right of the plots shows every caption and value whole, each
    // control inside its group, with the mode and offset fields at their
    // widest values.
    void rightPanelShowsWholeCaptions_data()
    {
        QTest::addColumn<QSize>("ecran");
        QTest::newRow("1280x1024") << QSize(1280, 1024);
        QTest::newRow("1366x768") << QSize(1366, 768);
    }

    void rightPanelShowsWholeCaptions()
    {
        QFETCH(QSize, ecran);
        QTest::qWait(700); // the window has taken its place on the screen
        controle<QSpinBox>("nbSecondes")->setValue(120);
        controle<QSpinBox>("nbCycles")->setValue(100);
        controle<QSpinBox>("nbTendance")->setValue(10);
        controle<QDoubleSpinBox>("decalageCO2")->setValue(60);
        controle<QDoubleSpinBox>("decalageO2")->setValue(60);
        fenetre->setWindowState(Qt::WindowNoState);
        fenetre->setGeometry(QRect(QPoint(0, 0), ecran));
        QTRY_COMPARE(fenetre->size(), ecran);
        QCoreApplication::processEvents();

        QWidget* panneau = controle<QWidget>("frame");
        int vus = 0;
        for (QWidget* w : panneau->findChildren<QWidget*>()) {
            if (!w->isVisible())
                continue;
            const QString nom = w->objectName();
            const QRect cadre(w->mapTo(panneau, QPoint(0, 0)), w->size());
            QVERIFY2(panneau->rect().contains(cadre), qPrintable(nom));
            if (qobject_cast<QGroupBox*>(w->parentWidget()))
                QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(nom));
            if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) {
                auto* saisie = spin->findChild<QLineEdit*>();
                QVERIFY(saisie);
                const int texte = saisie->fontMetrics().horizontalAdvance(saisie->text());
                QVERIFY2(texte + 4 <= saisie->width(), qPrintable(QString("%1: \"%2\" %3 > %4")
                                                                      .arg(nom, saisie->text())
                                                                      .arg(texte + 4)
                                                                      .arg(saisie->width())));
                ++vus;
            } else if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w)) {
                QVERIFY2(w->width() >= w->sizeHint().width(),
                         qPrintable(QString("%1: %2 < %3")
                                        .arg(nom)
                                        .arg(w->width())
                                        .arg(w->sizeHint().width())));
                ++vus;
            }
        }
        QVERIFY(vus >= 20);
        fenetre->grab().save(
            QDir(QStringLiteral(STATION_TEST_OUTPUT))
                .filePath(QString("panneau-%1x%2.png").arg(ecran.width()).arg(ecran.height())));
    }

    // The source selector is wide enough for the device entry it shows or the
    // path typed into it, up to its maximum width.
    void sourceSelectorShowsWholeEntries_data()
    {
        QTest::addColumn<QStringList>("entrees");
        QTest::addColumn<QString>("saisie"); // typed over the entry, when not empty
        QTest::addColumn<bool>("tronque");   // longer than the maximum width
        const QStringList deux{"/dev/ttyUSB0: FT232R USB UART", "/dev/ttyS0: serial"};
        QTest::newRow("entry of a USB adapter") << deux << QString() << false;
        QTest::newRow("path typed, no port listed") << QStringList() << "/dev/pts/0" << false;
        QTest::newRow("long path typed")
            << deux << "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI" << false;
        QTest::newRow("path beyond the maximum") << deux << QString(120, QLatin1Char('x')) << true;
    }

    void sourceSelectorShowsWholeEntries()
    {
        QFETCH(QStringList, entrees);
        QFETCH(QString, saisie);
        QFETCH(bool, tronque);
        auto* source = controle<QComboBox>("source");
        QTest::qWait(700); // the worker's device list has come, the window is in place
        invoquer("getPortsSeriesList", Q_ARG(QStringList, entrees));
        if (!saisie.isEmpty()) {
            source->lineEdit()->clear();
            QTest::keyClicks(source->lineEdit(), saisie);
        }
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        const QString texte = source->currentText();
        QCOMPARE(texte, saisie.isEmpty() ? entrees.value(0) : saisie);
        const int largeur = source->lineEdit()->fontMetrics().horizontalAdvance(texte) + 4;
        if (tronque)
            QCOMPARE(source->width(), source->maximumWidth());
        else
            QVERIFY2(largeur <= source->lineEdit()->width(),
                     qPrintable(QString("%1 > %2").arg(largeur).arg(source->lineEdit()->width())));
    }

    // The caption of a printed export names the moment the display froze and
    // the capture file it shows.
    void pdfCaptionNamesThePauseAndTheReplayedFile()
    {
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        if (pdftotext.isEmpty())
            QSKIP("pdftotext is not installed");
        QFile capture(QDir::current().absoluteFilePath("rejeu.csv"));
        QVERIFY(capture.open(QIODevice::WriteOnly));
        for (int i = 0; i < 500; ++i)
            capture.write(QByteArray::number(i % 50) + ";55;0\r\n");
        capture.close();
        {
            DialogueAutomatique operateur(capture.fileName());
            QTest::mouseClick(controle<QAbstractButton>("btnRejouer"), Qt::LeftButton);
            QTRY_COMPARE(operateur.vus, 1);
        }
        QTRY_VERIFY(tampon("O2")->size() > 20);

        const QDateTime avant = QDateTime::currentDateTime();
        QTest::mouseClick(controle<QAbstractButton>("btnPause"), Qt::LeftButton);
        const QDateTime apres = QDateTime::currentDateTime();
        QTest::qWait(1200);
        DialogueAutomatique operateur(QDir::current().absoluteFilePath("fige.pdf"));
        QTest::mouseClick(controle<QAbstractButton>("btnExporter"), Qt::LeftButton);
        QTRY_COMPARE(operateur.vus, 1);
        QTRY_VERIFY(QFileInfo("fige.pdf").size() > 0);
        QProcess extraction;
        extraction.start(pdftotext, {"fige.pdf", "-"});
        QVERIFY(extraction.waitForFinished(30000));
        const QString texte = QString::fromUtf8(extraction.readAllStandardOutput()).simplified();
        QVERIFY2(texte.contains("fichier rejeu.csv"), qPrintable(texte));
        QStringList moments;
        for (const QDateTime& moment : {avant, apres})
            moments << moment.toString("'Instantané du 'dd/MM/yyyy' à 'hh:mm:ss");
        QVERIFY2(texte.contains(moments[0]) || texte.contains(moments[1]), qPrintable(texte));

        QTest::mouseClick(controle<QAbstractButton>("btnPause"), Qt::LeftButton);
        QTest::mouseClick(controle<QAbstractButton>("btnRejouer"), Qt::LeftButton);
    }

    // What the export dialog offers once it has settled: a PNG name of the
    // moment, with the images filter selected.
    void exportDialogProposesAPngName()
    {
        QString nom;
        QString filtre;
        QElapsedTimer depuis;
        QTimer veille;
        connect(&veille, &QTimer::timeout, [&] {
            auto* dialogue = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialogue)
                return;
            if (!depuis.isValid())
                depuis.start();
            if (depuis.elapsed() < 400)
                return;
            if (auto* saisie = dialogue->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                nom = saisie->text();
            filtre = dialogue->selectedNameFilter();
            dialogue->reject();
        });
        veille.start(20);
        QTest::mouseClick(controle<QAbstractButton>("btnExporter"), Qt::LeftButton);
        QTRY_VERIFY(!filtre.isEmpty());
        QVERIFY2(QRegularExpression("^exportation_\\d\\d_\\d\\d_\\d{4}_\\d\\d_\\d\\d_\\d\\d\\.png$")
                     .match(nom)
                     .hasMatch(),
                 qPrintable(nom));
        QVERIFY2(filtre.startsWith("Images ("), qPrintable(filtre));
        QVERIFY(!QFile::exists(nom));
    }

    void grabOfTheWindow()
    {
        fenetre->resize(1200, 900);
        Tampon* o2 = tampon("O2");
        for (int i = 0; i < 700; ++i)
            o2->ajouterValeur(55 + 8 * std::sin(i * 2 * M_PI / 400.0));
        QTest::qWait(200);
        const QImage image = fenetre->grab().toImage();
        QVERIFY(!image.isNull());
        QVERIFY(image.save(QDir(QStringLiteral(STATION_TEST_OUTPUT)).filePath("fenetre.png")));
    }
};

QTEST_MAIN(FenetreTest)
#include "FenetreTest.moc"
