#include "ExtraitCapture.h"

#include "DonneesRevue.h"
#include "OngletMoyennes.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr qint64 tailleBloc = 256 * 1024;

bool memeFichier(const QString& a, const QString& b)
{
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Moves `p` past up to `reste` line feeds before `fin`, counting them off;
// a line the block cuts leaves `p` at `fin`, its end still to come.
void passerLignes(const char*& p, const char* fin, qint64& reste)
{
    while (reste > 0 && p < fin) {
        const char* saut = static_cast<const char*>(std::memchr(p, '\n', size_t(fin - p)));
        if (!saut) {
            p = fin;
            return;
        }
        p = saut + 1;
        --reste;
    }
}

} // namespace

QString ExtraitCapture::nomTableCycles(const QString& capture)
{
    const QFileInfo info(capture);
    const QString base = info.suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0
                             ? info.completeBaseName()
                             : info.fileName();
    return info.dir().filePath(base + QStringLiteral("_cycles.csv"));
}

QString ExtraitCapture::refusRemplacement(const QString& destination, const QString& capture)
{
    if (!memeFichier(destination, capture))
        return QString();
    return tr("%1 est la capture relue : elle ne peut pas être remplacée")
        .arg(QFileInfo(capture).fileName());
}

QString ExtraitCapture::ecrire(const DonneesRevue& d, qint64 premiere, qint64 fin,
                               const QString& destination, const std::vector<Cycle>& cycles)
{
    const QString table = nomTableCycles(destination);
    for (const QString& sortie : {destination, table}) {
        const QString refus = refusRemplacement(sortie, d.chemin);
        if (!refus.isEmpty())
            return refus;
    }
    premiere = qBound<qint64>(0, premiere, d.lignes);
    fin = qBound(premiere, fin, d.lignes);

    QFile source(d.chemin);
    const QFileInfo info(d.chemin);
    if (!source.open(QIODevice::ReadOnly))
        return tr("Impossible de relire %1 : %2").arg(info.fileName(), source.errorString());
    // Lines are found again by counting line feeds from an indexed start: the
    // file must be the one that was read.
    if (source.size() < d.finFichier)
        return tr("%1 a changé depuis son ouverture : rouvrez-la").arg(info.fileName());
    const size_t repere = size_t(premiere / DonneesRevue::pasIndex);
    if (repere >= d.debutsLignes.size() || !source.seek(d.debutsLignes[repere]))
        return tr("Impossible de relire %1 : %2").arg(info.fileName(), source.errorString());

    QSaveFile sortie(destination);
    if (!sortie.open(QIODevice::WriteOnly))
        return tr("Impossible d'écrire le fichier %1").arg(destination);
    qint64 aSauter = premiere - qint64(repere) * DonneesRevue::pasIndex;
    qint64 aCopier = fin - premiere;
    QByteArray bloc;
    qint64 position = d.debutsLignes[repere];
    while (aCopier > 0 && position < d.finFichier) {
        bloc = source.read(std::min(tailleBloc, d.finFichier - position));
        if (bloc.isEmpty())
            break;
        position += bloc.size();
        const char* p = bloc.constData();
        const char* const finBloc = p + bloc.size();
        passerLignes(p, finBloc, aSauter);
        const char* debutCopie = p;
        if (aSauter == 0)
            passerLignes(p, finBloc, aCopier);
        if (p > debutCopie && sortie.write(debutCopie, p - debutCopie) != p - debutCopie)
            break;
    }
    // The last line of a file may have no line feed: it ends the copy at the
    // end of what was read.
    if (aCopier > 1 || (aCopier == 1 && position < d.finFichier) ||
        source.error() != QFile::NoError) {
        sortie.cancelWriting();
        qDebug() << "revue: extrait de" << d.chemin << "incomplet:" << aCopier << "lignes manquent"
                 << source.errorString() << sortie.errorString();
        return tr("Impossible d'écrire le fichier %1").arg(destination);
    }
    if (!sortie.commit())
        return tr("Impossible d'écrire le fichier %1").arg(destination);

    std::vector<Cycle> decales = cycles;
    const double origine = premiere / d.fe;
    for (Cycle& c : decales)
        c.debut -= origine;
    if (!OngletMoyennes::ecrireTable(table, decales, QFileInfo(destination).fileName()))
        return tr("Impossible d'écrire le fichier %1").arg(table);
    return QString();
}
