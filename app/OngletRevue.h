#pragma once

#include "LectureRevue.h"

#include <QPair>
#include <QWidget>
#include <memory>
#include <vector>

struct Cycle;
struct DonneesRevue;
class GraphiqueCycleMoyen;
class GraphiqueRevue;
class ModeleCycles;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class QTableWidget;
class QTimer;

// The review tab: a whole capture file at once. « Ouvrir une capture… » reads
// it in the background (progress, cancel, refusal of what is no capture);
// then the overview of the breathing channel over the whole file with the
// stretch in view highlighted (drag it), the three channels stacked over that
// stretch on one h:mm:ss axis (a constant one folded away), every breath of
// the file in the averaged tab's table, onsets marked and apneas shaded. The
// wheel zooms around the pointer, a drag pans, a double click shows the whole
// file, a row of the table brings its breath to the middle; a shift-drag
// selects a stretch, whose breaths are counted, averaged and drawn over each
// other, and which « Exporter la sélection » writes out as a capture with its
// breath table.
class OngletRevue : public QWidget
{
    Q_OBJECT

public:
    explicit OngletRevue(QWidget* parent = nullptr);
    ~OngletRevue() override;

    // What « Exporter graphique » shows, and its caption: the file and the
    // stretch in view.
    QWidget* zoneGraphiques() const { return graphiques; }
    QString legende() const;
    ModeleCycles* modele() const { return cycles; }
    std::shared_ptr<const DonneesRevue> donnees() const { return revue; }
    // The stretch in view and the selection, in seconds from the file's start.
    QPair<double, double> vue() const { return {vueDebut, vueFin}; }
    QPair<double, double> selection() const { return {selDebut, selFin}; }
    // The lines of the file the selection holds, [first, end).
    QPair<qint64, qint64> lignesSelection() const;
    std::vector<Cycle> cyclesSelection() const;

signals:
    void exportDemande();
    // Once the channels of a file being read are drawn, before its breaths
    // are all found.
    void canauxMontres(const QString& chemin);
    // Once a file is read and shown, its breaths in the table.
    void fichierOuvert(const QString& chemin);

public slots:
    void ouvrir(const QString& chemin);
    void setReglages(const LectureRevue::Reglages& nouveaux);
    void setEchelles(double co2Min, double co2Max, double o2Min, double o2Max, double fluxMin,
                     double fluxMax);
    void setVue(double debut, double fin);
    void setSelection(double debut, double fin);
    void centrerCycle(int ligne);

protected:
    bool eventFilter(QObject* objet, QEvent* evenement) override;

private:
    QWidget* creerCommandes();
    QWidget* creerGraphiques();
    QWidget* creerBas();
    void choisirFichier();
    void canauxLus();
    void lectureFinie();
    void montrer(std::shared_ptr<const DonneesRevue> donnees);
    void montrerCycles();
    void montrerNom();
    void ajusterEchelles();
    void aligner();
    void zoomer(double centre, double facteur);
    void montrerSelection();
    void exporterSelection();
    void exporterCycles();
    bool souris(GraphiqueRevue* plot, QEvent* evenement);
    void suivre(GraphiqueRevue* plot, int x);

    LectureRevue::Reglages reglages;
    std::unique_ptr<LectureRevue> lecture;
    std::shared_ptr<const DonneesRevue> revue;
    // Whether the breaths of `revue` are all found; while they are not, the
    // file shown before, to show again if the reading is given up.
    bool cyclesComplets = true;
    std::shared_ptr<const DonneesRevue> precedente;
    QString cheminLu; // read again when the detector's settings change
    double echelles[3][2] = {{-20, 70}, {45, 65}, {-15, 15}};
    double vueDebut = 0.0, vueFin = 1.0;
    double selDebut = 0.0, selFin = 0.0;

    // The mouse on a plot: panning from where it was pressed, or selecting.
    enum class Geste { Aucun, Deplacement, Selection, Apercu };
    Geste geste = Geste::Aucun;
    double ancreTemps = 0.0;
    int ancreX = 0;
    double ancreDebut = 0.0, ancreFin = 0.0;

    QPushButton* ouvrirBouton;
    QProgressBar* progression;
    QPushButton* annuler;
    QLabel* fichier;
    QCheckBox* echellesAuto;
    QPushButton* exporterSelectionBouton;
    QPushButton* exporterCyclesBouton;
    QPushButton* exporterGraphique;
    QWidget* graphiques;
    GraphiqueRevue* apercu;
    QList<GraphiqueRevue*> canaux;
    QLabel* replies;
    ModeleCycles* cycles;
    QTableView* tableau;
    QLabel* resumeSelection;
    QTableWidget* statistiques;
    QList<GraphiqueCycleMoyen*> cyclesMoyens;
    QTimer* relecture;
};
