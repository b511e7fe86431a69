// Feeds three plots from a thread at a fixed rate per channel and reports the
// process CPU time per second of display, for three ways of showing them:
//   floor        a bare 25 ms timer and the feeding thread, nothing drawn;
//   incremental  the Graphique plots, painting only new segments;
//   replot       plain plots on the same buffers, fully replotted every 25 ms.
// Without --mode it runs every mode at 100 Hz and 1000 Hz, each in a child
// process so that the figures do not mix, and prints a table.
//
//   xvfb-run -a -s "-screen 0 1600x1000x24" ./display_bench [--duree S] [--frequence F]

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
#include <memory>
#include <qwt_plot_canvas.h>
#include <qwt_plot_grid.h>
#include <thread>
#include <vector>

namespace {

const QList<Qt::GlobalColor> palette = {Qt::darkBlue, Qt::darkCyan, Qt::darkMagenta};
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

int executerTout(const QStringList& frequences, double duree)
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
    options.addOption({"mode", "Run one mode only: floor, incremental or replot.", "mode"});
    options.addOption(
        {"ecran", "With --mode: save the screen of the plots to this PNG at the end.", "fichier"});
    options.process(application);

    const double duree = options.value("duree").toDouble();
    QStringList frequences = options.values("frequence");
    if (frequences.isEmpty()) {
        frequences = QStringList{"100", "1000"};
    }
    if (!(duree > 0)) {
        QTextStream(stderr) << "--duree must be a positive number of seconds\n";
        return 2;
    }
    if (options.isSet("mode")) {
        const QString mode = options.value("mode");
        if (mode != "floor" && mode != "incremental" && mode != "replot") {
            QTextStream(stderr) << "unknown mode " << mode << "\n";
            return 2;
        }
        return executerMode(mode, frequences.first().toDouble(), duree, options.value("ecran"));
    }
    return executerTout(frequences, duree);
}
