// Snapshot and export of the plots area. The pause button takes a snapshot at
// each toggle, so an export made while paused shows the display as it froze.
// Vector drawings are made only for an export, in a temporary folder.
#include "Fenetre.h"
#include "ui_Fenetre.h"

#include "ExportGraphique.h"
#include "OngletMoyennes.h"

#include <QDateTime>
#include <QFileDialog>
#include <QMessageBox>

void Fenetre::takeSnapshot()
{
    snapshot = ExportGraphique::prendreInstantane(ui->graphiqueContainer);
    momentInstantane = QDateTime::currentDateTime();
}

void Fenetre::exportation()
{
    QWidget* conteneur = ui->graphiqueContainer;
    QPixmap instantane;
    QDateTime moment = momentInstantane;
    if (ui->tabWidget->currentWidget() == ui->tab_moyennes) {
        // The averaged-data tab exports its own plots. It is frozen with the
        // pause already, so what it shows now is what it showed when the pause
        // began.
        conteneur = ongletMoyennes->zoneGraphiques();
        instantane = ExportGraphique::prendreInstantane(conteneur);
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
    const QString nomFichier = ExportGraphique::avecSuffixeDuFiltre(
        QFileDialog::getSaveFileName(this, tr("Exportation"), nomPropose,
                                     ExportGraphique::filtres(), &filtreImages,
                                     QFileDialog::DontConfirmOverwrite),
        filtreImages);
    if (nomFichier.isEmpty())
        return; // cancelled
    if (!ExportGraphique::exporter(conteneur, instantane, nomFichier, QString(),
                                   ExportGraphique::legende(moment, sourceAffichee)))
        QMessageBox::warning(this, tr("Avertissement"),
                             tr("Impossible d'écrire le fichier %1").arg(nomFichier));
}
