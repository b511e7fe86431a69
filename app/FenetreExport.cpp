// Snapshot and export of the plots area. The pause button takes a snapshot at
// each toggle, so an export made while paused shows the display as it froze.
#include "Fenetre.h"
#include "ui_Fenetre.h"

#include "ExportGraphique.h"
#include "OngletMoyennes.h"

#include <QDateTime>
#include <QFileDialog>
#include <QTemporaryDir>

void Fenetre::takeSnapshot()
{
    snapshot = ExportGraphique::prendreInstantane(ui->graphiqueContainer);
    momentInstantane = QDateTime::currentDateTime();
}

void Fenetre::exportation()
{
    QTemporaryDir dossierSvg;
    QString fichierSvg = ExportGraphique::fichierSvgTemporaire();
    QWidget* conteneur = ui->graphiqueContainer;
    QPixmap instantane;
    QDateTime moment = momentInstantane;
    if (ui->tabWidget->currentWidget() == ui->tab_moyennes) {
        // The averaged-data tab exports its own plots. It is frozen with the
        // pause already, so what it shows now is what it showed when the pause
        // began; its SVG drawing goes to a scratch file of its own, so that the
        // plots area's paused one stays.
        conteneur = ongletMoyennes->zoneGraphiques();
        fichierSvg = dossierSvg.filePath(QStringLiteral("moyennes.svg"));
        instantane = ExportGraphique::prendreInstantane(conteneur, fichierSvg);
        if (!pauseActive)
            moment = QDateTime::currentDateTime();
    } else {
        if (!pauseActive)
            takeSnapshot();
        instantane = snapshot;
        moment = momentInstantane;
    }

    const QString nomPropose = ExportGraphique::nomPropose(QDateTime::currentDateTime());
    QString filtreImages = ExportGraphique::filtreImages();
    // No overwrite confirmation: the operator names the file to (re)write.
    const QString nomFichier = QFileDialog::getSaveFileName(
        this, tr("Exportation"), nomPropose, ExportGraphique::filtres(), &filtreImages,
        QFileDialog::DontConfirmOverwrite);
    ExportGraphique::exporter(conteneur, instantane, nomFichier, fichierSvg,
                              ExportGraphique::legende(moment, sourceAffichee));
}
