// Snapshot and export of the plots area. The pause button takes a snapshot at
// each toggle, so an export made while paused shows the display as it froze.
#include "Fenetre.h"
#include "ui_Fenetre.h"

#include "ExportGraphique.h"

#include <QDateTime>
#include <QFileDialog>

void Fenetre::takeSnapshot()
{
    snapshot = ExportGraphique::prendreInstantane(ui->graphiqueContainer);
    momentInstantane = QDateTime::currentDateTime();
}

void Fenetre::exportation()
{
    if (!pauseActive)
        takeSnapshot();

    const QString nomPropose = ExportGraphique::nomPropose(QDateTime::currentDateTime());
    QString filtreImages = ExportGraphique::filtreImages();
    // No overwrite confirmation: the operator names the file to (re)write.
    const QString nomFichier = QFileDialog::getSaveFileName(
        this, tr("Exportation"), nomPropose, ExportGraphique::filtres(), &filtreImages,
        QFileDialog::DontConfirmOverwrite);
    ExportGraphique::exporter(ui->graphiqueContainer, snapshot, nomFichier,
                              ExportGraphique::fichierSvgTemporaire(),
                              ExportGraphique::legende(momentInstantane, sourceAffichee));
}
