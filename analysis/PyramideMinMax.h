#pragma once

#include <QtGlobal>
#include <vector>

// The samples of one channel of a long recording and their minima and maxima
// at several resolutions, for drawing millions of points in a few hundred
// pixel columns: level 0 is the samples themselves, level k holds one
// (minimum, maximum) pair for every facteur^k samples, the last group of each
// level covering what is left. A stretch's extent is read from the coarsest
// groups that fit inside it and the samples at its ends, so that its cost
// does not grow with its length. Values are kept as float: the drawing needs
// no more, and a day at 100 Hz then fits in about 35 MB a channel.
class PyramideMinMax
{
public:
    struct Etendue
    {
        float min = 0.0f;
        float max = 0.0f;
        bool vide = true;
    };

    // Builds every level from the samples, in one pass a level.
    explicit PyramideMinMax(std::vector<float> valeurs = {}, int facteur = 8);

    qint64 taille() const { return qint64(echantillons.size()); }
    float valeur(qint64 indice) const { return echantillons[size_t(indice)]; }
    // Levels above the samples; each has fewer than facteur groups more than
    // the next, the last one fewer than facteur groups.
    int niveaux() const { return int(groupes.size()); }
    // Samples a group of a level covers (1 for the samples, level 0).
    qint64 pas(int niveau) const;
    // The groups of level `niveau` (1 to niveaux()), min and max of each.
    qint64 nombreGroupes(int niveau) const;
    Etendue groupe(int niveau, qint64 indice) const;

    // Minimum and maximum of the samples [debut, fin), clipped to the samples
    // held; empty when nothing is left of the stretch.
    Etendue etendue(qint64 debut, qint64 fin) const;
    // The extent of the samples in each of `nombre` equal columns of the
    // stretch [debut, fin) (in samples, fractions allowed): column i holds the
    // samples from floor(debut + i * w) to floor(debut + (i + 1) * w), w the
    // width of a column, at least one sample each.
    void colonnes(double debut, double fin, int nombre, std::vector<Etendue>& resultat) const;
    // Whether every sample has the same value (or there is none).
    bool constante() const;

private:
    struct Paire
    {
        float min;
        float max;
    };

    void etendueNiveau(int niveau, qint64 debut, qint64 fin, Etendue& e) const;

    int base;
    std::vector<float> echantillons;
    std::vector<std::vector<Paire>> groupes; // groupes[k - 1] is level k
};
