#pragma once

#include "Cycle.h"
#include "Statistique.h"

#include <QAbstractTableModel>
#include <QVector>
#include <vector>

// The breaths of the current capture or replay as a table, newest first: one
// row per breath, one column per measure; a breath that ended an apnea is
// marked by its colour and the apnea's length. Every breath is kept, up to
// capaciteMax (the oldest then leave), for the table, the statistics and the
// export.
class ModeleCycles : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Colonne {
        Temps,
        Duree,
        Frequence,
        Inspiration,
        Expiration,
        O2Inspire,
        O2Expire,
        CO2Max,
        CO2Min,
        VolumeInspire,
        VolumeExpire,
        Apnee, // the apnea that ended when the breath started
        NombreColonnes
    };
    // More than a day of breathing at 100 breaths a minute.
    static constexpr int capaciteMax = 200000;

    explicit ModeleCycles(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Breaths in the order they were found.
    void ajouter(const std::vector<Cycle>& nouveaux);
    void vider();
    // In the order they were found, the oldest first.
    const std::vector<Cycle>& cycles() const { return tous; }

    // Whether a column has a signal behind it: CO2 and the volumes only once a
    // breath carried them.
    bool colonneSignificative(int colonne) const;
    static double valeur(const Cycle& cycle, int colonne);
    // "mm:ss", or "h:mm:ss" from the first hour on.
    static QString temps(double secondes);
    static QString texte(int colonne, double valeur);

    // Mean and standard deviation of a column over the last `nombre` breaths;
    // none for the apneas, which the last breaths need not have had.
    Statistique statistique(int colonne, int nombre) const;
    // The same over the breaths from `premier` to `fin`: the volumes of the
    // breaths that carried a flow, the apneas where there was one.
    static Statistique statistique(const Cycle* premier, const Cycle* fin, int colonne);

signals:
    // The CO2 or Flux channel was seen to carry a signal for the first time.
    void colonnesChangees();

private:
    const Cycle& aLaLigne(int ligne) const { return tous[tous.size() - 1 - size_t(ligne)]; }

    std::vector<Cycle> tous;
    bool co2Present = false;
    bool fluxPresent = false;
};
