// A stretch of a capture read for the review, written out: its lines are the
// file's bytes whatever the line ends, a last line without a line feed or a
// line of megabytes (a byte-order mark is the file's, not its first line's);
// the capture read is never replaced. The reading gives out the channels
// before the breaths.
#include "ExtraitCapture.h"
#include "DonneesRevue.h"
#include "LectureRevue.h"
#include "ScenarioFenetre.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {

std::shared_ptr<const DonneesRevue> lire(const QString& chemin)
{
    LectureRevue lecture(chemin, LectureRevue::Reglages());
    lecture.start();
    lecture.wait();
    return lecture.resultat();
}

QByteArray capture(int lignes, const QByteArray& fin, int longue = -1)
{
    QByteArray contenu;
    for (int i = 0; i < lignes; ++i) {
        contenu +=
            QByteArray::number(i % 7) + ';' + QByteArray::number(50.0 + (i % 40) * 0.25) + ";0";
        if (i == longue)
            contenu += ';' + QByteArray(2 * 1024 * 1024, 'x');
        contenu += fin;
    }
    return contenu;
}

} // namespace

class ExtraitCaptureTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dossier;

private slots:
    void stretchKeepsTheLinesOfTheFile_data()
    {
        QTest::addColumn<QByteArray>("contenu");
        QTest::addColumn<qint64>("premiere");
        QTest::addColumn<qint64>("fin");
        const QByteArray crlf = capture(1000, "\r\n");
        QTest::newRow("CR LF, the middle") << crlf << qint64(300) << qint64(700);
        QTest::newRow("across an indexed line") << crlf << qint64(255) << qint64(257);
        QTest::newRow("from an indexed line") << crlf << qint64(256) << qint64(512);
        QTest::newRow("the whole file") << crlf << qint64(0) << qint64(1000);
        QTest::newRow("byte-order mark, from the start")
            << QByteArray("\xEF\xBB\xBF") + capture(600, "\n") << qint64(0) << qint64(10);
        QByteArray sansFin = capture(530, "\n");
        sansFin.chop(1);
        QTest::newRow("last line without line feed") << sansFin << qint64(520) << qint64(530);
        QTest::newRow("a line of megabytes inside")
            << capture(800, "\n", 500) << qint64(499) << qint64(502);
    }
    void stretchKeepsTheLinesOfTheFile()
    {
        QFETCH(QByteArray, contenu);
        QFETCH(qint64, premiere);
        QFETCH(qint64, fin);
        const QString source = dossier.filePath(QStringLiteral("source.csv"));
        QVERIFY(ecrireFichier(source, contenu));
        const auto donnees = lire(source);
        QVERIFY(donnees);
        // A byte-order mark marks the file, not its first line.
        QList<QByteArray> toutes = lignesBrutes(contenu);
        if (toutes.first().startsWith("\xEF\xBB\xBF"))
            toutes.first().remove(0, 3);
        QCOMPARE(donnees->lignes, qint64(toutes.size()));

        Cycle c;
        c.debut = premiere / 100.0 + 1.0;
        c.duree = 3.0;
        const QString extrait = dossier.filePath(QStringLiteral("extrait.csv"));
        QCOMPARE(ExtraitCapture::ecrire(*donnees, premiere, fin, extrait, {c}), QString());
        QByteArray attendu;
        for (qint64 i = premiere; i < fin; ++i)
            attendu += toutes[int(i)];
        QFile sortie(extrait);
        QVERIFY(sortie.open(QIODevice::ReadOnly));
        QCOMPARE(sortie.readAll(), attendu);

        // The breath's time counts from the stretch's first line.
        QFile table(ExtraitCapture::nomTableCycles(extrait));
        QVERIFY(table.open(QIODevice::ReadOnly));
        const QList<QByteArray> lignesTable = table.readAll().split('\n');
        QCOMPARE(lignesTable.value(1).split(';').value(0), QByteArray("1.000"));
    }

    void theCaptureReadIsNeverReplaced()
    {
        const QString source = dossier.filePath(QStringLiteral("garde.csv"));
        const QByteArray contenu = capture(400, "\r\n");
        QVERIFY(ecrireFichier(source, contenu));
        const auto donnees = lire(source);
        QVERIFY(donnees);
        QVERIFY(!ExtraitCapture::ecrire(*donnees, 10, 20, source, {}).isEmpty());
        // Nor through another path to it.
        const QString lien = dossier.filePath(QStringLiteral("lien.csv"));
        QVERIFY(QFile::link(source, lien));
        QVERIFY(!ExtraitCapture::ecrire(*donnees, 10, 20, lien, {}).isEmpty());
        QFile fichier(source);
        QVERIFY(fichier.open(QIODevice::ReadOnly));
        QCOMPARE(fichier.readAll(), contenu);
    }

    // The channels are given out first, without breaths; resultat() then adds
    // the breaths to the same data. A reading given up while the breaths are
    // still being found gives nothing, and no message.
    void channelsComeBeforeTheBreaths()
    {
        const QString source = dossier.filePath(QStringLiteral("etapes.csv"));
        QFile fichier(source);
        QVERIFY(fichier.open(QIODevice::WriteOnly));
        for (int i = 0; i < 6000; ++i)
            fichier.write("0;" + QByteArray::number(55.0 + 5.0 * std::sin(i * M_PI / 200.0)) +
                          ";0\n");
        fichier.close();
        for (const bool abandon : {false, true}) {
            LectureRevue lecture(source, LectureRevue::Reglages());
            std::shared_ptr<const DonneesRevue> canaux;
            size_t cyclesAuxCanaux = 1;
            // On the reading thread, as the channels are given out.
            connect(
                &lecture, &LectureRevue::canauxLus, this,
                [&] {
                    canaux = lecture.canaux();
                    cyclesAuxCanaux = canaux ? canaux->cycles.size() : 1;
                    if (abandon)
                        lecture.annuler();
                },
                Qt::DirectConnection);
            lecture.start();
            QVERIFY(lecture.wait(30000));
            QVERIFY(canaux);
            QCOMPARE(canaux->lignes, qint64(6000));
            QCOMPARE(cyclesAuxCanaux, size_t(0));
            const auto donnees = lecture.resultat();
            if (abandon) {
                QVERIFY(!donnees);
                QCOMPARE(lecture.erreur(), QString());
            } else {
                QCOMPARE(donnees, canaux);
                QVERIFY(donnees->cycles.size() > 10);
            }
        }
    }
};

QTEST_MAIN(ExtraitCaptureTest)
#include "ExtraitCaptureTest.moc"
