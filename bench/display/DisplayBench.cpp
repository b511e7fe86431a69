// Feeds three plots from a thread at a fixed rate per channel and reports the
// process CPU time per second of display, for three ways of showing them:
//   floor        a bare 25 ms timer and the feeding thread, nothing drawn;
//   incremental  the Graphique plots, painting only new segments;
//   replot       plain plots on the same buffers, fully replotted every 25 ms.
// A fourth mode times whole redraws with the trend on:
//   trend        three Graphique plots showing 10 sweeps each (9 kept and the
//                live one, full), filled at once rather than in real time; it
//                times plain replots, a y scale change, the end of a sweep and
//                a resume after a pause (median and max, per plot and for the
//                three plots of one change).
// Without --mode it runs every mode at 100 Hz and 1000 Hz, and the trend at
// 100 Hz over 30 s and 120 s and at 1000 Hz over 120 s, each in a child
// process so that the figures do not mix, and prints a table.
//
//   xvfb-run -a -s "-screen 0 1600x1000x24" ./display_bench [--duree S] [--frequence F]
//       [--mode trend --fenetre S --tours N]

#include "Courbe.h"
#include "Graphique.h"
#include "Tampon.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QPen>
#include <QProcess>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <memory>
#include <qwt_plot_canvas.h>
#include <qwt_plot_grid.h>
#include <thread>
#include <vector>

namespace {

const QList<Qt::GlobalColor> palette = {Qt::darkBlue, Qt::darkCyan, Qt::darkMagenta};
// The main window's trend colours.
const QList<Qt::GlobalColor> paletteTendance = {
    Qt::darkBlue, Qt::darkCyan, Qt::darkMagenta, Qt::darkYellow, Qt::darkGreen,
    Qt::darkRed,  Qt::black,    Qt::blue,        Qt::magenta,    Qt::green};
const QStringList canaux = {"CO2", "O2", "Flux"};
constexpr double largeurAxe = 10; // seconds of the x axis, as the main window sets it
constexpr int echauffementMs = 1000;

double tempsCpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Appends one value per period to every buffer, as the acquisition worker does.
class Alimentation
{
public:
    Alimentation(QList<Tampon*> cibles, double hertz) : tampons(cibles), frequence(hertz)
    {
        fil = std::thread([this] { boucle(); });
    }
    ~Alimentation()
    {
        arret = true;
        fil.join();
    }
    long ajoutes() const { return compte.load(); }

private:
    void boucle()
    {
        using namespace std::chrono;
        const auto periode = duration_cast<steady_clock::duration>(duration<double>(1 / frequence));
        auto prochain = steady_clock::now();
        long i = 0;
        while (!arret.load(std::memory_order_relaxed)) {
            const double t = i / frequence;
            for (int c = 0; c < tampons.size(); ++c) {
                tampons[c]->ajouterValeur(50 + 40 * std::sin(2 * M_PI * (t / 4 + c / 6.0)));
            }
            compte.store(++i);
            prochain += periode;
            std::this_thread::sleep_until(prochain);
        }
    }

    QList<Tampon*> tampons;
    double frequence;
    std::atomic<bool> arret{false};
    std::atomic<long> compte{0};
    std::thread fil;
};

// A plot that records, at every refresh tick, how many appended samples were
// still unpainted and how long the tick itself took.
class GraphiqueMesure : public Graphique
{
public:
    using Graphique::Graphique;

    bool mesurer = false;
    std::vector<int> retards; // unpainted samples at each tick, all curves
    std::vector<double> dureesTick;

    // One refresh tick, driven by hand.
    void tick()
    {
        QTimerEvent evenement(timerId);
        Graphique::timerEvent(&evenement);
    }

protected:
    void timerEvent(QTimerEvent* event) override
    {
        if (!mesurer || event->timerId() != timerId) {
            Graphique::timerEvent(event);
            return;
        }
        for (auto it = courbes.constBegin(); it != courbes.constEnd(); ++it) {
            const int n = static_cast<int>(it.value()->dataSize());
            const int traces = pointsTraces.value(it.key());
            retards.push_back(n >= traces ? n - traces : n);
        }
        QElapsedTimer chrono;
        chrono.start();
        Graphique::timerEvent(event);
        dureesTick.push_back(chrono.nsecsElapsed() * 1e-6);
    }
};

void habiller(QwtPlot* plot, Courbe* courbe)
{
    auto* grille = new QwtPlotGrid();
    grille->setPen(Qt::gray, 0, Qt::DotLine);
    grille->attach(plot);
    plot->setAxisScale(QwtPlot::yLeft, 0, 100);
    QPen stylo = courbe->pen();
    stylo.setWidth(2);
    stylo.setCapStyle(Qt::RoundCap);
    stylo.setJoinStyle(Qt::RoundJoin);
    courbe->setPen(stylo);
}

struct Statistiques
{
    double moyenne = 0;
    double maximum = 0;
};

template <typename T>
Statistiques statistiques(const std::vector<T>& valeurs, size_t debut, size_t fin)
{
    Statistiques s;
    if (fin <= debut) {
        return s;
    }
    double somme = 0;
    for (size_t i = debut; i < fin; ++i) {
        somme += valeurs[i];
        s.maximum = std::max<double>(s.maximum, valeurs[i]);
    }
    s.moyenne = somme / (fin - debut);
    return s;
}

int executerMode(const QString& mode, double frequence, double duree, const QString& ecran)
{
    QWidget fenetre;
    auto* disposition = new QVBoxLayout(&fenetre);
    QList<Tampon*> tampons;
    QList<GraphiqueMesure*> graphiques;
    QList<QwtPlot*> plots;
    QTimer minuterie;
    minuterie.setInterval(25);

    for (const QString& canal : canaux) {
        auto* tampon = new Tampon(1 / frequence, largeurAxe);
        tampons << tampon;
        auto* courbe = new Courbe(canal, tampon, palette);
        if (mode == "incremental") {
            auto* plot = new GraphiqueMesure({courbe});
            habiller(plot, courbe);
            plot->setAxisScale(QwtPlot::xBottom, 0, largeurAxe);
            plot->setAxisScale(QwtPlot::yLeft, 0, 100);
            graphiques << plot;
            plots << plot;
        } else if (mode == "replot") {
            auto* plot = new QwtPlot();
            plot->setCanvasBackground(QBrush(Qt::white));
            habiller(plot, courbe);
            plot->setAxisScale(QwtPlot::xBottom, 0, largeurAxe);
            courbe->attach(plot);
            plots << plot;
        } else {
            delete courbe;
        }
    }
    if (mode == "floor") {
        // Nothing shown: the buffers live on their own.
        tampons.clear();
        for (int c = 0; c < canaux.size(); ++c) {
            tampons << new Tampon(1 / frequence, largeurAxe);
        }
    }
    for (QwtPlot* plot : plots) {
        disposition->addWidget(plot);
    }
    QElapsedTimer horlogeReplot;
    std::vector<double> intervallesReplot;
    QObject::connect(&minuterie, &QTimer::timeout, [&] {
        if (mode == "replot") {
            if (horlogeReplot.isValid()) {
                intervallesReplot.push_back(horlogeReplot.nsecsElapsed() * 1e-6);
            }
            horlogeReplot.start();
            for (QwtPlot* plot : plots) {
                plot->replot();
            }
        }
    });
    if (!plots.isEmpty()) {
        fenetre.resize(1200, 900);
        fenetre.show();
    }
    minuterie.start();
    for (GraphiqueMesure* plot : graphiques) {
        plot->capture(true);
    }

    auto alimentation = std::make_unique<Alimentation>(tampons, frequence);
    QTimer::singleShot(echauffementMs, [] { QCoreApplication::exit(0); });
    QApplication::exec();

    for (GraphiqueMesure* plot : graphiques) {
        plot->mesurer = true;
    }
    intervallesReplot.clear();
    const long ajoutesDebut = alimentation->ajoutes();
    const double cpuDebut = tempsCpu();
    QElapsedTimer mur;
    mur.start();
    QTimer::singleShot(static_cast<int>(duree * 1000), [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const double secondes = mur.nsecsElapsed() * 1e-9;
    const double cpu = tempsCpu() - cpuDebut;
    const long ajoutes = alimentation->ajoutes() - ajoutesDebut;
    alimentation.reset();
    if (!ecran.isEmpty() && !plots.isEmpty()) {
        // What is on the X screen, direct painting included.
        QGuiApplication::primaryScreen()->grabWindow(fenetre.winId()).save(ecran);
    }

    QTextStream sortie(stdout);
    sortie << "mode=" << mode << " frequence=" << frequence << " secondes=" << secondes
           << " cpu=" << cpu << " pourcent=" << 100 * cpu / secondes
           << " echantillons_par_s=" << ajoutes / secondes;
    if (!graphiques.isEmpty()) {
        std::vector<int> retards;
        std::vector<double> durees;
        for (GraphiqueMesure* plot : graphiques) {
            retards.insert(retards.end(), plot->retards.begin(), plot->retards.end());
            durees.insert(durees.end(), plot->dureesTick.begin(), plot->dureesTick.end());
        }
        // Unpainted samples at the start of each tick, first half against
        // second half of the run: a lag that grows shows up as a higher second
        // half.
        const size_t moitie = graphiques.first()->retards.size() / 2;
        const auto& r = graphiques.first()->retards;
        const Statistiques debut = statistiques(r, 0, moitie);
        const Statistiques fin = statistiques(r, moitie, r.size());
        const Statistiques tout = statistiques(retards, 0, retards.size());
        const Statistiques tick = statistiques(durees, 0, durees.size());
        sortie << " ticks_par_s=" << graphiques.first()->dureesTick.size() / secondes
               << " retard_moyen_ms=" << 1000 * tout.moyenne / frequence
               << " retard_max_ms=" << 1000 * tout.maximum / frequence
               << " retard_moyen_debut_ms=" << 1000 * debut.moyenne / frequence
               << " retard_moyen_fin_ms=" << 1000 * fin.moyenne / frequence
               << " tick_moyen_ms=" << tick.moyenne << " tick_max_ms=" << tick.maximum;
    }
    if (mode == "replot") {
        const Statistiques intervalles =
            statistiques(intervallesReplot, 0, intervallesReplot.size());
        sortie << " replots_par_s=" << (intervallesReplot.size() + 1) / secondes
               << " intervalle_moyen_ms=" << intervalles.moyenne
               << " intervalle_max_ms=" << intervalles.maximum;
    }
    sortie << "\n";
    qDeleteAll(plots);
    if (mode == "floor") {
        qDeleteAll(tampons);
    }
    return 0;
}

double mediane(std::vector<double> valeurs)
{
    if (valeurs.empty()) {
        return 0;
    }
    std::sort(valeurs.begin(), valeurs.end());
    return valeurs[valeurs.size() / 2];
}

double millisecondes(const QElapsedTimer& chrono)
{
    return chrono.nsecsElapsed() * 1e-6;
}

double tempsCpuFil()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

// Milliseconds of each plot's call and of the three plots' calls together, on
// the wall clock and in CPU time of the GUI thread (which a loaded machine
// does not stretch).
struct Durees
{
    std::vector<double> parGraphique, parTour, cpuParGraphique;

    void mesurer(const QList<GraphiqueMesure*>& graphiques,
                 const std::function<void(GraphiqueMesure*)>& action)
    {
        QElapsedTimer tour;
        tour.start();
        for (GraphiqueMesure* plot : graphiques) {
            QElapsedTimer chrono;
            chrono.start();
            const double cpu = tempsCpuFil();
            action(plot);
            parGraphique.push_back(millisecondes(chrono));
            cpuParGraphique.push_back(tempsCpuFil() - cpu);
        }
        parTour.push_back(millisecondes(tour));
    }

    void ecrire(QTextStream& sortie, const QString& nom) const
    {
        auto maximum = [](const std::vector<double>& v) {
            return statistiques(v, 0, v.size()).maximum;
        };
        sortie << " " << nom << "_median_ms=" << mediane(parGraphique) << " " << nom
               << "_max_ms=" << maximum(parGraphique) << " " << nom
               << "_cpu_median_ms=" << mediane(cpuParGraphique) << " " << nom
               << "_cpu_max_ms=" << maximum(cpuParGraphique) << " " << nom
               << "_trois_median_ms=" << mediane(parTour) << " " << nom
               << "_trois_max_ms=" << maximum(parTour);
    }
};

// A breathing-like wave with a little noise, a different phase per channel
// and per sweep, so that the sweeps lie apart and each pixel column of a long
// sweep spans a few pixels as a real signal does.
double valeurTendance(long i, double frequence, int canal, int balayage)
{
    const double t = i / frequence;
    const double bruit = ((i * 2654435761u + canal * 40503u + balayage * 9973u) % 1000) / 1000.0;
    return 50 + 30 * std::sin(2 * M_PI * (t / 4 + canal / 6.0 + balayage / 10.0)) + (bruit - 0.5) +
           2 * balayage;
}

// Fills every buffer with one whole sweep and paints it.
void remplirBalayage(const QList<Tampon*>& tampons, const QList<GraphiqueMesure*>& graphiques,
                     long points, double frequence, int balayage)
{
    for (int c = 0; c < tampons.size(); ++c) {
        for (long i = 0; i < points; ++i) {
            tampons[c]->ajouterValeur(valeurTendance(i, frequence, c, balayage));
        }
    }
    for (GraphiqueMesure* plot : graphiques) {
        plot->tick();
    }
}

int executerTendance(double frequence, double fenetreS, int tours, const QString& ecran)
{
    constexpr int nombreCourbes = 10;
    QWidget fenetre;
    auto* disposition = new QVBoxLayout(&fenetre);
    QList<Tampon*> tampons;
    QList<GraphiqueMesure*> graphiques;
    for (const QString& canal : canaux) {
        auto* tampon = new Tampon(1 / frequence, fenetreS);
        tampons << tampon;
        auto* courbe = new Courbe(canal, tampon, paletteTendance);
        auto* plot = new GraphiqueMesure({courbe});
        habiller(plot, courbe);
        plot->setAxisScale(QwtPlot::xBottom, 0, fenetreS);
        plot->setAxisScale(QwtPlot::yLeft, 0, 100);
        plot->setTendance(nombreCourbes);
        disposition->addWidget(plot);
        graphiques << plot;
    }
    fenetre.resize(1200, 900);
    fenetre.show();
    QElapsedTimer attente;
    attente.start();
    while (attente.elapsed() < 500) {
        QCoreApplication::processEvents();
    }
    const long points = static_cast<long>(std::ceil(fenetreS * frequence - 1e-9));

    // Ten sweeps: each one past the first starts with a sample that wraps the
    // buffers, and the tick that sees it ends the previous sweep (a replot
    // of the sweeps kept so far).
    Durees finBalayage;
    for (int balayage = 0; balayage < nombreCourbes; ++balayage) {
        if (balayage > 0) {
            for (int c = 0; c < tampons.size(); ++c) {
                tampons[c]->ajouterValeur(valeurTendance(0, frequence, c, balayage));
            }
            finBalayage.mesurer(graphiques, [](GraphiqueMesure* plot) { plot->tick(); });
            for (int c = 0; c < tampons.size(); ++c) {
                for (long i = 1; i < points; ++i) {
                    tampons[c]->ajouterValeur(valeurTendance(i, frequence, c, balayage));
                }
            }
            for (GraphiqueMesure* plot : graphiques) {
                plot->tick();
            }
        } else {
            remplirBalayage(tampons, graphiques, points, frequence, balayage);
        }
        QCoreApplication::processEvents();
    }

    Durees replots;
    for (int tour = 0; tour < tours; ++tour) {
        replots.mesurer(graphiques, [](GraphiqueMesure* plot) { plot->replot(); });
        QCoreApplication::processEvents();
    }
    if (!ecran.isEmpty()) {
        QGuiApplication::primaryScreen()->grabWindow(fenetre.winId()).save(ecran);
    }
    // A keystroke in a scale box: the y scale of a plot changes.
    Durees echelles;
    for (int tour = 0; tour < tours; ++tour) {
        const double max = tour % 2 == 0 ? 110 : 100;
        echelles.mesurer(graphiques, [max](GraphiqueMesure* plot) {
            plot->setAxisScale(QwtPlot::yLeft, 0, max);
        });
        QCoreApplication::processEvents();
    }
    // A resume ends the live sweep (its buffers start again empty): each round
    // refills it first, so that the resumes go round the trend colours.
    Durees reprises;
    for (int tour = 0; tour < tours; ++tour) {
        remplirBalayage(tampons, graphiques, points, frequence, tour);
        for (GraphiqueMesure* plot : graphiques) {
            plot->setPause(true);
        }
        QCoreApplication::processEvents();
        reprises.mesurer(graphiques, [](GraphiqueMesure* plot) { plot->setPause(false); });
        QCoreApplication::processEvents();
    }

    QTextStream sortie(stdout);
    sortie << "mode=trend frequence=" << frequence << " fenetre_s=" << fenetreS
           << " courbes=" << nombreCourbes << " points_par_balayage=" << points
           << " tours=" << tours;
    replots.ecrire(sortie, "replot");
    echelles.ecrire(sortie, "echelle");
    finBalayage.ecrire(sortie, "fin_balayage");
    reprises.ecrire(sortie, "reprise");
    sortie << "\n";
    return 0;
}

QMap<QString, QString> lireResultat(const QString& ligne)
{
    QMap<QString, QString> valeurs;
    for (const QString& champ : ligne.split(' ', Qt::SkipEmptyParts)) {
        const int egal = champ.indexOf('=');
        if (egal > 0) {
            valeurs.insert(champ.left(egal), champ.mid(egal + 1));
        }
    }
    return valeurs;
}

int executerTout(const QStringList& frequences, double duree, int tours)
{
    QTextStream sortie(stdout);
    sortie << "Three plots, " << duree << " s per run, process CPU time per second of display\n";
    for (const QString& frequence : frequences) {
        QMap<QString, QMap<QString, QString>> resultats;
        for (const QString& mode : QStringList{"floor", "incremental", "replot"}) {
            QProcess enfant;
            enfant.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            enfant.start(
                QCoreApplication::applicationFilePath(),
                {"--mode", mode, "--frequence", frequence, "--duree", QString::number(duree)});
            enfant.waitForFinished(static_cast<int>((duree + 60) * 1000));
            const QString ligne = QString::fromUtf8(enfant.readAllStandardOutput()).trimmed();
            sortie << "  " << ligne << "\n";
            sortie.flush();
            resultats.insert(mode, lireResultat(ligne));
        }
        const double plancher = resultats["floor"]["pourcent"].toDouble();
        const double incremental = resultats["incremental"]["pourcent"].toDouble();
        const double replot = resultats["replot"]["pourcent"].toDouble();
        sortie << QString("%1 Hz: floor %2 %, incremental %3 %, full replot %4 %, "
                          "replot/incremental %5x, mean lag %6 ms (first half %7, second half "
                          "%8, max %9)\n")
                      .arg(frequence)
                      .arg(plancher, 0, 'f', 2)
                      .arg(incremental, 0, 'f', 2)
                      .arg(replot, 0, 'f', 2)
                      .arg(incremental > 0 ? replot / incremental : 0, 0, 'f', 1)
                      .arg(resultats["incremental"]["retard_moyen_ms"].toDouble(), 0, 'f', 1)
                      .arg(resultats["incremental"]["retard_moyen_debut_ms"].toDouble(), 0, 'f', 1)
                      .arg(resultats["incremental"]["retard_moyen_fin_ms"].toDouble(), 0, 'f', 1)
                      .arg(resultats["incremental"]["retard_max_ms"].toDouble(), 0, 'f', 1);
        sortie.flush();
    }
    sortie << "Trend of 10 sweeps on three plots, milliseconds per redraw (median / max per "
              "plot, wall clock and GUI thread CPU; median / max of the three plots of one "
              "change)\n";
    const QList<QPair<QString, QString>> tendances = {
        {"100", "30"}, {"100", "120"}, {"1000", "120"}};
    for (const auto& reglage : tendances) {
        QProcess enfant;
        enfant.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        enfant.start(QCoreApplication::applicationFilePath(),
                     {"--mode", "trend", "--frequence", reglage.first, "--fenetre", reglage.second,
                      "--tours", QString::number(tours)});
        enfant.waitForFinished(30 * 60 * 1000);
        const QString ligne = QString::fromUtf8(enfant.readAllStandardOutput()).trimmed();
        sortie << "  " << ligne << "\n";
        const QMap<QString, QString> r = lireResultat(ligne);
        QStringList colonnes;
        for (const QString& mesure : QStringList{"replot", "echelle", "fin_balayage", "reprise"}) {
            colonnes << QString("%1 %2 / %3 (CPU %4 / %5; three plots %6 / %7)")
                            .arg(mesure)
                            .arg(r[mesure + "_median_ms"].toDouble(), 0, 'f', 1)
                            .arg(r[mesure + "_max_ms"].toDouble(), 0, 'f', 1)
                            .arg(r[mesure + "_cpu_median_ms"].toDouble(), 0, 'f', 1)
                            .arg(r[mesure + "_cpu_max_ms"].toDouble(), 0, 'f', 1)
                            .arg(r[mesure + "_trois_median_ms"].toDouble(), 0, 'f', 1)
                            .arg(r[mesure + "_trois_max_ms"].toDouble(), 0, 'f', 1);
        }
        sortie << QString("%1 Hz, %2 s: ").arg(reglage.first, reglage.second) << colonnes.join(", ")
               << "\n";
        sortie.flush();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption({"duree", "Seconds measured per run (default 20).", "secondes", "20"});
    options.addOption({"frequence",
                       "Samples per second per channel; repeatable (default 100 and "
                       "1000).",
                       "hertz"});
    options.addOption({"mode", "Run one mode only: floor, incremental, replot or trend.", "mode"});
    options.addOption({"fenetre", "With --mode trend: seconds of the time axis (default 120).",
                       "secondes", "120"});
    options.addOption(
        {"tours", "Trend mode: redraws timed per measure (default 20).", "nombre", "20"});
    options.addOption(
        {"ecran", "With --mode: save the screen of the plots to this PNG at the end.", "fichier"});
    options.process(application);

    const double duree = options.value("duree").toDouble();
    QStringList frequences = options.values("frequence");
    if (frequences.isEmpty()) {
        frequences = QStringList{"100", "1000"};
    }
    const int tours = options.value("tours").toInt();
    if (!(duree > 0)) {
        QTextStream(stderr) << "--duree must be a positive number of seconds\n";
        return 2;
    }
    if (options.isSet("mode")) {
        const QString mode = options.value("mode");
        if (mode == "trend") {
            const double fenetreS = options.value("fenetre").toDouble();
            if (!(fenetreS > 0) || tours < 1) {
                QTextStream(stderr) << "--fenetre and --tours must be positive\n";
                return 2;
            }
            return executerTendance(frequences.first().toDouble(), fenetreS, tours,
                                    options.value("ecran"));
        }
        if (mode != "floor" && mode != "incremental" && mode != "replot") {
            QTextStream(stderr) << "unknown mode " << mode << "\n";
            return 2;
        }
        return executerMode(mode, frequences.first().toDouble(), duree, options.value("ecran"));
    }
    return executerTout(frequences, duree, tours);
}
