// The station's process CPU time per second during a live capture at 100 Hz
// from the instrument simulator (3 s breaths), in three situations:
//   instantanees   the instantaneous-data tab shown, the averaged one hidden;
//   moyennees      the averaged-data tab shown, redrawn at every breath;
//   moyennees-24h  the same with a day of breaths (100,000) already in its
//                  table and trends.
// Without --mode it runs each in a child process and prints a table.
//
//   xvfb-run -a -s "-screen 0 1366x768x24" ./moyennes_bench [--duree S]

#include "Cycle.h"
#include "Fenetre.h"
#include "FormeCycle.h"
#include "ModeleCycles.h"
#include "OngletMoyennes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <ctime>

namespace {

constexpr int echauffementMs = 3000;
const QStringList modes = {"instantanees", "moyennees", "moyennees-24h"};

double tempsCpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// A day of breaths at 70 a minute, for the table and the trends.
void remplirUneJournee(OngletMoyennes* onglet)
{
    onglet->setPause(true);
    FormeCycle forme;
    forme.pas = 0.01;
    forme.o2.fill(50.0f, 86);
    forme.co2 = forme.flux = QVector<float>(86, 0.0f);
    for (int i = 0; i < 100000; ++i) {
        Cycle c;
        c.debut = i * 0.857;
        c.duree = 0.857;
        c.frequence = 70.0 + (i % 7) * 0.1;
        c.o2.max = 60.0;
        c.o2.min = 48.0;
        onglet->ajouterCycle(c, forme);
    }
    onglet->setPause(false);
}

int executerMode(const QString& mode, double duree)
{
    QTemporaryDir dossier;
    QDir::setCurrent(dossier.path());
    QProcess simulateur;
    simulateur.start(QStringLiteral(STATION_SIMULATEUR), {"--period", "3"});
    if (!simulateur.waitForStarted() || !simulateur.waitForReadyRead(5000)) {
        QTextStream(stderr) << "the simulator did not start\n";
        return 1;
    }
    const QString port = QString::fromLocal8Bit(simulateur.readLine()).trimmed();

    Fenetre fenetre;
    fenetre.show();
    auto* onglets = fenetre.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    auto* onglet = fenetre.findChild<OngletMoyennes*>();
    double debutCpu = 0.0;
    int lignesAuDebut = 0;
    QTimer::singleShot(800, &fenetre, [&] {
        fenetre.findChild<QComboBox*>(QStringLiteral("source"))->setEditText(port);
        fenetre.findChild<QAbstractButton*>(QStringLiteral("btnCapturer"))->click();
        if (mode != "instantanees")
            onglets->setCurrentWidget(fenetre.findChild<QWidget*>(QStringLiteral("tab_moyennes")));
    });
    QTimer::singleShot(echauffementMs, &fenetre, [&] {
        if (mode == "moyennees-24h")
            remplirUneJournee(onglet);
        lignesAuDebut = onglet->modele()->rowCount();
        debutCpu = tempsCpu();
    });
    QTimer::singleShot(echauffementMs + int(duree * 1000), &fenetre, [&] {
        const double cpu = tempsCpu() - debutCpu;
        QTextStream(stdout) << "mode=" << mode << " secondes=" << duree
                            << " pourcent=" << 100 * cpu / duree
                            << " cycles=" << onglet->modele()->rowCount() - lignesAuDebut << "\n";
        fenetre.close();
        QApplication::quit();
    });
    const int code = QApplication::exec();
    simulateur.terminate();
    simulateur.waitForFinished(3000);
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOptions({{"mode", "One situation only: " + modes.join(", ") + ".", "mode"},
                        {"duree", "Seconds measured per situation (default 30).", "s", "30"}});
    options.process(application);
    const double duree = options.value("duree").toDouble();
    if (!(duree > 0)) {
        QTextStream(stderr) << "--duree must be a positive number of seconds\n";
        return 1;
    }
    if (options.isSet("mode"))
        return executerMode(options.value("mode"), duree);

    QTextStream sortie(stdout);
    sortie << "Station, live capture at 100 Hz, 3 s breaths, " << duree
           << " s per situation, process CPU time per second\n";
    for (const QString& mode : modes) {
        QProcess enfant;
        enfant.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        enfant.start(QCoreApplication::applicationFilePath(),
                     {"--mode", mode, "--duree", QString::number(duree)});
        enfant.waitForFinished(int(duree * 1000) + 60000);
        sortie << "  " << QString::fromLocal8Bit(enfant.readAllStandardOutput()).trimmed() << "\n";
        sortie.flush();
    }
    return 0;
}
