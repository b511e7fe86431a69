#include "Fenetre.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstring>

namespace {

// --help and --version are answered without a display, so that they work from
// any terminal (and for the man page generator); everything else, Qt's
// standard options included (-platform, -display, -style...), goes to the
// application object.
bool aideOuVersion(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"-h", "--help", "-help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

void repondre(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QCoreApplication::translate(
        "main", "Station d'affichage d'un analyseur de gaz respiratoires : les voies CO2, O2 "
                "et Flux en direct depuis un port série, l'estimation de la période "
                "respiratoire, l'enregistrement des acquisitions dans des fichiers de capture "
                "numérotés (acquisitionN.csv, dans le dossier courant), leur relecture et "
                "l'export des courbes.\n\nAccepte aussi les options standard de Qt "
                "(-platform, -display, -style, -geometry...)."));
    // -help is one word, not -h -e -l -p.
    options.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    options.addHelpOption();
    options.addVersionOption();
    options.process(application);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("station"));
    QCoreApplication::setApplicationVersion(QStringLiteral(STATION_VERSION));
    if (aideOuVersion(argc, argv)) {
        repondre(argc, argv);
        return 0;
    }
    QApplication application(argc, argv);
    // The icon lives in the window library's resources, which a static library
    // must register explicitly.
    Q_INIT_RESOURCE(resources);
    int code = 0;
    {
        Fenetre fenetre;
        fenetre.show();
        code = application.exec();
    }
    Q_CLEANUP_RESOURCE(resources);
    return code;
}
