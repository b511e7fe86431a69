// The souffles tool as a user runs it: capture files in, the breath table out.
#include "PetitDisque.h"
#include "SignalRespiratoire.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class SoufflesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tableOfEveryBreathWhateverTheBadFilesBeside();
    void tableWrittenToTheNamedFile();
    void apneaDelayDecidesWhetherAPauseIsABreath_data();
    void apneaDelayDecidesWhetherAPauseIsABreath();
    void tableNeverDestroysAnEarlierFile_data();
    void tableNeverDestroysAnEarlierFile();
    void fileColumnNamesTheCaptureAsGiven_data();
    void fileColumnNamesTheCaptureAsGiven();
    void columnsReadByNameHoldTheirChannel();

private:
    struct Sortie
    {
        int statut = -1;
        QByteArray table;
        QString messages;
    };
    Sortie lancer(const QStringList& arguments, const QString& entreeStandard = QString());
    // Writes the signal into the test's folder as the station writes its
    // lines (O2 alone, or the three channels); the file's path.
    QString ecrire(const QString& nom, const SignalRespiratoire& s, bool troisVoies = false);
    QTemporaryDir dossier;
    QString capture;
};

// Twelve breaths of 2.5 s at 200 Hz, written as the station writes its lines.
void SoufflesTest::initTestCase()
{
    QVERIFY(dossier.isValid());
    Conditions conditions;
    conditions.fe = 200.0;
    conditions.bruit = 0.05;
    capture = ecrire("acquisition7.csv",
                     genererSignal(QVector<Souffle>(12, {2.5, 5.0, 0.4}), conditions));
}

QString SoufflesTest::ecrire(const QString& nom, const SignalRespiratoire& s, bool troisVoies)
{
    auto nombre = [](double v) { return QByteArray::number(v, 'g', 6); };
    QByteArray lignes;
    for (int i = 0; i < s.o2.size(); ++i)
        lignes += (troisVoies ? nombre(s.co2[i]) : "0") + ';' + nombre(s.o2[i]) + ';' +
                  (troisVoies ? nombre(s.flux[i]) : "0") + "\r\n";
    QFile fichier(dossier.filePath(nom));
    if (!fichier.open(QIODevice::WriteOnly) || fichier.write(lignes) != lignes.size())
        qWarning() << "cannot write" << fichier.fileName();
    return fichier.fileName();
}

namespace {

// Five breaths of 2.5 s, a pause (from one onset to the next), five more.
QVector<Souffle> souffleAvecPause(double pause)
{
    QVector<Souffle> souffles(5, {2.5, 5.0, 0.4});
    souffles.append({pause, 5.0, 2.5 / pause});
    return souffles + QVector<Souffle>(5, {2.5, 5.0, 0.4});
}

} // namespace

SoufflesTest::Sortie SoufflesTest::lancer(const QStringList& arguments,
                                          const QString& entreeStandard)
{
    QProcess programme;
    QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
    environnement.insert("LC_ALL", "fr_FR.UTF-8"); // a decimal comma locale
    programme.setProcessEnvironment(environnement);
    if (!entreeStandard.isEmpty())
        programme.setStandardInputFile(entreeStandard);
    programme.start(QStringLiteral(STATION_SOUFFLES), arguments);
    Sortie sortie;
    if (!programme.waitForFinished(30000))
        return sortie;
    sortie.statut = programme.exitStatus() == QProcess::NormalExit ? programme.exitCode() : -1;
    sortie.table = programme.readAllStandardOutput();
    sortie.messages = QString::fromUtf8(programme.readAllStandardError());
    return sortie;
}

void SoufflesTest::tableOfEveryBreathWhateverTheBadFilesBeside()
{
    const QString absent = dossier.filePath("absent.csv");
    const QString binaire = dossier.filePath("image.png");
    QFile fichier(binaire);
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write(QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(5000, '\0'));
    fichier.close();

    const Sortie sortie = lancer({"--frequence", "200", absent, capture, binaire});
    QCOMPARE(sortie.statut, 1);
    QVERIFY2(sortie.messages.contains(absent), qPrintable(sortie.messages));
    QVERIFY2(sortie.messages.contains(binaire + " n'est pas un fichier de capture"),
             qPrintable(sortie.messages));
    QVERIFY2(sortie.messages.contains(capture + " : 11 cycles, fréquence moyenne 24.00 /min"),
             qPrintable(sortie.messages));

    const QList<QByteArray> lignes = sortie.table.trimmed().split('\n');
    QCOMPARE(lignes.size(), 1 + 11);
    QVERIFY(lignes.first().startsWith("debut_s;duree_s;frequence_min;"));
    const int colonnes = lignes.first().count(';') + 1;
    for (int i = 1; i < lignes.size(); ++i) {
        const QList<QByteArray> champs = lignes[i].split(';');
        QCOMPARE(champs.size(), colonnes);
        bool ok = false;
        QVERIFY(std::abs(champs[0].toDouble(&ok) - (1.0 + 2.5 * (i - 1))) < 0.1 && ok);
        QVERIFY(std::abs(champs[1].toDouble(&ok) - 2.5) < 0.03 && ok);
        QVERIFY(std::abs(champs[2].toDouble(&ok) - 24.0) < 0.3 && ok);
        // The path as given.
        QCOMPARE(champs[lignes.first().split(';').indexOf("fichier")], capture.toUtf8());
    }
}

void SoufflesTest::tableWrittenToTheNamedFile()
{
    const QString table = dossier.filePath("cycles.csv");
    const Sortie sortie = lancer({"--frequence", "200", "--sortie", table, capture});
    QCOMPARE(sortie.statut, 0);
    QVERIFY(sortie.table.isEmpty());
    QFile fichier(table);
    QVERIFY(fichier.open(QIODevice::ReadOnly));
    QCOMPARE(fichier.readAll().count('\n'), 12);

    QCOMPARE(lancer({"--frequence", "zéro", capture}).statut, 1);
    QCOMPARE(lancer({"--sortie", dossier.filePath("absent/cycles.csv"), capture}).statut, 1);
    // Qt's own messages in French too; no input read, no table at all.
    QVERIFY(lancer({"--bavard", capture}).messages.contains("Option inconnue"));
    const Sortie rien = lancer({dossier.filePath("absent.csv"), "."});
    QVERIFY(rien.statut == 1 && rien.table.isEmpty() && rien.messages.contains(". : ce n'est pas"));
}

void SoufflesTest::apneaDelayDecidesWhetherAPauseIsABreath_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("pause"); // seconds from the onset before the pause to the next
    QTest::addColumn<int>("statut");
    QTest::addColumn<int>("cycles");      // -1: not counted
    QTest::addColumn<QString>("message"); // on standard error
    // Five breaths, a pause, five more: the pause ends one breath when it is
    // shorter than the apnea delay, and is an apnea, no breath, when longer.
    const QString invalide = QStringLiteral("délai d'apnée invalide : %1 (de 10 à 60 s)");
    QTest::newRow("default") << QStringList() << 17.5 << 0 << 10 << QString();
    QTest::newRow("10 s") << QStringList{"--apnee", "10"} << 17.5 << 0 << 9 << QString();
    QTest::newRow("10.5 s against a 10.3 s pause")
        << QStringList{"--apnee", "10.5"} << 10.3 << 0 << 10 << QString();
    QTest::newRow("10 s against a 10.3 s pause")
        << QStringList{"--apnee", "10"} << 10.3 << 0 << 9 << QString();
    QTest::newRow("too short") << QStringList{"--apnee", "5"} << 17.5 << 1 << -1 << invalide.arg(5);
    QTest::newRow("too long") << QStringList{"--apnee", "61"} << 17.5 << 1 << -1
                              << invalide.arg(61);
    QTest::newRow("not a number") << QStringList{"--apnee", "dix"} << 17.5 << 1 << -1
                                  << invalide.arg("dix");
    QTest::newRow("delay beyond a minute") << QStringList{"--decalage-o2", "61"} << 17.5 << 1 << -1
                                           << QString("décalage invalide : 61 (de 0 à 60 s)");
    QTest::newRow("sampled too slowly for these breaths")
        << QStringList{"--frequence", "2"} << 17.5 << 0 << -1
        << QString("à 2 Hz, seuls les rythmes jusqu'à 12 /min peuvent être trouvés");
}

void SoufflesTest::apneaDelayDecidesWhetherAPauseIsABreath()
{
    QFETCH(QStringList, options);
    QFETCH(double, pause);
    QFETCH(int, statut);
    QFETCH(int, cycles);
    QFETCH(QString, message);
    const QString fichierPause =
        ecrire("pause.csv", genererSignal(souffleAvecPause(pause), Conditions()));
    const Sortie sortie = lancer(options + QStringList{fichierPause});
    QCOMPARE(sortie.statut, statut);
    if (cycles >= 0)
        QCOMPARE(sortie.table.count('\n') - 1, cycles);
    QVERIFY2(sortie.messages.contains(message), qPrintable(sortie.messages));
}

void SoufflesTest::tableNeverDestroysAnEarlierFile_data()
{
    // %1 is the row's folder, holding ancien.csv and lien.csv, a link to it.
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("entree");
    QTest::newRow("output is the input") << QString("%1/ancien.csv") << "%1/ancien.csv";
    QTest::newRow("the input by another path")
        << QString("%1/../%2/./ancien.csv") << "%1/ancien.csv";
    QTest::newRow("the input by a link") << QString("%1/lien.csv") << "%1/ancien.csv";
    QTest::newRow("the input is standard input") << QString("%1/ancien.csv") << "-";
    QTest::newRow("every input fails") << QString("%1/ancien.csv") << "%1/absent.csv";
    QTest::newRow("full disk") << QString("%1/ancien.csv") << "";
}

void SoufflesTest::tableNeverDestroysAnEarlierFile()
{
    QFETCH(QString, table);
    QFETCH(QString, entree);
    const QString ici = dossier.filePath(QTest::currentDataTag());
    PetitDisque disque(entree.isEmpty() ? ici : QString());
    if (!QDir().mkpath(ici) || (entree.isEmpty() && !disque.estMonte()))
        QSKIP("mounting a 64 KiB tmpfs needs root (and the right to mount)");
    QFile ancien(ici + "/ancien.csv");
    QVERIFY(ancien.open(QIODevice::WriteOnly) && ancien.write("ancien\n") == 7);
    ancien.close();
    QVERIFY(QFile::link(ancien.fileName(), ici + "/lien.csv"));
    QVERIFY(!entree.isEmpty() || disque.remplir());
    const int entrees = QDir(ici).entryList(QDir::Files | QDir::Hidden).size();

    const Sortie sortie =
        lancer({"--frequence", "200", "--sortie", table.arg(ici, QTest::currentDataTag()),
                entree.isEmpty() ? capture : entree.arg(ici)},
               entree == "-" ? ancien.fileName() : QString());
    QCOMPARE(sortie.statut, 1);
    QVERIFY(ancien.open(QIODevice::ReadOnly));
    QCOMPARE(ancien.readAll(), QByteArray("ancien\n"));
    QCOMPARE(QDir(ici).entryList(QDir::Files | QDir::Hidden).size(), entrees);
}

void SoufflesTest::fileColumnNamesTheCaptureAsGiven_data()
{
    QTest::addColumn<QString>("nom");   // %1 is the test's folder
    QTest::addColumn<QString>("champ"); // the fichier field written
    QTest::newRow("folder kept") << QString("%1/run2/acquisition7.csv")
                                 << "%1/run2/acquisition7.csv";
    QTest::newRow("separator") << QString("%1/a;b.csv") << "\"%1/a;b.csv\"";
    QTest::newRow("quote") << QString("%1/un \"essai\".csv") << "\"%1/un \"\"essai\"\".csv\"";
    QTest::newRow("line feed") << QString("%1/deux\nlignes.csv") << "\"%1/deux\nlignes.csv\"";
    QTest::newRow("standard input") << QString("-") << "-";
}

void SoufflesTest::fileColumnNamesTheCaptureAsGiven()
{
    QFETCH(QString, nom);
    QFETCH(QString, champ);
    const QString chemin = nom.arg(dossier.path());
    if (chemin != "-")
        QVERIFY(QDir().mkpath(QFileInfo(chemin).path()) && QFile::copy(capture, chemin));
    const Sortie sortie =
        lancer({"--frequence", "200", chemin}, chemin == "-" ? capture : QString());
    QCOMPARE(sortie.statut, 0);
    const QString table = QString::fromUtf8(sortie.table);
    champ = champ.arg(dossier.path());
    // Every breath, and each on its line (no apnea: apnee_s, last, is empty).
    QCOMPARE(table.count(";" + champ + ";\n"), 11);
    QCOMPARE(table.count('\n'), 1 + 11 * (1 + champ.count('\n')));
}

// Read as a spreadsheet reads it, by the names of the header: each name holds
// its own channel's values on a capture whose three channels differ (O2 16 to
// 21, CO2 5 to 0, Flux +-2.5), and apnee_s the pause that only the breath
// after it ended.
void SoufflesTest::columnsReadByNameHoldTheirChannel()
{
    const QString voies =
        ecrire("voies.csv", genererSignal(souffleAvecPause(17.5), Conditions()), true);

    const Sortie sortie = lancer({"--apnee", "10", voies});
    QCOMPARE(sortie.statut, 0);
    const QList<QByteArray> table = sortie.table.trimmed().split('\n');
    QCOMPARE(table.size(), 1 + 9);
    const QList<QByteArray> noms = table.first().split(';');
    QCOMPARE(noms.last(), QByteArray("apnee_s"));
    auto champ = [&noms](const QByteArray& ligne, const char* nom) {
        return ligne.split(';').value(noms.indexOf(nom));
    };
    int apnees = 0;
    for (const QByteArray& ligne : table.mid(1)) {
        QCOMPARE(ligne.split(';').size(), noms.size());
        const QList<QPair<const char*, double>> valeurs{{"o2_max", 21.0},  {"o2_min", 16.0},
                                                        {"co2_max", 5.0},  {"co2_min", 0.0},
                                                        {"flux_max", 2.5}, {"flux_min", -2.5}};
        for (const auto& v : valeurs)
            QVERIFY2(std::abs(champ(ligne, v.first).toDouble() - v.second) < 0.1, v.first);
        // From the onset before the pause to the one after it.
        const QByteArray apnee = champ(ligne, "apnee_s");
        apnees += !apnee.isEmpty();
        QVERIFY2(apnee.isEmpty() || std::abs(apnee.toDouble() - 17.5) < 0.5, apnee.constData());
    }
    QCOMPARE(apnees, 1);
}

QTEST_GUILESS_MAIN(SoufflesTest)
#include "SoufflesTest.moc"
