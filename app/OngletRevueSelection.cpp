// The review tab's selection (its breaths, their statistics and averaged
// breath) and its exports: the selection as a capture with its breath table,
// the whole breath table, the caption of the plots' export.
#include "OngletRevue.h"

#include "CycleMoyen.h"
#include "DonneesRevue.h"
#include "ExtraitCapture.h"
#include "FormeCycle.h"
#include "GraphiqueCycleMoyen.h"
#include "GraphiqueRevue.h"
#include "ModeleCycles.h"
#include "OngletMoyennes.h"
#include "Statistique.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QtConcurrent>
#include <cmath>

namespace {

// Breaths drawn over each other for a selection: more would only darken the plot.
constexpr int formesMax = 200;

// The samples of one breath as the averaged tab draws them, each channel
// taken where it lags the breath's times by its delay.
FormeCycle forme(const DonneesRevue& d, const Cycle& c)
{
    FormeCycle f;
    const double retards[3] = {d.decalageCo2, d.decalageO2, 0.0};
    const qint64 nombre = qMax<qint64>(1, qRound64(c.duree * d.fe) + 1);
    const qint64 groupe = (nombre + FormeCycle::pointsMax - 1) / FormeCycle::pointsMax;
    f.pas = groupe / d.fe;
    f.decalage = (groupe - 1) / (2.0 * d.fe); // each group drawn at its centre
    QVector<float>* sorties[3] = {&f.co2, &f.o2, &f.flux};
    for (int canal = 0; canal < 3; ++canal) {
        const PyramideMinMax& p = d.canaux[canal];
        const qint64 premier = qRound64((c.debut + retards[canal]) * d.fe);
        for (qint64 g = 0; g * groupe < nombre; ++g) {
            double somme = 0.0;
            int compte = 0;
            for (qint64 i = premier + g * groupe; i < premier + std::min((g + 1) * groupe, nombre);
                 ++i) {
                if (i >= 0 && i < p.taille()) {
                    somme += p.valeur(i);
                    ++compte;
                }
            }
            if (compte == 0)
                break;
            sorties[canal]->append(float(somme / compte));
        }
    }
    const int taille = std::min({f.co2.size(), f.o2.size(), f.flux.size()});
    f.co2.resize(taille);
    f.o2.resize(taille);
    f.flux.resize(taille);
    return f;
}

} // namespace

QString OngletRevue::legende() const
{
    if (!revue)
        return QString();
    return tr("fichier %1, de %2 à %3")
        .arg(QFileInfo(revue->chemin).fileName(), ModeleCycles::temps(vueDebut),
             ModeleCycles::temps(vueFin));
}

void OngletRevue::setSelection(double debut, double fin)
{
    if (revue) {
        debut = std::max(0.0, debut);
        fin = std::min(revue->duree(), fin);
    }
    selDebut = debut;
    selFin = std::max(debut, fin);
    for (GraphiqueRevue* plot : qAsConst(canaux)) {
        plot->setSelection(selDebut, selFin);
        plot->replot();
    }
    apercu->setSelection(selDebut, selFin);
    apercu->replot();
    // While it is being dragged, only its zone follows the pointer.
    if (geste != Geste::Selection)
        montrerSelection();
}

QPair<qint64, qint64> OngletRevue::lignesSelection() const
{
    if (!revue || !(selFin > selDebut))
        return {0, 0};
    const qint64 premiere =
        qBound<qint64>(0, qint64(std::ceil(selDebut * revue->fe - 1e-9)), revue->lignes);
    const qint64 fin =
        qBound<qint64>(premiere, qint64(std::floor(selFin * revue->fe + 1e-9)) + 1, revue->lignes);
    return {premiere, fin};
}

// The breaths that lie whole inside the selection.
std::vector<Cycle> OngletRevue::cyclesSelection() const
{
    std::vector<Cycle> dedans;
    if (!revue || !(selFin > selDebut))
        return dedans;
    for (const Cycle& c : revue->cycles) {
        if (c.debut >= selDebut && c.debut + c.duree <= selFin)
            dedans.push_back(c);
    }
    return dedans;
}

void OngletRevue::montrerSelection()
{
    const std::vector<Cycle> dedans = cyclesSelection();
    const bool active = revue && selFin > selDebut;
    exporterSelectionBouton->setEnabled(active && cyclesComplets);
    QList<int> colonnes;
    for (int colonne = ModeleCycles::Duree; colonne < ModeleCycles::NombreColonnes; ++colonne) {
        if (cycles->colonneSignificative(colonne))
            colonnes << colonne;
    }
    statistiques->setColumnCount(colonnes.size());
    for (int i = 0; i < colonnes.size(); ++i) {
        statistiques->setHorizontalHeaderItem(
            i, new QTableWidgetItem(
                   cycles->headerData(colonnes[i], Qt::Horizontal, Qt::DisplayRole).toString()));
        const Statistique s =
            ModeleCycles::statistique(dedans.data(), dedans.data() + dedans.size(), colonnes[i]);
        const QString textes[2] = {
            s.nombre > 0 ? ModeleCycles::texte(colonnes[i], s.moyenne) : QString(),
            s.nombre > 1 ? ModeleCycles::texte(colonnes[i], s.ecartType) : QString()};
        for (int ligne = 0; ligne < 2; ++ligne) {
            auto* caseTexte = new QTableWidgetItem(textes[ligne]);
            caseTexte->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            statistiques->setItem(ligne, i, caseTexte);
        }
    }
    if (!active) {
        resumeSelection->setText(tr("Maj + glisser sur les courbes pour sélectionner une plage"));
    } else {
        resumeSelection->setText(
            tr("Sélection de %1 à %2 : %n cycle(s)", nullptr, int(dedans.size()))
                .arg(ModeleCycles::temps(selDebut), ModeleCycles::temps(selFin)));
    }

    // Their averaged breath, drawn over an even spread of them when there are many.
    QVector<FormeCycle> formes;
    if (active) {
        const size_t pas = std::max<size_t>(1, (dedans.size() + formesMax - 1) / formesMax);
        for (size_t i = 0; i < dedans.size(); i += pas)
            formes.append(forme(*revue, dedans[i]));
    }
    for (GraphiqueCycleMoyen* plot : qAsConst(cyclesMoyens)) {
        const int c = int(plot->canal());
        plot->setVisible(c == 1 || (revue && !revue->canaux[c].constante()));
        plot->tracer(formes, formes.size());
    }
}

void OngletRevue::exporterSelection()
{
    const QPair<qint64, qint64> lignes = lignesSelection();
    if (!revue || lignes.second <= lignes.first)
        return;
    const QFileInfo source(revue->chemin);
    auto heure = [](double t) {
        return ModeleCycles::temps(t).replace(QLatin1Char(':'), QLatin1Char('-'));
    };
    const QString propose =
        source.dir().filePath(QStringLiteral("%1_%2_%3.csv")
                                  .arg(source.completeBaseName(), heure(selDebut), heure(selFin)));
    const QString filtres = OngletMoyennes::filtresCsv();
    const QString nom =
        QFileDialog::getSaveFileName(this, tr("Exporter la sélection"), propose, filtres);
    if (nom.isEmpty())
        return;
    std::shared_ptr<const DonneesRevue> donnees = revue;
    const std::vector<Cycle> dedans = cyclesSelection();
    auto* veille = new QFutureWatcher<QString>(this);
    exporterSelectionBouton->setEnabled(false);
    connect(veille, &QFutureWatcher<QString>::finished, this, [this, veille] {
        veille->deleteLater();
        exporterSelectionBouton->setEnabled(revue && cyclesComplets && selFin > selDebut);
        if (!veille->result().isEmpty())
            QMessageBox::warning(this, tr("Avertissement"), veille->result());
    });
    veille->setFuture(QtConcurrent::run([donnees, lignes, nom, dedans] {
        return ExtraitCapture::ecrire(*donnees, lignes.first, lignes.second, nom, dedans);
    }));
}

void OngletRevue::exporterCycles()
{
    if (!revue)
        return;
    const QString filtres = OngletMoyennes::filtresCsv();
    const QString nom = QFileDialog::getSaveFileName(
        this, tr("Exporter les cycles"), ExtraitCapture::nomTableCycles(revue->chemin), filtres);
    if (nom.isEmpty())
        return;
    const QString refus = ExtraitCapture::refusRemplacement(nom, revue->chemin);
    if (!refus.isEmpty()) {
        QMessageBox::warning(this, tr("Avertissement"), refus);
        return;
    }
    // Every breath of the file, not only those the table holds.
    OngletMoyennes::exporterTable(this, nom, revue->cycles, QFileInfo(revue->chemin).fileName());
}
