#include "acquisition.h"

#include "AbstractSerial.h"
#include "SerialDeviceEnumerator.h"
#include "Tampon.h"
#include "calculPeriode.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutexLocker>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The instrument sends 8 samples of 16 bits per block.
constexpr int tailleBloc = 16;
// Largest single read from the port; its lines are handed to the capture stream
// before the next read, which bounds the text held in memory.
constexpr qint64 lectureMax = 16 * 1024;
// Bytes decoded in one notification before the event loop gets a turn back.
constexpr qint64 decodageMax = 1024 * 1024;
// Capture lines reach the disk at least this often while live (milliseconds).
constexpr int intervalleEcriture = 500;
// Bytes of a replay line that are parsed; the rest of a longer line is skipped.
constexpr qint64 ligneMax = 4096;

// A device list entry reads "NAME: description"; a bare name names the port too.
QString nomPort(const QString& source)
{
    return source.section(QLatin1Char(':'), 0, 0);
}

// Device nodes (/dev/ttyUSB0) exist in the file system too: only a regular file
// is a capture to replay.
bool estFichierCapture(const QString& source)
{
    return QFileInfo(source).isFile();
}

double valeurBrute(const char* octets)
{
    const auto bas = static_cast<unsigned char>(octets[0]);
    const auto haut = static_cast<unsigned char>(octets[1]);
    const unsigned brut = bas | (haut << 8);
    return brut * 250.0 / 65536.0;
}

void ajouterLigneCapture(QString& texte, double valeur)
{
    texte += QLatin1String("0;");
    texte += QString::number(valeur, 'g', 6); // always "." whatever the locale
    texte += QLatin1String(";0\r\n");
}

// Reads the next line of a replay file without its line feed. Only the first
// ligneMax bytes of an over-long line are kept; the rest of it is skipped with
// plain reads, so that a file which is no capture (one huge line, random
// bytes) costs one pass over its bytes and never a huge line in memory.
QByteArray lireLigne(QFile& fichier)
{
    QByteArray ligne = fichier.readLine(ligneMax);
    if (ligne.endsWith('\n')) {
        ligne.chop(1);
        if (ligne.endsWith('\r'))
            ligne.chop(1);
        return ligne;
    }
    static thread_local QByteArray reste(int(lectureMax), Qt::Uninitialized);
    for (;;) {
        const qint64 lus = fichier.read(reste.data(), lectureMax);
        if (lus <= 0)
            break;
        const void* fin = std::memchr(reste.constData(), '\n', size_t(lus));
        if (fin) {
            const qint64 apres = lus - (static_cast<const char*>(fin) - reste.constData() + 1);
            fichier.seek(fichier.pos() - apres);
            break;
        }
    }
    return ligne;
}

// Field i of a replay line as a number: 0 when absent or not a number.
double champ(const QList<QByteArray>& champs, int i)
{
    if (i >= champs.size())
        return 0.0;
    bool ok = false;
    const double valeur = champs.at(i).trimmed().toDouble(&ok);
    return ok && std::isfinite(valeur) ? valeur : 0.0;
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
      Periode(nullptr), port(nullptr), replayTimer(nullptr), replayFile(nullptr),
      enumerator(nullptr), captureStream(nullptr), captureFile(nullptr)
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

    replayFile = new QFile;

    port = new AbstractSerial(this);
    captureStream = new QTextStream;
    captureStream->setCodec("UTF-8");

    connect(port, &QIODevice::readyRead, this, &acquisition::lectureDonnees);
    connect(port, &QIODevice::readChannelFinished, this, &acquisition::connexionPerdue);
}

acquisition::~acquisition()
{
    if (port->isOpen())
        port->close();
    fermerFichierCapture();
    replayFile->close();
    delete replayFile;
    delete captureStream;
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
        liste << nom + QStringLiteral(": ") + enumerator->description();
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
        // started (the device list may have been refilled meanwhile).
        if (enCours) {
            if (rejeu)
                arreterRejeu();
            else
                dansMonThread([this] { arreterDirect(); });
        } else if (src.isEmpty()) {
            signaler(2, tr("La source n'est pas valide"), 1);
        }
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

    creerFichierCapture();
    if (!ouvrirPort(src)) {
        fermerFichierCapture();
        verrouille.relock();
        capturing = false;
        return;
    }

    verrouille.relock();
    const bool liens = CO2 && O2 && Flux && Periode;
    verrouille.unlock();
    if (!liens) {
        arreterDirect();
        signaler(2, tr("Liens vers les tampons inconnus"), 1);
        return;
    }

    if (!writeTimer) {
        writeTimer = new QTimer(this);
        writeTimer->setObjectName(QStringLiteral("writeTimer"));
        connect(writeTimer, &QTimer::timeout, this, &acquisition::ecrireCapture);
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
    fermerFichierCapture();
    QMutexLocker verrouille(&verrou);
    capturing = false;
}

bool acquisition::ouvrirPort(const QString& src)
{
    if (port->isOpen())
        port->close();
    port->setDeviceName(nomPort(src));
    if (!port->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        signaler(2, tr("Impossible d'ouvrir le port %1").arg(port->deviceName()), 1);
        return false;
    }
    if (port->openMode() & QIODevice::Unbuffered)
        port->setTotalReadTimeout(100);

    if (!port->setBaudRate(AbstractSerial::BaudRate9600, AbstractSerial::BaudDirectionAll))
        signaler(2, tr("Impossible de configurer le débit souhaité"), 0);
    if (!port->setDataBits(AbstractSerial::DataBits8))
        signaler(2, tr("Impossible de configurer la taille des données."), 0);
    if (!port->setStopBits(AbstractSerial::StopBits1))
        signaler(2, tr("Impossible de configurer le nombre de bit de stop."), 0);
    if (!port->setParity(AbstractSerial::ParityNone))
        signaler(2, tr("Impossible de configurer la parité."), 0);
    if (!port->setFlowControl(AbstractSerial::FlowControlOff))
        signaler(2, tr("Impossible de configurer le controle de flux."), 0);
    return true;
}

void acquisition::creerFichierCapture()
{
    fermerFichierCapture();
    captureText.clear();
    captureText.reserve(int(lectureMax / 2 * 16)); // the lines of one read
    // The smallest free number. NewOnly never overwrites a file that appeared
    // since the existence test; then the next number is tried.
    for (int n = 1; n < std::numeric_limits<int>::max(); ++n) {
        const QString nom = QStringLiteral("acquisition%1.csv").arg(n);
        if (QFile::exists(nom))
            continue;
        captureFile = new QFile(nom);
        if (captureFile->open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly)) {
            captureStream->setDevice(captureFile);
            qDebug() << "acquisition: capture dans" << nom;
            return;
        }
        const bool prisEntreTemps = QFile::exists(nom);
        qDebug() << "acquisition: création de" << nom
                 << "impossible:" << captureFile->errorString();
        delete captureFile;
        captureFile = nullptr;
        if (!prisEntreTemps) {
            signaler(1, tr("Impossible de créer le fichier de capture %1").arg(nom), 0);
            return;
        }
    }
}

void acquisition::fermerFichierCapture()
{
    if (captureFile) {
        ecrireCapture();
        captureFile->close();
    }
    captureStream->setDevice(nullptr);
    delete captureFile;
    captureFile = nullptr;
    captureText.clear();
}

// Hands the decoded lines to the capture stream, which passes them on to the
// file in pieces of its own buffer size.
void acquisition::transmettreCapture()
{
    if (!captureFile || !captureFile->isOpen()) {
        captureText.truncate(0);
        return;
    }
    if (!captureText.isEmpty()) {
        *captureStream << captureText;
        captureText.truncate(0); // keeps the reserved room
    }
}

// Pushes everything decoded so far to disk, so that a crash or a power cut
// loses at most the last half second.
void acquisition::ecrireCapture()
{
    transmettreCapture();
    if (captureFile && captureFile->isOpen()) {
        captureStream->flush();
        captureFile->flush();
    }
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

    // Every complete block waiting is taken, in order; a partial block stays in
    // the port until the bytes that complete it arrive.
    qint64 decodes = 0;
    while (decodes < decodageMax) {
        const qint64 disponibles = port->bytesAvailable();
        if (disponibles < tailleBloc)
            break;
        const qint64 demandes = qMin(disponibles / tailleBloc * tailleBloc, lectureMax);
        readBuffer.resize(static_cast<int>(demandes));
        const qint64 lus = port->read(readBuffer.data(), demandes);
        if (lus < 0) {
            qDebug() << "acquisition: lecture impossible sur" << port->deviceName();
            break;
        }
        // Only blocks read in full are decoded; a block cut short by the read
        // decodes nothing.
        const qint64 blocs = lus / tailleBloc;
        if (blocs > 0) {
            decoderBlocs(readBuffer.constData(), blocs);
            lastBlock = readBuffer.mid(static_cast<int>((blocs - 1) * tailleBloc), tailleBloc);
            transmettreCapture();
        }
        decodes += lus;
        if (lus < demandes) {
            qDebug() << "acquisition:" << lus << "octets lus sur" << demandes << "annoncés";
            break;
        }
    }
    if (decodes >= decodageMax && port->bytesAvailable() >= tailleBloc)
        QMetaObject::invokeMethod(this, &acquisition::lectureDonnees, Qt::QueuedConnection);
}

void acquisition::decoderBlocs(const char* octets, qint64 nbBlocs)
{
    QMutexLocker verrouille(&verrou);
    Tampon* const co2 = CO2;
    Tampon* const o2 = O2;
    Tampon* const flux = Flux;
    calculPeriode* const periode = Periode;
    verrouille.unlock();

    const bool enregistrer = captureFile && captureFile->isOpen();
    const qint64 echantillons = nbBlocs * (tailleBloc / 2);
    for (qint64 i = 0; i < echantillons; ++i) {
        const double v = valeurBrute(octets + 2 * i);
        co2->ajouterValeur(0.0);
        o2->ajouterValeur(v);
        flux->ajouterValeur(0.0);
        if (periode)
            periode->addData(v);
        if (enregistrer)
            ajouterLigneCapture(captureText, v);
    }
}

void acquisition::connexionPerdue()
{
    QMutexLocker verrouille(&verrou);
    const bool direct = capturing && !replaying;
    verrouille.unlock();
    if (!direct || !port->isOpen())
        return;
    lectureDonnees(); // the complete blocks still waiting belong to the capture
    const QString nom = port->deviceName();
    arreterDirect();
    signaler(2, tr("Connexion perdue avec le port %1").arg(nom), 1);
}

void acquisition::demarrerRejeu(const QString& fichier)
{
    QMutexLocker verrouille(&verrou);
    if (capturing)
        return;
    replayFile->close();
    replayFile->setFileName(fichier);
    if (!replayFile->open(QIODevice::ReadOnly)) {
        verrouille.unlock();
        signaler(2, tr("Impossible d'ouvrir le fichier"), 1);
        return;
    }
    const int intervalle = intervalleRejeu(frequence);
    capturing = true;
    replaying = true;
    verrouille.unlock();
    qDebug() << "acquisition: rejeu de" << fichier;

    // The timer belongs to the worker's thread and is only touched there.
    dansMonThread([this, intervalle] {
        if (!replayTimer) {
            replayTimer = new QTimer(this);
            replayTimer->setObjectName(QStringLiteral("replayTimer"));
            replayTimer->setTimerType(Qt::PreciseTimer);
            connect(replayTimer, &QTimer::timeout, this, &acquisition::lectureDonneesFichier);
        }
        replayTimer->start(intervalle);
    });
}

void acquisition::arreterRejeu()
{
    QMutexLocker verrouille(&verrou);
    replaying = false;
    capturing = false;
    replayFile->close();
    verrouille.unlock();
    // A tick already queued finds the replay stopped and does nothing.
    dansMonThread([this] {
        if (replayTimer)
            replayTimer->stop();
    });
}

void acquisition::lectureDonneesFichier()
{
    QMutexLocker verrouille(&verrou);
    if (!replaying || !replayFile->isOpen())
        return;
    QByteArray ligne;
    if (replayFile->atEnd())
        replayFile->seek(0); // this tick replays an empty line, the next one the first
    else
        ligne = lireLigne(*replayFile);
    Tampon* const co2 = CO2;
    Tampon* const o2 = O2;
    Tampon* const flux = Flux;
    calculPeriode* const periode = Periode;
    verrouille.unlock();

    const QList<QByteArray> champs = ligne.split(';');
    if (co2)
        co2->ajouterValeur(champ(champs, 0));
    if (o2)
        o2->ajouterValeur(champ(champs, 1));
    if (flux)
        flux->ajouterValeur(champ(champs, 2));
    if (periode)
        periode->addData(champ(champs, 1));
}

// Messages and device lists leave from the worker's thread: a receiver that
// waits for them with a blocking queued connection must not be the emitting
// thread, which it would be for a replay started from the main window.
void acquisition::signaler(int type, const QString& message, int code)
{
    dansMonThread([this, type, message, code] { emit newMessage(type, message, code); });
}

void acquisition::dansMonThread(std::function<void()> action)
{
    if (QThread::currentThread() == thread())
        action();
    else
        QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}
