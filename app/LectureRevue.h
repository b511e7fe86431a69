#pragma once

#include "DonneesRevue.h"

#include <QThread>
#include <atomic>
#include <memory>

// Reads a whole capture file on its own thread for the review: every line
// through the capture reader, every sample to a breath detector set as the
// live analysis and the batch tool are (so that the breaths are theirs), and
// into the channels' min/max levels. Refuses, with an operator message, a file
// that cannot be read or that is no capture by the batch tool's rule (among
// its first thousand lines, more than half hold no number). The destructor
// cancels a reading under way and waits for the thread.
class LectureRevue : public QThread
{
    Q_OBJECT

public:
    struct Reglages
    {
        double fe = 100.0;
        double delaiApnee = 20.0;
        double decalageCo2 = 0.0;
        double decalageO2 = 0.0;
    };

    LectureRevue(const QString& chemin, const Reglages& reglages, QObject* parent = nullptr);
    ~LectureRevue() override;

    void annuler() { annule.store(true); }
    bool annulee() const { return annule.load(); }
    // Once the thread has finished: the file read, or null with the reason
    // (empty when cancelled).
    std::shared_ptr<const DonneesRevue> resultat() const { return donnees; }
    QString erreur() const { return message; }

signals:
    // Thousandths of the file's bytes read.
    void progression(int pourMille);

protected:
    void run() override;

private:
    bool lire(DonneesRevue& d);

    QString chemin;
    Reglages reglages;
    std::atomic<bool> annule{false};
    std::shared_ptr<const DonneesRevue> donnees;
    QString message;
};
