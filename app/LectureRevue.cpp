#include "LectureRevue.h"

#include "LecteurCapture.h"
#include "detecteurCycles.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>

namespace {

// A capture's lines hold numbers: among its first lines, most must (the
// batch tool's rule).
constexpr qint64 lignesExaminees = 1000;

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
    if (lire(*d)) {
        donnees = d;
        qDebug() << "revue:" << chemin << d->lignes << "lignes," << d->cycles.size() << "cycles en"
                 << chrono.elapsed() << "ms";
    }
}

bool LectureRevue::lire(DonneesRevue& d)
{
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
    d.delaiApnee = reglages.delaiApnee;
    d.decalageCo2 = reglages.decalageCo2;
    d.decalageO2 = reglages.decalageO2;

    // Fed exactly as the batch tool feeds its own, so that the two tables agree.
    detecteurCycles detecteur;
    detecteur.setFe(reglages.fe);
    detecteur.setDelaiApnee(reglages.delaiApnee);
    detecteur.setDecalages(reglages.decalageCo2, reglages.decalageO2);
    QObject::connect(&detecteur, &detecteurCycles::nouveauCycle,
                     [&d](const Cycle& c) { d.cycles.push_back(c); });

    std::vector<float> valeurs[3];
    const qint64 taille = qMax<qint64>(1, lecteur.taille());
    auto pasUneCapture = [&lecteur] {
        return 2 * lecteur.lignesSansNombre() > lecteur.lignesLues();
    };
    double champs[3];
    bool refuse = false;
    for (;;) {
        const qint64 ligne = lecteur.lignesLues();
        if (ligne % DonneesRevue::pasIndex == 0)
            d.debutsLignes.push_back(lecteur.position());
        if (!lecteur.lireLigne(champs))
            break;
        detecteur.ajouterEchantillon(champs[0], champs[1], champs[2]);
        for (int c = 0; c < 3; ++c)
            valeurs[c].push_back(float(champs[c]));
        const qint64 lues = ligne + 1;
        if (lues == lignesExaminees) {
            if (refuse || (lecteur.lignesLues() < lignesExaminees && pasUneCapture())) {
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
            if (annule.load())
                return false;
            emit progression(int(1000 * lecteur.position() / taille));
        }
    }
    if (refuse || (lecteur.lignesLues() < lignesExaminees && pasUneCapture())) {
        message = tr("%1 n'est pas un fichier de capture").arg(QFileInfo(chemin).fileName());
        return false;
    }
    if (lecteur.lignesLues() == 0) {
        message = tr("%1 ne contient aucun échantillon").arg(QFileInfo(chemin).fileName());
        return false;
    }
    d.lignes = lecteur.lignesLues();
    d.finFichier = lecteur.position();
    for (int c = 0; c < 3; ++c) {
        // A first estimate far too short leaves up to half the room unused.
        if (valeurs[c].capacity() > valeurs[c].size() + valeurs[c].size() / 8)
            valeurs[c].shrink_to_fit();
        d.canaux[c] = PyramideMinMax(std::move(valeurs[c]));
    }
    emit progression(1000);
    return !annule.load();
}
