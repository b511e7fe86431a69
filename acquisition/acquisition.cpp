#include "acquisition.h"

#include "AbstractSerial.h"
#include "FichierCapture.h"
#include "LecteurCapture.h"
#include "SerialDeviceEnumerator.h"
#include "SerialPortProbe.h"
#include "Tampon.h"
#include "calculPeriode.h"
#include "detecteurCycles.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QList>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// The instrument sends 8 samples of 16 bits per block.
constexpr int tailleBloc = 16;
// Largest single read from the port.
constexpr qint64 lectureMax = 16 * 1024;
// Bytes decoded in one notification before the event loop gets a turn back.
constexpr qint64 decodageMax = 1024 * 1024;
// Bytes of the replay file read in one tick at most: a line of a gigabyte is
// read over many ticks, so that a stop or the window's close never waits
// behind it for more than a few milliseconds.
constexpr qint64 octetsParTic = 4 * 1024 * 1024;
// Capture lines reach the kernel at least this often while live (milliseconds).
constexpr int intervalleEcriture = 500;
// A lost port is tried again this often (milliseconds), for this long at most.
constexpr int intervalleReprise = 500;
constexpr qint64 attenteRepriseMax = 30 * 60 * 1000;
// A device list entry reads "NAME: description"; a bare name names the port too.
// An adapter with a stable name is listed as "STABLE (KERNEL): description": its
// link in /dev/serial/by-id is opened, which leads to the adapter whatever
// kernel name it has today, and the kernel name when the link is missing.
QString nomPort(const QString& source)
{
    // A path typed whole is taken whole: /dev/serial/by-path names hold colons.
    if (source.startsWith(QLatin1Char('/')) && QFileInfo::exists(source))
        return source;
    const QString nom = source.section(QLatin1Char(':'), 0, 0);
    static const QRegularExpression stable(QStringLiteral("^(\\S+) \\((\\S+)\\)$"));
    const QRegularExpressionMatch trouve = stable.match(nom);
    if (!trouve.hasMatch())
        return nom;
    const QString lien = QStringLiteral("/dev/serial/by-id/") + trouve.captured(1);
    return QFileInfo::exists(lien) ? lien : trouve.captured(2);
}

// Device nodes (/dev/ttyUSB0) exist in the file system too: only a regular file
// is a capture to replay.
bool estFichierCapture(const QString& source)
{
    return QFileInfo(source).isFile();
}

// The line under « Impossible d'ouvrir le port » that says why, as far as the
// system tells; empty when it does not.
QString raisonRefus(const QString& nom)
{
    const SerialPortProbe examen(nom);
    switch (examen.reason()) {
    case SerialPortProbe::Missing:
        return QStringLiteral("\nLe port n'existe plus");
    case SerialPortProbe::Forbidden:
        return QStringLiteral("\nVotre compte n'a pas accès à ce port. Ajoutez-le au groupe "
                              "dialout (sudo adduser $USER dialout), puis ouvrez une nouvelle "
                              "session.");
    case SerialPortProbe::Held:
        if (examen.program().isEmpty())
            return QStringLiteral("\nutilisé par le processus %1").arg(examen.pid());
        return QStringLiteral("\nutilisé par %1, processus %2")
            .arg(examen.program())
            .arg(examen.pid());
    case SerialPortProbe::Unknown:
        break;
    }
    return QString();
}

unsigned echantillonBrut(const char* octets)
{
    const auto bas = static_cast<unsigned char>(octets[0]);
    const auto haut = static_cast<unsigned char>(octets[1]);
    return bas | (haut << 8);
}

double valeurBrute(unsigned brut)
{
    return brut * 250.0 / 65536.0;
}

// The value a capture line holds for a raw sample, as it is written and read
// back: a breath found live is then the breath found again in the capture
// file. One table of every raw value, made once, so that the acquisition path
// neither formats nor allocates for it.
double valeurEnregistree(unsigned brut)
{
    static const std::vector<double> valeurs = [] {
        std::vector<double> v(65536);
        for (unsigned b = 0; b < v.size(); ++b)
            v[b] = QString::number(valeurBrute(b), 'g', 6).toDouble();
        return v;
    }();
    return valeurs[brut];
}

int intervalleRejeu(double frequence)
{
    if (!(frequence > 0.0))
        return 1;
    const double ms = std::ceil((1.0 / frequence) * 1000.0);
    return static_cast<int>(qBound(1.0, ms, static_cast<double>(std::numeric_limits<int>::max())));
}

} // namespace

acquisition::acquisition(QObject* parent)
    : QObject(parent), capturing(false), frequence(100.0), CO2(nullptr), O2(nullptr), Flux(nullptr),
      Periode(nullptr), port(nullptr), replayTimer(nullptr), enumerator(nullptr),
      capture(std::make_unique<FichierCapture>())
{
    // The enumerator stays on the constructing thread (the main window's): its
    // report is turned into the device list there, where reading the
    // enumerator's records cannot race with its own rescans. The application
    // object, when it lives on that thread, holds it as a child: if this worker
    // ends on its own thread after the main event loop has stopped, the
    // enumerator's deferred deletion never runs, and the application then
    // deletes it on the right thread.
    QObject* application = QCoreApplication::instance();
    if (application && application->thread() != QThread::currentThread())
        application = nullptr;
    enumerator = new SerialDeviceEnumerator(application);
    connect(enumerator, &SerialDeviceEnumerator::hasChanged, enumerator,
            [this](const QStringList& ports) { getNewDeviceList(ports); });
    enumerator->setEnabled(true);

    port = new AbstractSerial(this);

    connect(port, &QIODevice::readyRead, this, &acquisition::lectureDonnees);
    connect(port, &QIODevice::readChannelFinished, this, &acquisition::connexionPerdue);
}

acquisition::~acquisition()
{
    if (port->isOpen())
        port->close();
    fermerFichierCapture();
    // Its later reports must not reach this object any more.
    QObject::disconnect(enumerator, nullptr, nullptr, nullptr);
    if (enumerator->thread() == QThread::currentThread())
        delete enumerator;
    else
        enumerator->deleteLater();
}

void acquisition::setSource(QString s)
{
    QMutexLocker verrouille(&verrou);
    source = s;
}

void acquisition::setFrequence(double fe)
{
    QMutexLocker verrouille(&verrou);
    frequence = fe;
}

void acquisition::setTampons(Tampon* tamponCO2, Tampon* tamponO2, Tampon* tamponFlux,
                             calculPeriode* estimateur)
{
    QMutexLocker verrouille(&verrou);
    if (capturing)
        return;
    CO2 = tamponCO2;
    O2 = tamponO2;
    Flux = tamponFlux;
    Periode = estimateur;
}

void acquisition::setDetecteur(detecteurCycles* detecteurCycles)
{
    QMutexLocker verrouille(&verrou);
    if (capturing)
        return;
    detecteur = detecteurCycles;
}

// On the worker's thread, where the detector is fed: a new acquisition starts
// at time 0 with the current sampling frequency.
void acquisition::commencerAnalyse(const QString& fichier)
{
    reinitialiserDetecteur();
    emit analyseCommencee(fichier);
}

void acquisition::reinitialiserDetecteur()
{
    QMutexLocker verrouille(&verrou);
    detecteurCycles* const d = detecteur;
    const double fe = frequence;
    verrouille.unlock();
    if (!d)
        return;
    if (fe != d->getFe())
        d->setFe(fe);
    d->reinitialiser();
}

void acquisition::askForDeviceList()
{
    QMutexLocker verrouille(&verrou);
    const QStringList liste = deviceList;
    verrouille.unlock();
    dansMonThread([this, liste] { emit newDeviceList(liste); });
}

void acquisition::getNewDeviceList(QStringList ports)
{
    QStringList liste;
    for (const QString& nom : ports) {
        enumerator->setDeviceName(nom);
        const QString stable = enumerator->stableName();
        liste << (stable.isEmpty() ? nom : QStringLiteral("%1 (%2)").arg(stable, nom)) +
                     QStringLiteral(": ") + enumerator->description();
    }
    QMutexLocker verrouille(&verrou);
    deviceList = liste;
    verrouille.unlock();
    dansMonThread([this, liste] { emit newDeviceList(liste); });
}

void acquisition::setCapture(bool start)
{
    QMutexLocker verrouille(&verrou);
    const QString src = source;
    const bool enCours = capturing;
    const bool rejeu = replaying;
    verrouille.unlock();

    if (!start) {
        // Stop what actually runs, even if the source has changed since it
        // started (the device list may have been refilled meanwhile). A stop
        // while nothing runs is the release that follows a refused or abandoned
        // start: it has nothing to stop and nothing to tell the operator.
        if (!enCours) {
            qDebug() << "acquisition: arrêt demandé sans acquisition en cours";
            return;
        }
        if (rejeu)
            arreterRejeu();
        else
            dansMonThread([this] { arreterDirect(); });
        return;
    }

    if (src.isEmpty()) {
        signaler(2, tr("La source n'est pas valide"), 1);
        return;
    }
    if (enCours)
        return;
    if (estFichierCapture(src))
        demarrerRejeu(src);
    else
        dansMonThread([this, src] { demarrerDirect(src); });
}

void acquisition::arreter()
{
    QMutexLocker verrouille(&verrou);
    const bool enCours = capturing;
    const bool rejeu = replaying;
    verrouille.unlock();
    if (!enCours)
        return;
    if (rejeu)
        arreterRejeu();
    else
        dansMonThread([this] { arreterDirect(); });
}

// Live start, on the worker's thread.
void acquisition::demarrerDirect(const QString& src)
{
    QMutexLocker verrouille(&verrou);
    if (capturing)
        return;
    capturing = true; // taken now so that nothing else starts meanwhile
    replaying = false;
    verrouille.unlock();

    // The port first: an attempt that cannot open it leaves no capture file.
    // Bytes that arrive meanwhile wait in the port for the first read.
    if (!ouvrirPort(nomPort(src), true)) {
        verrouille.relock();
        capturing = false;
        return;
    }
    creerFichierCapture();

    verrouille.relock();
    const bool liens = CO2 && O2 && Flux && Periode;
    verrouille.unlock();
    if (!liens) {
        arreterDirect();
        signaler(2, tr("Liens vers les tampons inconnus"), 1);
        return;
    }

    commencerAnalyse(capture->estOuvert() ? QFileInfo(capture->chemin()).fileName() : src);
    emit fichierEnregistre(cheminCapture());
    if (!writeTimer) {
        writeTimer = new QTimer(this);
        writeTimer->setObjectName(QStringLiteral("writeTimer"));
        connect(writeTimer, &QTimer::timeout, this, [this] { ecrireCapture(true); });
    }
    writeTimer->start(intervalleEcriture);
}

// Live stop, on the worker's thread: whatever was received is in the file.
void acquisition::arreterDirect()
{
    if (port->isOpen())
        port->close();
    if (writeTimer)
        writeTimer->stop();
    if (repriseTimer)
        repriseTimer->stop();
    fichierSuivantDu = false;
    fermerFichierCapture();
    reinitialiserDetecteur();
    QMutexLocker verrouille(&verrou);
    capturing = false;
}

// `nom` is the device's path or name; a refusal is told when `signalerRefus`.
bool acquisition::ouvrirPort(const QString& nom, bool signalerRefus)
{
    if (port->isOpen())
        port->close();
    readBuffer.clear(); // word alignment starts again with the first byte
    readBuffer.reserve(int(lectureMax) + tailleBloc); // reserved room survives emptying
    port->setDeviceName(nom);
    if (!port->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (!signalerRefus)
            return false;
        signaler(2,
                 tr("Impossible d'ouvrir le port %1").arg(port->deviceName()) +
                     raisonRefus(port->deviceName()),
                 1);
        return false;
    }
    if (port->openMode() & QIODevice::Unbuffered)
        port->setTotalReadTimeout(100);

    if (!port->setBaudRate(AbstractSerial::BaudRate9600, AbstractSerial::BaudDirectionAll))
        avertir(2, tr("Impossible de configurer le débit souhaité"));
    if (!port->setDataBits(AbstractSerial::DataBits8))
        avertir(2, tr("Impossible de configurer la taille des données."));
    if (!port->setStopBits(AbstractSerial::StopBits1))
        avertir(2, tr("Impossible de configurer le nombre de bit de stop."));
    if (!port->setParity(AbstractSerial::ParityNone))
        avertir(2, tr("Impossible de configurer la parité."));
    if (!port->setFlowControl(AbstractSerial::FlowControlOff))
        avertir(2, tr("Impossible de configurer le controle de flux."));
    return true;
}

void acquisition::creerFichierCapture()
{
    if (!capture->creer())
        avertir(1, tr("Impossible de créer le fichier de capture %1").arg(capture->chemin()));
}

bool acquisition::repriseAttendue() const
{
    return repriseTimer && repriseTimer->isActive();
}

QString acquisition::cheminCapture() const
{
    return capture->estOuvert() ? QFileInfo(capture->chemin()).absoluteFilePath() : QString();
}

void acquisition::fermerFichierCapture()
{
    if (capture->estOuvert() && !capture->fermer())
        echecEcritureCapture();
}

// Hands the lines decoded so far to the file: with `tout` false only once a
// good amount has gathered, as after each read; with it true on the timer, so
// that the lines reach the kernel every half second.
void acquisition::ecrireCapture(bool tout)
{
    if (capture->estOuvert() && !capture->ecrire(tout))
        echecEcritureCapture();
}

// The disk is full or gone: the capture file keeps the whole lines it got and
// is closed; the acquisition itself goes on, shown and analysed but no longer
// recorded, and the operator is told once, without the worker waiting for it.
void acquisition::echecEcritureCapture()
{
    qDebug() << "acquisition: capture" << capture->chemin() << "abandonnée:" << capture->erreur();
    avertir(1, tr("Erreur d'écriture du fichier de capture %1").arg(capture->chemin()));
    emit fichierEnregistre(QString());
}

void acquisition::lectureDonnees()
{
    if (!port->isOpen())
        return;
    QMutexLocker verrouille(&verrou);
    const bool liens = CO2 && O2 && Flux;
    verrouille.unlock();
    if (!liens) {
        arreterDirect();
        signaler(2, tr("Liens vers les tampons inconnus"), 1);
        return;
    }

    // Everything waiting is taken, in order, and every complete block decoded.
    // The bytes of a partial block wait here, not in the port, for the bytes
    // that complete it: a hang-up empties the port, and they were sent.
    qint64 decodes = 0;
    while (decodes < decodageMax) {
        const qint64 disponibles = port->bytesAvailable();
        if (disponibles <= 0)
            break;
        const int enAttente = readBuffer.size();
        const qint64 demandes = qMin(disponibles, lectureMax);
        readBuffer.resize(enAttente + int(demandes));
        const qint64 lus = port->read(readBuffer.data() + enAttente, demandes);
        if (lus < 0) {
            qDebug() << "acquisition: lecture impossible sur" << port->deviceName();
            readBuffer.resize(enAttente);
            break;
        }
        readBuffer.resize(enAttente + int(lus));
        if (lus > 0 && fichierSuivantDu) {
            // The first bytes since the port came back: the capture goes on
            // in a file of its own (a port that hangs up again at once leaves
            // no empty one).
            fichierSuivantDu = false;
            creerFichierCapture();
            emit fichierEnregistre(cheminCapture());
        }
        decoderBlocsComplets();
        decodes += lus;
        if (lus < demandes) {
            qDebug() << "acquisition:" << lus << "octets lus sur" << demandes << "annoncés";
            break;
        }
    }
    if (decodes >= decodageMax && port->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &acquisition::lectureDonnees, Qt::QueuedConnection);
}

// Decodes the complete blocks at the front of the bytes received; what is left
// of a partial block moves to the front.
void acquisition::decoderBlocsComplets()
{
    const int blocs = readBuffer.size() / tailleBloc;
    if (blocs == 0)
        return;
    decoderEchantillons(readBuffer.constData(), qint64(blocs) * (tailleBloc / 2));
    lastBlock = readBuffer.mid((blocs - 1) * tailleBloc, tailleBloc);
    readBuffer.remove(0, blocs * tailleBloc); // keeps the allocated room
    ecrireCapture(false);
}

void acquisition::decoderEchantillons(const char* octets, qint64 echantillons)
{
    QMutexLocker verrouille(&verrou);
    Tampon* const co2 = CO2;
    Tampon* const o2 = O2;
    Tampon* const flux = Flux;
    calculPeriode* const periode = Periode;
    detecteurCycles* const cycles = detecteur;
    verrouille.unlock();

    const bool enregistrer = capture->estOuvert();
    compteEchantillons.fetchAndAddRelaxed(echantillons);
    for (qint64 i = 0; i < echantillons; ++i) {
        const unsigned brut = echantillonBrut(octets + 2 * i);
        const double v = valeurBrute(brut);
        co2->ajouterValeur(0.0);
        o2->ajouterValeur(v);
        flux->ajouterValeur(0.0);
        if (periode)
            periode->addData(v);
        if (cycles)
            cycles->ajouterEchantillon(0.0, valeurEnregistree(brut), 0.0);
        if (enregistrer)
            capture->ajouterLigne(v);
    }
}

// The line is gone: no byte will complete the partial block received, but its
// whole samples were sent by the instrument and belong to the capture.
void acquisition::decoderReste()
{
    if (readBuffer.size() >= 2) {
        decoderEchantillons(readBuffer.constData(), readBuffer.size() / 2);
        ecrireCapture(false);
    }
    readBuffer.clear();
}

void acquisition::connexionPerdue()
{
    QMutexLocker verrouille(&verrou);
    const bool direct = capturing && !replaying;
    verrouille.unlock();
    if (!direct || !port->isOpen())
        return;
    lectureDonnees(); // the complete blocks still waiting belong to the capture
    decoderReste();
    const QString nom = port->deviceName();
    if (repriseAutomatique.loadRelaxed()) {
        attendreReprise(nom);
        return;
    }
    arreterDirect();
    signaler(2, tr("Connexion perdue avec le port %1").arg(nom), 1);
}

void acquisition::setRepriseAutomatique(bool reprendre)
{
    repriseAutomatique.storeRelaxed(reprendre ? 1 : 0);
    if (!reprendre)
        dansMonThread([this] {
            if (repriseAttendue())
                abandonnerReprise();
        });
}

// The line is lost while resumption is on: the capture file so far is closed
// whole, and the port is tried again on a timer, so that the worker's thread
// goes on serving stops and device lists meanwhile. The capture still runs.
void acquisition::attendreReprise(const QString& nom)
{
    port->close();
    if (writeTimer)
        writeTimer->stop();
    fermerFichierCapture();
    emit fichierEnregistre(QString());
    portPerdu = nom;
    depuisPerte.start();
    fichierSuivantDu = false;
    qDebug() << "acquisition: port" << nom << "perdu, reprise attendue";
    if (!repriseTimer) {
        repriseTimer = new QTimer(this);
        repriseTimer->setObjectName(QStringLiteral("repriseTimer"));
        connect(repriseTimer, &QTimer::timeout, this, &acquisition::tenterReprise);
    }
    repriseTimer->start(intervalleReprise);
    emit connexionSuspendue(
        tr("Connexion perdue avec le port %1 — reprise dès son retour").arg(nom));
}

void acquisition::tenterReprise()
{
    if (!repriseAttendue())
        return;
    if (depuisPerte.elapsed() >= attenteRepriseMax) {
        abandonnerReprise();
        return;
    }
    // By the name it was opened by: a by-id link leads to the adapter
    // whatever kernel name it comes back with.
    if (!ouvrirPort(portPerdu, false))
        return;
    repriseTimer->stop();
    fichierSuivantDu = true;
    qDebug() << "acquisition: reprise sur" << portPerdu << "après" << depuisPerte.elapsed() << "ms";
    // No breath and no period spans the gap; the breaths go on on the same clock.
    QMutexLocker verrouille(&verrou);
    detecteurCycles* const d = detecteur;
    calculPeriode* const periode = Periode;
    verrouille.unlock();
    if (d)
        d->interrompre(depuisPerte.elapsed() / 1000.0);
    if (periode)
        periode->resetData();
    writeTimer->start(intervalleEcriture);
    emit connexionReprise(tr("Reprise sur %1").arg(portPerdu));
}

// Resumption given up (its time is over, or it was turned off): the capture
// ends as a lost port ends it without resumption.
void acquisition::abandonnerReprise()
{
    const QString nom = portPerdu;
    arreterDirect();
    signaler(2, tr("Connexion perdue avec le port %1").arg(nom), 1);
}

// The file is opened on the calling thread, so that a file which cannot be read
// is told at once; from then on it is read on the worker's thread only, with no
// lock held, so that no call into the worker waits for a line to be read.
void acquisition::demarrerRejeu(const QString& fichier)
{
    auto lecteur = std::make_shared<LecteurCapture>();
    if (!lecteur->ouvrir(fichier)) {
        qDebug() << "acquisition: rejeu de" << fichier << "impossible:" << lecteur->erreur();
        signaler(2, tr("Impossible d'ouvrir le fichier"), 1);
        return;
    }
    QMutexLocker verrouille(&verrou);
    if (capturing)
        return;
    const int intervalle = intervalleRejeu(frequence);
    const double fe = frequence > 0.0 ? frequence : 1000.0 / intervalle;
    capturing = true;
    replaying = true;
    verrouille.unlock();
    qDebug() << "acquisition: rejeu de" << fichier;

    // The timer belongs to the worker's thread and is only touched there.
    const QString nom = QFileInfo(fichier).fileName();
    dansMonThread([this, lecteur, nom, fe] {
        replayReader = lecteur;
        replayName = nom;
        replayFrequence = fe;
        replayLines = replayLinesPerPass = 0;
        commencerAnalyse(nom);
        if (!replayTimer) {
            replayTimer = new QTimer(this);
            replayTimer->setObjectName(QStringLiteral("replayTimer"));
            replayTimer->setTimerType(Qt::PreciseTimer);
            connect(replayTimer, &QTimer::timeout, this, &acquisition::rythmerRejeu);
        }
        replayHorloge.start();
        replayTics = 0;
        replayVitesse = vitesseDemandee.loadRelaxed();
        replayTimer->start(intervalleRejeu(fe * replayVitesse));
    });
}

void acquisition::setVitesseRejeu(double fois)
{
    vitesseDemandee.storeRelaxed(qBound(1, qRound(fois), 50));
}

void acquisition::arreterRejeu()
{
    QMutexLocker verrouille(&verrou);
    replaying = false;
    capturing = false;
    verrouille.unlock();
    // Runs before any later start's hand-over, which is queued after it. A tick
    // already queued finds the replay stopped and does nothing.
    dansMonThread([this] {
        if (replayTimer)
            replayTimer->stop();
        replayReader.reset();
        reinitialiserDetecteur();
    });
}

void acquisition::lectureDonneesFichier()
{
    if (!replayReader)
        return;
    double champs[3];
    const LecteurCapture::Lecture lecture = replayReader->lireLigne(champs, octetsParTic);
    if (lecture == LecteurCapture::Lecture::Suite)
        return; // a long line: its reading goes on at the next tick
    const bool boucle = lecture == LecteurCapture::Lecture::Fin;
    if (boucle) {
        // This tick replays an empty line, the next one the first line again.
        replayReader->rembobiner();
        champs[0] = champs[1] = champs[2] = 0.0;
    }

    QMutexLocker verrouille(&verrou);
    if (!replaying) // stopped while the line was read
        return;
    Tampon* const co2 = CO2;
    Tampon* const o2 = O2;
    Tampon* const flux = Flux;
    calculPeriode* const periode = Periode;
    detecteurCycles* const cycles = detecteur;
    verrouille.unlock();

    if (co2)
        co2->ajouterValeur(champs[0]);
    if (o2)
        o2->ajouterValeur(champs[1]);
    if (flux)
        flux->ajouterValeur(champs[2]);
    if (periode)
        periode->addData(champs[1]);
    compteEchantillons.fetchAndAddRelaxed(1);
    if (boucle) {
        // A file without a line replays empty lines: no pass to start again
        // at every tick, nothing to tell.
        if (replayLines == 0)
            return;
        // Each pass over the file is analysed on its own, from the file's
        // start: the breaths of a pass are the file's breaths, none spans the
        // join, and the empty line between passes is no sample of breathing.
        replayLinesPerPass = replayLines;
        replayLines = 0;
        commencerAnalyse(replayName);
    } else {
        if (cycles)
            cycles->ajouterEchantillon(champs[0], champs[1], champs[2]);
        ++replayLines;
    }
    signalerPositionRejeu();
}

// A timer fires at whole milliseconds, and late under load: each tick reads
// the lines that the elapsed time calls for at the replay's rate, several when
// needed, so that 300 Hz is not 250. A backlog beyond a quarter of a second (a
// stalled thread) is dropped rather than replayed in one burst.
void acquisition::rythmerRejeu()
{
    // A new speed counts from now: the lines of the pace before stay read.
    const double vitesse = vitesseDemandee.loadRelaxed();
    if (vitesse != replayVitesse) {
        replayVitesse = vitesse;
        replayHorloge.restart();
        replayTics = 0;
        replayTimer->setInterval(intervalleRejeu(replayFrequence * replayVitesse));
    }
    const double cadence = replayFrequence * replayVitesse;
    const qint64 dues = static_cast<qint64>(replayHorloge.nsecsElapsed() * 1e-9 * cadence);
    const qint64 retardMax = qMax<qint64>(1, qRound64(cadence / 4));
    if (dues - replayTics > retardMax)
        replayTics = dues - retardMax;
    while (replayTics < dues && replayReader) {
        lectureDonneesFichier();
        ++replayTics;
    }
}

void acquisition::signalerPositionRejeu()
{
    const qint64 parSeconde = qMax<qint64>(1, qRound64(replayFrequence));
    if (replayLines % parSeconde != 0)
        return;
    double lignes = double(replayLinesPerPass);
    if (lignes <= 0.0) {
        // First pass: as many lines as the part read so far, scaled to the size.
        const qint64 lus = replayReader->position();
        lignes = lus > 0 ? double(replayLines) * double(replayReader->taille()) / double(lus) : 0.0;
    }
    emit positionRejeu(replayName, replayLines / replayFrequence, lignes / replayFrequence);
}

// Messages and device lists leave from the worker's thread: a receiver that
// waits for them with a blocking queued connection must not be the emitting
// thread, which it would be for a replay started from the main window.
void acquisition::signaler(int type, const QString& message, int code)
{
    dansMonThread([this, type, message, code] { emit newMessage(type, message, code); });
}

void acquisition::avertir(int type, const QString& message)
{
    dansMonThread([this, type, message] { emit avertissement(type, message); });
}

void acquisition::dansMonThread(std::function<void()> action)
{
    if (QThread::currentThread() == thread())
        action();
    else
        QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}
