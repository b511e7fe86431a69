// The review tab: its controls, the reading of the file and the view over it.
// The selection and the exports are in OngletRevueSelection.cpp.
#include "OngletRevue.h"

#include "DonneesRevue.h"
#include "Graphique.h"
#include "GraphiqueCycleMoyen.h"
#include "GraphiqueRevue.h"
#include "ModeleCycles.h"
#include "OngletMoyennes.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>
#include <qwt_plot_canvas.h>
#include <qwt_scale_map.h>

namespace {

const char* const nomsCanaux[3] = {"CO2", "O2", "Flux"};
const QColor couleursCanaux[3] = {QColor(170, 0, 0), QColor(0, 0, 139), QColor(0, 110, 0)};

// The narrowest stretch shown: twenty samples, or a second.
double largeurMin(double fe)
{
    return std::min(1.0, 20.0 / fe);
}

} // namespace

OngletRevue::OngletRevue(QWidget* parent) : QWidget(parent), cycles(new ModeleCycles(this))
{
    auto* pile = new QVBoxLayout(this);
    pile->addWidget(creerCommandes());
    auto* separation = new QSplitter(Qt::Vertical, this);
    separation->addWidget(creerGraphiques());
    separation->addWidget(creerBas());
    separation->setStretchFactor(0, 3);
    separation->setStretchFactor(1, 2);
    pile->addWidget(separation, 1);

    // Settings changed one step at a time: the file is read again once they rest.
    relecture = new QTimer(this);
    relecture->setSingleShot(true);
    relecture->setInterval(600);
    connect(relecture, &QTimer::timeout, this, [this] {
        if (!cheminLu.isEmpty())
            ouvrir(cheminLu);
    });
}

OngletRevue::~OngletRevue() = default;

QWidget* OngletRevue::creerCommandes()
{
    auto* commandes = new QWidget(this);
    auto* ligne = new QHBoxLayout(commandes);
    ligne->setContentsMargins(0, 0, 0, 0);
    ouvrirBouton = new QPushButton(tr("Ouvrir une capture…"), commandes);
    ouvrirBouton->setObjectName(QStringLiteral("btnOuvrirRevue"));
    ligne->addWidget(ouvrirBouton);
    progression = new QProgressBar(commandes);
    progression->setObjectName(QStringLiteral("progressionRevue"));
    progression->setRange(0, 1000);
    progression->setTextVisible(false);
    progression->setMaximumWidth(220);
    progression->hide();
    ligne->addWidget(progression);
    annuler = new QPushButton(tr("Annuler"), commandes);
    annuler->setObjectName(QStringLiteral("btnAnnulerRevue"));
    annuler->hide();
    ligne->addWidget(annuler);
    fichier = new QLabel(commandes);
    fichier->setObjectName(QStringLiteral("fichierRevue"));
    fichier->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ligne->addWidget(fichier, 1);
    echellesAuto = new QCheckBox(tr("Échelles verticales auto"), commandes);
    echellesAuto->setObjectName(QStringLiteral("echellesAutoRevue"));
    ligne->addWidget(echellesAuto);
    ligne->addSpacing(12);
    exporterSelectionBouton = new QPushButton(tr("Exporter la sélection"), commandes);
    exporterSelectionBouton->setObjectName(QStringLiteral("btnExporterSelection"));
    exporterSelectionBouton->setEnabled(false);
    ligne->addWidget(exporterSelectionBouton);
    exporterCyclesBouton = new QPushButton(tr("Exporter les cycles"), commandes);
    exporterCyclesBouton->setObjectName(QStringLiteral("btnExporterCyclesRevue"));
    exporterCyclesBouton->setEnabled(false);
    ligne->addWidget(exporterCyclesBouton);
    exporterGraphique = new QPushButton(tr("Exporter graphique"), commandes);
    exporterGraphique->setObjectName(QStringLiteral("btnExporterRevue"));
    ligne->addWidget(exporterGraphique);

    connect(ouvrirBouton, &QPushButton::clicked, this, &OngletRevue::choisirFichier);
    connect(annuler, &QPushButton::clicked, this, [this] {
        if (lecture)
            lecture->annuler();
    });
    connect(echellesAuto, &QCheckBox::toggled, this, [this] { setVue(vueDebut, vueFin); });
    connect(exporterSelectionBouton, &QPushButton::clicked, this, &OngletRevue::exporterSelection);
    connect(exporterCyclesBouton, &QPushButton::clicked, this, &OngletRevue::exporterCycles);
    connect(exporterGraphique, &QPushButton::clicked, this, &OngletRevue::exportDemande);
    return commandes;
}

QWidget* OngletRevue::creerGraphiques()
{
    graphiques = new QWidget(this);
    graphiques->setObjectName(QStringLiteral("graphiquesRevue"));
    auto* pile = new QVBoxLayout(graphiques);
    pile->setContentsMargins(0, 0, 0, 0);
    pile->setSpacing(2);
    apercu = new GraphiqueRevue(tr("O2"), 1, couleursCanaux[1], true, graphiques);
    apercu->setObjectName(QStringLiteral("apercuRevue"));
    apercu->canvas()->installEventFilter(this);
    apercu->canvas()->setCursor(Qt::SizeHorCursor);
    pile->addWidget(apercu);
    for (int c = 0; c < 3; ++c) {
        auto* plot = new GraphiqueRevue(QString::fromLatin1(nomsCanaux[c]), c, couleursCanaux[c],
                                        false, graphiques);
        plot->setObjectName(QStringLiteral("revue") + QString::fromLatin1(nomsCanaux[c]));
        plot->setMarquesInspiration(c == 1);
        plot->canvas()->installEventFilter(this);
        plot->canvas()->setCursor(Qt::OpenHandCursor);
        plot->setToolTip(tr("Molette : zoom ; glisser : déplacer ; Maj + glisser : sélectionner ; "
                            "double clic : tout le fichier"));
        canaux.append(plot);
        pile->addWidget(plot, 1);
    }
    replies = new QLabel(graphiques);
    replies->setObjectName(QStringLiteral("canauxReplies"));
    replies->hide();
    pile->addWidget(replies);
    return graphiques;
}

QWidget* OngletRevue::creerBas()
{
    auto* bas = new QSplitter(Qt::Horizontal, this);
    tableau = new QTableView(bas);
    tableau->setObjectName(QStringLiteral("tableauRevue"));
    OngletMoyennes::preparerTableau(tableau, cycles);
    tableau->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(tableau, &QTableView::clicked, this,
            [this](const QModelIndex& index) { centrerCycle(index.row()); });
    connect(tableau->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& index) {
                if (index.isValid())
                    centrerCycle(index.row());
            });
    bas->addWidget(tableau);

    auto* panneau = new QWidget(bas);
    auto* pile = new QVBoxLayout(panneau);
    pile->setContentsMargins(0, 0, 0, 0);
    resumeSelection =
        new QLabel(tr("Maj + glisser sur les courbes pour sélectionner une plage"), panneau);
    resumeSelection->setObjectName(QStringLiteral("resumeSelection"));
    resumeSelection->setWordWrap(true);
    pile->addWidget(resumeSelection);
    statistiques = new QTableWidget(2, 0, panneau);
    statistiques->setObjectName(QStringLiteral("statistiquesSelection"));
    statistiques->setVerticalHeaderLabels({tr("Moyenne"), tr("Écart type")});
    statistiques->setEditTriggers(QAbstractItemView::NoEditTriggers);
    statistiques->setSelectionMode(QAbstractItemView::NoSelection);
    statistiques->setFocusPolicy(Qt::NoFocus);
    statistiques->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    statistiques->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Room for headers of two lines and the two rows.
    statistiques->setFixedHeight(5 * (fontMetrics().height() + 6) + 4);
    pile->addWidget(statistiques);
    auto* formes = new QHBoxLayout;
    for (int c = 0; c < 3; ++c) {
        auto* plot = new GraphiqueCycleMoyen(QString::fromLatin1(nomsCanaux[c]),
                                             CycleMoyen::Canal(c), couleursCanaux[c], panneau);
        plot->setObjectName(QStringLiteral("cycleMoyenRevue") + QString::fromLatin1(nomsCanaux[c]));
        plot->setTitreTemps(true);
        plot->setVisible(c == 1);
        cyclesMoyens.append(plot);
        formes->addWidget(plot, 1);
    }
    pile->addLayout(formes, 1);
    bas->addWidget(panneau);
    bas->setStretchFactor(0, 3);
    bas->setStretchFactor(1, 2);
    return bas;
}

void OngletRevue::choisirFichier()
{
    const QString filtres = OngletMoyennes::filtresCsv();
    const QString nom = QFileDialog::getOpenFileName(this, tr("Ouvrir une capture"),
                                                     QFileInfo(cheminLu).path(), filtres);
    if (!nom.isEmpty())
        ouvrir(nom);
}

void OngletRevue::ouvrir(const QString& chemin)
{
    relecture->stop();
    if (lecture) {
        // The reading under way is given up without waiting for its thread,
        // which ends at its next check; the tab still owns it until then.
        LectureRevue* abandonnee = lecture.release();
        abandonnee->disconnect();
        abandonnee->annuler();
        abandonnee->setParent(this);
        connect(abandonnee, &QThread::finished, abandonnee, &QObject::deleteLater);
        if (abandonnee->isFinished())
            abandonnee->deleteLater();
    }
    lecture = std::make_unique<LectureRevue>(chemin, reglages);
    connect(lecture.get(), &LectureRevue::progression, progression, &QProgressBar::setValue);
    connect(lecture.get(), &LectureRevue::canauxLus, this, &OngletRevue::canauxLus);
    connect(lecture.get(), &QThread::finished, this, &OngletRevue::lectureFinie);
    progression->setValue(0);
    progression->show();
    annuler->show();
    fichier->setText(tr("Lecture de %1…").arg(QFileInfo(chemin).fileName()));
    lecture->start();
}

// The channels of the file being read are drawn at once; its breaths follow.
void OngletRevue::canauxLus()
{
    // The signal of a reading given up for another may still be on its way.
    auto donnees = lecture ? lecture->canaux() : nullptr;
    if (!donnees || donnees == revue)
        return;
    if (cyclesComplets)
        precedente = revue;
    cyclesComplets = false;
    montrer(donnees);
    emit canauxMontres(donnees->chemin);
}

void OngletRevue::lectureFinie()
{
    // The end of a reading given up for another may still be on its way.
    if (!lecture || !lecture->isFinished())
        return;
    std::unique_ptr<LectureRevue> finie = std::move(lecture);
    progression->hide();
    annuler->hide();
    if (auto donnees = finie->resultat()) {
        cheminLu = donnees->chemin;
        const bool dejaMontre = donnees == revue;
        cyclesComplets = true;
        precedente.reset();
        if (dejaMontre) {
            montrerCycles();
            apercu->replot();
            for (GraphiqueRevue* plot : qAsConst(canaux))
                plot->replot();
        } else
            montrer(donnees);
        emit fichierOuvert(cheminLu);
        return;
    }
    // The file shown before, if any, stays, or comes back when the channels
    // of this one were drawn already.
    if (!cyclesComplets) {
        cyclesComplets = true;
        montrer(std::exchange(precedente, nullptr));
    }
    montrerNom();
    if (!finie->annulee())
        QMessageBox::warning(this, tr("Revue"), finie->erreur());
}

// The channels of a file, the whole of it in view, with its breaths as far
// as they are found; none at all (null) empties the tab.
void OngletRevue::montrer(std::shared_ptr<const DonneesRevue> donnees)
{
    revue = std::move(donnees);
    // A channel that never varies is folded away; the breathing one stays.
    QStringList constants;
    for (GraphiqueRevue* plot : qAsConst(canaux)) {
        const bool constant = revue && revue->canaux[plot->canal()].constante();
        plot->setVisible(!constant || plot->canal() == 1);
        if (constant && plot->canal() != 1) {
            const PyramideMinMax& p = revue->canaux[plot->canal()];
            constants << QStringLiteral("%1 (%2)")
                             .arg(QString::fromLatin1(nomsCanaux[plot->canal()]))
                             .arg(p.taille() ? double(p.valeur(0)) : 0.0);
        }
        plot->setDonnees(revue);
    }
    // One time axis's labels, under the lowest channel shown.
    GraphiqueRevue* dernier = nullptr;
    for (GraphiqueRevue* plot : qAsConst(canaux))
        dernier = plot->isVisibleTo(graphiques) ? plot : dernier;
    for (GraphiqueRevue* plot : qAsConst(canaux))
        plot->setEtiquettesTemps(plot == dernier);
    replies->setVisible(!constants.isEmpty());
    replies->setText(
        tr("Canaux constants, repliés : %1").arg(constants.join(QStringLiteral(", "))));
    apercu->setDonnees(revue);
    setSelection(0.0, 0.0);
    montrerCycles();
    setVue(0.0, revue ? revue->duree() : 1.0);
    aligner();
}

// The breaths of the file shown: the table, the apneas (drawn at the plots'
// next replot), the file's line, the exports of breaths.
void OngletRevue::montrerCycles()
{
    std::vector<QPair<double, double>> apnees;
    cycles->vider();
    if (revue) {
        for (const Cycle& c : revue->cycles) {
            if (c.apneePrecedente > 0.0)
                apnees.push_back({c.debut - c.apneePrecedente, c.debut});
        }
        cycles->ajouter(revue->cycles);
    }
    for (int colonne = 0; colonne < ModeleCycles::NombreColonnes; ++colonne)
        tableau->setColumnHidden(colonne, !cycles->colonneSignificative(colonne));
    for (GraphiqueRevue* plot : qAsConst(canaux))
        plot->setApnees(apnees);
    apercu->setApnees(apnees);
    montrerNom();
    exporterCyclesBouton->setEnabled(revue && cyclesComplets);
    // The statistics' columns are those of these breaths, and a selection
    // made while they were being found is summed up again.
    montrerSelection();
}

// The file shown, its length and its breaths, or that they are being found.
void OngletRevue::montrerNom()
{
    if (!revue)
        fichier->clear();
    else if (!cyclesComplets)
        fichier->setText(
            tr("%1 — %2, recherche des cycles…")
                .arg(QFileInfo(revue->chemin).fileName(), ModeleCycles::temps(revue->duree())));
    else
        fichier->setText(
            tr("%1 — %2, %n cycle(s)", nullptr, int(revue->cycles.size()))
                .arg(QFileInfo(revue->chemin).fileName(), ModeleCycles::temps(revue->duree())));
}

// The stacked plots' time axes line up whatever the widths of their labels.
void OngletRevue::aligner()
{
    QList<QwtPlot*> plots{apercu};
    for (GraphiqueRevue* plot : qAsConst(canaux))
        plots << plot;
    Graphique::alignerAxesGauches(plots);
}

void OngletRevue::setReglages(const LectureRevue::Reglages& nouveaux)
{
    const bool change = nouveaux != reglages;
    reglages = nouveaux;
    if (change && !cheminLu.isEmpty())
        relecture->start();
}

void OngletRevue::setEchelles(double co2Min, double co2Max, double o2Min, double o2Max,
                              double fluxMin, double fluxMax)
{
    const double bornes[3][2] = {{co2Min, co2Max}, {o2Min, o2Max}, {fluxMin, fluxMax}};
    std::copy(&bornes[0][0], &bornes[0][0] + 6, &echelles[0][0]);
    for (int c = 0; c < 3; ++c)
        cyclesMoyens[c]->setAxisScale(QwtPlot::yLeft, bornes[c][0], bornes[c][1]);
    if (revue) {
        setVue(vueDebut, vueFin);
        aligner();
    }
}

// The operator's scales, or the extent of each channel over the stretch in
// view with a margin.
void OngletRevue::ajusterEchelles()
{
    for (GraphiqueRevue* plot : qAsConst(canaux)) {
        const int c = plot->canal();
        double bas = echelles[c][0], haut = echelles[c][1];
        if (echellesAuto->isChecked() && revue) {
            const PyramideMinMax::Etendue e =
                revue->canaux[c].etendue(qint64(std::floor(vueDebut * revue->fe)),
                                         qint64(std::ceil(vueFin * revue->fe)) + 1);
            if (!e.vide) {
                const double marge = e.max > e.min ? 0.05 * (e.max - e.min) : 1.0;
                bas = e.min - marge;
                haut = e.max + marge;
            }
        }
        plot->setEchelle(bas, haut);
    }
    if (revue) {
        const PyramideMinMax::Etendue e = revue->canaux[1].etendue(0, revue->lignes);
        const double marge = e.max > e.min ? 0.05 * (e.max - e.min) : 1.0;
        apercu->setEchelle(e.min - marge, e.max + marge);
    }
}

void OngletRevue::setVue(double debut, double fin)
{
    const double duree = revue ? std::max(revue->duree(), 1e-3) : 1.0;
    const double minimum = revue ? std::min(duree, largeurMin(revue->fe)) : 1.0;
    double largeur = qBound(minimum, fin - debut, duree);
    debut = qBound(0.0, debut, duree - largeur);
    vueDebut = debut;
    vueFin = debut + largeur;
    ajusterEchelles();
    for (GraphiqueRevue* plot : qAsConst(canaux))
        plot->setVue(vueDebut, vueFin);
    apercu->setVue(vueDebut, vueFin);
}

void OngletRevue::zoomer(double centre, double facteur)
{
    setVue(centre - (centre - vueDebut) * facteur, centre + (vueFin - centre) * facteur);
}

// Brings the breath of a row to the middle of the plots, zoomed to show a few
// breaths around it when the view is much wider.
void OngletRevue::centrerCycle(int ligne)
{
    if (!revue || ligne < 0 || ligne >= cycles->rowCount())
        return;
    const Cycle& c = cycles->cycles()[cycles->cycles().size() - 1 - size_t(ligne)];
    const double milieu = c.debut + c.duree / 2.0;
    double largeur = vueFin - vueDebut;
    if (largeur > 20.0 * c.duree || largeur < c.duree)
        largeur = std::max(7.0 * c.duree, 10.0);
    for (GraphiqueRevue* plot : qAsConst(canaux))
        plot->setCycleMarque(c.debut, c.debut + c.duree);
    // Centred even near the ends of the file, where the view would be clamped.
    const double duree = revue->duree();
    largeur = std::min(largeur, 2.0 * std::min(milieu, duree - milieu));
    setVue(milieu - largeur / 2.0, milieu + largeur / 2.0);
}

// The gesture under way with the pointer at x on the plot's canvas.
void OngletRevue::suivre(GraphiqueRevue* plot, int x)
{
    const double t = plot->tempsA(x);
    if (geste == Geste::Selection) {
        setSelection(std::min(ancreTemps, t), std::max(ancreTemps, t));
    } else if (geste == Geste::Apercu) {
        setVue(ancreDebut + t - ancreTemps, ancreFin + t - ancreTemps);
    } else if (geste == Geste::Deplacement) {
        // The view moves under the pointer: measured against the view at the press.
        const double pixels = plot->canvasMap(QwtPlot::xBottom).pDist();
        const double dt = (x - ancreX) * (ancreFin - ancreDebut) / std::max(1.0, pixels);
        setVue(ancreDebut - dt, ancreFin - dt);
    }
}

bool OngletRevue::eventFilter(QObject* objet, QEvent* evenement)
{
    if (objet == apercu->canvas())
        return souris(apercu, evenement) || QWidget::eventFilter(objet, evenement);
    for (GraphiqueRevue* plot : qAsConst(canaux)) {
        if (objet == plot->canvas())
            return souris(plot, evenement) || QWidget::eventFilter(objet, evenement);
    }
    return QWidget::eventFilter(objet, evenement);
}

// The mouse on a plot's canvas: what it does to the view and the selection.
// The gesture is followed from the press whatever buttons a move reports.
bool OngletRevue::souris(GraphiqueRevue* plot, QEvent* evenement)
{
    if (!revue)
        return false;
    switch (evenement->type()) {
    case QEvent::Wheel: {
        auto* roue = static_cast<QWheelEvent*>(evenement);
        const double crans = roue->angleDelta().y() / 120.0;
        if (crans == 0.0)
            return true;
        const double centre =
            plot == apercu ? (vueDebut + vueFin) / 2.0 : plot->tempsA(int(roue->position().x()));
        zoomer(centre, std::pow(0.8, crans));
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* clic = static_cast<QMouseEvent*>(evenement);
        if (clic->button() != Qt::LeftButton)
            return false;
        ancreX = clic->pos().x();
        ancreTemps = plot->tempsA(ancreX);
        ancreDebut = vueDebut;
        ancreFin = vueFin;
        if (plot == apercu) {
            geste = Geste::Apercu;
            // A press outside the highlighted stretch brings it there.
            if (ancreTemps < vueDebut || ancreTemps > vueFin) {
                const double largeur = vueFin - vueDebut;
                setVue(ancreTemps - largeur / 2.0, ancreTemps + largeur / 2.0);
                ancreDebut = vueDebut;
                ancreFin = vueFin;
            }
        } else if (clic->modifiers() & Qt::ShiftModifier) {
            geste = Geste::Selection;
            setSelection(ancreTemps, ancreTemps);
        } else {
            geste = Geste::Deplacement;
            plot->canvas()->setCursor(Qt::ClosedHandCursor);
        }
        return true;
    }
    case QEvent::MouseMove:
        if (geste == Geste::Aucun)
            return false;
        suivre(plot, static_cast<QMouseEvent*>(evenement)->pos().x());
        return true;
    case QEvent::MouseButtonRelease: {
        if (geste == Geste::Aucun)
            return false;
        // The gesture ends where the button is released, whatever moves came before.
        const int x = static_cast<QMouseEvent*>(evenement)->pos().x();
        plot->canvas()->setCursor(plot == apercu ? Qt::SizeHorCursor : Qt::OpenHandCursor);
        if (geste == Geste::Selection && std::abs(x - ancreX) < 3) {
            // A shift-click, not a drag: no selection.
            geste = Geste::Aucun;
            setSelection(0.0, 0.0);
            return true;
        }
        suivre(plot, x);
        if (std::exchange(geste, Geste::Aucun) == Geste::Selection)
            montrerSelection();
        return true;
    }
    case QEvent::MouseButtonDblClick:
        if (plot != apercu) {
            geste = Geste::Aucun;
            setVue(0.0, revue->duree());
        }
        return true;
    default:
        return false;
    }
}
