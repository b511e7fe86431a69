#pragma once

#include "ValeursManquantes.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>
#include <memory>

// Reads a capture file one line at a time as three numbers (CO2, O2, Flux): the
// first three ";"-separated fields of the line, each 0 when it is absent or not
// a number, leading and trailing white space (a leftover CR) ignored. Fields
// past the third are skipped. A value no channel can take (beyond 1e6, or not
// finite) is missing and reads as the field's value on the line before.
//
// Memory is bounded whatever the file holds: the file is read in blocks of a
// fixed size and a field keeps at most a few hundred characters of text, so a
// line of a gigabyte costs one pass over its bytes, never a gigabyte in memory.
// Where such a line ends is remembered, so that a replay looping over the file
// pays that pass once, as long as the file does not change: a rewind forgets
// them when the file's size or modification time has changed since the last
// one. A caller that must stay responsive reads with a budget of bytes and
// resumes a long line at its next call. A UTF-8 byte-order mark at the start
// of the file is not part of the first field.
class LecteurCapture
{
public:
    enum class Lecture {
        Ligne, // a whole line was read
        Fin,   // the end of the file, nothing read
        Suite  // the budget was spent inside a line: call again to go on with it
    };

    LecteurCapture();
    ~LecteurCapture();

    bool ouvrir(const QString& nom);
    // Standard input, read once from where it stands (a pipe cannot rewind).
    bool ouvrirEntreeStandard();
    QString erreur() const;

    // The next line's three fields; false, and nothing read, at the end of the file.
    bool lireLigne(double champs[3]);
    // The same, reading about `budget` bytes at most (a block of the file at
    // least); the fields are set only when a line is returned.
    Lecture lireLigne(double champs[3], qint64 budget);
    // Back to the first line.
    void rembobiner();

    // Lines read since the file was opened, and how many of them held no number
    // at all (blank lines, words, binary data): what tells a capture file from
    // another file.
    qint64 lignesLues() const { return lues; }
    qint64 lignesSansNombre() const { return sansNombre; }
    // Whether the lines read so far are no capture's: most of them hold no
    // number. A capture is judged on its first lignesExaminees lines, or on
    // the whole file when it is shorter.
    static constexpr qint64 lignesExaminees = 1000;
    bool pasUneCapture() const { return 2 * sansNombre > lues; }

    qint64 position() const { return debutBloc + curseur; } // bytes of the file consumed
    qint64 taille() const;

private:
    class TexteChamp;

    ValeursManquantes manquantes;
    bool remplir();
    bool lireLigneDuBloc(double champs[3]);
    bool lireChamps(qint64 limite);
    bool sauterReste(qint64 limite);
    void terminerChamp();
    void noterEtat();
    void repartirDe(qint64 octet);
    void retenirLigneLongue(qint64 debut, const double champs[3]);
    bool ligneLongueConnue(qint64 debut, double champs[3]);

    struct LigneLongue
    {
        qint64 debut;
        qint64 suivante;
        double champs[3];
    };

    QFile fichier;
    QByteArray bloc;      // bytes read from the file and not consumed yet
    int curseur = 0;      // next byte of `bloc`
    int remplis = 0;      // valid bytes of `bloc`
    qint64 debutBloc = 0; // offset in the file of `bloc`'s first byte
    bool finFichier = false;
    bool nombreVu = false; // a field of the line being read is a number
    qint64 lues = 0;
    qint64 sansNombre = 0;
    QVector<LigneLongue> lignesLongues;

    // The line being read, kept from one call to the next.
    bool ligneEnCours = false;
    bool resteASauter = false; // past the third field
    qint64 debutLigne = 0;
    int indice = 0; // the field being read
    double valeurs[3] = {0.0, 0.0, 0.0};
    std::unique_ptr<TexteChamp> champ;

    // The file as it was at the last rewind.
    qint64 tailleVue = -1;
    qint64 dateVue = -1; // modification time, nanoseconds
};
