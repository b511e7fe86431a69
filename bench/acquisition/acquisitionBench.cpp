// End-to-end throughput and memory of the acquisition worker, and its behaviour
// on replay files that are no captures.
//
// Live part: the instrument simulator writes N samples as fast as the pseudo-
// terminal takes them; the worker decodes them into the three buffers (10 s
// windows, as in the main window), the period estimator and a capture file. The
// capture file is then compared byte for byte with the lines the simulator
// says it sent for its seed. Resident memory is read when 100,000, 1,000,000
// (and so on, by ten) samples are on disk.
//
// The same at the instrument's pace, 100 samples a second, for 16 s: with both,
// what the capture file's syncs to disk cost (count, mean and longest
// fdatasync, as the worker traces them when the capture closes).
//
// Replay part: a 50 MB file of random bytes and a 50 MB file made of a single
// line are replayed for a few seconds each; the bench reports the samples
// replayed, how many were not zero, and how long stopping took.
//
// Usage: acquisitionBench [samples] [seed] [--live-only]   (default 1000000 1)

#include "Tampon.h"
#include "acquisition.h"
#include "calculPeriode.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <malloc.h>

namespace {

// The worker's trace of its capture file's syncs, kept for the report.
QStringList tracesSynchro;

void retenirTrace(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (message.contains(QStringLiteral("synchronisé")))
        tracesSynchro << message;
    else if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& ligne : status.readAll().split('\n'))
        if (ligne.startsWith("VmRSS:"))
            return ligne.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

QString statut(const char* champ)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& ligne : status.readAll().split('\n'))
        if (ligne.startsWith(champ))
            return QString::fromLatin1(ligne.simplified());
    return QString();
}

// Counts the lines of a growing file, reading only what was appended, through
// one reused buffer so that the bench itself does not inflate the process's
// resident memory.
class CompteurLignes
{
public:
    explicit CompteurLignes(const QString& nom) : fichier(nom), tampon(1 << 20, Qt::Uninitialized)
    {
    }
    qint64 compter()
    {
        if (!fichier.isOpen() && !fichier.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return lignes;
        qint64 lus;
        while ((lus = fichier.read(tampon.data(), tampon.size())) > 0)
            lignes += QByteArray::fromRawData(tampon.constData(), int(lus)).count('\n');
        return lignes;
    }

private:
    QFile fichier;
    QByteArray tampon;
    qint64 lignes = 0;
};

struct Poste
{
    Tampon co2{0.01, 10};
    Tampon o2{0.01, 10};
    Tampon flux{0.01, 10};
    calculPeriode estimateur;
    QThread thread;
    acquisition* worker = new acquisition;
    QStringList messages;

    Poste()
    {
        worker->setTampons(&co2, &o2, &flux, &estimateur);
        QObject::connect(
            worker, &acquisition::avertissement, worker,
            [this](int type, const QString& texte) {
                messages << QStringLiteral("(%1, %2, 0)").arg(type).arg(texte);
            },
            Qt::DirectConnection);
        QObject::connect(
            worker, &acquisition::newMessage, worker,
            [this](int type, const QString& texte, int code) {
                messages << QStringLiteral("(%1, %2, %3)").arg(type).arg(texte).arg(code);
            },
            Qt::DirectConnection);
        worker->moveToThread(&thread);
        thread.start(QThread::TimeCriticalPriority);
    }
    ~Poste()
    {
        QMetaObject::invokeMethod(worker, "arreter", Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        delete worker;
    }
    void demarrer(const QString& source)
    {
        QMetaObject::invokeMethod(worker, "setSource", Qt::QueuedConnection,
                                  Q_ARG(QString, source));
        QMetaObject::invokeMethod(worker, "setCapture", Qt::QueuedConnection, Q_ARG(bool, true));
    }
};

void attendre(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// `rythme` samples a second, or as fast as the pseudo-terminal takes them when 0.
bool benchDirect(qint64 n, qint64 graine, int rythme = 0)
{
    const QString simulateur = QStringLiteral(SIMULATEUR);
    QStringList options{"--fast",  "--count", QString::number(n), "--seed", QString::number(graine),
                        "--bytes", "4096",    "--start-delay",    "0"};
    if (rythme > 0) { // the instrument's pace, 16 bytes a write
        options = QStringList{"--rate", QString::number(rythme)} + options.mid(1, 4) +
                  QStringList{"--start-delay", "0"};
        const QString dossier = QStringLiteral("rythme%1").arg(rythme);
        if (!QDir().mkpath(dossier) || !QDir::setCurrent(dossier))
            return false;
    }
    tracesSynchro.clear();
    if (QProcess::execute(simulateur, QStringList{"--dump-only", "--dump", "attendu.csv"} +
                                          (rythme > 0 ? options : options.mid(1))) != 0) {
        std::printf("cannot run %s\n", qPrintable(simulateur));
        return false;
    }

    QProcess instrument;
    instrument.start(simulateur, options);
    if (!instrument.waitForReadyRead(5000)) {
        std::printf("the simulator did not start\n");
        return false;
    }
    const QString port = QString::fromLocal8Bit(instrument.readLine()).trimmed();

    Poste poste;
    const long rssDebut = residentKiB();
    QElapsedTimer chrono;
    chrono.start();
    poste.demarrer(port);

    // Resident memory when 100,000, 1,000,000, ... samples (each ten times the
    // previous) are on disk.
    CompteurLignes compteur(QStringLiteral("acquisition1.csv"));
    QList<qint64> points;
    for (qint64 p = 100000; p <= n; p *= 10)
        points << p;
    QStringList releves;
    qint64 lignes = 0;
    while (lignes < n && chrono.elapsed() < 120000 + 1000 * n / qMax(rythme, 1)) {
        attendre(20);
        lignes = compteur.compter();
        while (!points.isEmpty() && lignes >= points.first()) {
            releves << QStringLiteral("%1 KiB (heap in use %4 KiB, arenas %5 KiB, mmap %6 KiB, %7)"
                                      " at %2 samples (%3 s)")
                           .arg(residentKiB())
                           .arg(points.takeFirst())
                           .arg(chrono.elapsed() / 1000.0, 0, 'f', 2)
                           .arg(qint64(mallinfo2().uordblks / 1024))
                           .arg(qint64(mallinfo2().arena / 1024))
                           .arg(qint64(mallinfo2().hblkhd / 1024))
                           .arg(statut("RssAnon") + " " + statut("RssFile"));
        }
    }
    const double temps = chrono.elapsed() / 1000.0;
    const long rssFin = residentKiB();
    QMetaObject::invokeMethod(poste.worker, "setCapture", Qt::BlockingQueuedConnection,
                              Q_ARG(bool, false));
    instrument.waitForFinished(5000);

    const QByteArray capture = [] {
        QFile f(QStringLiteral("acquisition1.csv"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const QByteArray attendu = [] {
        QFile f(QStringLiteral("attendu.csv"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const bool identique = capture == attendu;
    attendre(500); // the last sync, on the pool, traces the syncs once over

    std::printf("live: %lld samples through a pseudo-terminal at %s, seed %lld\n", n,
                rythme > 0 ? qPrintable(QStringLiteral("%1 Hz").arg(rythme)) : "full speed",
                graine);
    std::printf("  lines on disk: %lld of %lld after %.2f s\n", lignes, n, temps);
    std::printf("  end to end: %.0f samples/s (port -> 3 buffers, estimator, capture file)\n",
                n / temps);
    std::printf("  capture file identical to the simulator's samples: %s (%lld bytes)\n",
                identique ? "yes" : "NO", qint64(capture.size()));
    std::printf("  RSS: %ld KiB at start; %s; %ld KiB at the end\n", rssDebut,
                qPrintable(releves.join("; ")), rssFin);
    std::printf("  capture file syncs (fdatasync every 1.5 s on the thread pool): %s\n",
                tracesSynchro.isEmpty() ? "no trace" : qPrintable(tracesSynchro.join("; ")));
    if (!poste.messages.isEmpty())
        std::printf("  messages: %s\n", qPrintable(poste.messages.join("; ")));
    if (rythme > 0)
        QDir::setCurrent(QStringLiteral(".."));
    return identique;
}

void benchRejeu(const QString& nom, const QString& description)
{
    Poste poste;
    poste.worker->setFrequence(100);
    const long rssAvant = residentKiB();
    poste.worker->setSource(QDir::current().filePath(nom));
    poste.worker->setCapture(true); // as the window's replay control: on this thread
    QElapsedTimer chrono;
    chrono.start();
    qint64 nonNuls = 0;
    size_t vus = 0;
    qint64 echantillons = 0;
    while (chrono.elapsed() < 3000) {
        attendre(50);
        const size_t taille = poste.o2.size();
        if (taille < vus)
            vus = 0; // the window wrapped
        for (size_t i = vus; i < taille; ++i) {
            ++echantillons;
            if (poste.o2.sample(i).y() != 0 || poste.co2.sample(i).y() != 0 ||
                poste.flux.sample(i).y() != 0)
                ++nonNuls;
        }
        vus = taille;
    }
    QElapsedTimer arret;
    arret.start();
    poste.worker->setCapture(false);
    const qint64 dureeArret = arret.nsecsElapsed() / 1000;
    std::printf("replay of %s: %lld samples in %.1f s (%lld not zero), stop took %lld us,"
                " RSS %+ld KiB, messages: %s\n",
                qPrintable(description), echantillons, chrono.elapsed() / 1000.0, nonNuls,
                dureeArret, residentKiB() - rssAvant,
                poste.messages.isEmpty() ? "none" : qPrintable(poste.messages.join("; ")));
}

bool ecrireFichier(const QString& nom, const std::function<QByteArray(qint64)>& morceau,
                   qint64 taille)
{
    QFile f(nom);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    for (qint64 fait = 0; fait < taille; fait += 1 << 20)
        f.write(morceau(qMin<qint64>(1 << 20, taille - fait)));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(retenirTrace);
    const qint64 n = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const qint64 graine = argc > 2 ? QByteArray(argv[2]).toLongLong() : 1;
    QTemporaryDir dossier;
    if (!dossier.isValid() || !QDir::setCurrent(dossier.path()))
        return 1;

    bool ok = benchDirect(n, graine);
    ok = benchDirect(1600, graine, 100) && ok; // whole blocks of 8 samples
    if (argc > 3 && QByteArray(argv[3]) == "--live-only")
        return ok ? 0 : 1;

    const qint64 taille = 50LL << 20;
    QRandomGenerator aleatoire(42);
    ecrireFichier(
        "aleatoire.bin",
        [&aleatoire](qint64 t) {
            QByteArray b(int(t), Qt::Uninitialized);
            aleatoire.fillRange(reinterpret_cast<quint32*>(b.data()), int(t / 4));
            return b;
        },
        taille);
    ecrireFichier(
        "une_ligne.csv", [](qint64 t) { return QByteArray(int(t), '7'); }, taille);
    benchRejeu("aleatoire.bin", "50 MB of random bytes");
    benchRejeu("une_ligne.csv", "a single 50 MB line of digits");
    return ok ? 0 : 1;
}
