// The station as a process, driven through the X server like a person at the
// keyboard: it types the simulator's port, starts a capture and closes the window
// while the capture runs. The process must end at once, with status 0, and leave
// a complete capture file.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {

const char* const kGraine = "11";

QString lancer(const QString& programme, const QStringList& arguments, int attente = 10000)
{
    QProcess processus;
    processus.start(programme, arguments);
    processus.waitForFinished(attente);
    return QString::fromLocal8Bit(processus.readAllStandardOutput()).trimmed();
}

bool xdotool(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

xcb_atom_t atome(xcb_connection_t* connexion, const char* nom)
{
    const xcb_intern_atom_cookie_t demande =
        xcb_intern_atom(connexion, 0, uint16_t(std::strlen(nom)), nom);
    xcb_intern_atom_reply_t* reponse = xcb_intern_atom_reply(connexion, demande, nullptr);
    const xcb_atom_t resultat = reponse ? reponse->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reponse);
    return resultat;
}

// What a window manager's close button sends: WM_DELETE_WINDOW.
bool demanderFermeture(quint32 fenetre)
{
    xcb_connection_t* connexion = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connexion)) {
        xcb_disconnect(connexion);
        return false;
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = fenetre;
    message.type = atome(connexion, "WM_PROTOCOLS");
    message.data.data32[0] = atome(connexion, "WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    // A checked request waits for the server to have taken the event before the
    // connection closes.
    const xcb_void_cookie_t envoi = xcb_send_event_checked(
        connexion, 0, fenetre, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_generic_error_t* erreur = xcb_request_check(connexion, envoi);
    std::free(erreur);
    xcb_disconnect(connexion);
    return erreur == nullptr;
}

} // namespace

class StationProcessusTest : public QObject
{
    Q_OBJECT

private slots:
    void closingTheWindowDuringACaptureEndsCleanly_data()
    {
        QTest::addColumn<bool>("enLigneDeCommande");
        QTest::newRow("port typed, « Capturer » pressed") << false;
        QTest::newRow("--capturer PORT") << true;
    }

    void closingTheWindowDuringACaptureEndsCleanly()
    {
        QFETCH(bool, enLigneDeCommande);
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("xdotool is not installed");
        QTemporaryDir dossier;
        QVERIFY(dossier.isValid());

        QProcess simulateur;
        simulateur.start(QStringLiteral(STATION_SIMULATEUR), {"--seed", kGraine});
        QVERIFY(simulateur.waitForReadyRead(5000));
        const QString port = QString::fromLocal8Bit(simulateur.readLine()).trimmed();
        QVERIFY(!port.isEmpty());

        QProcess station;
        station.setWorkingDirectory(dossier.path());
        // The station is a real X client here, whatever platform the caller's
        // environment names, and needs no GL driver.
        QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
        environnement.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environnement.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
        station.setProcessEnvironment(environnement);
        station.setProcessChannelMode(QProcess::ForwardedChannels);
        station.start(QStringLiteral(STATION_PROGRAMME),
                      enLigneDeCommande ? QStringList{"--capturer", port} : QStringList());
        QVERIFY(station.waitForStarted());
        const QString fenetre =
            lancer("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Dorvane"})
                .section('\n', 0, 0);
        QVERIFY2(!fenetre.isEmpty(), "the station's window shows");
        QTest::qWait(1000); // the first device list and the placement are done

        // The source selector has the keyboard focus first: type the port, then
        // move to « Capturer » and press it.
        if (!enLigneDeCommande) {
            QVERIFY(xdotool({"windowfocus", "--sync", fenetre}));
            QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
            QVERIFY(xdotool({"type", "--delay", "5", port}));
            QVERIFY(xdotool({"key", "Tab", "Tab", "space"}));
        }

        // Samples reach the numbered capture file while the capture runs.
        const QDir ici(dossier.path());
        QTRY_COMPARE_WITH_TIMEOUT(ici.entryList({"acquisition*.csv"}).size(), 1, 5000);
        const QString capture = ici.filePath(ici.entryList({"acquisition*.csv"}).first());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(capture).size() > 200 * 13, 10000);

        QElapsedTimer duree;
        duree.start();
        QVERIFY(demanderFermeture(fenetre.toUInt()));
        station.waitForFinished(5000);
        QVERIFY2(station.state() == QProcess::NotRunning, "the station ends");
        QVERIFY2(duree.elapsed() < 2000, qPrintable(QString::number(duree.elapsed())));
        QCOMPARE(station.exitStatus(), QProcess::NormalExit);
        QCOMPARE(station.exitCode(), 0);

        QFile fichier(capture);
        QVERIFY(fichier.open(QIODevice::ReadOnly));
        const QByteArray recu = fichier.readAll();
        QVERIFY(recu.endsWith("\r\n"));
        const int nombre = recu.count('\n');
        const QString attendu = lancer(QStringLiteral(STATION_SIMULATEUR),
                                       {"--seed", kGraine, "--count", QString::number(nombre + 100),
                                        "--dump", "-", "--dump-only"});
        QVERIFY2(attendu.toLatin1().startsWith(recu), "every sample received, in order");

        simulateur.terminate();
        simulateur.waitForFinished(3000);
    }

    // As the desktop entry starts it: captures go to Documents/Station, made
    // for the purpose; and its help speaks French, Qt's own lines included.
    void fromTheMenuItRecordsInTheDocumentsAndSpeaksFrench()
    {
        QTemporaryDir maison;
        QVERIFY(maison.isValid());
        QProcess station;
        station.setWorkingDirectory(maison.path());
        QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
        environnement.insert(QStringLiteral("HOME"), maison.path());
        environnement.insert(QStringLiteral("XDG_CONFIG_HOME"), maison.filePath("config"));
        environnement.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        station.setProcessEnvironment(environnement);
        station.start(QStringLiteral(STATION_PROGRAMME), {"--documents"});
        QVERIFY(station.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(maison.filePath("Documents/Station")).isDir(), 5000);
        station.terminate();
        QVERIFY(station.waitForFinished(5000));

        const QString aide = lancer(QStringLiteral(STATION_PROGRAMME), {"--help"});
        QVERIFY2(aide.startsWith("Utilisation :"), qPrintable(aide));
        QVERIFY2(aide.contains("Affiche l'aide sur les options de la ligne de commande."),
                 qPrintable(aide));
        QVERIFY(aide.contains("--documents"));
    }
};

QTEST_MAIN(StationProcessusTest)
#include "StationProcessusTest.moc"
