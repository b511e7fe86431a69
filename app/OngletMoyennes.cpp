#include "OngletMoyennes.h"

#include "CsvCycles.h"
#include "GraphiqueCycleMoyen.h"
#include "GraphiqueTendance.h"
#include "IndicateurRespiration.h"
#include "ModeleCycles.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>

namespace {

// Redrawing waits this long for the other breaths of a burst (a replay
// catching up, a resume).
constexpr int delaiTrace = 100;

} // namespace

OngletMoyennes::OngletMoyennes(QWidget* parent)
    : QWidget(parent), cycles(new ModeleCycles(this)), minuterieTrace(new QTimer(this))
{
    auto* disposition = new QVBoxLayout(this);
    disposition->setContentsMargins(6, 6, 6, 6);
    disposition->addWidget(creerCommandes());
    auto* separation = new QSplitter(Qt::Vertical, this);
    separation->addWidget(creerGraphiques());
    separation->addWidget(creerTableau());
    separation->setStretchFactor(0, 3);
    separation->setStretchFactor(1, 2);
    // Plots above, the table below: 3 to 2 of the height to begin with.
    separation->setSizes({3000, 2000});
    separation->setChildrenCollapsible(false);
    disposition->addWidget(separation, 1);

    minuterieTrace->setSingleShot(true);
    minuterieTrace->setInterval(delaiTrace);
    connect(minuterieTrace, &QTimer::timeout, this, &OngletMoyennes::tracer);
    connect(cycles, &ModeleCycles::colonnesChangees, this, &OngletMoyennes::mettreAJourColonnes);
    connect(this, &OngletMoyennes::frequenceChangee, indicateur,
            &IndicateurRespiration::setFrequence);
    mettreAJourColonnes();
    mettreAJourStatistiques();
}

QWidget* OngletMoyennes::creerCommandes()
{
    auto* commandes = new QWidget(this);
    auto* ligne = new QHBoxLayout(commandes);
    ligne->setContentsMargins(0, 0, 0, 0);

    indicateur = new IndicateurRespiration(commandes);
    indicateur->setObjectName(QStringLiteral("indicateurMoyennes"));
    ligne->addWidget(indicateur);
    ligne->addStretch();

    ligne->addWidget(new QLabel(tr("Moyenne sur"), commandes));
    moyenneSur = new QSpinBox(commandes);
    moyenneSur->setObjectName(QStringLiteral("moyenneSur"));
    moyenneSur->setRange(1, formesMax);
    moyenneSur->setValue(8);
    moyenneSur->setSuffix(tr(" cycles"));
    ligne->addWidget(moyenneSur);
    ligne->addSpacing(16);

    ligne->addWidget(new QLabel(tr("Délai d'apnée"), commandes));
    delaiApnee = new QSpinBox(commandes);
    delaiApnee->setObjectName(QStringLiteral("delaiApnee"));
    delaiApnee->setRange(10, 60);
    delaiApnee->setValue(20);
    delaiApnee->setSuffix(tr(" s"));
    ligne->addWidget(delaiApnee);
    ligne->addSpacing(16);

    exporter = new QPushButton(tr("Exporter les cycles"), commandes);
    exporter->setObjectName(QStringLiteral("btnExporterCycles"));
    ligne->addWidget(exporter);
    ligne->addSpacing(8);

    pause = new QPushButton(tr("Pause"), commandes);
    pause->setObjectName(QStringLiteral("btnPauseMoyennes"));
    pause->setCheckable(true);
    // Checked, it reads as the state the tab is in.
    pause->setStyleSheet(QStringLiteral("QPushButton:checked { color: white; "
                                        "background-color: #c06000; font-weight: bold; }"));
    ligne->addWidget(pause);
    exporterGraphique = new QPushButton(tr("Exporter graphique"), commandes);
    exporterGraphique->setObjectName(QStringLiteral("btnExporterMoyennes"));
    ligne->addWidget(exporterGraphique);

    connect(moyenneSur, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &OngletMoyennes::actualiser);
    connect(delaiApnee, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [this](int secondes) { emit delaiApneeChange(secondes); });
    connect(exporter, &QPushButton::clicked, this, &OngletMoyennes::exporterCycles);
    connect(pause, &QPushButton::toggled, this, &OngletMoyennes::pauseDemandee);
    connect(exporterGraphique, &QPushButton::clicked, this, &OngletMoyennes::exportDemande);
    return commandes;
}

QWidget* OngletMoyennes::creerGraphiques()
{
    graphiques = new QWidget(this);
    graphiques->setObjectName(QStringLiteral("graphiquesMoyennes"));
    auto* colonnes = new QHBoxLayout(graphiques);
    colonnes->setContentsMargins(0, 0, 0, 0);

    auto* gauche = new QVBoxLayout;
    const struct
    {
        const char* nom;
        CycleMoyen::Canal canal;
        QColor couleur;
    } canaux[] = {{"CO2", CycleMoyen::Canal::CO2, QColor(170, 0, 0)},
                  {"O2", CycleMoyen::Canal::O2, QColor(0, 0, 139)},
                  {"Flux", CycleMoyen::Canal::Flux, QColor(0, 110, 0)}};
    for (const auto& c : canaux) {
        auto* plot =
            new GraphiqueCycleMoyen(QString::fromLatin1(c.nom), c.canal, c.couleur, graphiques);
        plot->setObjectName(QStringLiteral("cycleMoyen") + QString::fromLatin1(c.nom));
        // Only the channels that carry a signal are shown; O2 always is.
        plot->setVisible(c.canal == CycleMoyen::Canal::O2);
        cyclesMoyens.append(plot);
        gauche->addWidget(plot, 1);
    }
    colonnes->addLayout(gauche, 1);

    auto* droite = new QVBoxLayout;
    tendanceFrequence = new GraphiqueTendance(
        tr("Fréquence (/min)"), {{tr("Fréquence"), ModeleCycles::Frequence, QColor(0, 0, 139)}},
        graphiques);
    tendanceFrequence->setObjectName(QStringLiteral("tendanceFrequence"));
    // A change of a fraction of a breath a minute is no trend to show.
    tendanceFrequence->setEtendueMin(10.0);
    tendanceO2 =
        new GraphiqueTendance(tr("O2"),
                              {{tr("O2 inspiré (max)"), ModeleCycles::O2Inspire, QColor(0, 0, 139)},
                               {tr("O2 expiré (min)"), ModeleCycles::O2Expire, QColor(200, 90, 0)}},
                              graphiques);
    tendanceO2->setObjectName(QStringLiteral("tendanceO2"));
    tendanceO2->setEtendueMin(2.0);
    droite->addWidget(tendanceFrequence);
    droite->addWidget(tendanceO2);
    colonnes->addLayout(droite, 1);
    return graphiques;
}

void OngletMoyennes::preparerTableau(QTableView* vue, ModeleCycles* modele)
{
    vue->setModel(modele);
    vue->setSelectionBehavior(QAbstractItemView::SelectRows);
    vue->setEditTriggers(QAbstractItemView::NoEditTriggers);
    vue->setAlternatingRowColors(true);
    vue->setWordWrap(false);
    // Fixed row heights keep a table of a day's breaths as quick as a short one.
    vue->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    vue->verticalHeader()->setDefaultSectionSize(vue->fontMetrics().height() + 6);
    vue->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

QWidget* OngletMoyennes::creerTableau()
{
    auto* zone = new QWidget(this);
    auto* pile = new QVBoxLayout(zone);
    pile->setContentsMargins(0, 0, 0, 0);
    pile->setSpacing(0);

    tableau = new QTableView(zone);
    tableau->setObjectName(QStringLiteral("tableauCycles"));
    preparerTableau(tableau, cycles);
    tableau->setMinimumHeight(4 * tableau->verticalHeader()->defaultSectionSize());
    pile->addWidget(tableau, 1);

    statistiques = new QTableWidget(2, ModeleCycles::NombreColonnes, zone);
    statistiques->setObjectName(QStringLiteral("statistiquesCycles"));
    statistiques->horizontalHeader()->hide();
    statistiques->setVerticalHeaderLabels({tr("Moyenne"), tr("Écart type")});
    statistiques->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    statistiques->verticalHeader()->setDefaultSectionSize(
        tableau->verticalHeader()->defaultSectionSize());
    statistiques->setEditTriggers(QAbstractItemView::NoEditTriggers);
    statistiques->setSelectionMode(QAbstractItemView::NoSelection);
    statistiques->setFocusPolicy(Qt::NoFocus);
    statistiques->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    statistiques->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    statistiques->setFixedHeight(2 * statistiques->verticalHeader()->defaultSectionSize() +
                                 2 * statistiques->frameWidth());
    for (int ligne = 0; ligne < 2; ++ligne) {
        for (int colonne = 0; colonne < ModeleCycles::NombreColonnes; ++colonne) {
            auto* case_ = new QTableWidgetItem;
            case_->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            QFont gras = case_->font();
            gras.setBold(true);
            case_->setFont(gras);
            statistiques->setItem(ligne, colonne, case_);
        }
    }
    // The statistics line up under their columns: the same row header width
    // and the same column widths as the table.
    statistiques->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    connect(
        tableau->horizontalHeader(), &QHeaderView::sectionResized, statistiques,
        [this](int colonne, int, int largeur) { statistiques->setColumnWidth(colonne, largeur); });
    auto aligner = [this] {
        const int entete = std::max(tableau->verticalHeader()->sizeHint().width(),
                                    statistiques->verticalHeader()->sizeHint().width());
        tableau->verticalHeader()->setFixedWidth(entete);
        statistiques->verticalHeader()->setFixedWidth(entete);
    };
    connect(cycles, &QAbstractItemModel::rowsInserted, this, aligner);
    connect(cycles, &QAbstractItemModel::modelReset, this, aligner);
    aligner();
    pile->addWidget(statistiques);
    return zone;
}

int OngletMoyennes::nombreMoyenne() const
{
    return moyenneSur->value();
}

double OngletMoyennes::frequenceMoyenne() const
{
    const Statistique s = cycles->statistique(ModeleCycles::Frequence, nombreMoyenne());
    return s.nombre > 0 ? s.moyenne : std::nan("");
}

std::vector<Cycle> OngletMoyennes::tousLesCycles() const
{
    std::vector<Cycle> tous = cycles->cycles();
    tous.insert(tous.end(), attente.cbegin(), attente.cend());
    return tous;
}

void OngletMoyennes::reinitialiser(const QString& fichier)
{
    fichierSource = fichier;
    cycles->vider();
    formes.clear();
    attente.clear();
    formesEnAttente.clear();
    actualiser();
}

void OngletMoyennes::ajouterCycle(const Cycle& cycle, const FormeCycle& forme)
{
    if (enPause) {
        attente.push_back(cycle);
        // Only the last shapes are drawn: a long pause keeps no more.
        formesEnAttente.append(forme);
        if (formesEnAttente.size() > formesMax)
            formesEnAttente.removeFirst();
        return;
    }
    montrer({cycle}, {forme});
}

void OngletMoyennes::montrer(const std::vector<Cycle>& nouveaux,
                             const QVector<FormeCycle>& formesNouvelles)
{
    cycles->ajouter(nouveaux);
    formes += formesNouvelles;
    if (formes.size() > formesMax)
        formes.remove(0, formes.size() - formesMax);
    actualiser();
}

void OngletMoyennes::setApnee(bool enApnee)
{
    indicateur->setApnee(enApnee);
}

void OngletMoyennes::setApneeHorloge(bool enApnee)
{
    indicateur->setApneeHorloge(enApnee);
}

void OngletMoyennes::setSilence(int secondes)
{
    indicateur->setSilence(secondes);
}

void OngletMoyennes::setPause(bool pauseDemandee)
{
    enPause = pauseDemandee;
    {
        const QSignalBlocker bloque(pause);
        pause->setChecked(pauseDemandee);
    }
    pause->setText(pauseDemandee ? tr("En pause") : tr("Pause"));
    if (pauseDemandee || attente.empty())
        return;
    const std::vector<Cycle> nouveaux = std::exchange(attente, {});
    const QVector<FormeCycle> formesNouvelles = std::exchange(formesEnAttente, {});
    montrer(nouveaux, formesNouvelles);
}

void OngletMoyennes::setEchelles(double co2Min, double co2Max, double o2Min, double o2Max,
                                 double fluxMin, double fluxMax)
{
    const double bornes[3][2] = {{co2Min, co2Max}, {o2Min, o2Max}, {fluxMin, fluxMax}};
    for (int c = 0; c < cyclesMoyens.size(); ++c) {
        cyclesMoyens[c]->setAxisScale(QwtPlot::yLeft, bornes[c][0], bornes[c][1]);
        if (isVisible())
            cyclesMoyens[c]->replot();
    }
    tendanceO2->imposerEchelle(o2Min, o2Max);
    if (isVisible())
        tendanceO2->replot();
}

// What follows the breaths shown and their number N: the rate line, the
// statistics and, soon, the plots.
void OngletMoyennes::actualiser()
{
    emit frequenceChangee(frequenceMoyenne(),
                          int(std::min(cycles->cycles().size(), size_t(nombreMoyenne()))));
    mettreAJourStatistiques();
    planifierTrace();
}

void OngletMoyennes::planifierTrace()
{
    aTracer = true;
    if (isVisible() && !minuterieTrace->isActive())
        minuterieTrace->start();
}

void OngletMoyennes::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (aTracer)
        tracer();
}

void OngletMoyennes::tracer()
{
    if (!isVisible())
        return; // drawn when shown
    aTracer = false;
    const int nombre = nombreMoyenne();
    GraphiqueCycleMoyen* dernier = nullptr;
    for (GraphiqueCycleMoyen* plot : qAsConst(cyclesMoyens)) {
        const bool signal = plot->canal() == CycleMoyen::Canal::O2 ||
                            CycleMoyen::porteUnSignal(formes, nombre, plot->canal());
        plot->setVisible(signal);
        if (signal)
            dernier = plot;
    }
    for (GraphiqueCycleMoyen* plot : qAsConst(cyclesMoyens)) {
        if (plot->isVisible()) {
            plot->setTitreTemps(plot == dernier);
            plot->tracer(formes, nombre);
        }
    }
    tendanceFrequence->tracer(cycles->cycles());
    tendanceO2->tracer(cycles->cycles());
}

void OngletMoyennes::mettreAJourStatistiques()
{
    const int nombre = nombreMoyenne();
    for (int colonne = 0; colonne < ModeleCycles::NombreColonnes; ++colonne) {
        const Statistique s = cycles->statistique(colonne, nombre);
        // The mean of the breaths' times says nothing: that column tells how
        // many breaths the statistics are over.
        QString moyenne;
        QString ecart;
        if (colonne == ModeleCycles::Temps)
            moyenne = s.nombre > 0 ? tr("%n cycle(s)", nullptr, s.nombre) : QString();
        else if (s.nombre > 0)
            moyenne = ModeleCycles::texte(colonne, s.moyenne);
        if (colonne != ModeleCycles::Temps && s.nombre > 1)
            ecart = ModeleCycles::texte(colonne, s.ecartType);
        statistiques->item(0, colonne)->setText(moyenne);
        statistiques->item(1, colonne)->setText(ecart);
    }
}

void OngletMoyennes::mettreAJourColonnes()
{
    for (int colonne = 0; colonne < ModeleCycles::NombreColonnes; ++colonne) {
        const bool cachee = !cycles->colonneSignificative(colonne);
        tableau->setColumnHidden(colonne, cachee);
        statistiques->setColumnHidden(colonne, cachee);
    }
}

QString OngletMoyennes::filtresCsv()
{
    return tr("Fichiers csv") + " (*.csv);;" + tr("Tous les fichiers") + " (*)";
}

QString OngletMoyennes::nomPropose(const QDateTime& moment)
{
    return QStringLiteral("cycles_") + moment.toString(QStringLiteral("dd_MM_yyyy_hh_mm_ss")) +
           QStringLiteral(".csv");
}

void OngletMoyennes::exporterCycles()
{
    const QString filtres = filtresCsv();
    const QString nomFichier = QFileDialog::getSaveFileName(
        this, tr("Exporter les cycles"), nomPropose(QDateTime::currentDateTime()), filtres);
    if (!nomFichier.isEmpty())
        exporterTable(this, nomFichier, tousLesCycles(), fichierSource);
}

void OngletMoyennes::exporterTable(QWidget* fenetre, const QString& nomFichier,
                                   const std::vector<Cycle>& cycles, const QString& fichierSource)
{
    auto* veille = new QFutureWatcher<bool>(fenetre);
    connect(veille, &QFutureWatcher<bool>::finished, fenetre, [fenetre, veille, nomFichier] {
        veille->deleteLater();
        if (!veille->result())
            QMessageBox::warning(fenetre, tr("Avertissement"),
                                 tr("Impossible d'écrire le fichier %1").arg(nomFichier));
    });
    veille->setFuture(
        QtConcurrent::run(&OngletMoyennes::ecrireTable, nomFichier, cycles, fichierSource));
}

bool OngletMoyennes::ecrireTable(const QString& nomFichier, const std::vector<Cycle>& tous,
                                 const QString& source)
{
    // Written beside the target, which it replaces once whole: a failure (a
    // full disk) leaves the earlier file as it was.
    QSaveFile fichier(nomFichier);
    if (!fichier.open(QIODevice::WriteOnly)) {
        qDebug() << "cycles: ouverture de" << nomFichier << "impossible:" << fichier.errorString();
        return false;
    }
    QTextStream table(&fichier);
    table.setCodec("UTF-8");
    table << CsvCycles::entete();
    for (const Cycle& cycle : tous)
        table << CsvCycles::ligne(cycle, source);
    table.flush();
    if (table.status() != QTextStream::Ok)
        fichier.cancelWriting();
    if (!fichier.commit()) {
        qDebug() << "cycles: écriture de" << nomFichier << "impossible:" << fichier.errorString();
        return false;
    }
    return true;
}
