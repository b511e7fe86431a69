#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <QStringList>

class Graphique;
class IndicateurRespiration;
class OngletMoyennes;
class OngletRevue;
class QComboBox;
class QLabel;
class QThread;
class Tampon;
class acquisition;
class calculPeriode;
class detecteurCycles;
class Ui_Fenetre;
class VeilleDonnees;

// The station's main window: the form, the three channel plots, the period
// estimator and the acquisition worker on its own thread, and the slots that turn
// the operator's controls into calls on them. The slots are grouped by concern in
// Fenetre.cpp (assembly and wiring), FenetreAffichage.cpp (display settings and the
// values panel), FenetreExport.cpp (snapshot and export) and FenetreAcquisition.cpp
// (source, capture, replay and operator messages).
class Fenetre : public QMainWindow
{
    Q_OBJECT

public:
    explicit Fenetre(QWidget* parent = nullptr);
    ~Fenetre() override;

    // Ends the acquisition before the buffers it writes into are released: a
    // running capture is written and closed, the worker's thread is joined and a
    // running estimation is waited for. Called on close and by the destructor;
    // calling it again does nothing.
    void arreterAcquisition();
    // Captures live from `port` as soon as the first list of sources is shown,
    // as the operator typing it in « Source » and pressing « Capturer » would.
    void capturerDepuis(const QString& port);

protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void remplirEcran();
    void takeSnapshot();
    void setPauseActive(bool pauseActive);
    void setTendance();
    void setEchelles();
    void setDecalage();
    void setFrequence();
    void setPeriode(double periode);
    void setRespiration(bool visible);
    void modeCycles();
    void exportation();
    void rejouer(bool start);
    void showMessage(int type, QString message, int code);
    void getPortsSeriesList(QStringList ports);
    void capture(bool start);
    void montrerSilence(int secondes);
    void montrerEnregistrement(const QString& chemin);
    void montrerPositionRejeu(const QString& fichier, double secondes, double duree);
    void montrerConnexion(const QString& message, bool perdue);

private:
    void creerGraphiques();
    void alignerAxes();
    void connecterCommandes();
    void creerAnalyseCycles();
    void creerRevue();
    void reglerRevue();
    Graphique* graphique(const QString& canal) const;
    void afficherPeriode(const QString& valeur, int pluriel);
    void effacerPeriode();
    bool periodeSansObjet() const;
    void suivreApnee();
    void commencerAffichage();
    void montrerSource(const QString& texte);

    Ui_Fenetre* ui;
    acquisition* acq;
    QThread* threadAcq;
    calculPeriode* calcPeriode;
    QString sourceDemandee;     // captured from once the first list of sources is shown
    detecteurCycles* detecteur; // breath by breath, fed on the acquisition thread
    OngletMoyennes* ongletMoyennes = nullptr;
    OngletRevue* ongletRevue = nullptr;          // a whole capture file at once
    QComboBox* vitesseRejeu = nullptr;           // beside « Rejouer une capture »
    IndicateurRespiration* indicateur = nullptr; // rate and apnea, under the values
    VeilleDonnees* veille = nullptr;             // a live acquisition's data, on the clock
    QLabel* etat = nullptr;                      // in the status bar: the file recorded or replayed
    QLabel* ligneConnexion = nullptr;            // under the values: a lost port waited for
    QString sourceAvantRejeu;                    // what the source selector showed before a replay
    bool sourceRemplacee = false;                // and the replay's file shows in its place
    // Whether the last estimation found breathing in the spectrum; its period
    // is shown only then.
    bool respirationVisible = true;
    bool apneeDetectee = false;  // told by the breath detector
    bool apneeHorloge = false;   // told by the clock's watch
    bool silenceEnCours = false; // no sample for a while during a live capture
    QElapsedTimer effacement;    // since the period shown was last cleared
    bool pauseActive;
    double periode;
    QDateTime momentInstantane; // when the pause began
    // The source of what the plots show, as the printed caption names it.
    QString sourceAffichee;
    QHash<QString, Graphique*> graphiques;
    Tampon* tamponCO2;
    Tampon* tamponO2;
    Tampon* tamponFlux;
    QList<Qt::GlobalColor> couleurs;
    // Set once the window has begun to stop the acquisition: the worker's last
    // messages and device lists are taken without showing them.
    bool fermetureEnCours = false;
};
