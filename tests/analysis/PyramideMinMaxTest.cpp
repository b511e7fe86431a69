#include "PyramideMinMax.h"

#include <QtTest>
#include <algorithm>
#include <random>

namespace {

PyramideMinMax::Etendue brute(const std::vector<float>& v, qint64 debut, qint64 fin)
{
    PyramideMinMax::Etendue e;
    for (qint64 i = std::max<qint64>(0, debut); i < std::min<qint64>(fin, qint64(v.size())); ++i) {
        e.min = e.vide ? v[size_t(i)] : std::min(e.min, v[size_t(i)]);
        e.max = e.vide ? v[size_t(i)] : std::max(e.max, v[size_t(i)]);
        e.vide = false;
    }
    return e;
}

bool egales(const PyramideMinMax::Etendue& a, const PyramideMinMax::Etendue& b)
{
    return a.vide == b.vide && (a.vide || (a.min == b.min && a.max == b.max));
}

QString texte(const PyramideMinMax::Etendue& e)
{
    return e.vide ? QStringLiteral("vide") : QStringLiteral("[%1, %2]").arg(e.min).arg(e.max);
}

} // namespace

class PyramideMinMaxTest : public QObject
{
    Q_OBJECT

private slots:
    // Every group of every level, stretches of any length and place (past the
    // ends too) and the columns of a drawing, against a scan of the samples.
    void levelsMatchABruteForceScan_data()
    {
        QTest::addColumn<int>("taille");
        QTest::addColumn<int>("facteur");
        QTest::addColumn<int>("valeursDistinctes"); // 0: any float
        QTest::newRow("empty") << 0 << 8 << 0;
        QTest::newRow("one sample") << 1 << 8 << 0;
        QTest::newRow("one group") << 8 << 8 << 0;
        QTest::newRow("one group and one") << 9 << 8 << 0;
        QTest::newRow("factor 2, odd length") << 1001 << 2 << 0;
        QTest::newRow("factor 3, ties") << 5000 << 3 << 4;
        QTest::newRow("three full levels and a tail") << 8 * 8 * 8 * 8 + 13 << 8 << 0;
        QTest::newRow("constant") << 3000 << 8 << 1;
        QTest::newRow("a long channel") << 300000 << 8 << 0;
    }
    void levelsMatchABruteForceScan()
    {
        QFETCH(int, taille);
        QFETCH(int, facteur);
        QFETCH(int, valeursDistinctes);
        std::mt19937 alea(uint32_t(taille * 31 + facteur));
        std::uniform_real_distribution<float> reel(-1000.0f, 1000.0f);
        std::uniform_int_distribution<int> entier(0, std::max(0, valeursDistinctes - 1));
        std::vector<float> v(static_cast<size_t>(taille));
        for (float& x : v)
            x = valeursDistinctes ? float(entier(alea)) : reel(alea);
        const PyramideMinMax p(v, facteur);
        QCOMPARE(p.taille(), qint64(taille));
        const PyramideMinMax::Etendue tout = brute(v, 0, taille);
        QCOMPARE(p.constante(), tout.vide || tout.min == tout.max);

        for (int niveau = 1; niveau <= p.niveaux(); ++niveau) {
            const qint64 pas = p.pas(niveau);
            QCOMPARE(p.nombreGroupes(niveau), (qint64(taille) + pas - 1) / pas);
            for (qint64 g = 0; g < p.nombreGroupes(niveau); ++g) {
                if (!egales(p.groupe(niveau, g), brute(v, g * pas, (g + 1) * pas)))
                    QFAIL(qPrintable(QStringLiteral("level %1 group %2: %3, scan %4")
                                         .arg(niveau)
                                         .arg(g)
                                         .arg(texte(p.groupe(niveau, g)),
                                              texte(brute(v, g * pas, (g + 1) * pas)))));
            }
        }
        if (taille > 0)
            QVERIFY(p.nombreGroupes(p.niveaux()) <= facteur);

        std::uniform_int_distribution<qint64> position(-20, taille + 20);
        for (int essai = 0; essai < 2000; ++essai) {
            qint64 a = position(alea), b = position(alea);
            if (essai % 3 == 0)
                b = a + essai % 40; // short stretches, where the ends matter most
            if (!egales(p.etendue(a, b), brute(v, a, b)))
                QFAIL(qPrintable(QStringLiteral("[%1, %2): %3, scan %4")
                                     .arg(a)
                                     .arg(b)
                                     .arg(texte(p.etendue(a, b)), texte(brute(v, a, b)))));
        }

        std::vector<PyramideMinMax::Etendue> colonnes;
        for (int nombre : {1, 7, 640, 1920}) {
            const double debut = taille * 0.13, fin = taille * 0.91 + 0.5;
            p.colonnes(debut, fin, nombre, colonnes);
            QCOMPARE(int(colonnes.size()), nombre);
            const double largeur = (fin - debut) / nombre;
            for (int c = 0; c < nombre; ++c) {
                const qint64 de = qint64(std::floor(debut + c * largeur));
                const qint64 a = std::max(de + 1, qint64(std::floor(debut + (c + 1) * largeur)));
                QVERIFY2(egales(colonnes[size_t(c)], brute(v, de, a)),
                         qPrintable(QStringLiteral("column %1 of %2").arg(c).arg(nombre)));
            }
        }
    }
};

QTEST_APPLESS_MAIN(PyramideMinMaxTest)
#include "PyramideMinMaxTest.moc"
