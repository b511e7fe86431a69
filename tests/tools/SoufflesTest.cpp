// The souffles tool as a user runs it: capture files in, the breath table out.
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
    void columnsReadByNameHoldTheirChannel();

private:
    struct Sortie
    {
        int statut = -1;
        QByteArray table;
        QString messages;
    };
    Sortie lancer(const QStringList& arguments);
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

SoufflesTest::Sortie SoufflesTest::lancer(const QStringList& arguments)
{
    QProcess programme;
    QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
    environnement.insert("LC_ALL", "fr_FR.UTF-8"); // a decimal comma locale
    programme.setProcessEnvironment(environnement);
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
        QCOMPARE(champs[lignes.first().split(';').indexOf("fichier")],
                 QByteArray("acquisition7.csv"));
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

// Read as a spreadsheet reads it, by the names of the header: each name holds
// its own channel's values on a capture whose three channels differ (O2 16 to
// 21, CO2 5 to 0, Flux +-2.5), and apnee_s the pause that only the breath
// after it ended.
void SoufflesTest::columnsReadByNameHoldTheirChannel()
{
    QVector<Souffle> souffles(5, {2.5, 5.0, 0.4});
    souffles.append({17.5, 5.0, 2.5 / 17.5});
    souffles += QVector<Souffle>(5, {2.5, 5.0, 0.4});
    const SignalRespiratoire s = genererSignal(souffles, Conditions());
    QByteArray lignes;
    for (int i = 0; i < s.o2.size(); ++i)
        lignes += QByteArray::number(s.co2[i], 'g', 6) + ';' + QByteArray::number(s.o2[i], 'g', 6) +
                  ';' + QByteArray::number(s.flux[i], 'g', 6) + "\r\n";
    const QString voies = dossier.filePath("voies.csv");
    QFile fichier(voies);
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write(lignes);
    fichier.close();

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
