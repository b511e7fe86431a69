#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

// Renders the first page of a printed export as a PNG file at dpi dots per
// inch: programme is pdftoppm for a PDF document, ghostscript (gs) for a
// PostScript one. Returns whether the program ran and succeeded.
inline bool rendrePage(const QString& programme, const QString& document, int dpi,
                       const QString& png)
{
    const QString resolution = QString::number(dpi);
    QStringList arguments;
    if (QFileInfo(programme).fileName() == QLatin1String("gs"))
        arguments = QStringLiteral("-q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m").split(' ')
                    << "-r" + resolution << "-sOutputFile=" + png << document;
    else // pdftoppm adds the suffix to the name it is given
        arguments = QStringList{"-r", resolution, "-png", "-singlefile", document}
                    << png.chopped(QStringLiteral(".png").size());
    QProcess processus;
    processus.start(programme, arguments);
    return processus.waitForFinished(60000) && processus.exitStatus() == QProcess::NormalExit &&
           processus.exitCode() == 0;
}
