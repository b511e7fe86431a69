// Snapshot and export of the plots area. An export takes its snapshot, raster
// and vector, at the click; while paused, the screen it is taken from is the
// frozen display. Files are drawn only for an export, in a temporary folder.
#include "Fenetre.h"
#include "ui_Fenetre.h"

#include "ExportGraphique.h"
#include "OngletMoyennes.h"
#include "OngletRevue.h"

#include <QDateTime>
#include <QFileDialog>
#include <QMessageBox>
#include <QPicture>

// The pause only notes its moment: what an export shows is taken at its click,
// from the frozen screen, with whatever scales were set during the pause.
void Fenetre::takeSnapshot()
{
    momentInstantane = QDateTime::currentDateTime();
}

void Fenetre::exportation()
{
    // The averaged-data tab exports its own plots; it freezes with the pause too.
    // The review shows a file: its caption names the file and the stretch in view.
    const bool revue = ongletRevue && ui->tabWidget->currentWidget() == ongletRevue->parentWidget();
    QWidget* conteneur = revue ? ongletRevue->zoneGraphiques()
                         : ui->tabWidget->currentWidget() == ui->tab_moyennes
                             ? ongletMoyennes->zoneGraphiques()
                             : ui->graphiqueContainer;
    // One snapshot at the click for every format, captioned with its moment: a
    // live display goes on sweeping while the dialog is open.
    const QDateTime moment = pauseActive ? momentInstantane : QDateTime::currentDateTime();
    const QPixmap instantane = ExportGraphique::prendreInstantane(conteneur);
    const QPicture dessin = ExportGraphique::dessinVectoriel(conteneur);

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
    if (!ExportGraphique::exporter(
            conteneur, instantane, nomFichier, QString(),
            ExportGraphique::legende(moment, revue ? ongletRevue->legende() : sourceAffichee),
            &dessin))
        QMessageBox::warning(this, tr("Avertissement"),
                             tr("Impossible d'écrire le fichier %1").arg(nomFichier));
}
