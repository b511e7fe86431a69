#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

// Reads a capture file one line at a time as three numbers (CO2, O2, Flux): the
// first three ";"-separated fields of the line, each 0 when it is absent or not
// a number, leading and trailing white space (a leftover CR) ignored. Fields
// past the third are skipped.
//
// Memory is bounded whatever the file holds: the file is read in blocks of a
// fixed size and a field keeps at most a few hundred characters of text, so a
// line of a gigabyte costs one pass over its bytes, never a gigabyte in memory.
// Where such a line ends is remembered, so that a replay looping over the file
// pays that pass once. A UTF-8 byte-order mark at the start of the file is not
// part of the first field.
class LecteurCapture
{
public:
    LecteurCapture();

    bool ouvrir(const QString& nom);
    QString erreur() const;

    // The next line's three fields; false, and nothing read, at the end of the file.
    bool lireLigne(double champs[3]);
    // Back to the first line.
    void rembobiner();

    // Lines read since the file was opened, and how many of them held no number
    // at all (blank lines, words, binary data): what tells a capture file from
    // another file.
    qint64 lignesLues() const { return lues; }
    qint64 lignesSansNombre() const { return sansNombre; }

    qint64 position() const { return debutBloc + curseur; } // bytes of the file consumed
    qint64 taille() const;

private:
    bool remplir();
    void lireChamps(double champs[3]);
    void sauterReste();
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
};
