// souffles: the breath-by-breath table of capture files.
//
//   souffles [--frequence HZ] [--apnee S] [--decalage-co2 S] [--decalage-o2 S]
//            [--sortie FICHIER] CAPTURE...
//
// Reads each capture file (one sample a line, CO2;O2;Flux) as sampled at HZ
// (100 by default), finds every breath on its O2 column as the station does
// (with the apnea delay S, 20 s by default, and the channels lined up on the
// flow by the gases' delays, 0 by default), and writes one CSV table of all the breaths: a header
// line, then one line a breath, in the format of the station's "Exporter les cycles", each naming
// its file as given on the command line ("-" is standard input). A summary of each file goes to
// standard error. A file that cannot be read, or that is no capture, is named on standard error and
// the others are still processed; the exit status is then 1, and when no file could be read there
// is no table at all. A table written to a file replaces the earlier one only once whole, and never
// replaces one of the captures read.
#include "CsvCycles.h"
#include "LecteurCapture.h"
#include "ReglagesDetecteur.h"
#include "Statistique.h"
#include "detecteurCycles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSaveFile>
#include <QTextStream>
#include <QTranslator>

#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Files this large get a progress bar, when standard error is a terminal.
constexpr qint64 tailleProgression = 16 * 1024 * 1024;

QTextStream& erreurs()
{
    static QTextStream flux(stderr);
    return flux;
}

class Progression
{
public:
    Progression(const QString& fichier, qint64 octets)
        : nom(fichier), taille(octets),
          active(octets >= tailleProgression && ::isatty(STDERR_FILENO))
    {
    }
    ~Progression()
    {
        if (active)
            erreurs() << '\r' << QString(nom.size() + 40, QLatin1Char(' ')) << '\r' << Qt::flush;
    }
    void avancer(qint64 position)
    {
        if (!active)
            return;
        const int pourcent = int(100 * position / taille);
        if (pourcent == dernier)
            return;
        dernier = pourcent;
        const int plein = pourcent * 30 / 100;
        erreurs() << '\r' << nom << " [" << QString(plein, QLatin1Char('#'))
                  << QString(30 - plein, QLatin1Char(' ')) << "] " << pourcent << " %" << Qt::flush;
    }

private:
    QString nom;
    qint64 taille;
    bool active;
    int dernier = -1;
};

struct Bilan
{
    std::vector<Cycle> cycles;
    int apnees = 0;
};

// Feeds one capture file to a detector; false, with a message, if it cannot be
// read or is no capture.
bool analyserFichier(const QString& chemin, const ReglagesDetecteur& reglages, Bilan& bilan)
{
    LecteurCapture lecteur;
    if (chemin == QLatin1String("-")) {
        if (!lecteur.ouvrirEntreeStandard()) {
            erreurs() << QObject::tr("souffles : impossible de lire l'entrée standard : %1")
                             .arg(lecteur.erreur())
                      << '\n';
            return false;
        }
    } else if (!QFileInfo(chemin).isFile() || !lecteur.ouvrir(chemin)) {
        const QString raison = !QFileInfo::exists(chemin) ? QObject::tr("fichier introuvable")
                               : !QFileInfo(chemin).isFile()
                                   ? QObject::tr("ce n'est pas un fichier")
                                   : lecteur.erreur();
        erreurs() << QObject::tr("souffles : impossible de lire %1 : %2").arg(chemin, raison)
                  << '\n';
        return false;
    }
    detecteurCycles detecteur;
    reglages.appliquer(detecteur);
    QObject::connect(&detecteur, &detecteurCycles::nouveauCycle,
                     [&bilan](const Cycle& c) { bilan.cycles.push_back(c); });
    QObject::connect(&detecteur, &detecteurCycles::apnee, [&bilan](bool enApnee) {
        if (enApnee)
            ++bilan.apnees;
    });

    Progression progression(QFileInfo(chemin).fileName(), lecteur.taille());
    bool refuse = false;
    double champs[3];
    while (lecteur.lireLigne(champs)) {
        detecteur.ajouterEchantillon(champs[0], champs[1], champs[2]);
        if (lecteur.lignesLues() == LecteurCapture::lignesExaminees && lecteur.pasUneCapture()) {
            refuse = true;
            break;
        }
        if ((lecteur.lignesLues() & 0xFFFF) == 0)
            progression.avancer(lecteur.position());
    }
    if (refuse ||
        (lecteur.lignesLues() < LecteurCapture::lignesExaminees && lecteur.pasUneCapture())) {
        erreurs() << QObject::tr("souffles : %1 n'est pas un fichier de capture").arg(chemin)
                  << '\n';
        return false;
    }
    return true;
}

bool memeFichier(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The capture among `captures` that the table `sortie` would replace (the same
// file whatever the path: links, "./", standard input), empty when none.
QString entreeEcrasee(const QString& sortie, const QStringList& captures)
{
    struct stat cible;
    if (::stat(QFile::encodeName(sortie).constData(), &cible) != 0)
        return QString(); // not there yet: no capture is it
    for (const QString& chemin : captures) {
        struct stat entree;
        const int resultat = chemin == QLatin1String("-")
                                 ? ::fstat(STDIN_FILENO, &entree)
                                 : ::stat(QFile::encodeName(chemin).constData(), &entree);
        if (resultat == 0 && memeFichier(cible, entree))
            return chemin;
    }
    return QString();
}

void resumer(const QString& chemin, const Bilan& bilan)
{
    std::vector<double> frequences;
    frequences.reserve(bilan.cycles.size());
    for (const Cycle& cycle : bilan.cycles)
        frequences.push_back(cycle.frequence);
    const Statistique s = Statistique::de(frequences);
    erreurs() << QObject::tr(
                     "%1 : %2 cycles, fréquence moyenne %3 /min (écart type %4), %5 apnée(s)")
                     .arg(chemin)
                     .arg(s.nombre)
                     .arg(QString::number(s.moyenne, 'f', 2))
                     .arg(QString::number(s.ecartType, 'f', 2))
                     .arg(bilan.apnees)
              << '\n';
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("souffles"));
    QCoreApplication::setApplicationVersion(QStringLiteral(STATION_VERSION));
    // The tool speaks French, Qt's own messages too (the option parser's).
    QTranslator traductionQt;
    if (traductionQt.load(QStringLiteral("qtbase_fr"),
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&traductionQt);

    QCommandLineParser options;
    options.setApplicationDescription(QObject::tr(
        "Tableau cycle par cycle des fichiers de capture : une ligne par cycle respiratoire "
        "trouvé sur la colonne O2, au format CSV (séparateur « ; », point décimal)."));
    // Qt's translation leaves the two standard descriptions in English: these
    // options are the standard ones, described in French.
    const QCommandLineOption aide(QStringList{"h", "?", "help"},
                                  QObject::tr("Affiche cette aide et termine."));
    const QCommandLineOption version(QStringList{"v", "version"},
                                     QObject::tr("Affiche la version et termine."));
    options.addOption(aide);
    options.addOption(version);
    const QCommandLineOption frequence(
        QStringList{"f", "frequence"},
        QObject::tr("Fréquence d'échantillonnage des captures, en hertz (100 par défaut)."),
        QStringLiteral("HZ"), QStringLiteral("100"));
    const QCommandLineOption sortie(
        QStringList{"o", "sortie"},
        QObject::tr("Écrit le tableau dans FICHIER plutôt que sur la sortie standard."),
        QStringLiteral("FICHIER"));
    // A pause longer than the apnea delay ends the breath before it: the
    // station's table is the same only with the same delay.
    const QCommandLineOption apnee(
        QStringList{"a", "apnee"},
        QObject::tr("Délai d'apnée en secondes, de 10 à 60 (20 par défaut) : une pause plus "
                    "longue n'est pas un cycle."),
        QStringLiteral("S"), QStringLiteral("20"));
    // The station lines the channels up by its « Décalages » before finding
    // the breaths: the same delays give the same table.
    const QCommandLineOption decalageCo2(
        QStringLiteral("decalage-co2"),
        QObject::tr("Retard du CO2 sur le Flux, en secondes, de 0 à 60 (0 par défaut)."),
        QStringLiteral("S"), QStringLiteral("0"));
    const QCommandLineOption decalageO2(
        QStringLiteral("decalage-o2"),
        QObject::tr("Retard de l'O2 sur le Flux, en secondes, de 0 à 60 (0 par défaut)."),
        QStringLiteral("S"), QStringLiteral("0"));
    options.addOption(frequence);
    options.addOption(apnee);
    options.addOption(decalageCo2);
    options.addOption(decalageO2);
    options.addOption(sortie);
    options.addPositionalArgument(
        QStringLiteral("CAPTURE"),
        QObject::tr("Fichiers de capture à analyser (« - » : l'entrée standard)."),
        QStringLiteral("CAPTURE..."));
    options.process(application);
    if (options.isSet(aide))
        options.showHelp(0);
    if (options.isSet(version))
        options.showVersion();

    bool nombre = false;
    const double fe = options.value(frequence).toDouble(&nombre);
    if (!nombre || !(fe >= 1.0 && fe <= 100000.0)) {
        erreurs() << QObject::tr("souffles : fréquence invalide : %1").arg(options.value(frequence))
                  << '\n';
        return 1;
    }
    const double delaiApnee = options.value(apnee).toDouble(&nombre);
    if (!nombre || !(delaiApnee >= detecteurCycles::delaiApneeMin &&
                     delaiApnee <= detecteurCycles::delaiApneeMax)) {
        erreurs() << QObject::tr("souffles : délai d'apnée invalide : %1 (de %2 à %3 s)")
                         .arg(options.value(apnee))
                         .arg(detecteurCycles::delaiApneeMin)
                         .arg(detecteurCycles::delaiApneeMax)
                  << '\n';
        return 1;
    }
    ReglagesDetecteur reglages{fe, delaiApnee, 0.0, 0.0};
    for (auto [option, valeur] : {std::pair{&decalageCo2, &reglages.decalageCo2},
                                  std::pair{&decalageO2, &reglages.decalageO2}}) {
        *valeur = options.value(*option).toDouble(&nombre);
        if (!nombre || !(*valeur >= 0.0 && *valeur <= detecteurCycles::decalageMax)) {
            erreurs() << QObject::tr("souffles : décalage invalide : %1 (de 0 à %2 s)")
                             .arg(options.value(*option))
                             .arg(detecteurCycles::decalageMax)
                      << '\n';
            return 1;
        }
    }
    // Too few samples a breath: say which rates can be found, or that none can.
    const double portee = detecteurCycles::frequenceMaxTrouvable(fe);
    if (portee <= 0.0) {
        erreurs() << QObject::tr("souffles : à %1 Hz, aucun cycle respiratoire ne peut être trouvé")
                         .arg(fe)
                  << '\n';
        return 1;
    }
    if (portee < detecteurCycles::frequenceMaxCherchee)
        erreurs() << QObject::tr("souffles : à %1 Hz, seuls les rythmes jusqu'à %2 /min peuvent "
                                 "être trouvés")
                         .arg(fe)
                         .arg(portee)
                  << '\n';
    const QStringList captures = options.positionalArguments();
    if (captures.isEmpty()) {
        erreurs() << QObject::tr("souffles : aucun fichier de capture (voir --help)") << '\n';
        return 1;
    }

    // Checked before anything is read: the table replaces its file at the end.
    if (options.isSet(sortie)) {
        const QString entree = entreeEcrasee(options.value(sortie), captures);
        if (!entree.isEmpty()) {
            erreurs() << QObject::tr("souffles : %1 est aussi une capture lue : le tableau ne "
                                     "peut pas la remplacer")
                             .arg(entree)
                      << '\n';
            return 1;
        }
    }

    // The table goes to a file beside the target, which replaces it once whole:
    // a failure leaves the earlier file as it was.
    QSaveFile fichierSortie;
    QFile sortieStandard;
    QIODevice* destination = &sortieStandard;
    if (options.isSet(sortie)) {
        fichierSortie.setFileName(options.value(sortie));
        if (QFileInfo(options.value(sortie)).isDir() || !fichierSortie.open(QIODevice::WriteOnly)) {
            const QString raison = QFileInfo(options.value(sortie)).isDir()
                                       ? QObject::tr("c'est un dossier")
                                       : fichierSortie.errorString();
            erreurs() << QObject::tr("souffles : impossible d'écrire %1 : %2")
                             .arg(options.value(sortie), raison)
                      << '\n';
            return 1;
        }
        destination = &fichierSortie;
    } else {
        sortieStandard.open(stdout, QIODevice::WriteOnly);
    }
    QTextStream table(destination);
    table.setCodec("UTF-8");

    int statut = 0;
    int lus = 0;
    for (const QString& chemin : captures) {
        Bilan bilan;
        if (!analyserFichier(chemin, reglages, bilan)) {
            statut = 1;
            continue;
        }
        if (lus++ == 0)
            table << CsvCycles::entete();
        for (const Cycle& cycle : bilan.cycles)
            table << CsvCycles::ligne(cycle, chemin);
        resumer(chemin, bilan);
    }
    table.flush();
    bool ecrit = table.status() == QTextStream::Ok && destination->isOpen();
    if (destination == &fichierSortie) {
        // No table, or a cut one: the earlier file stays as it was.
        if (lus == 0 || !ecrit)
            fichierSortie.cancelWriting();
        ecrit = fichierSortie.commit() || lus == 0;
    } else {
        ecrit = ecrit && sortieStandard.flush();
    }
    if (!ecrit) {
        erreurs() << QObject::tr("souffles : erreur d'écriture du tableau : %1")
                         .arg(destination->errorString())
                  << '\n';
        statut = 1;
    }
    return statut;
}
