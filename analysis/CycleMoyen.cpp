#include "CycleMoyen.h"

#include <algorithm>
#include <cmath>

namespace {

// The breath's value at t seconds since the onset, by linear interpolation;
// false where the breath has no point within one step of t.
bool valeurA(const FormeCycle& forme, const QVector<float>& v, double t, double& valeur)
{
    const int n = v.size();
    if (n == 0 || forme.pas <= 0.0)
        return false;
    const double position = (t - forme.decalage) / forme.pas;
    if (position < -1.0 || position > double(n))
        return false;
    if (position <= 0.0) {
        valeur = v.first();
        return true;
    }
    if (position >= double(n - 1)) {
        valeur = v.last();
        return true;
    }
    const int i = int(position);
    const double f = position - i;
    valeur = v[i] * (1.0 - f) + v[i + 1] * f;
    return true;
}

int premierRetenu(const QVector<FormeCycle>& formes, int nombre)
{
    return std::max(0, formes.size() - std::max(nombre, 0));
}

} // namespace

const QVector<float>& CycleMoyen::valeurs(const FormeCycle& forme, Canal canal)
{
    switch (canal) {
    case Canal::CO2:
        return forme.co2;
    case Canal::Flux:
        return forme.flux;
    case Canal::O2:
        break;
    }
    return forme.o2;
}

QVector<QPointF> CycleMoyen::points(const FormeCycle& forme, Canal canal)
{
    const QVector<float>& v = valeurs(forme, canal);
    QVector<QPointF> resultat(v.size());
    for (int i = 0; i < v.size(); ++i)
        resultat[i] = QPointF(forme.decalage + i * forme.pas, v[i]);
    return resultat;
}

QVector<QPointF> CycleMoyen::moyenne(const QVector<FormeCycle>& formes, int nombre, Canal canal)
{
    const int premier = premierRetenu(formes, nombre);
    const int retenus = formes.size() - premier;
    double pas = 0.0;
    double fin = 0.0;
    for (int i = premier; i < formes.size(); ++i) {
        pas = std::max(pas, formes[i].pas);
        fin = std::max(fin, formes[i].fin());
    }
    QVector<QPointF> resultat;
    if (retenus == 0 || pas <= 0.0)
        return resultat;

    const int etapes = int(std::floor(fin / pas)) + 1;
    resultat.reserve(etapes);
    for (int j = 0; j < etapes; ++j) {
        const double t = j * pas;
        double somme = 0.0;
        int couvrent = 0;
        for (int i = premier; i < formes.size(); ++i) {
            double v = 0.0;
            if (valeurA(formes[i], valeurs(formes[i], canal), t, v)) {
                somme += v;
                ++couvrent;
            }
        }
        if (2 * couvrent < retenus)
            break;
        resultat.append(QPointF(t, somme / couvrent));
    }
    return resultat;
}

bool CycleMoyen::porteUnSignal(const QVector<FormeCycle>& formes, int nombre, Canal canal)
{
    for (int i = premierRetenu(formes, nombre); i < formes.size(); ++i) {
        const QVector<float>& v = valeurs(formes[i], canal);
        const auto [bas, haut] = std::minmax_element(v.cbegin(), v.cend());
        if (bas != v.cend() && *haut > *bas)
            return true;
    }
    return false;
}
