#include "CsvCycles.h"

#include <QStringList>

namespace {

// QString::number ignores the locale: always ".".
QString secondes(double v)
{
    return QString::number(v, 'f', 3);
}

QString valeur(double v)
{
    return QString::number(v, 'g', 6);
}

// A text field quoted as RFC 4180 says when it holds the separator, a quote or
// a line break, which would otherwise shift the columns or split the line.
QString texte(const QString& valeur)
{
    if (!valeur.contains(QLatin1Char(';')) && !valeur.contains(QLatin1Char('"')) &&
        !valeur.contains(QLatin1Char('\r')) && !valeur.contains(QLatin1Char('\n')))
        return valeur;
    return QLatin1Char('"') + QString(valeur).replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

void ajouterMesure(QStringList& champs, const Cycle::Mesure& m)
{
    champs << valeur(m.max) << valeur(m.min) << valeur(m.moyenne);
}

} // namespace

QString CsvCycles::entete()
{
    return QStringLiteral(
        "debut_s;duree_s;frequence_min;inspiration_s;expiration_s;"
        "o2_max;o2_min;o2_moy;co2_max;co2_min;co2_moy;"
        "flux_max;flux_min;flux_moy;volume_inspire;volume_expire;fichier;apnee_s\n");
}

QString CsvCycles::ligne(const Cycle& cycle, const QString& fichier)
{
    QStringList champs;
    champs << secondes(cycle.debut) << secondes(cycle.duree)
           << QString::number(cycle.frequence, 'f', 2) << secondes(cycle.dureeInspiration)
           << secondes(cycle.dureeExpiration);
    ajouterMesure(champs, cycle.o2);
    ajouterMesure(champs, cycle.co2);
    ajouterMesure(champs, cycle.flux);
    if (cycle.fluxPresent)
        champs << valeur(cycle.volumeInspire) << valeur(cycle.volumeExpire);
    else
        champs << QString() << QString();
    champs << texte(fichier);
    champs << (cycle.apneePrecedente > 0.0 ? secondes(cycle.apneePrecedente) : QString());
    return champs.join(QLatin1Char(';')) + QLatin1Char('\n');
}
