#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <memory>

// The file a live acquisition is recorded into, from its creation to its close:
// acquisitionN.csv in the chosen folder, N the smallest number that names no
// directory entry at all (a dangling link, a directory or a file nobody may
// write are numbers taken too), created exclusively and never through a link.
//
// Lines are gathered in memory and handed to the kernel by ecrire(), which the
// worker calls after each read (only once enough has gathered) and on a timer;
// the data reaches the disk itself by an fdatasync run every 1.5 s on a thread
// of the global pool, never on the caller's, so that a slow disk cannot hold
// the reading of the port. Together with a 0.5 s timer, what a power cut loses
// is about the last 2 s.
//
// When the disk refuses bytes (full, gone) the file is cut back to its last
// whole line and closed: shortening a file needs no room, so this works on a
// full disk. Every call after that is a no-op, so the caller reports the
// failure once.
class FichierCapture
{
public:
    FichierCapture();
    ~FichierCapture();

    FichierCapture(const FichierCapture&) = delete;
    FichierCapture& operator=(const FichierCapture&) = delete;

    // Closes any file still open, then creates the next free file in `dossier`
    // (the current directory when empty). False, with erreur() and chemin()
    // naming the file that could not be created, when that fails.
    bool creer(const QString& dossier = QString());
    bool estOuvert() const { return descripteur != -1; }
    // The file as named at its creation: the folder given, then acquisitionN.csv.
    QString chemin() const { return nomFichier; }
    QString erreur() const { return raison; }

    // One capture line for an O2 value, kept until the next ecrire().
    void ajouterLigne(double valeur);
    // Hands the gathered lines to the kernel (with `tout` false, only once a
    // good amount has gathered) and starts a sync when one is due. False when
    // the file had to be given up, which then is closed.
    bool ecrire(bool tout = true);
    // Writes what is left, has it synced and closes the file. False when the
    // file had to be given up.
    bool fermer();

    // Bytes gathered and not yet handed to the kernel.
    int enAttente() const { return lignes.size(); }

private:
    struct Synchro;

    bool abandonner(const char* fonction, int erreurSysteme, qint64 partiel);
    void synchroniser(bool derniere = false);
    bool fermerDescripteur();

    int descripteur = -1;
    QString nomFichier;
    QString raison;
    QByteArray lignes;        // whole lines not yet written
    qint64 ecrits = 0;        // bytes in the file, whole lines only
    qint64 ecritsSynchro = 0; // of which the last sync started covers
    QElapsedTimer depuisSynchro;
    std::shared_ptr<Synchro> synchro; // shared with the sync running on the pool
};
