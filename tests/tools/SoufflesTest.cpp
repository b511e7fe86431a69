// The souffles tool as a user runs it: capture files in, the breath table out.
#include "PetitDisque.h"
#include "SignalRespiratoire.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray contenu(const QString& nom)
{
    QFile fichier(nom);
    return fichier.open(QIODevice::ReadOnly) ? fichier.readAll() : QByteArray();
}

} // namespace

class SoufflesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tableOfEveryBreathWhateverTheBadFilesBeside();
    void tableWrittenToTheNamedFile();
    void apneaDelayDecidesWhetherAPauseIsABreath_data();
    void apneaDelayDecidesWhetherAPauseIsABreath();
    void commandLineSpeaksFrench_data();
    void commandLineSpeaksFrench();
    void tableNeverDestroysAnEarlierFile_data();
    void tableNeverDestroysAnEarlierFile();
    void fileColumnNamesTheCaptureAsGiven_data();
    void fileColumnNamesTheCaptureAsGiven();

private:
    struct Sortie
    {
        int statut = -1;
        QByteArray table;
        QString messages;
    };
    Sortie lancer(const QStringList& arguments, const QByteArray& entree = QByteArray());
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
    const SignalRespiratoire s = genererSignal(QVector<Souffle>(12, {2.5, 5.0, 0.4}), conditions);
    QByteArray lignes;
    for (double v : s.o2)
        lignes += "0;" + QByteArray::number(v, 'g', 6) + ";0\r\n";
    capture = dossier.filePath("acquisition7.csv");
    QFile fichier(capture);
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write(lignes);
}

SoufflesTest::Sortie SoufflesTest::lancer(const QStringList& arguments, const QByteArray& entree)
{
    QProcess programme;
    QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
    environnement.insert("LC_ALL", "fr_FR.UTF-8"); // a decimal comma locale
    programme.setProcessEnvironment(environnement);
    programme.start(QStringLiteral(STATION_SOUFFLES), arguments);
    programme.write(entree);
    programme.closeWriteChannel();
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
        QCOMPARE(champs.last(), capture.toUtf8()); // the path as given
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
}

void SoufflesTest::apneaDelayDecidesWhetherAPauseIsABreath_data()
{
    QTest::addColumn<QString>("delai");
    QTest::addColumn<int>("statut");
    QTest::addColumn<int>("cycles");
    // Five breaths, a 15 s pause, five more: the pause ends one breath at the
    // default 20 s, and is an apnea, no breath, at 10 s.
    QTest::newRow("default") << QString() << 0 << 10;
    QTest::newRow("10 s") << QString("10") << 0 << 9;
    QTest::newRow("too short") << QString("5") << 1 << -1;
    QTest::newRow("not a number") << QString("dix") << 1 << -1;
}

void SoufflesTest::apneaDelayDecidesWhetherAPauseIsABreath()
{
    QFETCH(QString, delai);
    QFETCH(int, statut);
    QFETCH(int, cycles);
    QVector<Souffle> souffles(5, {2.5, 5.0, 0.4});
    souffles.append({17.5, 5.0, 2.5 / 17.5});
    souffles += QVector<Souffle>(5, {2.5, 5.0, 0.4});
    const SignalRespiratoire s = genererSignal(souffles, Conditions());
    QByteArray lignes;
    for (double v : s.o2)
        lignes += "0;" + QByteArray::number(v, 'g', 6) + ";0\r\n";
    const QString pause = dossier.filePath("pause.csv");
    QFile fichier(pause);
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write(lignes);
    fichier.close();

    const QStringList options = delai.isEmpty() ? QStringList() : QStringList{"--apnee", delai};
    const Sortie sortie = lancer(options + QStringList{pause});
    QCOMPARE(sortie.statut, statut);
    if (cycles >= 0)
        QCOMPARE(sortie.table.count('\n') - 1, cycles);
    else
        QVERIFY2(sortie.messages.contains(QString("délai d'apnée invalide : %1").arg(delai)),
                 qPrintable(sortie.messages));
}

void SoufflesTest::commandLineSpeaksFrench_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{"--bavard", "x.csv"} << "Option inconnue";
    QTest::newRow("apnea out of range")
        << QStringList{"--apnee", "61", "x.csv"} << "délai d'apnée invalide : 61 (de 10 à 60 s)";
    QTest::newRow("a folder") << QStringList{"."} << "ce n'est pas un fichier";
    QTest::newRow("every input fails")
        << QStringList{"absent1.csv", "absent2.csv"} << "absent2.csv : fichier introuvable";
}

// Every failure is said in French and ends with status 1 and no table at all.
void SoufflesTest::commandLineSpeaksFrench()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Sortie sortie = lancer(arguments);
    QCOMPARE(sortie.statut, 1);
    QVERIFY2(sortie.messages.contains(message), qPrintable(sortie.messages));
    QCOMPARE(sortie.table, QByteArray());
}

void SoufflesTest::tableNeverDestroysAnEarlierFile_data()
{
    QTest::addColumn<QString>("cas");
    QTest::newRow("output is the capture") << "same path";
    QTest::newRow("output is the capture by another path") << "other path";
    QTest::newRow("output is the capture by a link") << "link";
    QTest::newRow("output is standard input") << "stdin";
    QTest::newRow("every input fails") << "no input";
    QTest::newRow("full disk") << "full disk";
}

void SoufflesTest::tableNeverDestroysAnEarlierFile()
{
    QFETCH(QString, cas);
    const QString sousDossier = dossier.filePath(cas);
    QVERIFY(QDir().mkpath(sousDossier));
    QScopedPointer<PetitDisque> disque;
    const QString ancien = QDir(sousDossier).filePath("ancien.csv");
    if (cas == "full disk") {
        disque.reset(new PetitDisque(sousDossier));
        if (!disque->estMonte())
            QSKIP("mounting a 64 KiB tmpfs needs root (and the right to mount)");
        QFile table(ancien);
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write("the earlier table\n");
    } else {
        QVERIFY(QFile::copy(capture, ancien));
    }
    const QByteArray avant = contenu(ancien);
    QString entree = capture;
    QString sortie = ancien;
    QByteArray standard;
    if (cas == "same path" || cas == "other path" || cas == "link") {
        entree = ancien;
        if (cas == "other path")
            sortie = QDir(sousDossier).filePath("../" + cas + "/./ancien.csv");
        if (cas == "link")
            QVERIFY(QFile::link(ancien, sortie = QDir(sousDossier).filePath("lien.csv")));
    } else if (cas == "stdin") {
        entree = "-";
        standard = avant;
    } else if (cas == "no input") {
        entree = dossier.filePath("absent.csv");
    } else {
        QFile plein(QDir(sousDossier).filePath("plein"));
        QVERIFY(plein.open(QIODevice::WriteOnly));
        while (plein.write(QByteArray(4096, 'x')) == 4096 && plein.flush())
            ;
    }

    QProcess programme;
    if (cas == "stdin")
        programme.setStandardInputFile(ancien);
    programme.start(QStringLiteral(STATION_SOUFFLES),
                    {"--frequence", "200", "--sortie", sortie, entree});
    QVERIFY(programme.waitForFinished(30000));
    QCOMPARE(programme.exitCode(), 1);
    const QString messages = QString::fromUtf8(programme.readAllStandardError());
    if (cas != "no input" && cas != "full disk")
        QVERIFY2(messages.contains("le tableau ne peut pas la remplacer"), qPrintable(messages));
    QCOMPARE(contenu(ancien), avant);
    QCOMPARE(QDir(sousDossier).entryList(QDir::Files).size(),
             cas == "full disk" ? 2 : 1 + (cas == "link"));
}

void SoufflesTest::fileColumnNamesTheCaptureAsGiven_data()
{
    QTest::addColumn<QString>("nom");   // the capture's path as given, from the test's folder
    QTest::addColumn<QString>("champ"); // the fichier field as written
    QTest::newRow("folder kept") << "run2/acquisition1.csv"
                                 << "run2/acquisition1.csv";
    QTest::newRow("separator") << "a;b.csv"
                               << "\"a;b.csv\"";
    QTest::newRow("quote") << "un \"essai\".csv"
                           << "\"un \"\"essai\"\".csv\"";
    QTest::newRow("line feed") << "deux\nlignes.csv"
                               << "\"deux\nlignes.csv\"";
    QTest::newRow("standard input") << "-"
                                    << "-";
}

void SoufflesTest::fileColumnNamesTheCaptureAsGiven()
{
    QFETCH(QString, nom);
    QFETCH(QString, champ);
    QProcess programme;
    programme.setWorkingDirectory(dossier.path());
    if (nom == "-") {
        programme.setStandardInputFile(capture);
    } else {
        QVERIFY(QDir(dossier.path()).mkpath(QFileInfo(dossier.filePath(nom)).path()));
        QFile::remove(dossier.filePath(nom));
        QVERIFY(QFile::copy(capture, dossier.filePath(nom)));
    }
    programme.start(QStringLiteral(STATION_SOUFFLES), {"--frequence", "200", nom});
    QVERIFY(programme.waitForFinished(30000));
    QCOMPARE(programme.exitCode(), 0);
    const QString table = QString::fromUtf8(programme.readAllStandardOutput());
    // Each breath line ends with the field: 11 breaths, one header.
    QCOMPARE(table.count(";" + champ + "\n"), 11);
    QCOMPARE(table.count('\n'), 1 + 11 * (1 + champ.count('\n')));
}

QTEST_GUILESS_MAIN(SoufflesTest)
#include "SoufflesTest.moc"
