#pragma once

#include "Cycle.h"
#include "FormeCycle.h"

#include <QVector>
#include <QWidget>
#include <vector>

class GraphiqueCycleMoyen;
class QDateTime;
class GraphiqueTendance;
class IndicateurRespiration;
class ModeleCycles;
class QPushButton;
class QSpinBox;
class QTableView;
class QTableWidget;
class QTimer;

// The averaged-data tab: every breath of the current capture or replay. The
// last breaths drawn over each other with their mean, the table of all the
// breaths with the mean and standard deviation of the last ones, the trends
// of the rate and of O2 over the whole acquisition, and the export of the
// table as CSV. Paused with the plots, by its own pause button or the first
// tab's, which are one switch: breaths that come meanwhile wait and are shown
// on resume. Nothing is drawn while the tab is hidden.
class OngletMoyennes : public QWidget
{
    Q_OBJECT

public:
    explicit OngletMoyennes(QWidget* parent = nullptr);

    // What the plots export shows when this tab is current.
    QWidget* zoneGraphiques() const { return graphiques; }
    ModeleCycles* modele() const { return cycles; }
    // Breaths averaged, drawn and counted in the statistics.
    int nombreMoyenne() const;
    // Mean rate of the last breaths averaged; not a number before any breath.
    double frequenceMoyenne() const;
    // Every breath received, shown or waiting behind a pause, oldest first.
    std::vector<Cycle> tousLesCycles() const;
    // Writes a breath table to a CSV file.
    static bool ecrireTable(const QString& nomFichier, const std::vector<Cycle>& cycles,
                            const QString& fichierSource);
    // Writes `cycles` as ecrireTable() does, away from the window's thread,
    // and tells the operator over `fenetre` when the file cannot be written.
    static void exporterTable(QWidget* fenetre, const QString& nomFichier,
                              const std::vector<Cycle>& cycles, const QString& fichierSource);
    static QString nomPropose(const QDateTime& moment);
    // The file dialogs' filters for CSV files.
    static QString filtresCsv();
    // A view of breaths as this tab shows them: whole rows, read only, quick
    // with a day's breaths.
    static void preparerTableau(QTableView* vue, ModeleCycles* modele);

signals:
    // The mean rate of the last `nombre` breaths.
    void frequenceChangee(double parMinute, int nombre);
    void delaiApneeChange(double secondes);
    // The tab's own pause and plots export, which the window shares with the
    // first tab's.
    void pauseDemandee(bool pause);
    void exportDemande();

public slots:
    // A new capture or replay of `fichier` begins: everything is forgotten.
    void reinitialiser(const QString& fichier);
    void ajouterCycle(const Cycle& cycle, const FormeCycle& forme);
    void setApnee(bool enApnee);
    void setApneeHorloge(bool enApnee);
    void setSilence(int secondes);
    void setPause(bool pause);
    void setEchelles(double co2Min, double co2Max, double o2Min, double o2Max, double fluxMin,
                     double fluxMax);
    void exporterCycles();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* creerCommandes();
    QWidget* creerGraphiques();
    QWidget* creerTableau();
    void montrer(const std::vector<Cycle>& nouveaux, const QVector<FormeCycle>& formesNouvelles);
    void planifierTrace();
    void tracer();
    void mettreAJourStatistiques();
    void mettreAJourColonnes();
    void actualiser();

    static constexpr int formesMax = 50;

    ModeleCycles* cycles;
    QVector<FormeCycle> formes; // the last formesMax breaths' samples
    std::vector<Cycle> attente; // breaths that came during the pause
    QVector<FormeCycle> formesEnAttente;
    QString fichierSource;
    bool enPause = false;
    bool aTracer = false;

    IndicateurRespiration* indicateur;
    QSpinBox* moyenneSur;
    QSpinBox* delaiApnee;
    QPushButton* exporter;
    QPushButton* pause;
    QPushButton* exporterGraphique;
    QWidget* graphiques;
    QList<GraphiqueCycleMoyen*> cyclesMoyens;
    GraphiqueTendance* tendanceFrequence;
    GraphiqueTendance* tendanceO2;
    QTableView* tableau;
    QTableWidget* statistiques;
    QTimer* minuterieTrace;
};
