#include "PyramideMinMax.h"

#include <algorithm>
#include <cmath>

namespace {

void etendre(PyramideMinMax::Etendue& e, float min, float max)
{
    if (e.vide) {
        e.min = min;
        e.max = max;
        e.vide = false;
        return;
    }
    e.min = std::min(e.min, min);
    e.max = std::max(e.max, max);
}

} // namespace

PyramideMinMax::PyramideMinMax(std::vector<float> valeurs, int facteur)
    : base(std::max(2, facteur)), echantillons(std::move(valeurs))
{
    // Level 1 from the samples, each next level from the one below, until a
    // level has fewer groups than the factor.
    qint64 dessous = taille();
    while (dessous > base) {
        const qint64 nombre = (dessous + base - 1) / base;
        std::vector<Paire> niveau(static_cast<size_t>(nombre));
        for (qint64 g = 0; g < nombre; ++g) {
            const qint64 debut = g * base;
            const qint64 fin = std::min(dessous, debut + base);
            Paire p;
            if (groupes.empty()) {
                const auto [mini, maxi] =
                    std::minmax_element(echantillons.begin() + debut, echantillons.begin() + fin);
                p = {*mini, *maxi};
            } else {
                const std::vector<Paire>& bas = groupes.back();
                p = bas[size_t(debut)];
                for (qint64 i = debut + 1; i < fin; ++i) {
                    p.min = std::min(p.min, bas[size_t(i)].min);
                    p.max = std::max(p.max, bas[size_t(i)].max);
                }
            }
            niveau[size_t(g)] = p;
        }
        groupes.push_back(std::move(niveau));
        dessous = nombre;
    }
}

qint64 PyramideMinMax::pas(int niveau) const
{
    qint64 p = 1;
    for (int k = 0; k < niveau; ++k)
        p *= base;
    return p;
}

qint64 PyramideMinMax::nombreGroupes(int niveau) const
{
    if (niveau == 0)
        return taille();
    return qint64(groupes[size_t(niveau - 1)].size());
}

PyramideMinMax::Etendue PyramideMinMax::groupe(int niveau, qint64 indice) const
{
    Etendue e;
    if (niveau == 0) {
        etendre(e, echantillons[size_t(indice)], echantillons[size_t(indice)]);
        return e;
    }
    const Paire& p = groupes[size_t(niveau - 1)][size_t(indice)];
    etendre(e, p.min, p.max);
    return e;
}

// The extent of the groups [debut, fin) of one level: the whole groups of the
// level above that fit in it, the few of this level at either end.
void PyramideMinMax::etendueNiveau(int niveau, qint64 debut, qint64 fin, Etendue& e) const
{
    auto parcourir = [this, niveau, &e](qint64 de, qint64 a) {
        if (niveau == 0) {
            if (de < a) {
                const auto [mini, maxi] =
                    std::minmax_element(echantillons.begin() + de, echantillons.begin() + a);
                etendre(e, *mini, *maxi);
            }
            return;
        }
        const std::vector<Paire>& n = groupes[size_t(niveau - 1)];
        for (qint64 i = de; i < a; ++i)
            etendre(e, n[size_t(i)].min, n[size_t(i)].max);
    };
    const qint64 hautDebut = (debut + base - 1) / base;
    const qint64 hautFin = fin / base;
    if (niveau >= niveaux() || hautDebut >= hautFin) {
        parcourir(debut, fin);
        return;
    }
    parcourir(debut, hautDebut * base);
    parcourir(hautFin * base, fin);
    etendueNiveau(niveau + 1, hautDebut, hautFin, e);
}

PyramideMinMax::Etendue PyramideMinMax::etendue(qint64 debut, qint64 fin) const
{
    Etendue e;
    debut = std::max<qint64>(0, debut);
    fin = std::min(fin, taille());
    if (debut < fin)
        etendueNiveau(0, debut, fin, e);
    return e;
}

void PyramideMinMax::colonnes(double debut, double fin, int nombre,
                              std::vector<Etendue>& resultat) const
{
    resultat.assign(size_t(std::max(0, nombre)), Etendue());
    if (nombre <= 0 || !(fin > debut))
        return;
    const double largeur = (fin - debut) / nombre;
    for (int i = 0; i < nombre; ++i) {
        const qint64 de = qint64(std::floor(debut + i * largeur));
        const qint64 a = std::max(de + 1, qint64(std::floor(debut + (i + 1) * largeur)));
        resultat[size_t(i)] = etendue(de, a);
    }
}

bool PyramideMinMax::constante() const
{
    const Etendue e = etendue(0, taille());
    return e.vide || e.min == e.max;
}
