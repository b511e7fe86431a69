#include "LecteurCapture.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Bytes read from the file at a time.
constexpr int tailleBloc = 64 * 1024;
// Lines at least this long are remembered with their fields, so that a replay
// looping over them skips their bytes with one seek.
constexpr qint64 seuilLigneLongue = 1024 * 1024;
constexpr int lignesLonguesMax = 64;

bool estBlanc(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

bool estChiffre(char c)
{
    return c >= '0' && c <= '9';
}

bool estSigne(char c)
{
    return c == '+' || c == '-';
}

// The text of one field, gathered a byte at a time in a fixed room. White space
// around the number is dropped, and so are what cannot change its value once
// the room is full: redundant leading zeros and the far digits of a fraction. A
// field that still does not fit is no number, and counts as 0.
class TexteChamp
{
public:
    void ajouter(char c)
    {
        if (invalide)
            return;
        if (estBlanc(c)) {
            finContenu = longueur > 0;
            return;
        }
        if (finContenu) { // white space inside the field: not a number
            invalide = true;
            return;
        }
        if (estChiffre(c) && zeroEnTete()) {
            texte[longueur - 1] = c;
            return;
        }
        if (c == '.' && !exposant)
            fraction = true;
        else if (c == 'e' || c == 'E')
            exposant = true;
        if (longueur == capacite) {
            invalide = !(estChiffre(c) && fraction && !exposant);
            return;
        }
        texte[longueur++] = c;
    }

    // The field's value, 0 when it is no number; `estNombre` tells which.
    double valeur(bool& estNombre) const
    {
        estNombre = false;
        if (invalide || longueur == 0)
            return 0.0;
        const char* debut = texte;
        const char* const fin = texte + longueur;
        if (*debut == '+') {
            ++debut;
            if (debut == fin || estSigne(*debut))
                return 0.0;
        }
        double v = 0.0;
        const auto [reste, erreur] = std::from_chars(debut, fin, v, std::chars_format::general);
        if (erreur != std::errc() || reste != fin || !std::isfinite(v))
            return 0.0;
        estNombre = true;
        return v;
    }

    void vider()
    {
        longueur = 0;
        invalide = finContenu = fraction = exposant = false;
    }

private:
    // The field so far is a lone zero, perhaps signed: a digit replaces it.
    bool zeroEnTete() const
    {
        if (longueur == 1)
            return texte[0] == '0';
        return longueur == 2 && estSigne(texte[0]) && texte[1] == '0';
    }

    static constexpr int capacite = 400;
    char texte[capacite];
    int longueur = 0;
    bool invalide = false;
    bool finContenu = false;
    bool fraction = false;
    bool exposant = false;
};

} // namespace

LecteurCapture::LecteurCapture() : bloc(tailleBloc, Qt::Uninitialized) {}

bool LecteurCapture::ouvrir(const QString& nom)
{
    fichier.close();
    lues = sansNombre = 0;
    lignesLongues.clear();
    fichier.setFileName(nom);
    if (!fichier.open(QIODevice::ReadOnly))
        return false;
    rembobiner();
    return true;
}

QString LecteurCapture::erreur() const
{
    return fichier.errorString();
}

qint64 LecteurCapture::taille() const
{
    return fichier.size();
}

// The next read starts at this byte of the file.
void LecteurCapture::repartirDe(qint64 octet)
{
    fichier.seek(octet);
    debutBloc = octet;
    curseur = remplis = 0;
    finFichier = false;
}

void LecteurCapture::rembobiner()
{
    if (!fichier.isOpen())
        return;
    repartirDe(0);
    // A byte-order mark belongs to the encoding, not to the first field.
    if (remplir() && remplis >= 3 && std::memcmp(bloc.constData(), "\xEF\xBB\xBF", 3) == 0)
        curseur = 3;
}

bool LecteurCapture::remplir()
{
    if (finFichier)
        return false;
    debutBloc += remplis;
    curseur = 0;
    remplis = int(qMax<qint64>(0, fichier.read(bloc.data(), tailleBloc)));
    finFichier = remplis == 0;
    return !finFichier;
}

bool LecteurCapture::lireLigne(double champs[3])
{
    if (!fichier.isOpen())
        return false;
    if (curseur == remplis && !remplir())
        return false;
    const qint64 debut = position();
    if (!lignesLongues.isEmpty() && ligneLongueConnue(debut, champs)) {
        ++lues;
        return true;
    }
    nombreVu = false;
    lireChamps(champs);
    ++lues;
    if (!nombreVu)
        ++sansNombre;
    if (position() - debut >= seuilLigneLongue)
        retenirLigneLongue(debut, champs);
    return true;
}

void LecteurCapture::lireChamps(double champs[3])
{
    champs[0] = champs[1] = champs[2] = 0.0;
    TexteChamp champ;
    bool estNombre = false;
    auto terminer = [&](int i) {
        champs[i] = champ.valeur(estNombre);
        nombreVu = nombreVu || estNombre;
    };
    int indice = 0;
    for (;;) {
        if (curseur == remplis && !remplir())
            break; // a last line with no line feed
        const char* const base = bloc.constData();
        const char* p = base + curseur;
        const char* const fin = base + remplis;
        while (p < fin) {
            const char c = *p++;
            if (c == '\n') {
                curseur = int(p - base);
                terminer(indice);
                return;
            }
            if (c == ';') {
                terminer(indice);
                if (++indice == 3) {
                    curseur = int(p - base);
                    sauterReste();
                    return;
                }
                champ.vider();
                continue;
            }
            champ.ajouter(c);
        }
        curseur = remplis;
    }
    terminer(indice);
}

// Skips to the start of the next line, a block at a time.
void LecteurCapture::sauterReste()
{
    for (;;) {
        if (curseur == remplis && !remplir())
            return;
        const char* const base = bloc.constData();
        const void* saut = std::memchr(base + curseur, '\n', size_t(remplis - curseur));
        if (saut) {
            curseur = int(static_cast<const char*>(saut) - base) + 1;
            return;
        }
        curseur = remplis;
    }
}

void LecteurCapture::retenirLigneLongue(qint64 debut, const double champs[3])
{
    if (lignesLongues.size() >= lignesLonguesMax)
        return;
    lignesLongues.append({debut, position(), {champs[0], champs[1], champs[2]}});
}

bool LecteurCapture::ligneLongueConnue(qint64 debut, double champs[3])
{
    for (const LigneLongue& ligne : qAsConst(lignesLongues)) {
        if (ligne.debut != debut)
            continue;
        std::copy(ligne.champs, ligne.champs + 3, champs);
        repartirDe(ligne.suivante);
        return true;
    }
    return false;
}
