#include "ModeleCycles.h"

#include <QColor>
#include <algorithm>
#include <cmath>

ModeleCycles::ModeleCycles(QObject* parent) : QAbstractTableModel(parent) {}

int ModeleCycles::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(tous.size());
}

int ModeleCycles::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : NombreColonnes;
}

QVariant ModeleCycles::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    const Cycle& cycle = aLaLigne(index.row());
    const int colonne = index.column();
    // The first breath after an apnea is marked red; after a lost line, grey:
    // the gap before it is the outage, not the subject's.
    if (role == Qt::BackgroundRole && cycle.apneePrecedente > 0.0)
        return QColor(255, 215, 215);
    if (role == Qt::BackgroundRole)
        return cycle.apresCoupure ? QVariant(QColor(225, 225, 225)) : QVariant();
    if (role == Qt::ToolTipRole && cycle.apneePrecedente > 0.0)
        return tr("Premier cycle après une apnée de %1 s")
            .arg(QString::number(cycle.apneePrecedente, 'f', 1));
    if (role == Qt::ToolTipRole && cycle.apresCoupure)
        return tr("Premier cycle après une coupure de la liaison avec l'instrument");
    if (role != Qt::DisplayRole)
        return QVariant();
    if ((colonne == VolumeInspire || colonne == VolumeExpire) && !cycle.fluxPresent)
        return QString();
    if (colonne == Apnee && !(cycle.apneePrecedente > 0.0))
        return QString();
    return texte(colonne, valeur(cycle, colonne));
}

QVariant ModeleCycles::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return QString::number(int(tous.size()) - section);
    // Names and units on two lines keep the columns narrow enough for a
    // 1280-pixel screen.
    switch (section) {
    case Temps:
        return tr("Temps");
    case Duree:
        return tr("Durée\n(s)");
    case Frequence:
        return tr("Fréquence\n(/min)");
    case Inspiration:
        return tr("Inspiration\n(s)");
    case Expiration:
        return tr("Expiration\n(s)");
    case O2Inspire:
        return tr("O2 inspiré\n(max)");
    case O2Expire:
        return tr("O2 expiré\n(min)");
    case CO2Max:
        return tr("CO2 télé-\nexpiratoire\n(max)");
    case CO2Min:
        return tr("CO2 inspiré\n(min)");
    case VolumeInspire:
        return tr("Volume\ninspiré");
    case VolumeExpire:
        return tr("Volume\nexpiré");
    case Apnee:
        return tr("Apnée\n(s)");
    default:
        return QVariant();
    }
}

void ModeleCycles::ajouter(const std::vector<Cycle>& nouveaux)
{
    if (nouveaux.empty())
        return;
    const int surplus = int(tous.size() + nouveaux.size()) - capaciteMax;
    if (surplus > 0) {
        // The oldest breaths are the last rows.
        const int retires = std::min(surplus, int(tous.size()));
        beginRemoveRows(QModelIndex(), int(tous.size()) - retires, int(tous.size()) - 1);
        tous.erase(tous.begin(), tous.begin() + retires);
        endRemoveRows();
    }
    const int ajoutes = std::min(int(nouveaux.size()), capaciteMax);
    beginInsertRows(QModelIndex(), 0, ajoutes - 1);
    bool colonnes = false;
    for (size_t i = nouveaux.size() - size_t(ajoutes); i < nouveaux.size(); ++i) {
        const Cycle& cycle = nouveaux[i];
        tous.push_back(cycle);
        if (!co2Present && cycle.co2.max > cycle.co2.min)
            co2Present = colonnes = true;
        if (!fluxPresent && cycle.fluxPresent)
            fluxPresent = colonnes = true;
    }
    endInsertRows();
    // Row numbers count from the first breath: all of them moved.
    emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
    if (colonnes)
        emit colonnesChangees();
}

void ModeleCycles::vider()
{
    beginResetModel();
    tous.clear();
    tous.shrink_to_fit();
    co2Present = fluxPresent = false;
    endResetModel();
    emit colonnesChangees();
}

bool ModeleCycles::colonneSignificative(int colonne) const
{
    switch (colonne) {
    case CO2Max:
    case CO2Min:
        return co2Present;
    case VolumeInspire:
    case VolumeExpire:
        return fluxPresent;
    default:
        return colonne >= 0 && colonne < NombreColonnes;
    }
}

double ModeleCycles::valeur(const Cycle& cycle, int colonne)
{
    switch (colonne) {
    case Temps:
        return cycle.debut;
    case Duree:
        return cycle.duree;
    case Frequence:
        return cycle.frequence;
    case Inspiration:
        return cycle.dureeInspiration;
    case Expiration:
        return cycle.dureeExpiration;
    case O2Inspire:
        return cycle.o2.max;
    case O2Expire:
        return cycle.o2.min;
    case CO2Max:
        return cycle.co2.max;
    case CO2Min:
        return cycle.co2.min;
    case VolumeInspire:
        return cycle.volumeInspire;
    case VolumeExpire:
        return cycle.volumeExpire;
    case Apnee:
        return cycle.apneePrecedente;
    default:
        return 0.0;
    }
}

QString ModeleCycles::temps(double secondes)
{
    const qint64 total = qint64(std::floor(std::max(secondes, 0.0)));
    const qint64 heures = total / 3600;
    const QString minutesSecondes = QStringLiteral("%1:%2")
                                        .arg((total / 60) % 60, 2, 10, QLatin1Char('0'))
                                        .arg(total % 60, 2, 10, QLatin1Char('0'));
    return heures > 0 ? QString::number(heures) + QLatin1Char(':') + minutesSecondes
                      : minutesSecondes;
}

QString ModeleCycles::texte(int colonne, double v)
{
    switch (colonne) {
    case Temps:
        return temps(v);
    case Duree:
    case Inspiration:
    case Expiration:
        return QString::number(v, 'f', 2);
    case Frequence:
    case Apnee:
        return QString::number(v, 'f', 1);
    case CO2Max:
    case CO2Min:
        // A gas fraction is never negative: below zero is the sensor's noise
        // around an empty channel, not a value.
        return v < 0.0 ? QStringLiteral("< 0") : QString::number(v, 'f', 2);
    default:
        return QString::number(v, 'f', 2);
    }
}

Statistique ModeleCycles::statistique(int colonne, int nombre) const
{
    // The apneas are not a measure of every breath: no mean over the others.
    if (colonne == Apnee)
        return Statistique::de({});
    const size_t depuis = tous.size() - std::min(tous.size(), size_t(std::max(nombre, 0)));
    return statistique(tous.data() + depuis, tous.data() + tous.size(), colonne);
}

Statistique ModeleCycles::statistique(const Cycle* premier, const Cycle* fin, int colonne)
{
    const bool volume = colonne == VolumeInspire || colonne == VolumeExpire;
    std::vector<double> valeurs;
    valeurs.reserve(size_t(fin - premier));
    for (const Cycle* c = premier; c != fin; ++c) {
        if (volume && !c->fluxPresent)
            continue;
        if (colonne == Apnee && c->apneePrecedente <= 0.0)
            continue;
        valeurs.push_back(valeur(*c, colonne));
    }
    return Statistique::de(valeurs);
}
