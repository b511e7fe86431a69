#include "LecteurCapture.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

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

// Powers of ten a double holds exactly.
constexpr double puissancesDix[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A field of a line written the plain way, what the instrument writes: white
// space, a sign, digits, perhaps a point followed by digits, white space, then
// the field's end (";" or the line feed at `fin` that ends the line, which
// also stops the scans of digits), with at most 15 digits in all. Its value is
// then an integer divided by a power of ten, both held exactly by a double, so
// that their quotient is the correctly rounded value of the text, the one
// std::from_chars gives. False for any other text, with nothing changed; true
// with `p` on the field's end.
bool nombreSimple(const char*& p, const char* const fin, double& v)
{
    const char* q = p;
    while (quint8(*q) <= ' ' && q < fin && estBlanc(*q))
        ++q;
    bool negatif = false;
    if (estSigne(*q))
        negatif = *q++ == '-';
    const char* const chiffres = q;
    quint64 entier = 0; // wraps past 19 digits, but is then not used
    while (estChiffre(*q))
        entier = entier * 10 + quint64(*q++ - '0');
    const qptrdiff avantPoint = q - chiffres;
    qptrdiff decimales = 0;
    if (*q == '.') {
        const char* const fraction = ++q;
        while (estChiffre(*q))
            entier = entier * 10 + quint64(*q++ - '0');
        decimales = q - fraction;
        if (decimales == 0)
            return false;
    }
    if (avantPoint == 0 || avantPoint + decimales > 15)
        return false;
    while (q < fin && quint8(*q) <= ' ' && estBlanc(*q))
        ++q;
    if (q < fin && *q != ';')
        return false;
    v = double(entier) / puissancesDix[decimales];
    if (negatif)
        v = -v;
    p = q;
    return true;
}

} // namespace

// The text of one field, gathered a byte at a time in a fixed room. White space
// around the number is dropped, and so are what cannot change its value once
// the room is full: redundant leading zeros and the far digits of a fraction. A
// field that still does not fit is no number, and counts as 0.
class LecteurCapture::TexteChamp
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

// A line that ends inside the block, its plain fields read in one pass and
// any other through the field's room as a field read a byte at a time is;
// false, nothing read, when the block holds no line feed from the cursor on.
bool LecteurCapture::lireLigneDuBloc(double champs[3])
{
    const char* const base = bloc.constData();
    const char* p = base + curseur;
    const char* const finLigne =
        static_cast<const char*>(std::memchr(p, '\n', size_t(remplis - curseur)));
    if (!finLigne)
        return false;
    champs[0] = champs[1] = champs[2] = 0.0;
    bool nombre = false;
    for (int i = 0; i < 3; ++i) {
        if (nombreSimple(p, finLigne, champs[i])) {
            nombre = true;
        } else {
            champ->vider();
            for (; p < finLigne && *p != ';'; ++p)
                champ->ajouter(*p);
            bool estNombre = false;
            champs[i] = champ->valeur(estNombre);
            nombre = nombre || estNombre;
        }
        if (p == finLigne)
            break;
        ++p; // past the ";"
    }
    curseur = int(finLigne - base) + 1;
    ++lues;
    if (!nombre)
        ++sansNombre;
    manquantes.remplacer(champs);
    return true;
}

LecteurCapture::LecteurCapture() : bloc(tailleBloc, Qt::Uninitialized), champ(new TexteChamp) {}

LecteurCapture::~LecteurCapture() = default;

bool LecteurCapture::ouvrir(const QString& nom)
{
    fichier.close();
    lues = sansNombre = 0;
    lignesLongues.clear();
    tailleVue = dateVue = -1;
    fichier.setFileName(nom);
    if (!fichier.open(QIODevice::ReadOnly))
        return false;
    rembobiner();
    return true;
}

bool LecteurCapture::ouvrirEntreeStandard()
{
    fichier.close();
    lues = sansNombre = 0;
    lignesLongues.clear();
    if (!fichier.open(STDIN_FILENO, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return false;
    rembobiner();
    return true;
}

// Where a remembered line ends holds only for the file it was found in: a
// file rewritten in place since (a new size or a new modification time) is
// read afresh.
void LecteurCapture::noterEtat()
{
    struct stat etat;
    if (::fstat(fichier.handle(), &etat) != 0) {
        lignesLongues.clear();
        return;
    }
    const qint64 date = qint64(etat.st_mtim.tv_sec) * 1000000000 + etat.st_mtim.tv_nsec;
    if (qint64(etat.st_size) != tailleVue || date != dateVue)
        lignesLongues.clear();
    tailleVue = qint64(etat.st_size);
    dateVue = date;
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
    if (!fichier.isSequential())
        fichier.seek(octet);
    debutBloc = octet;
    curseur = remplis = 0;
    finFichier = false;
}

void LecteurCapture::rembobiner()
{
    if (!fichier.isOpen())
        return;
    noterEtat();
    ligneEnCours = false;
    manquantes.oublier();
    repartirDe(fichier.isSequential() ? position() : 0);
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
    Lecture lecture;
    do {
        lecture = lireLigne(champs, std::numeric_limits<qint64>::max() / 2);
    } while (lecture == Lecture::Suite);
    return lecture == Lecture::Ligne;
}

LecteurCapture::Lecture LecteurCapture::lireLigne(double champs[3], qint64 budget)
{
    if (!fichier.isOpen())
        return Lecture::Fin;
    if (!ligneEnCours) {
        if (curseur == remplis && !remplir())
            return Lecture::Fin;
        debutLigne = position();
        if (!lignesLongues.isEmpty() && ligneLongueConnue(debutLigne, champs)) {
            ++lues;
            manquantes.remplacer(champs);
            return Lecture::Ligne;
        }
        if (lireLigneDuBloc(champs))
            return Lecture::Ligne;
        ligneEnCours = true;
        resteASauter = false;
        nombreVu = false;
        indice = 0;
        valeurs[0] = valeurs[1] = valeurs[2] = 0.0;
        champ->vider();
    }
    const qint64 limite = position() + qMax<qint64>(budget, 1);
    const bool finie = resteASauter ? sauterReste(limite) : lireChamps(limite);
    if (!finie)
        return Lecture::Suite;
    ligneEnCours = false;
    std::copy(valeurs, valeurs + 3, champs);
    ++lues;
    if (!nombreVu)
        ++sansNombre;
    if (position() - debutLigne >= seuilLigneLongue)
        retenirLigneLongue(debutLigne, champs);
    manquantes.remplacer(champs);
    return Lecture::Ligne;
}

void LecteurCapture::terminerChamp()
{
    bool estNombre = false;
    valeurs[indice] = champ->valeur(estNombre);
    nombreVu = nombreVu || estNombre;
}

// Reads the fields of the line from where the last call stopped, a block at a
// time, until the line ends (true) or `limite` is passed (false).
bool LecteurCapture::lireChamps(qint64 limite)
{
    for (;;) {
        if (curseur == remplis) {
            if (position() >= limite)
                return false;
            if (!remplir())
                break; // a last line with no line feed
        }
        const char* const base = bloc.constData();
        const char* p = base + curseur;
        const char* const fin = base + remplis;
        while (p < fin) {
            const char c = *p++;
            if (c == '\n') {
                curseur = int(p - base);
                terminerChamp();
                return true;
            }
            if (c == ';') {
                terminerChamp();
                if (++indice == 3) {
                    curseur = int(p - base);
                    resteASauter = true;
                    return sauterReste(limite);
                }
                champ->vider();
                continue;
            }
            champ->ajouter(c);
        }
        curseur = remplis;
    }
    terminerChamp();
    return true;
}

// Skips to the start of the next line, a block at a time; false when `limite`
// is passed first.
bool LecteurCapture::sauterReste(qint64 limite)
{
    for (;;) {
        if (curseur == remplis) {
            if (position() >= limite)
                return false;
            if (!remplir())
                return true;
        }
        const char* const base = bloc.constData();
        const void* saut = std::memchr(base + curseur, '\n', size_t(remplis - curseur));
        if (saut) {
            curseur = int(static_cast<const char*>(saut) - base) + 1;
            return true;
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
