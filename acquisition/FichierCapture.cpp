#include "FichierCapture.h"

#include <QAtomicInt>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QThreadPool>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

// Lines gathered before ecrire(false) hands them over: the lines of a few
// reads of the port.
constexpr int seuilEcriture = 64 * 1024;
// The data reaches the disk at least this often while live (milliseconds).
constexpr qint64 intervalleSynchro = 1500;

QString texteErreur(const char* fonction, int erreur)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(fonction),
                                        QString::fromLocal8Bit(std::strerror(erreur)));
}

} // namespace

// What a sync on the pool tells the file it came from: the first failure, read
// at the next ecrire(); and what the syncs of this file cost, traced once the
// last one is over (syncs of one file never overlap but the last).
struct FichierCapture::Synchro
{
    QAtomicInt enCours;
    QAtomicInt erreur;
    QAtomicInteger<qint64> nombre;
    QAtomicInteger<qint64> totalNs;
    QAtomicInteger<qint64> maximumNs;
};

FichierCapture::FichierCapture() : synchro(std::make_shared<Synchro>()) {}

FichierCapture::~FichierCapture()
{
    fermer();
}

bool FichierCapture::creer(const QString& dossier)
{
    fermer();
    lignes.clear();
    ecrits = ecritsSynchro = 0;
    raison.clear();
    for (int n = 1; n < std::numeric_limits<int>::max(); ++n) {
        nomFichier = QStringLiteral("acquisition%1.csv").arg(n);
        if (!dossier.isEmpty())
            nomFichier = QDir(dossier).filePath(nomFichier);
        const QByteArray chemin = QFile::encodeName(nomFichier);
        int fd;
        do {
            fd = ::open(chemin.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0666);
        } while (fd == -1 && errno == EINTR);
        if (fd != -1) {
            descripteur = fd;
            synchro = std::make_shared<Synchro>();
            depuisSynchro.start();
            qDebug() << "acquisition: capture dans" << nomFichier;
            return true;
        }
        if (errno != EEXIST) { // any entry, even a dangling link, is EEXIST
            raison = texteErreur("open", errno);
            qDebug() << "acquisition: création de" << nomFichier << "impossible:" << raison;
            return false;
        }
    }
    raison = QStringLiteral("no free number");
    return false;
}

void FichierCapture::ajouterLigne(double valeur)
{
    if (descripteur == -1)
        return;
    lignes += "0;";
    lignes += QByteArray::number(valeur, 'g', 6); // always "." whatever the locale
    lignes += ";0\r\n";
}

bool FichierCapture::ecrire(bool tout)
{
    if (descripteur == -1)
        return true;
    const int erreurSynchro = synchro->erreur.loadAcquire();
    if (erreurSynchro != 0)
        return abandonner("fdatasync", erreurSynchro, 0);
    if (!tout && lignes.size() < seuilEcriture)
        return true;
    qint64 faits = 0;
    while (faits < lignes.size()) {
        const ssize_t n =
            ::write(descripteur, lignes.constData() + faits, size_t(lignes.size() - faits));
        if (n > 0) {
            faits += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // write() of a regular file only returns 0 for 0 bytes: count it as full.
        return abandonner("write", n < 0 ? errno : ENOSPC, faits);
    }
    ecrits += faits;
    lignes.truncate(0); // keeps the allocated room
    if (tout && ecrits != ecritsSynchro && depuisSynchro.elapsed() >= intervalleSynchro &&
        !synchro->enCours.loadAcquire())
        synchroniser();
    return true;
}

// The sync runs on a copy of the descriptor, which keeps the file open until
// the sync is over whatever this object does meanwhile.
void FichierCapture::synchroniser(bool derniere)
{
    int copie;
    do {
        copie = ::fcntl(descripteur, F_DUPFD_CLOEXEC, 0);
    } while (copie == -1 && errno == EINTR);
    if (copie == -1) {
        qDebug() << "acquisition:" << texteErreur("fcntl(F_DUPFD_CLOEXEC)", errno);
        return;
    }
    depuisSynchro.restart();
    ecritsSynchro = ecrits;
    std::shared_ptr<Synchro> etat = synchro;
    etat->enCours.storeRelease(1);
    const QString nom = nomFichier;
    QThreadPool::globalInstance()->start([etat, copie, nom, derniere] {
        QElapsedTimer duree;
        duree.start();
        int resultat;
        do {
            resultat = ::fdatasync(copie);
        } while (resultat == -1 && errno == EINTR);
        const int erreur = resultat == -1 ? errno : 0;
        const qint64 ns = duree.nsecsElapsed();
        etat->nombre.fetchAndAddRelaxed(1);
        etat->totalNs.fetchAndAddRelaxed(ns);
        for (qint64 m = etat->maximumNs.loadRelaxed();
             ns > m && !etat->maximumNs.testAndSetRelaxed(m, ns); m = etat->maximumNs.loadRelaxed())
            ;
        if (erreur != 0) {
            qDebug() << "acquisition: synchronisation de" << nom
                     << "impossible:" << texteErreur("fdatasync", erreur);
            etat->erreur.testAndSetOrdered(0, erreur);
        }
        if (::close(copie) == -1 && errno != EINTR)
            qDebug() << "acquisition:" << texteErreur("close", errno);
        etat->enCours.storeRelease(0);
        if (derniere) {
            const qint64 n = etat->nombre.loadRelaxed();
            qDebug("acquisition: %s synchronisé %lld fois, %.3f ms en moyenne, %.3f ms au plus",
                   qPrintable(nom), n, etat->totalNs.loadRelaxed() / 1e6 / qMax<qint64>(n, 1),
                   etat->maximumNs.loadRelaxed() / 1e6);
        }
    });
}

bool FichierCapture::fermer()
{
    if (descripteur == -1)
        return true;
    if (!ecrire())
        return false;
    synchroniser(true); // whatever the last sync covered, the last lines need one
    if (!fermerDescripteur())
        return abandonner("close", errno, 0);
    return true;
}

bool FichierCapture::fermerDescripteur()
{
    // Linux releases the descriptor even when close() reports EINTR.
    const int resultat = ::close(descripteur);
    descripteur = -1;
    return resultat == 0 || errno == EINTR;
}

// The disk refused bytes: of the lines being written, `partiel` bytes reached
// the file; it is cut back to the end of the last whole line.
bool FichierCapture::abandonner(const char* fonction, int erreurSysteme, qint64 partiel)
{
    raison = texteErreur(fonction, erreurSysteme);
    qDebug() << "acquisition: écriture de" << nomFichier << "impossible:" << raison;
    if (descripteur != -1) {
        const int saut = partiel > 0 ? lignes.lastIndexOf('\n', int(partiel - 1)) : -1;
        const qint64 longueur = ecrits + saut + 1;
        if (partiel > 0) {
            int resultat;
            do {
                resultat = ::ftruncate(descripteur, longueur);
            } while (resultat == -1 && errno == EINTR);
            if (resultat == -1)
                qDebug() << "acquisition:" << nomFichier
                         << "ne peut être raccourci:" << texteErreur("ftruncate", errno);
        }
        if (!fermerDescripteur())
            qDebug() << "acquisition:" << texteErreur("close", errno);
    }
    lignes.clear();
    return false;
}
