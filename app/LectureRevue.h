#pragma once

#include "DonneesRevue.h"
#include "ReglagesDetecteur.h"

#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>

// Reads a whole capture file on its own thread for the review: every line
// through the capture reader, every sample to a breath detector set as the
// live analysis and the batch tool are (so that the breaths are theirs), and
// into the channels' min/max levels. The channels are given out as soon as
// the file is read, while the detector may still be finding the last breaths
// (it is the slower of the two), so that they can be drawn at once. Refuses, with an operator
// message, a file that cannot be read or that is no capture by the batch tool's rule (among its
// first thousand lines, more than half hold no number). The destructor cancels a reading under way
// and waits for the thread.
class LectureRevue : public QThread
{
    Q_OBJECT

public:
    using Reglages = ReglagesDetecteur;

    LectureRevue(const QString& chemin, const Reglages& reglages, QObject* parent = nullptr);
    ~LectureRevue() override;

    void annuler() { annule.store(true); }
    bool annulee() const { return annule.load(); }
    // Once canauxLus() is sent: the file read, without its breaths yet (what
    // the thread no longer changes); null before.
    std::shared_ptr<const DonneesRevue> canaux() const;
    // Once the thread has finished: the file read with all its breaths, or
    // null with the reason (empty when cancelled). Called on the thread that
    // reads the data given out by canaux(), since it adds the breaths to them.
    std::shared_ptr<const DonneesRevue> resultat();
    QString erreur() const { return message; }

signals:
    // Thousandths of the file's bytes read.
    void progression(int pourMille);
    // The channels are ready: see canaux().
    void canauxLus();

protected:
    void run() override;

private:
    bool lire(const std::shared_ptr<DonneesRevue>& d);

    QString chemin;
    Reglages reglages;
    std::atomic<bool> annule{false};
    mutable std::mutex verrou;         // over lus
    std::shared_ptr<DonneesRevue> lus; // given out by canaux() once read
    std::shared_ptr<DonneesRevue> donnees;
    std::vector<Cycle> cyclesTrouves; // the detector's, until resultat()
    QString message;
};
