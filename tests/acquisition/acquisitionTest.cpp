#include "acquisition.h"
#include "PetitDisque.h"
#include "ReglagesRefuses.h"
#include "SerialDeviceEnumerator.h"
#include "Tampon.h"
#include "analysis/SignalRespiratoire.h"
#include "calculPeriode.h"
#include "detecteurCycles.h"
#include "serial/InstrumentTerminal.h"
#include "serial/UucpLock.h"

#include <QAtomicInt>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Message
{
    int type;
    QString texte;
    int code;
    bool operator==(const Message& autre) const
    {
        return type == autre.type && texte == autre.texte && code == autre.code;
    }
};

char* toString(const Message& m)
{
    return QTest::toString(QStringLiteral("(%1, \"%2\", %3)").arg(m.type).arg(m.texte).arg(m.code));
}

// Stands in for the main window: lives on the test's thread and receives the
// worker's reports through blocking queued connections, as the window does.
class Fenetre : public QObject
{
    Q_OBJECT
public:
    QList<Message> messages;
    QList<QStringList> listes;
    bool guiThread = true;
public slots:
    void showMessage(int type, QString texte, int code)
    {
        guiThread = guiThread && QThread::currentThread() == thread();
        messages.append({type, texte, code});
    }
    void getPortsSeriesList(QStringList ports) { listes.append(ports); }
};

// The worker on its own thread with three buffers, an estimator and a window.
struct Banc
{
    Tampon co2{0.01, 100};
    Tampon o2{0.01, 100};
    Tampon flux{0.01, 100};
    calculPeriode estimateur;
    detecteurCycles detecteur;
    Fenetre fenetre;
    QThread thread;
    acquisition* worker = new acquisition;

    Banc()
    {
        worker->setTampons(&co2, &o2, &flux, &estimateur);
        worker->setDetecteur(&detecteur);
        QObject::connect(worker, &acquisition::newMessage, &fenetre, &Fenetre::showMessage,
                         Qt::BlockingQueuedConnection);
        QObject::connect(worker, &acquisition::newDeviceList, &fenetre,
                         &Fenetre::getPortsSeriesList, Qt::BlockingQueuedConnection);
        QObject::connect(
            worker, &acquisition::avertissement, &fenetre,
            [this](int type, const QString& texte) { fenetre.showMessage(type, texte, 0); },
            Qt::QueuedConnection);
        worker->moveToThread(&thread);
        thread.start();
    }

    // Stops the worker the way the window should at its close: the stop is
    // queued, and this thread keeps serving the worker's blocking messages
    // until the stop has run.
    ~Banc()
    {
        QAtomicInt fini;
        QMetaObject::invokeMethod(worker, "arreter", Qt::QueuedConnection);
        QMetaObject::invokeMethod(
            worker, [&fini] { fini = 1; }, Qt::QueuedConnection);
        while (!fini.loadAcquire())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        thread.quit();
        thread.wait();
        delete worker;
    }

    void setSource(const QString& s)
    {
        QMetaObject::invokeMethod(worker, "setSource", Qt::QueuedConnection, Q_ARG(QString, s));
    }
    void setCapture(bool start)
    {
        QMetaObject::invokeMethod(worker, "setCapture", Qt::QueuedConnection, Q_ARG(bool, start));
    }
    void arreter() { QMetaObject::invokeMethod(worker, "arreter", Qt::BlockingQueuedConnection); }
    // Returns once the worker has run everything queued to it so far.
    void synchroniser()
    {
        QMetaObject::invokeMethod(
            worker, [] {}, Qt::BlockingQueuedConnection);
    }
};

// Whether this process (the worker, here) has the named device open.
bool portOuvert(const QString& nom)
{
    const QDir descripteurs(QStringLiteral("/proc/self/fd"));
    for (const QString& fd :
         descripteurs.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        if (QFileInfo(descripteurs.filePath(fd)).symLinkTarget() == nom)
            return true;
    return false;
}

// Starts a live capture of `source` and waits until its capture file exists and
// the port `nom` is open.
bool captureDemarree(Banc& banc, const QString& source, const QString& nom,
                     const char* fichier = "acquisition1.csv")
{
    banc.setSource(source);
    banc.setCapture(true);
    return QTest::qWaitFor([&] { return QFile::exists(fichier); }) &&
           QTest::qWaitFor([&] { return portOuvert(nom); });
}

QVector<double> valeurs(const Tampon& tampon)
{
    QVector<double> v;
    for (size_t i = 0; i < tampon.size(); ++i)
        v.append(tampon.sample(i).y());
    return v;
}

QByteArray contenu(const QString& nom)
{
    QFile fichier(nom);
    return fichier.open(QIODevice::ReadOnly) ? fichier.readAll() : QByteArray();
}

void ecrire(const QString& nom, const QByteArray& octets)
{
    QFile fichier(nom);
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write(octets);
}

QByteArray echantillon(quint16 brut)
{
    return QByteArray(1, char(brut & 0xFF)) + QByteArray(1, char(brut >> 8));
}

// 1024 samples holding exactly three cycles: the estimator finds bin 3.
QVector<quint16> troisCycles()
{
    QVector<quint16> bruts;
    for (int i = 0; i < 1024; ++i)
        bruts.append(quint16(std::lround(32768 + 16000 * std::sin(2 * M_PI * 3 * i / 1024.0))));
    return bruts;
}

double periodeEstimee(calculPeriode& estimateur, double fe)
{
    QSignalSpy spy(&estimateur, &calculPeriode::newPeriode);
    estimateur.setFe(fe);
    estimateur.start();
    estimateur.wait();
    return spy.count() == 1 ? spy.at(0).at(0).toDouble() : -1.0;
}

} // namespace

class acquisitionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptySourceIsRefused_data();
    void emptySourceIsRefused();
    void blockDecodesToO2AndCaptureLines_data();
    void blockDecodesToO2AndCaptureLines();
    void portEntryOrBareNameOpensThePort_data();
    void portEntryOrBareNameOpensThePort();
    void partialBlockWaitsAndBurstsDecodeWhole();
    void liveSamplesFeedTheEstimator();
    void refusedSettingIsReportedAndAcquisitionGoesOn_data();
    void refusedSettingIsReportedAndAcquisitionGoesOn();
    void unopenablePortLeavesNoCaptureFile();
    void portHeldByAnotherProgramIsRefused();
    void missingLinksRefuseLiveStart();
    void captureTakesSmallestFreeNumber_data();
    void captureTakesSmallestFreeNumber();
    void captureReachesDiskWhileRunning();
    void uncreatableCaptureFileWarnsAndAcquires();
    void fullDiskWarnsOnceAndKeepsWholeLines_data();
    void fullDiskWarnsOnceAndKeepsWholeLines();
    void vanishedPortClosesCaptureAndReleases_data();
    void vanishedPortClosesCaptureAndReleases();
    void lostPortIsWaitedForAndResumesIntoNextCapture_data();
    void lostPortIsWaitedForAndResumesIntoNextCapture();
    void secondStartWhileCapturingChangesNothing();
    void replayFeedsEveryBuffer_data();
    void replayFeedsEveryBuffer();
    void replayFeedsTheEstimator();
    void replayIntervalFollowsFrequencyAtStart_data();
    void replayIntervalFollowsFrequencyAtStart();
    void linksIgnoredWhileReplaying();
    void replayStopAndRestartReadsFromTheTop();
    void replayOfLinelessFileKeepsCallsShortAndPace();
    void messageFromGuiThreadReplayArrivesWithoutDeadlock();
    void breathsOfLiveAndReplayReachTheWindow();
    void deviceListEntriesNameAndDescription();

private:
    QTemporaryDir racine;
    QString dossierPrecedent;
};

void acquisitionTest::initTestCase()
{
    QVERIFY(racine.isValid());
    dossierPrecedent = QDir::currentPath();
    // Capture lines must keep "." whatever the user's locale.
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
}

// Every test runs in an empty working directory of its own: capture files go
// to the current directory.
void acquisitionTest::init()
{
    const QString dossier = racine.filePath(QString::fromLatin1(QTest::currentTestFunction()) +
                                            "_" + QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(dossier));
    QVERIFY(QDir::setCurrent(dossier));
}

void acquisitionTest::cleanup()
{
    ReglagesRefuses::refuserReglage(0);
    QDir::setCurrent(dossierPrecedent);
}

// A start with an empty source is refused; the release that follows, a stop
// while nothing runs, says nothing (whatever the source).
void acquisitionTest::emptySourceIsRefused_data()
{
    QTest::addColumn<bool>("start");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("messages");
    QTest::newRow("start") << true << QString() << 1;
    QTest::newRow("stop, nothing running") << false << QString() << 0;
    QTest::newRow("stop, port named, nothing running") << false << "/dev/ttyS9: absent" << 0;
}

void acquisitionTest::emptySourceIsRefused()
{
    QFETCH(bool, start);
    QFETCH(QString, source);
    QFETCH(int, messages);
    Banc banc;
    banc.setSource(source);
    banc.setCapture(start);
    // The messages are taken here while the worker waits for them.
    QTest::qWait(200);
    QCOMPARE(banc.fenetre.messages.size(), messages);
    if (messages > 0)
        QCOMPARE(banc.fenetre.messages.at(0), (Message{2, "La source n'est pas valide", 1}));
    QVERIFY(QDir::current().entryList(QDir::Files).isEmpty());
}

void acquisitionTest::blockDecodesToO2AndCaptureLines_data()
{
    QTest::addColumn<quint16>("brut");
    QTest::addColumn<double>("valeur");
    QTest::addColumn<QByteArray>("ligne");
    QTest::newRow("0x00 0x80") << quint16(0x8000) << 125.0 << QByteArray("0;125;0\r\n");
    QTest::newRow("0xFF 0xFF") << quint16(0xFFFF) << 249.99618530273438
                               << QByteArray("0;249.996;0\r\n");
    QTest::newRow("0x01 0x00") << quint16(0x0001) << 0.003814697265625
                               << QByteArray("0;0.0038147;0\r\n");
    QTest::newRow("0x00 0x00") << quint16(0) << 0.0 << QByteArray("0;0;0\r\n");
    QTest::newRow("47.0924") << quint16(12345) << 12345 * 250.0 / 65536.0
                             << QByteArray("0;47.0924;0\r\n");
}

void acquisitionTest::blockDecodesToO2AndCaptureLines()
{
    QFETCH(quint16, brut);
    QFETCH(double, valeur);
    QFETCH(QByteArray, ligne);
    InstrumentTerminal instrument;
    QVERIFY(instrument.isValid());
    Banc banc;
    QVERIFY(captureDemarree(banc, instrument.name(), instrument.name()));
    QVERIFY(instrument.send(echantillon(brut).repeated(8)));
    QTRY_COMPARE(banc.o2.size(), size_t(8));
    banc.arreter();

    QCOMPARE(valeurs(banc.o2), QVector<double>(8, valeur));
    QCOMPARE(valeurs(banc.co2), QVector<double>(8, 0.0));
    QCOMPARE(valeurs(banc.flux), QVector<double>(8, 0.0));
    QCOMPARE(contenu("acquisition1.csv"), ligne.repeated(8));
    QVERIFY(banc.fenetre.messages.isEmpty());
}

void acquisitionTest::portEntryOrBareNameOpensThePort_data()
{
    QTest::addColumn<QString>("suffixe");
    QTest::addColumn<QString>("prefixe");
    QTest::newRow("bare name") << QString() << QString();
    QTest::newRow("device list entry") << QStringLiteral(": Port de test: USB") << QString();
    // Without its by-id link, the kernel name in the brackets; a link's lock is the port's.
    QTest::newRow("entry by stable name") << QStringLiteral("): Port de test")
                                          << QStringLiteral("usb-Absent_Adaptateur-if00-port0 (");
    QTest::newRow("link to the port") << QString() << QStringLiteral("lien");
    QTest::newRow("link named as by-path names are")
        << QString() << QStringLiteral("lien-pci-0000:00:14.0-usb-0:2:1.0-port0");
}

void acquisitionTest::portEntryOrBareNameOpensThePort()
{
    QFETCH(QString, suffixe);
    QFETCH(QString, prefixe);
    InstrumentTerminal instrument;
    Banc banc;
    const bool lien = prefixe.startsWith("lien");
    const QString source =
        lien ? QDir::current().absoluteFilePath(prefixe) : prefixe + instrument.name() + suffixe;
    QVERIFY(!lien || QFile::link(instrument.name(), source));
    QVERIFY(captureDemarree(banc, source, instrument.name()));
    if (lien)
        QVERIFY(QFile::exists(UucpLock::pathFor(instrument.name())));
    QVERIFY(instrument.send(echantillon(0x8000).repeated(8)));
    QTRY_COMPARE(banc.o2.size(), size_t(8));
    QVERIFY(banc.fenetre.messages.isEmpty());
}

void acquisitionTest::partialBlockWaitsAndBurstsDecodeWhole()
{
    InstrumentTerminal instrument;
    Banc banc;
    QVERIFY(captureDemarree(banc, instrument.name(), instrument.name()));

    QByteArray flux;
    for (quint16 i = 1; i <= 40; ++i)
        flux += echantillon(quint16(i * 1000));

    // 15 bytes: no sample yet; the 16th completes the block.
    QVERIFY(instrument.send(flux.left(15)));
    QTest::qWait(300);
    QCOMPARE(banc.o2.size(), size_t(0));
    QVERIFY(instrument.send(flux.mid(15, 1)));
    QTRY_COMPARE(banc.o2.size(), size_t(8));

    // 40 bytes at once: both complete blocks are decoded, the 8 left wait.
    QVERIFY(instrument.send(flux.mid(16, 40)));
    QTRY_COMPARE(banc.o2.size(), size_t(24));
    QTest::qWait(300);
    QCOMPARE(banc.o2.size(), size_t(24));
    QVERIFY(instrument.send(flux.mid(56)));
    QTRY_COMPARE(banc.o2.size(), size_t(40));

    QVector<double> attendu;
    for (int i = 1; i <= 40; ++i)
        attendu.append(i * 1000 * 250.0 / 65536.0);
    QCOMPARE(valeurs(banc.o2), attendu);
    QCOMPARE(banc.co2.size(), size_t(40));
    QCOMPARE(banc.flux.size(), size_t(40));
}

void acquisitionTest::liveSamplesFeedTheEstimator()
{
    InstrumentTerminal instrument;
    Banc banc;
    QVERIFY(captureDemarree(banc, instrument.name(), instrument.name()));
    QByteArray octets;
    for (quint16 brut : troisCycles())
        octets += echantillon(brut);
    QVERIFY(instrument.send(octets));
    QTRY_COMPARE(banc.o2.size(), size_t(1024));
    QCOMPARE(periodeEstimee(banc.estimateur, 100.0), 1024.0 / 300.0);
}

void acquisitionTest::refusedSettingIsReportedAndAcquisitionGoesOn_data()
{
    QTest::addColumn<int>("reglage"); // 0 baud rate ... 4 flow control, in the order applied
    QTest::addColumn<QString>("message");
    QTest::newRow("baud rate") << 0 << "Impossible de configurer le débit souhaité";
    QTest::newRow("data bits") << 1 << "Impossible de configurer la taille des données.";
    QTest::newRow("stop bits") << 2 << "Impossible de configurer le nombre de bit de stop.";
    QTest::newRow("parity") << 3 << "Impossible de configurer la parité.";
    QTest::newRow("flow control") << 4 << "Impossible de configurer le controle de flux.";
}

void acquisitionTest::refusedSettingIsReportedAndAcquisitionGoesOn()
{
    QFETCH(int, reglage);
    QFETCH(QString, message);
    InstrumentTerminal instrument;
    Banc banc;
    banc.setSource(instrument.name());

    // A first acquisition counts the settings requests of a start: the five
    // line settings are the last five.
    ReglagesRefuses::refuserReglage(0);
    banc.setCapture(true);
    banc.synchroniser();
    QVERIFY(portOuvert(instrument.name()));
    const int parDemarrage = ReglagesRefuses::reglagesVus();
    QVERIFY2(parDemarrage >= 5, "the serial engine applies each setting with one request");
    banc.setCapture(false);
    banc.synchroniser();

    ReglagesRefuses::refuserReglage(parDemarrage - 5 + 1 + reglage);
    banc.setCapture(true);
    QTRY_COMPARE(banc.fenetre.messages.size(), 1);
    QCOMPARE(banc.fenetre.messages.at(0), (Message{2, message, 0}));
    QVERIFY(instrument.send(echantillon(0x8000).repeated(8)));
    QTRY_COMPARE(banc.o2.size(), size_t(8));
    QCOMPARE(banc.fenetre.messages.size(), 1);
}

void acquisitionTest::unopenablePortLeavesNoCaptureFile()
{
    Banc banc;
    banc.setSource("/dev/pas-de-port-ici");
    for (int essai = 1; essai <= 2; ++essai) {
        banc.setCapture(true);
        QTRY_COMPARE(banc.fenetre.messages.size(), essai);
        QCOMPARE(
            banc.fenetre.messages.at(essai - 1),
            (Message{2, "Impossible d'ouvrir le port /dev/pas-de-port-ici\nLe port n'existe plus",
                     1}));
        QVERIFY(QDir::current().entryList(QDir::Files).isEmpty());
    }

    // Idle again: a port that opens gets the first number.
    InstrumentTerminal instrument;
    QVERIFY(captureDemarree(banc, instrument.name(), instrument.name()));
}

void acquisitionTest::portHeldByAnotherProgramIsRefused()
{
    if (!UucpLock::isAvailable())
        QSKIP("the lock directory is not writable");
    InstrumentTerminal instrument;
    // Another serial program holds the port: this test program stands for it.
    UucpLock lock(instrument.name(), UucpLock::text(::getpid()));
    QVERIFY(lock.isWritten());
    Banc banc;
    banc.setSource(instrument.name());
    banc.setCapture(true);
    QTRY_COMPARE(banc.fenetre.messages.size(), 1);
    const QString texte =
        "Impossible d'ouvrir le port %1\nutilisé par acquisitionTest, processus %2";
    QCOMPARE(banc.fenetre.messages.at(0),
             (Message{2, texte.arg(instrument.name()).arg(::getpid()), 1}));
    QVERIFY(!portOuvert(instrument.name()));
}

void acquisitionTest::missingLinksRefuseLiveStart()
{
    InstrumentTerminal instrument;
    Banc banc;
    banc.worker->setTampons(&banc.co2, &banc.o2, &banc.flux, nullptr);
    banc.setSource(instrument.name());
    banc.setCapture(true);
    QTRY_COMPARE(banc.fenetre.messages.size(), 1);
    QCOMPARE(banc.fenetre.messages.at(0), (Message{2, "Liens vers les tampons inconnus", 1}));

    // The port was closed and the worker is idle: with the links back, a start works.
    banc.worker->setTampons(&banc.co2, &banc.o2, &banc.flux, &banc.estimateur);
    banc.setCapture(true);
    QTRY_VERIFY(QFile::exists("acquisition2.csv"));
    QTRY_VERIFY(portOuvert(instrument.name()));
    QVERIFY(instrument.send(echantillon(0x8000).repeated(8)));
    QTRY_COMPARE(banc.o2.size(), size_t(8));
}

void acquisitionTest::captureTakesSmallestFreeNumber_data()
{
    QTest::addColumn<QStringList>("presents");
    QTest::addColumn<QString>("attendu");
    QTest::newRow("none") << QStringList() << "acquisition1.csv";
    QTest::newRow("1 and 2") << QStringList{"acquisition1.csv", "acquisition2.csv"}
                             << "acquisition3.csv";
    QTest::newRow("gap at 2") << QStringList{"acquisition1.csv", "acquisition3.csv"}
                              << "acquisition2.csv";
    QTest::newRow("gap at 1") << QStringList{"acquisition2.csv"} << "acquisition1.csv";
    QTest::newRow("9 before 10") << QStringList{"acquisition1.csv", "acquisition2.csv",
                                                "acquisition3.csv", "acquisition4.csv",
                                                "acquisition5.csv", "acquisition6.csv",
                                                "acquisition7.csv", "acquisition8.csv",
                                                "acquisition9.csv"}
                                 << "acquisition10.csv";
    // Any directory entry takes its number, and nothing is written through it.
    QTest::newRow("dangling link") << QStringList{"acquisition1.csv@"} << "acquisition2.csv";
    QTest::newRow("link to a file") << QStringList{"acquisition1.csv>"} << "acquisition2.csv";
    QTest::newRow("directory") << QStringList{"acquisition1.csv/"} << "acquisition2.csv";
    QTest::newRow("unwritable entry") << QStringList{"acquisition1.csv!"} << "acquisition2.csv";
}

void acquisitionTest::captureTakesSmallestFreeNumber()
{
    QFETCH(QStringList, presents);
    QFETCH(QString, attendu);
    // A last @ > / ! makes the entry a dangling link, a link to a file, a
    // directory, an unwritable file.
    for (const QString& entree : presents) {
        const QString nom = entree.section(".csv", 0, 0) + ".csv";
        if (entree.endsWith('@') || entree.endsWith('>'))
            QVERIFY(QFile::link(entree.endsWith('>') ? "ailleurs" : "nulle-part", nom));
        if (entree.endsWith('/'))
            QVERIFY(QDir().mkdir(nom));
        else if (!entree.endsWith('@'))
            ecrire(entree.endsWith('>') ? "ailleurs" : nom, "ancien\r\n");
        QVERIFY(!entree.endsWith('!') || ::chmod(qPrintable(nom), 0) == 0);
    }
    InstrumentTerminal instrument;
    Banc banc;
    banc.setSource(instrument.name());
    banc.setCapture(true);
    QTRY_VERIFY(QFile::exists(attendu));
    banc.arreter();
    const int ailleurs = presents.filter(">").size();
    QCOMPARE(
        QDir::current().entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(),
        presents.size() + ailleurs + 1);
    for (const QString& nom : presents)
        QVERIFY(nom.endsWith('@') || nom.endsWith('/') || nom.endsWith('!') ||
                contenu(nom.section(".csv", 0, 0) + ".csv") == "ancien\r\n");
}

void acquisitionTest::captureReachesDiskWhileRunning()
{
    InstrumentTerminal instrument;
    Banc banc;
    QVERIFY(captureDemarree(banc, instrument.name(), instrument.name()));
    QVERIFY(instrument.send(echantillon(0x8000).repeated(16)));
    QTRY_COMPARE(banc.o2.size(), size_t(16));
    // Still running: the lines reach the file within a second.
    QTRY_COMPARE_WITH_TIMEOUT(contenu("acquisition1.csv"), QByteArray("0;125;0\r\n").repeated(16),
                              1500);
    QVERIFY(instrument.send(echantillon(0xFFFF).repeated(8)));
    QTRY_COMPARE(banc.o2.size(), size_t(24));
    banc.setCapture(false);
    QTRY_COMPARE(contenu("acquisition1.csv"), QByteArray("0;125;0\r\n").repeated(16) +
                                                  QByteArray("0;249.996;0\r\n").repeated(8));
}

void acquisitionTest::fullDiskWarnsOnceAndKeepsWholeLines_data()
{
    QTest::addColumn<int>("occupe"); // bytes of the disk taken before the capture
    QTest::addColumn<int>("echantillons");
    QTest::addColumn<int>("tailleMin"); // bytes the capture file keeps at least
    QTest::newRow("while capturing") << 0 << 20000 << 32 * 1024;
    // Two pages left, and fewer lines than the streams hold before writing:
    // the first write is the flush at the stop.
    QTest::newRow("at the stop") << 14 * 4096 << 1000 << 4096;
}

void acquisitionTest::fullDiskWarnsOnceAndKeepsWholeLines()
{
    QFETCH(int, occupe);
    QFETCH(int, echantillons);
    QFETCH(int, tailleMin);
    const QString dossier = QDir::current().filePath("disque");
    PetitDisque disque(dossier);
    if (!disque.estMonte())
        QSKIP("mounting a 64 KiB tmpfs needs root (and the right to mount)");
    QVERIFY(QDir::setCurrent(dossier));
    ecrire("occupe", QByteArray(occupe, 'x'));

    QByteArray octets;
    QByteArray attendu;
    for (int i = 0; i < echantillons; ++i) {
        const quint16 brut = quint16(i * 7);
        octets += echantillon(brut);
        attendu += "0;" + QByteArray::number(brut * 250.0 / 65536.0, 'g', 6) + ";0\r\n";
    }
    InstrumentTerminal instrument;
    Banc banc;
    banc.o2.setDuree(1000);
    QVERIFY(captureDemarree(banc, instrument.name(), instrument.name()));
    // The warning waits for this thread, which takes no event meanwhile: the
    // worker must go on reading the port all the same. Past a generous delay
    // the warning is taken, so that a worker held by it fails here, not hangs.
    QElapsedTimer attente;
    attente.start();
    bool retenu = false;
    QVERIFY(instrument.send(octets, [&] {
        if (attente.elapsed() > 10000) {
            retenu = true;
            QCoreApplication::processEvents();
        }
    }));
    while (banc.o2.size() < size_t(echantillons) && attente.elapsed() < 10000)
        QThread::msleep(10);
    QVERIFY(!retenu);
    QCOMPARE(banc.o2.size(), size_t(echantillons)); // the acquisition went on
    banc.setCapture(false);
    const Message erreur{1, "Erreur d'écriture du fichier de capture acquisition1.csv", 0};
    QTRY_COMPARE(banc.fenetre.messages, QList<Message>{erreur});
    QTest::qWait(100);
    QCOMPARE(banc.fenetre.messages, QList<Message>{erreur}); // once

    // What reached the disk stays, cut back to its last whole line.
    const QByteArray ecrit = contenu("acquisition1.csv");
    QVERIFY2(ecrit.size() >= tailleMin, qPrintable(QString::number(ecrit.size())));
    QVERIFY(ecrit.endsWith("\r\n"));
    QVERIFY(attendu.startsWith(ecrit));
}

void acquisitionTest::uncreatableCaptureFileWarnsAndAcquires()
{
    // A working directory that is gone: no file can be created in it.
    QVERIFY(QDir().mkdir("parti"));
    QVERIFY(QDir::setCurrent("parti"));
    QVERIFY(QDir().rmdir(QDir::currentPath()));
    InstrumentTerminal instrument;
    Banc banc;
    banc.setSource(instrument.name());
    banc.setCapture(true);
    QTRY_COMPARE(banc.fenetre.messages.size(), 1);
    QCOMPARE(banc.fenetre.messages.at(0),
             (Message{1, "Impossible de créer le fichier de capture acquisition1.csv", 0}));
    QTRY_VERIFY(portOuvert(instrument.name()));
    QVERIFY(instrument.send(echantillon(0x8000).repeated(16)));
    QTRY_COMPARE(banc.o2.size(), size_t(16));
    banc.arreter();
    QVERIFY(!QFileInfo::exists("acquisition1.csv"));
}

void acquisitionTest::vanishedPortClosesCaptureAndReleases_data()
{
    // Bytes after the last whole block, and the whole samples among them.
    QTest::addColumn<int>("reste");
    QTest::addColumn<int>("echantillons");
    QTest::newRow("two samples and a half") << 5 << 2;
    QTest::newRow("one sample") << 2 << 1;
    QTest::newRow("one sample and a half") << 3 << 1;
}

void acquisitionTest::vanishedPortClosesCaptureAndReleases()
{
    QFETCH(int, reste);
    QFETCH(int, echantillons);
    Banc banc;
    QString nom;
    {
        InstrumentTerminal instrument;
        nom = instrument.name();
        QVERIFY(captureDemarree(banc, nom, instrument.name()));
        // The samples after the last block wait for the rest of their block.
        QVERIFY(instrument.send(echantillon(0x8000).repeated(16) + QByteArray(reste, '\x01')));
        QTRY_COMPARE(banc.o2.size(), size_t(16));
        QTest::qWait(100);
    } // the instrument hangs up
    QTRY_COMPARE(banc.fenetre.messages.size(), 1);
    QCOMPARE(banc.fenetre.messages.at(0), (Message{2, "Connexion perdue avec le port " + nom, 1}));
    // The whole samples sent before the hang-up are kept, a half one is not.
    QCOMPARE(banc.o2.size(), size_t(16 + echantillons));
    QCOMPARE(contenu("acquisition1.csv"),
             QByteArray("0;125;0\r\n").repeated(16) +
                 QByteArray("0;0.980377;0\r\n").repeated(echantillons));

    // Idle again: a new instrument can be captured at once.
    InstrumentTerminal autre;
    QVERIFY(captureDemarree(banc, autre.name(), autre.name(), "acquisition2.csv"));
    QVERIFY(autre.send(echantillon(0x8000).repeated(8)));
    QTRY_COMPARE(banc.o2.size(), size_t(24 + echantillons));
}

// With resumption on, the port reached through a link hangs up and its link
// goes, then comes back pointing at another terminal; or the wait is ended.
void acquisitionTest::lostPortIsWaitedForAndResumesIntoNextCapture_data()
{
    QTest::addColumn<QString>("attente");
    QTest::newRow("the link comes back") << "";
    QTest::newRow("capture released meanwhile") << "setCapture";
    QTest::newRow("resumption turned off meanwhile") << "setRepriseAutomatique";
}

void acquisitionTest::lostPortIsWaitedForAndResumesIntoNextCapture()
{
    QFETCH(QString, attente);
    Banc banc;
    QSignalSpy suspendue(banc.worker, &acquisition::connexionSuspendue);
    QSignalSpy reprise(banc.worker, &acquisition::connexionReprise);
    std::vector<Cycle> cycles;
    QObject::connect(&banc.detecteur, &detecteurCycles::nouveauCycle, &banc.fenetre,
                     [&](const Cycle& c) { cycles.push_back(c); });
    Conditions conditions;
    conditions.niveau = 100.0;
    QByteArray souffles; // five breaths of 4 s, and a sample after the last block
    for (double v : genererSignal(QVector<Souffle>(6, {4.0, 20.0, 0.4}), conditions).o2)
        souffles += echantillon(quint16(std::lround(v * 65536.0 / 250.0)));
    souffles = souffles.left(souffles.size() / 16 * 16) + echantillon(0x8000);
    banc.worker->setRepriseAutomatique(true);
    const QString lien = QDir::current().absoluteFilePath("lien");
    auto instrument = std::make_unique<InstrumentTerminal>();
    QVERIFY(QFile::link(instrument->name(), lien));
    QVERIFY(captureDemarree(banc, lien, instrument->name()) && instrument->send(souffles));
    QTRY_COMPARE(int(banc.o2.size()), souffles.size() / 2 - 1);
    QVERIFY(QFile::remove(lien));
    instrument.reset(); // hangs up
    QTRY_COMPARE(suspendue.value(0).value(0).toString(),
                 "Connexion perdue avec le port " + lien + " — reprise dès son retour");
    QCOMPARE(contenu("acquisition1.csv").count("\r\n"), souffles.size() / 2); // closed whole
    QCOMPARE(int(cycles.size()), 5);
    if (!attente.isEmpty())
        QMetaObject::invokeMethod(banc.worker, qPrintable(attente), Q_ARG(bool, false));
    QTest::qWait(1000); // tries meanwhile find no port
    InstrumentTerminal autre;
    QVERIFY(QFile::link(autre.name(), lien));
    QCOMPARE(QTest::qWaitFor([&] { return portOuvert(autre.name()); }), attente.isEmpty());
    // Turned off, the wait ends as a lost port ends without it.
    QCOMPARE(banc.fenetre.messages.size(), int(attente == "setRepriseAutomatique"));
    if (!attente.isEmpty())
        return;
    QTRY_COMPARE(reprise.value(0).value(0).toString(), "Reprise sur " + lien);
    QVERIFY(autre.send(souffles));
    QTRY_COMPARE(contenu("acquisition2.csv").count("\r\n"), souffles.size() / 2 - 1);
    // The breaths go on, none invented across the gap, whose length counts.
    QTRY_COMPARE(int(cycles.size()), 10);
    QVERIFY(cycles[5].debut - cycles[0].debut - souffles.size() / 200.0 > 1.0);
    QVERIFY(cycles[5].apresCoupure && !cycles[4].apresCoupure && !cycles[6].apresCoupure);
}

void acquisitionTest::secondStartWhileCapturingChangesNothing()
{
    InstrumentTerminal instrument;
    Banc banc;
    QVERIFY(captureDemarree(banc, instrument.name(), instrument.name()));
    banc.setCapture(true);
    QTest::qWait(200);
    QVERIFY(!QFile::exists("acquisition2.csv"));
    QVERIFY(instrument.send(echantillon(0x8000).repeated(8)));
    QTRY_COMPARE(banc.o2.size(), size_t(8));
    banc.arreter();
    QCOMPARE(contenu("acquisition1.csv"), QByteArray("0;125;0\r\n").repeated(8));
    QVERIFY(banc.fenetre.messages.isEmpty());
}

void acquisitionTest::replayFeedsEveryBuffer_data()
{
    QTest::addColumn<QByteArray>("fichier");
    QTest::addColumn<QVector<double>>("co2");
    QTest::addColumn<QVector<double>>("o2");
    QTest::addColumn<QVector<double>>("flux");
    using V = QVector<double>;
    QTest::newRow("two lines, CR LF") << QByteArray("1;2;3\r\n4;5;6\r\n") << V{1, 4, 0, 1, 4, 0}
                                      << V{2, 5, 0, 2, 5, 0} << V{3, 6, 0, 3, 6, 0};
    QTest::newRow("LF, no final line feed") << QByteArray("1;2;3\n4;5;6") << V{1, 4, 0, 1, 4, 0}
                                            << V{2, 5, 0, 2, 5, 0} << V{3, 6, 0, 3, 6, 0};
    QTest::newRow("one field") << QByteArray("7\r\n") << V{7, 0, 7, 0} << V{0, 0, 0, 0}
                               << V{0, 0, 0, 0};
    QTest::newRow("empty first field")
        << QByteArray(";8\r\n") << V{0, 0, 0, 0} << V{8, 0, 8, 0} << V{0, 0, 0, 0};
    QTest::newRow("CR CR LF") << QByteArray("0;1.5;0\r\r\n") << V{0, 0, 0, 0} << V{1.5, 0, 1.5, 0}
                              << V{0, 0, 0, 0};
    QTest::newRow("empty file") << QByteArray() << V{0, 0, 0} << V{0, 0, 0} << V{0, 0, 0};
    QTest::newRow("words, blanks, extra fields") << QByteArray("a;b;c\r\n\r\n 1 ; 2 ;3;9\r\n")
                                                 << V{0, 0, 1, 0} << V{0, 0, 2, 0} << V{0, 0, 3, 0};
    QTest::newRow("not finite") << QByteArray("nan;inf;-inf\r\n") << V{0, 0} << V{0, 0} << V{0, 0};
}

void acquisitionTest::replayFeedsEveryBuffer()
{
    QFETCH(QByteArray, fichier);
    QFETCH(QVector<double>, co2);
    QFETCH(QVector<double>, o2);
    QFETCH(QVector<double>, flux);
    ecrire("rejeu.csv", fichier);
    Banc banc;
    // As the window's replay control does: direct calls from its own thread.
    banc.worker->setFrequence(1000);
    banc.worker->setSource(QDir::current().filePath("rejeu.csv"));
    banc.worker->setCapture(true);
    QTRY_VERIFY(banc.o2.size() >= size_t(o2.size()));
    banc.worker->setCapture(false);

    QCOMPARE(valeurs(banc.co2).mid(0, co2.size()), co2);
    QCOMPARE(valeurs(banc.o2).mid(0, o2.size()), o2);
    QCOMPARE(valeurs(banc.flux).mid(0, flux.size()), flux);
    QVERIFY(banc.fenetre.messages.isEmpty());
    QCOMPARE(QDir::current().entryList(QDir::Files), QStringList{"rejeu.csv"});
}

void acquisitionTest::replayFeedsTheEstimator()
{
    QByteArray fichier;
    for (quint16 brut : troisCycles())
        fichier += "0;" + QByteArray::number(brut * 250.0 / 65536.0, 'g', 6) + ";0\r\n";
    ecrire("rejeu.csv", fichier);
    Banc banc;
    banc.worker->setFrequence(1000);
    banc.setSource(QDir::current().filePath("rejeu.csv"));
    banc.setCapture(true);
    QTRY_VERIFY_WITH_TIMEOUT(banc.o2.size() >= size_t(1024), 20000);
    banc.setCapture(false);
    QCOMPARE(periodeEstimee(banc.estimateur, 100.0), 1024.0 / 300.0);
}

void acquisitionTest::replayIntervalFollowsFrequencyAtStart_data()
{
    QTest::addColumn<double>("frequence");
    QTest::addColumn<int>("intervalle");
    QTest::addColumn<int>("vitesse");
    QTest::newRow("100 Hz") << 100.0 << 10 << 1;
    QTest::newRow("50 Hz") << 50.0 << 20 << 1;
    QTest::newRow("30 Hz") << 30.0 << 34 << 1;
    QTest::newRow("300 Hz, rate paced on elapsed time") << 300.0 << 4 << 1;
    QTest::newRow("1000 Hz") << 1000.0 << 1 << 1;
    QTest::newRow("100 Hz at x5") << 100.0 << 2 << 5;
    QTest::newRow("50 Hz at x10") << 50.0 << 2 << 10;
    QTest::newRow("10 Hz at x50") << 10.0 << 2 << 50;
}

void acquisitionTest::replayIntervalFollowsFrequencyAtStart()
{
    QFETCH(double, frequence);
    QFETCH(int, intervalle);
    QFETCH(int, vitesse);
    ecrire("rejeu.csv", "1;2;3\r\n");
    Banc banc;
    banc.worker->setFrequence(frequence);
    banc.worker->setVitesseRejeu(vitesse);
    banc.worker->setSource(QDir::current().filePath("rejeu.csv"));
    banc.worker->setCapture(true);
    QTimer* minuterie = nullptr;
    QTRY_VERIFY((minuterie = banc.worker->findChild<QTimer*>("replayTimer")) &&
                minuterie->isActive());
    QCOMPARE(minuterie->interval(), intervalle);
    const qint64 avant = banc.worker->echantillonsRecus();
    QElapsedTimer duree;
    duree.start();
    QTest::qWait(1000);
    const double taux = (banc.worker->echantillonsRecus() - avant) * 1000.0 / duree.elapsed();
    QVERIFY2(qAbs(taux - frequence * vitesse) < 0.06 * frequence * vitesse,
             qPrintable(QString::number(taux)));

    // A new frequency is for the next replay.
    banc.worker->setFrequence(1.0);
    QTest::qWait(50);
    QCOMPARE(minuterie->interval(), intervalle);
    banc.worker->setCapture(false);
    QTRY_VERIFY(!minuterie->isActive());
    banc.worker->setCapture(true);
    QTRY_COMPARE(minuterie->interval(), 1000 / vitesse);
}

void acquisitionTest::linksIgnoredWhileReplaying()
{
    ecrire("rejeu.csv", "1;2;3\r\n");
    Banc banc;
    Tampon autre(0.01, 100);
    banc.worker->setFrequence(1000);
    banc.worker->setSource(QDir::current().filePath("rejeu.csv"));
    banc.worker->setCapture(true);
    banc.worker->setTampons(&autre, &autre, &autre, nullptr);
    QTRY_VERIFY(banc.o2.size() >= size_t(10));
    banc.worker->setCapture(false);
    QCOMPARE(autre.size(), size_t(0));
    QVERIFY(banc.co2.size() >= size_t(10));
}

void acquisitionTest::replayStopAndRestartReadsFromTheTop()
{
    QByteArray fichier;
    QVector<double> lignes;
    for (int i = 1; i <= 200; ++i) {
        fichier += QByteArray::number(i) + ';' + QByteArray::number(i) + ";0\r\n";
        lignes.append(i);
    }
    ecrire("rejeu.csv", fichier);
    Banc banc;
    banc.worker->setFrequence(100);
    banc.worker->setSource(QDir::current().filePath("rejeu.csv"));
    banc.worker->setCapture(true);
    QTRY_VERIFY(banc.o2.size() >= size_t(2));
    banc.worker->setCapture(false);
    banc.synchroniser();
    const int arret = int(banc.o2.size());
    QVERIFY(arret < lignes.size());
    QCOMPARE(valeurs(banc.o2), lignes.mid(0, arret));
    QTest::qWait(100);
    QCOMPARE(int(banc.o2.size()), arret); // stopped means stopped
    banc.worker->setCapture(true);
    QTRY_VERIFY(int(banc.o2.size()) > arret + 1);
    banc.worker->setCapture(false);
    QCOMPARE(valeurs(banc.o2).mid(arret, 2), lignes.mid(0, 2));
}

// One line of a gigabyte with no line feed, sparse so that it costs no
// disk: reading through it takes the worker about a second, during which the
// window's calls must not wait; after that first pass the replay keeps its pace.
void acquisitionTest::replayOfLinelessFileKeepsCallsShortAndPace()
{
    const QString nom = QDir::current().filePath("sans_fin.csv");
    ecrire(nom, "1;2;3;");
    QVERIFY(QFile::resize(nom, qint64(1) << 30));

    Banc banc;
    banc.worker->setFrequence(100);
    banc.worker->setSource(nom);
    banc.worker->setCapture(true);

    // Calls timed while the worker reads through the line, until the second
    // pass has begun.
    qint64 pireAttente = 0;
    QElapsedTimer duree;
    duree.start();
    while (banc.o2.size() < 3 && duree.elapsed() < 20000) {
        QElapsedTimer appel;
        appel.start();
        banc.worker->setFrequence(100);
        banc.worker->setSource(nom);
        pireAttente = qMax(pireAttente, appel.nsecsElapsed() / 1000000);
        QTest::qWait(5);
    }
    QVERIFY(banc.o2.size() >= 3);
    const size_t avant = banc.o2.size();
    QTest::qWait(1000);
    const size_t parSeconde = banc.o2.size() - avant;
    QElapsedTimer arret;
    arret.start();
    banc.worker->setCapture(false);
    pireAttente = qMax(pireAttente, arret.elapsed());

    QVERIFY2(pireAttente < 50, qPrintable(QStringLiteral("%1 ms").arg(pireAttente)));
    // Reading the line again on every pass would give two samples a second.
    QVERIFY2(parSeconde >= 50, qPrintable(QStringLiteral("%1 samples/s").arg(parSeconde)));
    // The line, then the empty tick at the end of the file, then the line again.
    QCOMPARE(valeurs(banc.o2).mid(0, 3), (QVector<double>{2, 0, 2}));
}

// The breaths of what the buffers receive reach the window's thread, queued,
// live (O2 only) and in replay (the three columns), with a time that starts
// again at each acquisition.
void acquisitionTest::breathsOfLiveAndReplayReachTheWindow()
{
    Banc banc;
    std::vector<Cycle> cycles;
    QObject::connect(&banc.detecteur, &detecteurCycles::nouveauCycle, &banc.fenetre,
                     [&](const Cycle& c) {
                         QVERIFY(QThread::currentThread() == banc.fenetre.thread());
                         cycles.push_back(c);
                     });

    Conditions conditions;
    conditions.niveau = 100.0;
    const SignalRespiratoire direct =
        genererSignal(QVector<Souffle>(6, {4.0, 20.0, 0.4}), conditions);
    QByteArray octets;
    for (double v : direct.o2)
        octets += echantillon(quint16(std::lround(v * 65536.0 / 250.0)));
    InstrumentTerminal instrument;
    banc.o2.setDuree(1000);
    QVERIFY(captureDemarree(banc, instrument.name(), instrument.name()));
    QVERIFY(instrument.send(octets.left(octets.size() / 16 * 16)));
    QTRY_COMPARE(int(cycles.size()), 5);
    for (const Cycle& c : cycles) {
        QVERIFY(std::abs(c.duree - 4.0) < 0.05);
        QVERIFY(!c.fluxPresent);
    }
    QVERIFY(std::abs(cycles.front().debut - 1.0) < 0.1);
    banc.arreter();

    // A replay at 1000 Hz of three breaths of 1 s, Flux included.
    conditions.fe = 1000.0;
    conditions.pause = 0.6;
    const SignalRespiratoire rejeu =
        genererSignal(QVector<Souffle>(3, {1.0, 5.0, 0.4}), conditions);
    QByteArray lignes;
    for (int i = 0; i < rejeu.o2.size(); ++i)
        lignes += QByteArray::number(rejeu.co2[i]) + ';' + QByteArray::number(rejeu.o2[i]) + ';' +
                  QByteArray::number(rejeu.flux[i]) + "\r\n";
    ecrire("rejeu.csv", lignes);
    cycles.clear();
    banc.worker->setFrequence(1000);
    banc.worker->setSource(QDir::current().filePath("rejeu.csv"));
    banc.worker->setCapture(true);
    QTRY_COMPARE_WITH_TIMEOUT(int(cycles.size()), 2, 20000);
    banc.worker->setCapture(false);
    QVERIFY(std::abs(cycles.front().debut - 0.6) < 0.05);
    QVERIFY(std::abs(cycles.front().duree - 1.0) < 0.05);
    QVERIFY(cycles.front().fluxPresent);
}

void acquisitionTest::messageFromGuiThreadReplayArrivesWithoutDeadlock()
{
    Banc banc;
    // Called on this thread, where the window lives and where the blocking
    // connection ends: the call returns, and the message arrives.
    banc.worker->setSource(QString());
    banc.worker->setCapture(true);
    banc.worker->setCapture(false); // nothing runs: nothing to say
    QTRY_COMPARE(banc.fenetre.messages.size(), 1);
    QCOMPARE(banc.fenetre.messages.at(0), (Message{2, "La source n'est pas valide", 1}));
    QVERIFY(banc.fenetre.guiThread);
}

void acquisitionTest::deviceListEntriesNameAndDescription()
{
    SerialDeviceEnumerator reference;
    auto entrees = [&reference](const QStringList& noms) {
        QStringList liste;
        for (const QString& nom : noms) {
            reference.setDeviceName(nom);
            const QString stable = reference.stableName();
            liste << (stable.isEmpty() ? nom : stable + " (" + nom + ")") + ": " +
                         reference.description();
        }
        return liste;
    };
    reference.setEnabled(true);

    Banc banc;
    QMetaObject::invokeMethod(banc.worker, "askForDeviceList", Qt::QueuedConnection);
    QTRY_COMPARE(banc.fenetre.listes.size(), 1);
    QCOMPARE(banc.fenetre.listes.at(0), entrees(reference.presentPorts()));

    // A report of the enumerator keeps its order and pairs each name with its
    // description.
    const QStringList ports{"ttyS1", "ttyACM7", "ttyS0"};
    QMetaObject::invokeMethod(banc.worker, "getNewDeviceList", Qt::DirectConnection,
                              Q_ARG(QStringList, ports));
    QTRY_COMPARE(banc.fenetre.listes.size(), 2);
    QCOMPARE(banc.fenetre.listes.at(1), entrees(ports));
    for (int i = 0; i < ports.size(); ++i)
        QVERIFY(banc.fenetre.listes.at(1).at(i).section(':', 0, 0).contains(ports.at(i)));

    // And it is the list handed out from then on.
    QMetaObject::invokeMethod(banc.worker, "askForDeviceList", Qt::QueuedConnection);
    QTRY_COMPARE(banc.fenetre.listes.size(), 3);
    QCOMPARE(banc.fenetre.listes.at(2), entrees(ports));
}

QTEST_GUILESS_MAIN(acquisitionTest)
#include "acquisitionTest.moc"
