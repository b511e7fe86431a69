#pragma once

#include <QAtomicInteger>
#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class AbstractSerial;
class FichierCapture;
class LecteurCapture;
class QTimer;
class SerialDeviceEnumerator;
class Tampon;
class calculPeriode;
class detecteurCycles;

// Feeds the three sample buffers (CO2, O2, Flux) and the period estimator from
// one of two sources: the instrument on a serial port, recorded as it comes into
// a new numbered capture file, or a capture file replayed at the sampling
// frequency. Keeps the list of serial ports for the operator and reports every
// failure as an operator message (type, text, code; code 1 means the operation
// was refused or abandoned), or as a warning when the acquisition goes on.
//
// The object lives on a thread of its own. Live acquisitions always run there:
// setCapture() called from another thread for a serial source is handed over
// to it. A replay may be started and stopped from the main window's thread; its
// file is then handed to the worker's thread, which alone reads it. Messages raised on a
// thread other than the worker's are emitted from the worker's thread, so a
// receiver connected with a blocking queued connection never waits on itself.
//
// `verrou` is only ever held for a few assignments: the serial port, the
// capture file and the replay file are read and written on the worker's thread
// with no lock held, so that a call from the main window never waits for I/O.
class acquisition : public QObject
{
    Q_OBJECT

public:
    explicit acquisition(QObject* parent = nullptr);
    ~acquisition() override;

    // Samples received since the worker was made, live or replayed; any thread.
    qint64 echantillonsRecus() const { return compteEchantillons.loadRelaxed(); }

signals:
    void newMessage(int type, QString message, int code);
    // A failure after which the acquisition goes on (a line setting refused, a
    // capture file that cannot be created or written): an operator message of
    // code 0. The worker does not wait for it to be taken, so that the port is
    // still read meanwhile: connect it queued, never blocking.
    void avertissement(int type, QString message);
    void newDeviceList(QStringList ports);
    // A capture or a replay starts, its breaths about to be found: `fichier`
    // is the name of the capture file recorded or replayed (the port's name
    // when no file could be created). Emitted on the worker's thread before
    // the first breath of that acquisition.
    void analyseCommencee(QString fichier);
    // The capture file of a live acquisition as it starts, by its absolute
    // path; empty when nothing is recorded (none could be created, or the disk
    // refused it since).
    void fichierEnregistre(QString chemin);
    // Where a replay is in its file, seconds from the start of the pass, and
    // the length of the file in seconds (estimated from its size until the
    // first loop); once a second.
    void positionRejeu(QString fichier, double secondes, double duree);
    // With automatic resumption on, the line under the values while a live
    // capture waits for its lost port (connexionSuspendue), then once it is
    // open again (connexionReprise); the capture goes on meanwhile.
    void connexionSuspendue(QString message);
    void connexionReprise(QString message);

public slots:
    void setCapture(bool start);
    void setSource(QString s);
    void setFrequence(double fe);
    // How many times faster than its sampling rate a replay plays (1 to 50);
    // taken at once by a replay under way.
    void setVitesseRejeu(double fois);
    void setTampons(Tampon* tamponCO2, Tampon* tamponO2, Tampon* tamponFlux,
                    calculPeriode* estimateur);
    // The breath detector, fed with the samples the buffers receive; its
    // results leave by its own signals, queued to receivers on other threads.
    // Ignored while capturing, as the other links.
    void setDetecteur(detecteurCycles* detecteurCycles);
    void askForDeviceList();
    // With it set, a port that hangs up during a live capture is waited for
    // instead of ending it: the capture file so far is closed, the port is
    // tried again every half second by the name it was opened by (a link is
    // followed anew each time), and the capture goes on into the next capture
    // file once it opens, the breath analysis across a gap. After 30 minutes,
    // or when it is cleared meanwhile, the capture ends as without it. Off by
    // default; any thread.
    void setRepriseAutomatique(bool reprendre);
    // Stops whatever runs, the capture file written and closed. For the main
    // window before it releases the buffers: invoke it with a blocking queued
    // connection, then quit the worker's thread.
    void arreter();

private slots:
    void lectureDonnees();
    void lectureDonneesFichier();
    void rythmerRejeu();
    void getNewDeviceList(QStringList ports);
    void connexionPerdue();
    void tenterReprise();

private:
    bool ouvrirPort(const QString& nom, bool signalerRefus);
    void demarrerDirect(const QString& src);
    void arreterDirect();
    void demarrerRejeu(const QString& fichier);
    void arreterRejeu();
    void creerFichierCapture();
    void ecrireCapture(bool tout);
    void fermerFichierCapture();
    QString cheminCapture() const; // the open capture file's, else empty
    bool repriseAttendue() const;  // the lost port is being tried again
    void attendreReprise(const QString& nom);
    void abandonnerReprise();
    void decoderEchantillons(const char* octets, qint64 nombre);
    void echecEcritureCapture();
    void decoderReste();
    void decoderBlocsComplets();
    void reinitialiserDetecteur();
    void commencerAnalyse(const QString& fichier);
    void signalerPositionRejeu();
    void signaler(int type, const QString& message, int code);
    void avertir(int type, const QString& message);
    void dansMonThread(std::function<void()> action);

    // Guards what both the worker's thread and the main window's thread touch:
    // the source, the frequency, the links and the running state. Never held
    // while a signal is emitted or a file is read or written.
    mutable QMutex verrou;

    bool capturing;
    double frequence;
    Tampon* CO2;
    Tampon* O2;
    Tampon* Flux;
    calculPeriode* Periode;
    AbstractSerial* port;
    QTimer* replayTimer;
    std::shared_ptr<LecteurCapture> replayReader; // the replay file, on the worker's thread
    QByteArray lastBlock;
    QString source;
    QStringList deviceList;
    SerialDeviceEnumerator* enumerator;
    std::unique_ptr<FichierCapture> capture; // the live acquisition's file, on the worker's thread
    detecteurCycles* detecteur = nullptr;

    bool replaying = false;       // the running acquisition is a replay
    QTimer* writeTimer = nullptr; // hands the capture lines to the kernel while live
    // Automatic resumption: asked for (any thread); then, on the worker's
    // thread only, the lost port's name, since when it is lost, whether it is
    // waited for, and whether the next capture file is due with the next bytes.
    QAtomicInt repriseAutomatique{0};
    QTimer* repriseTimer = nullptr;
    QString portPerdu;
    QElapsedTimer depuisPerte;
    bool fichierSuivantDu = false;
    QByteArray readBuffer; // bytes read and not decoded: a partial block between reads
    QAtomicInteger<qint64> compteEchantillons{0};
    // The replay's file name, frequency, lines of the pass so far and lines per
    // pass (0 until the first loop), on the worker's thread only.
    QString replayName;
    double replayFrequence = 100.0;
    qint64 replayLines = 0;
    qint64 replayLinesPerPass = 0;
    // The replay's clock and the lines its ticks have asked for since it started.
    QElapsedTimer replayHorloge;
    qint64 replayTics = 0;
    double replayVitesse = 1.0; // on the worker's thread
    QAtomicInteger<int> vitesseDemandee{1};
};
