#include "LectureRevue.h"

#include "LecteurCapture.h"
#include "detecteurCycles.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <condition_variable>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <deque>
#include <mutex>
#include <thread>

namespace {

// The breath detector on a thread of its own, fed the samples read in blocks
// through a queue: reading the text and finding the breaths go on side by
// side. The detector is the slower, so that the queue grows while the file is
// read; it holds up to about 100 MB of samples (four million lines) before the
// reading waits for the detector, so that the reading of a day-long file ends
// long before its breaths are all found. The samples reach the detector in
// their order and unchanged, as the batch tool feeds its own.
class AnalyseParallele
{
public:
    AnalyseParallele(const LectureRevue::Reglages& reglages, std::vector<Cycle>& sortie)
        : cycles(sortie)
    {
        bloc.reserve(tailleBloc);
        fil = std::thread([this, reglages] { analyser(reglages); });
    }
    ~AnalyseParallele() { terminer(); }

    void ajouter(const double champs[3])
    {
        bloc.insert(bloc.end(), champs, champs + 3);
        if (bloc.size() >= tailleBloc)
            envoyer();
    }
    // Sends the samples gathered so far, waiting for room in the queue.
    void envoyer()
    {
        if (bloc.empty())
            return;
        std::unique_lock<std::mutex> verrouille(verrou);
        attente.wait(verrouille, [this] { return file.size() < blocsMax; });
        file.push_back(std::move(bloc));
        verrouille.unlock();
        attente.notify_all();
        bloc = std::vector<double>();
        bloc.reserve(tailleBloc);
    }
    // Whether every sample sent has been analysed, waiting up to `ms`
    // milliseconds for it.
    bool attendre(int ms)
    {
        envoyer();
        std::unique_lock<std::mutex> verrouille(verrou);
        return attente.wait_for(verrouille, std::chrono::milliseconds(ms),
                                [this] { return file.empty() && !occupe; });
    }
    // Waits until every sample sent has been analysed.
    void terminer()
    {
        if (!fil.joinable())
            return;
        envoyer();
        {
            std::lock_guard<std::mutex> verrouille(verrou);
            fini = true;
        }
        attente.notify_all();
        fil.join();
    }
    // Drops what waits: the reading was given up.
    void abandonner()
    {
        {
            std::lock_guard<std::mutex> verrouille(verrou);
            file.clear();
            bloc.clear();
        }
        terminer();
    }

private:
    static constexpr size_t tailleBloc = 3 * 16384;
    static constexpr size_t blocsMax = 256;

    void analyser(const LectureRevue::Reglages& reglages)
    {
        // Made on this thread, so that its signals reach the lambda directly.
        detecteurCycles detecteur;
        reglages.appliquer(detecteur);
        QObject::connect(&detecteur, &detecteurCycles::nouveauCycle,
                         [this](const Cycle& c) { cycles.push_back(c); });
        for (;;) {
            std::unique_lock<std::mutex> verrouille(verrou);
            attente.wait(verrouille, [this] { return fini || !file.empty(); });
            if (file.empty())
                return;
            std::vector<double> valeurs = std::move(file.front());
            file.pop_front();
            occupe = true;
            verrouille.unlock();
            attente.notify_all();
            for (size_t i = 0; i + 2 < valeurs.size(); i += 3)
                detecteur.ajouterEchantillon(valeurs[i], valeurs[i + 1], valeurs[i + 2]);
            verrouille.lock();
            occupe = false;
            verrouille.unlock();
            attente.notify_all();
        }
    }

    std::vector<Cycle>& cycles; // written by the detector's thread until terminer()
    std::vector<double> bloc;   // on the reading thread
    std::mutex verrou;
    std::condition_variable attente;
    std::deque<std::vector<double>> file;
    bool fini = false;
    bool occupe = false; // the detector is on a block taken from the queue
    std::thread fil;
};

} // namespace

LectureRevue::LectureRevue(const QString& fichier, const Reglages& r, QObject* parent)
    : QThread(parent), chemin(fichier), reglages(r)
{
}

LectureRevue::~LectureRevue()
{
    annuler();
    wait();
}

void LectureRevue::run()
{
    QElapsedTimer chrono;
    chrono.start();
    auto d = std::make_shared<DonneesRevue>();
    if (lire(d)) {
        donnees = d;
        qDebug() << "revue:" << chemin << d->lignes << "lignes," << cyclesTrouves.size()
                 << "cycles en" << chrono.elapsed() << "ms";
    }
}

std::shared_ptr<const DonneesRevue> LectureRevue::canaux() const
{
    std::lock_guard<std::mutex> verrouille(verrou);
    return lus;
}

std::shared_ptr<const DonneesRevue> LectureRevue::resultat()
{
    if (donnees && donnees->cycles.empty() && !cyclesTrouves.empty())
        donnees->cycles = std::move(cyclesTrouves);
    return donnees;
}

bool LectureRevue::lire(const std::shared_ptr<DonneesRevue>& partage)
{
    DonneesRevue& d = *partage;
    LecteurCapture lecteur;
    if (!QFileInfo(chemin).isFile() || !lecteur.ouvrir(chemin)) {
        const QString raison = !QFileInfo::exists(chemin)    ? tr("fichier introuvable")
                               : !QFileInfo(chemin).isFile() ? tr("ce n'est pas un fichier")
                                                             : lecteur.erreur();
        message = tr("Impossible de lire %1 : %2").arg(QFileInfo(chemin).fileName(), raison);
        return false;
    }
    d.chemin = chemin;
    d.fe = reglages.fe;
    d.decalageCo2 = reglages.decalageCo2;
    d.decalageO2 = reglages.decalageO2;

    AnalyseParallele analyse(reglages, cyclesTrouves);

    std::vector<float> valeurs[3];
    const qint64 taille = qMax<qint64>(1, lecteur.taille());
    double champs[3];
    bool refuse = false;
    for (;;) {
        const qint64 ligne = lecteur.lignesLues();
        if (ligne % DonneesRevue::pasIndex == 0)
            d.debutsLignes.push_back(lecteur.position());
        if (!lecteur.lireLigne(champs))
            break;
        analyse.ajouter(champs);
        for (int c = 0; c < 3; ++c)
            valeurs[c].push_back(float(champs[c]));
        const qint64 lues = ligne + 1;
        if (lues == LecteurCapture::lignesExaminees) {
            if (lecteur.pasUneCapture()) {
                refuse = true;
                break;
            }
            // The room for the whole file, from the length of its first lines:
            // growing a day's channels by doubling would copy them all again.
            const qint64 estimees =
                qint64(double(taille) / qMax<qint64>(1, lecteur.position()) * lues * 1.02) + 1024;
            for (auto& v : valeurs)
                v.reserve(size_t(estimees));
        }
        if ((lues & 0xFFFF) == 0) {
            if (annule.load()) {
                analyse.abandonner();
                return false;
            }
            emit progression(int(1000 * lecteur.position() / taille));
        }
    }
    if (refuse ||
        (lecteur.lignesLues() < LecteurCapture::lignesExaminees && lecteur.pasUneCapture())) {
        analyse.abandonner();
        message = tr("%1 n'est pas un fichier de capture").arg(QFileInfo(chemin).fileName());
        return false;
    }
    if (lecteur.lignesLues() == 0) {
        message = tr("%1 ne contient aucun échantillon").arg(QFileInfo(chemin).fileName());
        return false;
    }
    d.lignes = lecteur.lignesLues();
    // The levels are built while the last blocks are analysed.
    analyse.envoyer();
    d.finFichier = lecteur.position();
    for (int c = 0; c < 3; ++c) {
        // A first estimate far too short leaves up to half the room unused.
        if (valeurs[c].capacity() > valeurs[c].size() + valeurs[c].size() / 8)
            valeurs[c].shrink_to_fit();
        d.canaux[c] = PyramideMinMax(std::move(valeurs[c]));
    }
    {
        // From here on this thread leaves the data alone.
        std::lock_guard<std::mutex> verrouille(verrou);
        lus = partage;
    }
    emit canauxLus();
    while (!analyse.attendre(10)) {
        if (annule.load()) {
            analyse.abandonner();
            return false;
        }
    }
    analyse.terminer();
#ifdef __GLIBC__
    // The queue's blocks, freed, go back to the system rather than stay with
    // the process until the next reading.
    malloc_trim(0);
#endif
    emit progression(1000);
    return !annule.load();
}
