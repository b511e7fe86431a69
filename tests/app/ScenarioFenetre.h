#pragma once

#include "Fenetre.h"
#include "RegardFenetre.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// What a window scenario holds: its folder, its window, and the window's
// controls found by name.
struct ScenarioFenetre
{
    QTemporaryDir dossier;
    std::unique_ptr<Fenetre> fenetre;

    template <typename T>
    T* controle(const char* nom) const
    {
        return RegardFenetre(fenetre.get()).controle<T>(nom);
    }
};

// Opens a main window for one scenario, in an empty folder of the scenario's
// own name (capture files are numbered there), shown and settled: the device
// list, the placement and the frequency are pushed by then.
inline bool ouvrirFenetre(const QTemporaryDir& dossier, std::unique_ptr<Fenetre>& fenetre)
{
    const QString ici = dossier.filePath(QTest::currentTestFunction());
    if (!QDir().mkpath(ici) || !QDir::setCurrent(ici))
        return false;
    fenetre = std::make_unique<Fenetre>();
    fenetre->show();
    if (!QTest::qWaitForWindowExposed(fenetre.get()))
        return false;
    QTest::qWait(700);
    return true;
}

// Writes `contenu` into the file at `chemin`, replacing it; whether it all went.
inline bool ecrireFichier(const QString& chemin, const QByteArray& contenu)
{
    QFile fichier(chemin);
    return fichier.open(QIODevice::WriteOnly) && fichier.write(contenu) == contenu.size();
}

// The one capture file of the current folder; empty when there is none or more.
inline QString fichierCapture()
{
    const QStringList captures = QDir().entryList({"acquisition*.csv"}, QDir::Files);
    return captures.size() == 1 ? captures.first() : QString();
}

// The lines of a text, without their line feeds.
inline QList<QByteArray> lignes(const QByteArray& texte)
{
    QList<QByteArray> resultat = texte.split('\n');
    if (!resultat.isEmpty() && resultat.last().isEmpty())
        resultat.removeLast();
    return resultat;
}

// The lines of a file with their line ends, as they are in it.
inline QList<QByteArray> lignesBrutes(const QByteArray& contenu)
{
    QList<QByteArray> resultat;
    int debut = 0;
    while (debut < contenu.size()) {
        const int fin = contenu.indexOf('\n', debut);
        const int apres = fin < 0 ? contenu.size() : fin + 1;
        resultat << contenu.mid(debut, apres - debut);
        debut = apres;
    }
    return resultat;
}

// After a click that starts a capture with `avant` capture files here: empty once
// the port is open (its file appears), else the text of the refusal's box, closed
// at once so that the scenario fails now with the reason, not at its timeout.
inline QString refusDuPort(int avant)
{
    QString refus = QStringLiteral("no capture file, no message");
    (void)QTest::qWaitFor([&] {
        if (auto* boite = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            refus = boite->text();
            boite->done(QMessageBox::Ok);
            return true;
        }
        const bool ouvert = QDir().entryList({"acquisition*.csv"}, QDir::Files).size() > avant;
        if (ouvert)
            refus.clear();
        return ouvert;
    });
    return refus;
}
