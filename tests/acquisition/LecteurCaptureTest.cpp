#include "LecteurCapture.h"

#include <QTemporaryDir>
#include <QtTest>
#include <charconv>
#include <random>

using Lignes = QVector<QVector<double>>;

class LecteurCaptureTest : public QObject
{
    Q_OBJECT

private slots:
    void linesReadAsThreeFields_data();
    void linesReadAsThreeFields();
    void rewindStartsAgainAfterTheMark();
    void hugeLineIsSkippedOnceAndRemembered();

private:
    QString ecrire(const QByteArray& octets);
    static Lignes toutLire(LecteurCapture& lecteur, int maximum = 1000);
    QTemporaryDir dossier;
    int numero = 0;
};

QString LecteurCaptureTest::ecrire(const QByteArray& octets)
{
    const QString nom = dossier.filePath(QStringLiteral("f%1.csv").arg(++numero));
    QFile fichier(nom);
    if (!fichier.open(QIODevice::WriteOnly) || fichier.write(octets) != octets.size())
        return QString();
    return nom;
}

Lignes LecteurCaptureTest::toutLire(LecteurCapture& lecteur, int maximum)
{
    Lignes lignes;
    double champs[3];
    while (lignes.size() < maximum && lecteur.lireLigne(champs))
        lignes.append({champs[0], champs[1], champs[2]});
    return lignes;
}

void LecteurCaptureTest::linesReadAsThreeFields_data()
{
    QTest::addColumn<QByteArray>("contenu");
    QTest::addColumn<Lignes>("attendu");

    const QByteArray blancs(10000, ' ');
    const QByteArray zeros(9000, '0');
    const QByteArray decimales(9000, '7');

    QTest::newRow("station lines")
        << QByteArray("0;47.0924;0\r\n0;125;0\r\n") << Lignes{{0, 47.0924, 0}, {0, 125, 0}};
    QTest::newRow("CR CR LF") << QByteArray("0;1.5;0\r\r\n") << Lignes{{0, 1.5, 0}};
    QTest::newRow("missing fields")
        << QByteArray("7\n;8\n\n") << Lignes{{7, 0, 0}, {0, 8, 0}, {0, 0, 0}};
    QTest::newRow("words and junk") << QByteArray("abc;1,5;2 3\n+4;-5;1e3\n+-1;nan;inf\n")
                                    << Lignes{{0, 0, 0}, {4, -5, 1000}, {0, 0, 0}};
    QTest::newRow("values no channel can take are the line before's")
        << QByteArray("1;2;3\n1e308;-2e6;5\n4;1e6;-1e300\n")
        << Lignes{{1, 2, 3}, {1, 2, 5}, {4, 1e6, 5}};
    QTest::newRow("fields past the third")
        << QByteArray("1;2;3;4;5\n6;7;8;\n") << Lignes{{1, 2, 3}, {6, 7, 8}};
    QTest::newRow("last line without line feed")
        << QByteArray("1;2;3\n4;5;6") << Lignes{{1, 2, 3}, {4, 5, 6}};
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF"
                                                   "9;8;7\r\n")
                                     << Lignes{{9, 8, 7}};
    QTest::newRow("mark only at the start") << QByteArray("1;2;3\n\xEF\xBB\xBF"
                                                          "4;5;6\n")
                                            << Lignes{{1, 2, 3}, {0, 5, 6}};
    QTest::newRow("long white space around fields")
        << QByteArray(blancs + "1.25" + blancs + ";" + blancs + "2" + "\r\n")
        << Lignes{{1.25, 2, 0}};
    QTest::newRow("field after a 10000-byte field")
        << QByteArray(blancs + "1;" + blancs + ";3\n") << Lignes{{1, 0, 3}};
    QTest::newRow("long leading zeros")
        << QByteArray("-" + zeros + "4.5;" + zeros + "\n") << Lignes{{-4.5, 0, 0}};
    QTest::newRow("long fraction")
        << QByteArray("1." + decimales + ";2\n") << Lignes{{1.7777777777777777, 2, 0}};
    QTest::newRow("long junk") << QByteArray(decimales + "x;2\n") << Lignes{{0, 2, 0}};
    QTest::newRow("huge fourth field")
        << QByteArray("1;2;3;" + QByteArray(300000, 'z') + "\n4;5;6\n")
        << Lignes{{1, 2, 3}, {4, 5, 6}};
    QTest::newRow("empty file") << QByteArray() << Lignes{};
    QTest::newRow("plain numbers at 15 digits and past")
        << QByteArray("0.1;-0.000000000000001;999999.999999999\n"
                      "0.30000000000000004;-999999.9999999999;000000000000000000012.5\n"
                      " 5.;.5;-.5 \r\n-0;+0.25e1;7\n")
        << Lignes{{0.1, -1e-15, 999999.999999999},
                  {0.30000000000000004, -999999.9999999999, 12.5},
                  {5, 0.5, -0.5},
                  {0, 2.5, 7}};
    // Values as an instrument writes them, of every length, each expected as
    // std::from_chars reads its text.
    QByteArray aleatoires;
    Lignes valeurs;
    std::mt19937 alea(7);
    std::uniform_real_distribution<double> uniforme(-1.0, 1.0);
    for (int i = 0; i < 3000; ++i) {
        QVector<double> ligne;
        for (int c = 0; c < 3; ++c) {
            const double v = uniforme(alea) * std::pow(10.0, int(alea() % 7));
            const QByteArray texte = c == 2 ? QByteArray::number(v, 'g', 1 + int(alea() % 16))
                                            : QByteArray::number(v, 'f', int(alea() % 12));
            double lu = 0.0;
            std::from_chars(texte.constData(), texte.constData() + texte.size(), lu);
            ligne.append(lu);
            aleatoires += texte + (c < 2 ? ";" : "\n");
        }
        valeurs.append(ligne);
    }
    QTest::newRow("instrument values, read to the last bit") << aleatoires << valeurs;
}

void LecteurCaptureTest::linesReadAsThreeFields()
{
    QFETCH(QByteArray, contenu);
    QFETCH(Lignes, attendu);
    LecteurCapture lecteur;
    QVERIFY(lecteur.ouvrir(ecrire(contenu)));
    const Lignes lues = toutLire(lecteur, 100000);
    QCOMPARE(lues.size(), attendu.size());
    for (int i = 0; i < lues.size(); ++i)
        for (int j = 0; j < 3; ++j)
            QVERIFY2(lues[i][j] == attendu[i][j], qPrintable(QStringLiteral("line %1 field %2: %3")
                                                                 .arg(i)
                                                                 .arg(j)
                                                                 .arg(lues[i][j], 0, 'g', 17)));
    QCOMPARE(lecteur.position(), lecteur.taille());
}

void LecteurCaptureTest::rewindStartsAgainAfterTheMark()
{
    LecteurCapture lecteur;
    QVERIFY(lecteur.ouvrir(ecrire("\xEF\xBB\xBF"
                                  "1;2;3\r\n4;5;6\r\n")));
    QCOMPARE(toutLire(lecteur), (Lignes{{1, 2, 3}, {4, 5, 6}}));
    double champs[3];
    QVERIFY(!lecteur.lireLigne(champs));
    lecteur.rembobiner();
    QCOMPARE(toutLire(lecteur), (Lignes{{1, 2, 3}, {4, 5, 6}}));
}

// A file of one line of a gigabyte, sparse so that it costs no disk: its
// fields are read once, over calls that each read a bounded number of bytes,
// and a second pass jumps over its bytes, as long as the file is unchanged.
void LecteurCaptureTest::hugeLineIsSkippedOnceAndRemembered()
{
    const QString nom = ecrire("1;2;3;");
    QFile fichier(nom);
    QVERIFY(fichier.open(QIODevice::ReadWrite));
    QVERIFY(fichier.resize(qint64(1) << 30));
    QVERIFY(fichier.seek(fichier.size()));
    QVERIFY(fichier.write("\n4;5;6\n") == 7);
    fichier.close();

    LecteurCapture lecteur;
    QVERIFY(lecteur.ouvrir(nom));
    constexpr qint64 budget = 64 << 20;
    double champs[3];
    int suites = 0;
    for (qint64 avant = 0; lecteur.lireLigne(champs, budget) == LecteurCapture::Lecture::Suite;
         avant = lecteur.position()) {
        ++suites;
        QVERIFY(lecteur.position() - avant <= budget + 64 * 1024);
    }
    QCOMPARE(suites, 16); // the line feed comes just past the 16th budget
    QCOMPARE(champs[2], 3.0);
    QCOMPARE(toutLire(lecteur), (Lignes{{4, 5, 6}}));
    lecteur.rembobiner();
    QCOMPARE(int(lecteur.lireLigne(champs, budget)), int(LecteurCapture::Lecture::Ligne));

    // A line feed written into the middle of the line: same size, a new
    // modification time, and the line is read afresh.
    QVERIFY(fichier.open(QIODevice::ReadWrite));
    QVERIFY(fichier.seek(qint64(1) << 29));
    QVERIFY(fichier.write("\n7;8;9\n") == 7);
    fichier.close();
    lecteur.rembobiner();
    QCOMPARE(toutLire(lecteur), (Lignes{{1, 2, 3}, {7, 8, 9}, {0, 0, 0}, {4, 5, 6}}));
    // Rewritten shorter in place, as a new capture over the old one.
    QVERIFY(fichier.open(QIODevice::WriteOnly | QIODevice::Truncate) && fichier.write("5\n") == 2);
    fichier.close();
    lecteur.rembobiner();
    QCOMPARE(toutLire(lecteur), (Lignes{{5, 0, 0}}));
}

QTEST_GUILESS_MAIN(LecteurCaptureTest)
#include "LecteurCaptureTest.moc"
