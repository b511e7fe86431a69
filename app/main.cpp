#include "Fenetre.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTranslator>
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

const char* const kDocuments = "--documents";
const char* const kCapturer = "--capturer";

// The few texts of Qt's option parser that its French translation leaves in
// English.
class ComplementTraduction : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* contexte, const char* texte, const char* = nullptr,
                      int = -1) const override
    {
        if (std::strcmp(contexte, "QCommandLineParser") != 0)
            return QString();
        if (std::strcmp(texte, "Displays help on commandline options.") == 0)
            return QStringLiteral("Affiche l'aide sur les options de la ligne de commande.");
        if (std::strcmp(texte, "Displays help including Qt specific options.") == 0)
            return QStringLiteral("Affiche l'aide, options propres à Qt comprises.");
        return QString();
    }
};

// Qt's own texts (standard dialogs, buttons, the option parser's messages) in
// French, like the rest of the interface; they stay in English when the
// translation is not installed.
void traduireQt(QTranslator& traduction)
{
    if (traduction.load(QStringLiteral("qtbase_fr"),
                        QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&traduction);
    else
        qDebug() << "station: traduction française de Qt introuvable";
}

// Started from the desktop menu, the station records into the user's
// documents, in a folder of its own, rather than into whatever folder the
// session starts programs in. From a terminal it stays in the current folder.
void allerDansLesDocuments()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString dossier = QDir(documents).filePath(QStringLiteral("Station"));
    if (documents.isEmpty() || !QDir().mkpath(dossier) || !QDir::setCurrent(dossier))
        qDebug() << "station: dossier" << dossier << "inutilisable, captures dans"
                 << QDir::currentPath();
}

bool demande(int argc, char* argv[], const char* option)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return true;
    return false;
}

// The value that follows `option`, empty without one.
QString valeur(int argc, char* argv[], const char* option)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return QString::fromLocal8Bit(argv[i + 1]);
    return QString();
}

void repondre(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTranslator traduction;
    traduireQt(traduction);
    ComplementTraduction complement;
    QCoreApplication::installTranslator(&complement);
    QCommandLineParser options;
    options.setApplicationDescription(QCoreApplication::translate(
        "main", "Station d'affichage d'un analyseur de gaz respiratoires : les voies CO2, O2 "
                "et Flux en direct depuis un port série, l'estimation de la période "
                "respiratoire, l'enregistrement des acquisitions dans des fichiers de capture "
                "numérotés (acquisitionN.csv, dans le dossier courant), leur relecture et "
                "l'export des courbes.\n\nAccepte aussi les options standard de Qt "
                "(-platform, -display, -style, -geometry...)."));
    options.addOption(QCommandLineOption(
        QString::fromLatin1(kDocuments + 2),
        QCoreApplication::translate("main", "Enregistre les captures dans le dossier Station "
                                            "des documents de l'utilisateur (créé au besoin), "
                                            "comme depuis le menu des applications.")));
    options.addOption(QCommandLineOption(
        QString::fromLatin1(kCapturer + 2),
        QCoreApplication::translate("main", "Capture en direct depuis PORT dès l'ouverture, "
                                            "comme en le choisissant dans « Source » puis en "
                                            "appuyant sur « Capturer »."),
        QStringLiteral("PORT")));
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
    QTranslator traduction;
    traduireQt(traduction);
    if (demande(argc, argv, kDocuments))
        allerDansLesDocuments();
    // The icon lives in the window library's resources, which a static library
    // must register explicitly.
    Q_INIT_RESOURCE(resources);
    int code = 0;
    {
        Fenetre fenetre;
        const QString source = valeur(argc, argv, kCapturer);
        if (!source.isEmpty())
            fenetre.capturerDepuis(source);
        fenetre.show();
        code = application.exec();
    }
    Q_CLEANUP_RESOURCE(resources);
    return code;
}
