// Breath detection on real recordings whose breaths were marked by people.
// Each capture NAME.csv of the folder is run through the detector, as the
// station and souffles run it, and compared with NAME_ref.txt, one mark a line
// at the end of each inspiration (seconds from the file's first line):
//   - between two consecutive marks lies exactly one inspiration onset; a span
//     holding none is a missed breath, each onset beyond the first an extra one;
//   - the rate of every 30 s window (stepping 5 s) is 60 (n - 1) / (last - first)
//     for the marks and for the onsets, shifted by their median lead on the
//     marks; a window is right when the two are within 1 /min.
// Prints per record and overall: breaths marked, found, missed, extra,
// sensitivity, positive predictive value, the share of right windows, and the
// detector's time per sample.
//
//   reelsBench [--frequence HZ] [--courbes DOSSIER] FOLDER
//
// With --courbes, writes DOSSIER/NAME_detecte.txt, the onsets found, one a
// line, for plotting beside the marks.

#include "LecteurCapture.h"
#include "detecteurCycles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr double fenetre = 30.0;
constexpr double pasFenetre = 5.0;
constexpr double toleranceFrequence = 1.0;

struct Enregistrement
{
    std::vector<double> o2, co2, flux;
};

bool lireCapture(const QString& chemin, Enregistrement& e)
{
    LecteurCapture lecteur;
    if (!lecteur.ouvrir(chemin))
        return false;
    double champs[3];
    while (lecteur.lireLigne(champs)) {
        e.co2.push_back(champs[0]);
        e.o2.push_back(champs[1]);
        e.flux.push_back(champs[2]);
    }
    return true;
}

std::vector<double> lireMarques(const QString& chemin)
{
    std::vector<double> marques;
    QFile f(chemin);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return marques;
    QTextStream flux(&f);
    QString ligne;
    while (flux.readLineInto(&ligne)) {
        bool ok = false;
        const double t = ligne.trimmed().toDouble(&ok);
        if (ok)
            marques.push_back(t);
    }
    std::sort(marques.begin(), marques.end());
    return marques;
}

struct Resultat
{
    int spans = 0;
    int manques = 0;
    int enTrop = 0;
    int dansSpans = 0;
    int fenetres = 0;
    int fenetresJustes = 0;
    int trouves = 0;
    double secondesCalcul = 0.0;
    qint64 echantillons = 0;

    double sensibilite() const { return spans ? double(spans - manques) / spans : 1.0; }
    double valeurPredictive() const
    {
        return dansSpans ? double(dansSpans - enTrop) / dansSpans : 1.0;
    }
    double partFenetres() const { return fenetres ? double(fenetresJustes) / fenetres : 1.0; }
    void ajouter(const Resultat& r)
    {
        spans += r.spans;
        manques += r.manques;
        enTrop += r.enTrop;
        dansSpans += r.dansSpans;
        fenetres += r.fenetres;
        fenetresJustes += r.fenetresJustes;
        trouves += r.trouves;
        secondesCalcul += r.secondesCalcul;
        echantillons += r.echantillons;
    }
};

std::vector<double> detecter(const Enregistrement& e, double fe, Resultat& r)
{
    detecteurCycles detecteur;
    detecteur.setFe(fe);
    std::vector<double> debuts;
    double derniereFin = -1.0;
    QObject::connect(&detecteur, &detecteurCycles::nouveauCycle, [&](const Cycle& c) {
        debuts.push_back(c.debut);
        derniereFin = c.debut + c.duree;
    });
    const auto avant = std::chrono::steady_clock::now();
    for (size_t i = 0; i < e.o2.size(); ++i)
        detecteur.ajouterEchantillon(e.co2[i], e.o2[i], e.flux[i]);
    r.secondesCalcul =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - avant).count();
    r.echantillons = qint64(e.o2.size());
    r.trouves = int(debuts.size());
    // The last breath's end is the onset of the one in progress; the onset of
    // the rise under way when the recording ends (whose breath is not told,
    // as its end is not known) is found too.
    if (derniereFin >= 0.0)
        debuts.push_back(derniereFin);
    if (detecteur.debutEnCours() > derniereFin + 1e-6)
        debuts.push_back(detecteur.debutEnCours());
    return debuts;
}

double frequence(const std::vector<double>& temps, double debut, double fin)
{
    const auto a = std::lower_bound(temps.begin(), temps.end(), debut);
    const auto b = std::upper_bound(temps.begin(), temps.end(), fin);
    const long n = long(b - a);
    if (n < 2)
        return 0.0;
    return 60.0 * double(n - 1) / (*(b - 1) - *a);
}

void comparer(const std::vector<double>& marques, std::vector<double> debuts, double duree,
              Resultat& r)
{
    std::vector<double> avances;
    size_t j = 0;
    for (size_t i = 0; i + 1 < marques.size(); ++i) {
        while (j < debuts.size() && debuts[j] < marques[i])
            ++j;
        int dans = 0;
        for (size_t k = j; k < debuts.size() && debuts[k] < marques[i + 1]; ++k, ++dans)
            if (dans == 0)
                avances.push_back(marques[i + 1] - debuts[k]);
        ++r.spans;
        r.dansSpans += dans;
        if (dans == 0)
            ++r.manques;
        else
            r.enTrop += dans - 1;
    }
    double avance = 0.0;
    if (!avances.empty()) {
        std::nth_element(avances.begin(), avances.begin() + avances.size() / 2, avances.end());
        avance = avances[avances.size() / 2];
    }
    for (double& d : debuts)
        d += avance;
    for (double t = 0.0; t + fenetre <= duree; t += pasFenetre) {
        const double attendue = frequence(marques, t, t + fenetre);
        if (attendue <= 0.0)
            continue;
        ++r.fenetres;
        if (std::abs(frequence(debuts, t, t + fenetre) - attendue) <= toleranceFrequence)
            ++r.fenetresJustes;
    }
}

void imprimer(const QString& nom, const Resultat& r)
{
    std::printf("%-12s %6d %6d %6d %6d %7.2f %7.2f %7.1f %6.0f\n", qPrintable(nom), r.spans,
                r.trouves, r.manques, r.enTrop, 100.0 * r.sensibilite(),
                100.0 * r.valeurPredictive(), 100.0 * r.partFenetres(),
                r.echantillons ? 1e9 * r.secondesCalcul / double(r.echantillons) : 0.0);
}

void ecrireDebuts(const QString& chemin, const std::vector<double>& debuts)
{
    QFile f(chemin);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QTextStream flux(&f);
    for (double d : debuts)
        flux << QString::number(d, 'f', 3) << '\n';
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption frequenceOption(QStringList{"f", "frequence"}, "Sampling rate (Hz).",
                                             "HZ", "100");
    const QCommandLineOption courbesOption("courbes", "Write the onsets found into DIR.", "DIR");
    options.addOption(frequenceOption);
    options.addOption(courbesOption);
    options.addPositionalArgument("FOLDER", "Folder of NAME.csv captures with NAME_ref.txt marks.");
    options.process(application);
    if (options.positionalArguments().size() != 1)
        options.showHelp(1);
    const double fe = options.value(frequenceOption).toDouble();
    const QDir dossier(options.positionalArguments().first());
    const QStringList captures = dossier.entryList({"*.csv"}, QDir::Files, QDir::Name);

    std::printf("%-12s %6s %6s %6s %6s %7s %7s %7s %6s\n", "record", "marked", "found", "missed",
                "extra", "sens%", "ppv%", "rate%", "ns/smp");
    Resultat total;
    double pireSensibilite = 1.0;
    double pireValeur = 1.0;
    for (const QString& nomFichier : captures) {
        const QString nom = nomFichier.chopped(4);
        const std::vector<double> marques = lireMarques(dossier.filePath(nom + "_ref.txt"));
        Enregistrement e;
        if (marques.size() < 2 || !lireCapture(dossier.filePath(nomFichier), e))
            continue;
        Resultat r;
        const std::vector<double> debuts = detecter(e, fe, r);
        comparer(marques, debuts, double(e.o2.size()) / fe, r);
        imprimer(nom, r);
        total.ajouter(r);
        pireSensibilite = std::min(pireSensibilite, r.sensibilite());
        pireValeur = std::min(pireValeur, r.valeurPredictive());
        if (options.isSet(courbesOption))
            ecrireDebuts(QDir(options.value(courbesOption)).filePath(nom + "_detecte.txt"), debuts);
    }
    std::printf("\n");
    imprimer("overall", total);
    std::printf("worst record: sensitivity %.2f %%, positive predictive value %.2f %%\n",
                100.0 * pireSensibilite, 100.0 * pireValeur);
    std::printf("(rate%%: 30 s windows stepping 5 s whose rate is within 1 /min of the marks')\n");
    return 0;
}
