#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
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
    QString titre;
    QString texte;
    QMessageBox::Icon icone = QMessageBox::NoIcon;

private:
    void repondre()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        ++vus;
        titre = modal->windowTitle();
        if (auto* boite = qobject_cast<QMessageBox*>(modal)) {
            texte = boite->text();
            icone = boite->icon();
            boite->done(QMessageBox::Ok);
        } else if (auto* dialogue = qobject_cast<QFileDialog*>(modal)) {
            if (nomFichier.isEmpty()) {
                dialogue->reject();
            } else {
                dialogue->selectFile(nomFichier);
                static_cast<QDialog*>(dialogue)->accept();
            }
        } else {
            modal->close();
        }
    }

    QString nomFichier;
    QTimer minuterie;
};
