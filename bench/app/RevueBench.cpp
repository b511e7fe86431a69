// The review tab on a long capture: a file of HEURES hours at 100 Hz (made
// once in the temporary folder, or --fichier), opened in a real window.
// Prints the time from « Ouvrir » to the first picture of the whole file and
// to the breath table complete, the memory the station took for it (resident
// size before and after, and the peak), and the time to redraw the plots
// after a zoom or a pan at every zoom level, from the whole file down to two
// seconds.
//
//   xvfb-run -a -s "-screen 0 1600x1000x24" ./revue_bench [--heures 24] [--fichier F]

#include "DonneesRevue.h"
#include "Fenetre.h"
#include "GraphiqueRevue.h"
#include "ModeleCycles.h"
#include "OngletRevue.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <qwt_plot_canvas.h>
#include <random>

namespace {

// Resident and peak resident size of the process, in MB.
double memoire(const char* champ)
{
    QFile statut(QStringLiteral("/proc/self/status"));
    if (!statut.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& ligne : statut.readAll().split('\n')) {
        if (ligne.startsWith(champ))
            return ligne.mid(int(qstrlen(champ))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Breathing at 10 to 20 breaths a minute, drifting, with noise: O2 near 50 to
// 60 (rising at inspiration) with six digits, CO2 opposite in whole units,
// Flux absent (0), so that a line is as long as an instrument's usually is
// (a day at 100 Hz is then about 110 MB).
bool fabriquer(const QString& nom, double heures)
{
    std::FILE* f = std::fopen(QFile::encodeName(nom).constData(), "w");
    if (!f)
        return false;
    std::mt19937 alea(3);
    std::normal_distribution<double> bruit(0.0, 0.05);
    const qint64 n = qint64(heures * 3600 * 100);
    double phase = 0.0;
    for (qint64 i = 0; i < n; ++i) {
        const double t = i / 100.0;
        const double frequence = (15.0 + 5.0 * std::sin(t / 600.0)) / 60.0;
        phase += 2 * M_PI * frequence / 100.0;
        const double o2 = 55.0 + 5.0 * std::sin(phase) + bruit(alea);
        const double co2 = 5.0 * (60.0 - o2);
        std::fprintf(f, "%.0f;%.6g;0\n", co2, o2);
    }
    return std::fclose(f) == 0;
}

double tempsCpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

double mediane(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption heuresOption("heures", "Heures de capture (24).", "H", "24");
    const QCommandLineOption fichierOption("fichier", "Capture à lire.", "F");
    options.addOption(heuresOption);
    options.addOption(fichierOption);
    options.process(application);
    const double heures = options.value(heuresOption).toDouble();
    QString chemin = options.value(fichierOption);
    if (chemin.isEmpty()) {
        chemin = QDir::temp().filePath(QStringLiteral("revue_bench_%1h.csv").arg(heures));
        if (!QFileInfo::exists(chemin)) {
            QTextStream(stderr) << "fabrication de " << chemin << "…\n" << Qt::flush;
            if (!fabriquer(chemin, heures))
                return 1;
        }
    }

    Fenetre fenetre;
    fenetre.resize(1600, 1000);
    fenetre.show();
    QTimer::singleShot(1000, &application, &QApplication::quit);
    application.exec();
    auto* onglet = fenetre.findChild<OngletRevue*>();
    fenetre.findChild<QTabWidget*>(QStringLiteral("tabWidget"))
        ->setCurrentWidget(onglet->parentWidget());
    QApplication::processEvents();
    const double avant = memoire("VmRSS:");

    QElapsedTimer chrono;
    double premiereImage = 0.0, tableau = 0.0;
    QObject::connect(onglet, &OngletRevue::canauxMontres, &application, [&] {
        // The plots are given their data before the signal; drawn here.
        for (auto* plot : onglet->findChildren<GraphiqueRevue*>())
            plot->canvas()->repaint();
        premiereImage = chrono.nsecsElapsed() * 1e-6;
    });
    QObject::connect(onglet, &OngletRevue::fichierOuvert, &application, [&] {
        // The table is filled before the signal.
        tableau = chrono.nsecsElapsed() * 1e-6;
        application.quit();
    });
    // The window's longest wait between two ticks of a 10 ms timer while the
    // file is read: how responsive it stays.
    QElapsedTimer battement;
    double attenteMax = 0.0;
    QTimer minuterie;
    QObject::connect(&minuterie, &QTimer::timeout, [&] {
        attenteMax = std::max(attenteMax, battement.nsecsElapsed() * 1e-6);
        battement.restart();
    });
    const double cpuAvant = tempsCpu();
    chrono.start();
    battement.start();
    minuterie.start(10);
    onglet->ouvrir(chemin);
    application.exec();
    minuterie.stop();
    const double cpu = tempsCpu() - cpuAvant;
    QApplication::processEvents();
    const double apres = memoire("VmRSS:");
    const double pic = memoire("VmHWM:");
    auto donnees = onglet->donnees();
    if (!donnees) {
        QTextStream(stderr) << "lecture impossible\n";
        return 1;
    }

    QTextStream sortie(stdout);
    sortie << "capture: " << QFileInfo(chemin).fileName() << ", " << donnees->lignes << " lignes, "
           << QFileInfo(chemin).size() / 1e6 << " Mo, " << onglet->modele()->rowCount()
           << " cycles\n";
    sortie << "ouverture -> tableau des cycles complet: " << tableau << " ms\n";
    sortie << "ouverture -> premiere image du fichier entier: " << premiereImage << " ms\n";
    sortie << "plus longue attente de la fenetre pendant la lecture: " << attenteMax << " ms\n";
    sortie << "temps processeur de l'ouverture (tous les fils): " << cpu << " s\n";
    sortie << "memoire: " << avant << " Mo avant, " << apres << " Mo apres (+" << apres - avant
           << " Mo), pic " << pic << " Mo\n";

    // Redraw after a zoom step and after pans at each zoom level.
    const double duree = donnees->duree();
    QList<GraphiqueRevue*> plots;
    for (auto* plot : onglet->findChildren<GraphiqueRevue*>())
        if (plot->isVisible())
            plots << plot;
    sortie << "largeur (s)  zoom med/max (ms)  deplacement med/max (ms)\n";
    for (double largeur : {duree, 3600.0, 600.0, 60.0, 10.0, 2.0}) {
        if (largeur > duree)
            continue;
        std::vector<double> zooms, deplacements;
        for (int i = 0; i < 20; ++i) {
            const double centre = duree * (i + 0.5) / 20.0;
            QElapsedTimer t;
            t.start();
            onglet->setVue(centre - largeur / 2, centre + largeur / 2);
            for (auto* plot : plots)
                plot->canvas()->repaint();
            zooms.push_back(t.nsecsElapsed() * 1e-6);
            t.restart();
            onglet->setVue(centre - largeur / 2 + largeur / 10,
                           centre + largeur / 2 + largeur / 10);
            for (auto* plot : plots)
                plot->canvas()->repaint();
            deplacements.push_back(t.nsecsElapsed() * 1e-6);
        }
        // What the last view of each level looked like, for a person to check.
        fenetre.grab().save(
            QDir::temp().filePath(QStringLiteral("revue_bench_%1s.png").arg(largeur)));
        sortie << QString::number(largeur, 'f', 0).rightJustified(10) << "  "
               << QString::number(mediane(zooms), 'f', 1) << " / "
               << QString::number(*std::max_element(zooms.begin(), zooms.end()), 'f', 1)
               << "          " << QString::number(mediane(deplacements), 'f', 1) << " / "
               << QString::number(*std::max_element(deplacements.begin(), deplacements.end()), 'f',
                                  1)
               << "\n";
    }

    // « Annuler » a third of a second into a new reading: how soon the tab is idle.
    auto* barre = onglet->findChild<QWidget*>(QStringLiteral("progressionRevue"));
    auto* annuler = onglet->findChild<QAbstractButton*>(QStringLiteral("btnAnnulerRevue"));
    onglet->ouvrir(chemin);
    QTimer::singleShot(300, &application, &QApplication::quit);
    application.exec();
    QElapsedTimer arret;
    arret.start();
    annuler->click();
    while (barre->isVisible() && arret.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    sortie << "annulation -> lecture arretee: " << arret.nsecsElapsed() * 1e-6 << " ms\n";
    return 0;
}
