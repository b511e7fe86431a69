// The operator's acquisition controls: the source selector, the capture and
// replay buttons, and the worker's messages shown as message boxes.
#include "Fenetre.h"
#include "ui_Fenetre.h"

#include "Graphique.h"
#include "IndicateurRespiration.h"
#include "ModeleCycles.h"
#include "OngletMoyennes.h"
#include "VeilleDonnees.h"
#include "acquisition.h"
#include "calculPeriode.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QThread>
#include <algorithm>

void Fenetre::getPortsSeriesList(QStringList ports)
{
    if (fermetureEnCours)
        return;
    const QString precedent = ui->source->currentText();
    ui->source->clear();
    for (const QString& port : qAsConst(ports))
        ui->source->addItem(port);

    // Walking the entries announces each one to the worker; the last one announced
    // is the retained entry, the previous choice when it is still listed.
    int retenu = ui->source->currentIndex();
    for (int i = 0; i < ui->source->count(); ++i) {
        ui->source->setCurrentIndex(i);
        if (ui->source->itemText(i) == precedent) {
            retenu = i;
            break;
        }
    }
    ui->source->setCurrentIndex(retenu);
    if (!sourceDemandee.isEmpty() && !ui->btnCapturer->isChecked()) {
        ui->source->setEditText(sourceDemandee);
        ui->btnCapturer->setChecked(true);
    }
    sourceDemandee.clear();
}

void Fenetre::capturerDepuis(const QString& port)
{
    sourceDemandee = port;
}

void Fenetre::capture(bool start)
{
    qDebug() << " ";
    qDebug() << "Fenetre: " << QThread::currentThreadId();
    if (start) {
        const QString port = ui->source->currentText();
        sourceAffichee = port.isEmpty() ? QString() : tr("port %1").arg(port);
        setDecalage();
        commencerAffichage();
        veille->commencer();
    } else {
        calcPeriode->resetData();
        veille->arreter();
        etat->clear();
    }
    ligneConnexion->clear();
    ligneConnexion->hide();
    for (Graphique* plot : qAsConst(graphiques)) {
        if (start)
            plot->flushCourbesData();
        plot->capture(start);
    }
}

void Fenetre::rejouer(bool start)
{
    if (!start) {
        // Only a replay that started put its file in the selector.
        if (sourceRemplacee)
            montrerSource(sourceAvantRejeu);
        sourceRemplacee = false;
        etat->clear();
        if (acq) {
            acq->setCapture(false);
            acq->setSource(ui->source->currentText());
        }
        calcPeriode->resetData();
        return;
    }

    const QString filtres = OngletMoyennes::filtresCsv();
    const QString fichier =
        QFileDialog::getOpenFileName(this, tr("Ouvrir une capture"), QString(), filtres);
    if (fichier.isEmpty()) {
        ui->btnRejouer->setChecked(false);
        ui->btnCapturer->setChecked(false);
        return;
    }

    sourceAffichee = tr("fichier %1").arg(QFileInfo(fichier).fileName());
    setDecalage();
    commencerAffichage();
    // The selector shows the file that plays, not the last port; it gets its
    // text back when the replay ends.
    sourceAvantRejeu = ui->source->currentText();
    sourceRemplacee = true;
    montrerSource(QFileInfo(fichier).fileName());
    etat->setText(tr("Rejouer : %1").arg(QFileInfo(fichier).fileName()));
    for (Graphique* plot : qAsConst(graphiques)) {
        plot->flushCourbesData();
        plot->capture(true);
    }
    if (acq) {
        acq->setSource(fichier);
        acq->setCapture(true);
    }
}

// What is shown of an earlier acquisition goes when a new one starts.
void Fenetre::commencerAffichage()
{
    effacerPeriode();
    montrerSilence(0);
}

void Fenetre::montrerSource(const QString& texte)
{
    // Without telling the worker: the source it uses is set apart.
    const QSignalBlocker bloque(ui->source);
    ui->source->setEditText(texte);
}

void Fenetre::montrerSilence(int secondes)
{
    indicateur->setSilence(secondes);
    ongletMoyennes->setSilence(secondes);
    // No data, no period: the last one estimated would be taken for today's.
    if (secondes > 0 && !silenceEnCours)
        effacerPeriode();
    silenceEnCours = secondes > 0;
}

void Fenetre::montrerEnregistrement(const QString& chemin)
{
    // A start reported after the operator stopped again is history.
    if (!ui->btnCapturer->isChecked())
        return;
    etat->setText(chemin.isEmpty() ? tr("Aucun enregistrement")
                                   : tr("Enregistrement : %1").arg(chemin));
}

// A lost port waited for, or back: the capture goes on, so no box. While it is
// lost no sample comes and the clock's watch rests, lest the wait be shown as
// the patient's silence or apnea.
void Fenetre::montrerConnexion(const QString& message, bool perdue)
{
    if (!ui->btnCapturer->isChecked() || fermetureEnCours)
        return;
    ligneConnexion->setStyleSheet(perdue ? QStringLiteral("QLabel { color: #c00000; }")
                                         : QString());
    ligneConnexion->setText(message);
    ligneConnexion->show();
    if (perdue) {
        veille->arreter();
        effacerPeriode();
    } else {
        veille->commencer();
    }
}

void Fenetre::montrerPositionRejeu(const QString& fichier, double secondes, double duree)
{
    if (!ui->btnRejouer->isChecked())
        return;
    etat->setText(tr("Rejouer : %1 — %2 / %3")
                      .arg(fichier, ModeleCycles::temps(secondes),
                           ModeleCycles::temps(std::max(duree, secondes))));
}

void Fenetre::showMessage(int type, QString message, int code)
{
    if (fermetureEnCours)
        return;
    switch (type) {
    case 0:
        QMessageBox::information(this, tr("Information"), message, QMessageBox::Ok,
                                 QMessageBox::Ok);
        break;
    case 1:
        QMessageBox::warning(this, tr("Avertissement"), message, QMessageBox::Ok, QMessageBox::Ok);
        break;
    case 2:
        QMessageBox::critical(this, tr("Erreur"), message, QMessageBox::Ok, QMessageBox::Ok);
        break;
    default:
        break;
    }
    if (code == 1) {
        ui->btnCapturer->setChecked(false);
        ui->btnRejouer->setChecked(false);
    }
}
