#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

// Answers the next modal dialog the code under test opens, as an operator would:
// a message box is read and closed with its default button, a file dialog gets a
// name typed in (or is cancelled when the name is empty). The dialogs are the real
// ones the product shows; this only watches for them from the event loop.
class DialogueAutomatique : public QObject
{
public:
    explicit DialogueAutomatique(QString nom = QString()) : nomFichier(std::move(nom))
    {
        connect(&minuterie, &QTimer::timeout, this, &DialogueAutomatique::repondre);
        minuterie.start(20);
    }

    int vus = 0;
    QStringList boites; // the texts of the message boxes, in order
    QString titre;
    QString texte;
    QMessageBox::Icon icone = QMessageBox::NoIcon;

private:
    void repondre()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto* boite = qobject_cast<QMessageBox*>(modal)) {
            compter(modal);
            texte = boite->text();
            boites << texte;
            icone = boite->icon();
            boite->done(QMessageBox::Ok);
        } else if (auto* dialogue = qobject_cast<QFileDialog*>(modal)) {
            repondreFichier(dialogue);
        } else {
            compter(modal);
            modal->close();
        }
    }

    void compter(QWidget* modal)
    {
        ++vus;
        titre = modal->windowTitle();
    }

    // A file dialog settles its proposed name while it loads the folder: type the
    // name only once it has settled, and confirm it only once it shows.
    void repondreFichier(QFileDialog* dialogue)
    {
        if (dialogue != enCours) {
            enCours = dialogue;
            depuis.start();
            return;
        }
        if (depuis.elapsed() < 300)
            return;
        if (nomFichier.isEmpty()) {
            compter(dialogue);
            dialogue->reject();
            return;
        }
        const QString attendu = QFileInfo(nomFichier).absoluteFilePath();
        if (dialogue->selectedFiles().value(0) != attendu && depuis.elapsed() < 3000) {
            if (auto* saisie = dialogue->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                saisie->setText(attendu);
            else
                dialogue->selectFile(attendu);
            return;
        }
        compter(dialogue);
        static_cast<QDialog*>(dialogue)->accept();
    }

    QPointer<QFileDialog> enCours;
    QElapsedTimer depuis;
    QString nomFichier;
    QTimer minuterie;
};
