// The capture file on its own, without a port: its number, its lines, a full disk.
#include "FichierCapture.h"
#include "PetitDisque.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray contenu(const QString& nom)
{
    QFile fichier(nom);
    return fichier.open(QIODevice::ReadOnly) ? fichier.readAll() : QByteArray();
}

QByteArray ligne(double valeur)
{
    return "0;" + QByteArray::number(valeur, 'g', 6) + ";0\r\n";
}

} // namespace

class FichierCaptureTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void numberSkipsEveryTakenEntry_data();
    void numberSkipsEveryTakenEntry();
    void fileThatCannotBeCreatedIsNamed();
    void fullDiskKeepsWholeLinesAndFailsOnce_data();
    void fullDiskKeepsWholeLinesAndFailsOnce();

private:
    QTemporaryDir racine;
    QString dossier;
};

void FichierCaptureTest::init()
{
    QVERIFY(racine.isValid());
    dossier = racine.filePath(QString::fromLatin1(QTest::currentTestFunction()) + "_" +
                              QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(dossier));
}

void FichierCaptureTest::numberSkipsEveryTakenEntry_data()
{
    QTest::addColumn<QString>("entree"); // what stands at acquisition1.csv
    QTest::newRow("dangling link") << "dangling link";
    QTest::newRow("link to a file elsewhere") << "link";
    QTest::newRow("directory") << "directory";
    QTest::newRow("unwritable entry") << "unwritable";
}

void FichierCaptureTest::numberSkipsEveryTakenEntry()
{
    QFETCH(QString, entree);
    const QString premier = QDir(dossier).filePath("acquisition1.csv");
    const QString autre = racine.filePath(entree + ".victime");
    QFile victime(autre);
    QVERIFY(victime.open(QIODevice::WriteOnly));
    victime.write("à garder\n");
    victime.close();
    if (entree == "dangling link")
        QVERIFY(QFile::link(racine.filePath("nulle-part/rien"), premier));
    else if (entree == "link")
        QVERIFY(QFile::link(autre, premier));
    else if (entree == "directory")
        QVERIFY(QDir().mkdir(premier));
    else
        QVERIFY(QFile(premier).open(QIODevice::WriteOnly) && ::chmod(qPrintable(premier), 0) == 0);

    FichierCapture capture;
    QVERIFY(capture.creer(dossier));
    QCOMPARE(capture.chemin(), QDir(dossier).filePath("acquisition2.csv"));
    capture.ajouterLigne(125.0);
    capture.ajouterLigne(0.0038147);
    QVERIFY(capture.fermer());
    QCOMPARE(contenu(capture.chemin()), ligne(125.0) + ligne(0.0038147));
    QCOMPARE(contenu(autre), QByteArray("à garder\n"));
    QVERIFY(!QFileInfo::exists(racine.filePath("nulle-part")));

    // The file just made is taken in its turn.
    QVERIFY(capture.creer(dossier));
    QCOMPARE(capture.chemin(), QDir(dossier).filePath("acquisition3.csv"));
}

void FichierCaptureTest::fileThatCannotBeCreatedIsNamed()
{
    FichierCapture capture;
    QVERIFY(!capture.creer(dossier + "/absent"));
    QVERIFY(!capture.estOuvert());
    QCOMPARE(capture.chemin(), dossier + "/absent/acquisition1.csv");
    QVERIFY(!capture.erreur().isEmpty());
    capture.ajouterLigne(1.0);
    QVERIFY(capture.ecrire());
    QVERIFY(capture.fermer());
}

void FichierCaptureTest::fullDiskKeepsWholeLinesAndFailsOnce_data()
{
    QTest::addColumn<int>("occupe"); // bytes of the disk taken before the capture
    QTest::addColumn<int>("lignes");
    QTest::addColumn<int>("parEcriture"); // lines between two ecrire(false), 0 for none
    QTest::addColumn<int>("tailleMin");   // bytes the file keeps at least
    QTest::newRow("while capturing") << 0 << 20000 << 300 << 32 * 1024;
    QTest::newRow("at the close") << 14 * 4096 << 1000 << 0 << 4096;
}

void FichierCaptureTest::fullDiskKeepsWholeLinesAndFailsOnce()
{
    QFETCH(int, occupe);
    QFETCH(int, lignes);
    QFETCH(int, parEcriture);
    QFETCH(int, tailleMin);
    PetitDisque disque(dossier);
    if (!disque.estMonte())
        QSKIP("mounting a 64 KiB tmpfs needs root (and the right to mount)");
    QFile plein(QDir(dossier).filePath("occupe"));
    QVERIFY(plein.open(QIODevice::WriteOnly));
    QCOMPARE(plein.write(QByteArray(occupe, 'x')), qint64(occupe));
    plein.close();

    FichierCapture capture;
    QVERIFY(capture.creer(dossier));
    QByteArray attendu;
    int echecs = 0;
    for (int i = 0; i < lignes; ++i) {
        const double v = i * 7 * 250.0 / 65536.0;
        capture.ajouterLigne(v);
        attendu += ligne(v);
        if (parEcriture > 0 && i % parEcriture == 0 && !capture.ecrire(false))
            ++echecs;
    }
    if (!capture.fermer())
        ++echecs;
    QCOMPARE(echecs, 1);
    QVERIFY(!capture.estOuvert());

    const QByteArray ecrit = contenu(capture.chemin());
    QVERIFY2(ecrit.size() >= tailleMin, qPrintable(QString::number(ecrit.size())));
    QVERIFY(ecrit.endsWith("\r\n"));
    QVERIFY(attendu.startsWith(ecrit));
}

QTEST_GUILESS_MAIN(FichierCaptureTest)
#include "FichierCaptureTest.moc"
