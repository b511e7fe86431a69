#include "Fenetre.h"
#include "ui_Fenetre.h"

#include "Courbe.h"
#include "Graphique.h"
#include "IndicateurRespiration.h"
#include "OngletMoyennes.h"
#include "OngletRevue.h"
#include "Tampon.h"
#include "VeilleDonnees.h"
#include "acquisition.h"
#include "calculPeriode.h"
#include "detecteurCycles.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <qwt_plot_grid.h>
#include <qwt_text.h>

namespace {

const QString kCO2 = QStringLiteral("CO2");
const QString kO2 = QStringLiteral("O2");
const QString kFlux = QStringLiteral("Flux");

// Dotted minor lines and dashed, one pixel wider major lines, in a translucent
// grey that stays behind the curves.
void attacherGrille(QwtPlot* plot)
{
    auto* grille = new QwtPlotGrid;
    grille->enableXMin(true);
    grille->enableYMin(true);
    QPen crayon(QColor(128, 128, 128, 200), 0, Qt::DotLine);
    grille->setMinorPen(crayon);
    crayon.setStyle(Qt::DashLine);
    crayon.setWidth(crayon.width() + 1);
    grille->setMajorPen(crayon);
    grille->attach(plot);
}

// The few choices the operator expects to find again at the next start, in
// ~/.config/station/station.conf (below $XDG_CONFIG_HOME when set).
const QString kOrganisation = QStringLiteral("station");
const QString kRepriseAutomatique = QStringLiteral("acquisition/repriseAutomatique");

QString composante(int valeur)
{
    return QString::number(valeur);
}

// The combo box sizes itself to its longest entry; a path typed into it is
// given the room it needs the same way, up to the selector's maximum width.
void ajusterLargeurSource(QComboBox* source, const QString& texte)
{
    QStyleOptionComboBox option;
    option.initFrom(source);
    option.editable = source->isEditable();
    option.frame = source->hasFrame();
    const QFontMetrics mesures = source->fontMetrics();
    // The line edit keeps a margin of two pixels on each side of its text, and
    // the cursor after it.
    const QSize contenu(mesures.horizontalAdvance(texte) + 6, mesures.height());
    const int largeur =
        source->style()->sizeFromContents(QStyle::CT_ComboBox, &option, contenu, source).width();
    source->setMinimumWidth(qMin(largeur, source->maximumWidth()));
}

} // namespace

Fenetre::Fenetre(QWidget* parent)
    : QMainWindow(parent), ui(new Ui_Fenetre), acq(nullptr), threadAcq(nullptr),
      calcPeriode(nullptr), pauseActive(false), periode(0.0), tamponCO2(nullptr), tamponO2(nullptr),
      tamponFlux(nullptr)
{
    ui->setupUi(this);
    ui->menuBar->hide();
    ui->mainToolBar->hide();
    // The status bar names the file being recorded or replayed.
    etat = new QLabel(ui->statusBar);
    etat->setObjectName(QStringLiteral("etatAcquisition"));
    etat->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui->statusBar->addWidget(etat, 1);
    ui->statusBar->setSizeGripEnabled(false);

    // The instantaneous-data tab and the values panel take the window colour, so
    // the panel reads as part of the window rather than as an input field.
    const QColor fond = QApplication::palette().color(QPalette::Current, QPalette::Window);
    const QString rgb = "rgb(" + composante(fond.red()) + "," + composante(fond.green()) + "," +
                        composante(fond.blue()) + ");}";
    qApp->setStyleSheet("*#tab_now{ background-color: " + rgb);
    qApp->setStyleSheet(qApp->styleSheet() + " *#valeursTexte{ background-color: " + rgb);

    couleurs = {Qt::darkBlue, Qt::darkCyan, Qt::darkMagenta, Qt::darkYellow, Qt::darkGreen,
                Qt::darkRed,  Qt::black,    Qt::blue,        Qt::magenta,    Qt::green};
    periode = 0.0;
    graphiques.clear();
    pauseActive = false;

    creerGraphiques();
    connecterCommandes();
    creerAnalyseCycles();
    creerRevue();
}

void Fenetre::creerGraphiques()
{
    struct Canal
    {
        QString nom;
        Tampon** tampon;
        double min;
        double max;
    };
    const Canal canaux[] = {
        {kCO2, &tamponCO2, -20, 70}, {kO2, &tamponO2, 45, 65}, {kFlux, &tamponFlux, -15, 15}};

    for (const Canal& canal : canaux) {
        *canal.tampon = new Tampon(0.01, 10);
        QList<Courbe*> courbes{new Courbe(canal.nom, *canal.tampon, couleurs)};
        auto* plot = new Graphique(courbes);
        const bool flux = canal.nom == kFlux;
        if (!flux)
            attacherGrille(plot);
        graphiques.insert(canal.nom, plot);
        ui->graphiqueContainer->layout()->addWidget(plot);
        if (flux)
            plot->enableAxis(QwtPlot::xBottom);
        plot->setAxisScale(QwtPlot::yLeft, canal.min, canal.max, 0);
        // Named on screen and in every export: the order alone does not tell them apart.
        QwtText titre(canal.nom);
        titre.setFont(plot->axisFont(QwtPlot::yLeft));
        plot->setAxisTitle(QwtPlot::yLeft, titre);
        plot->setAxisScale(QwtPlot::xBottom, 0, 10, 0);
        if (flux)
            attacherGrille(plot);
        connect(ui->btnPause, &QPushButton::toggled, plot, &Graphique::setPause);
    }
    alignerAxes();
}

void Fenetre::alignerAxes()
{
    QList<QwtPlot*> plots;
    for (const QString& canal : {kCO2, kO2, kFlux})
        plots << graphique(canal);
    Graphique::alignerAxesGauches(plots);
}

void Fenetre::connecterCommandes()
{
    calcPeriode = new calculPeriode(this);
    calcPeriode->setFe(100.0);
    auto* minuterie = new QTimer(this);
    connect(minuterie, SIGNAL(timeout()), calcPeriode, SLOT(start()));
    minuterie->start(1000);

    threadAcq = new QThread;
    acq = new acquisition;
    acq->setTampons(tamponCO2, tamponO2, tamponFlux, calcPeriode);
    detecteur = new detecteurCycles(this);
    acq->setDetecteur(detecteur);
    ui->repriseAutomatique->setChecked(
        QSettings(kOrganisation, kOrganisation).value(kRepriseAutomatique, false).toBool());
    acq->setRepriseAutomatique(ui->repriseAutomatique->isChecked());
    acq->moveToThread(threadAcq);
    // The worker is destroyed on its own thread, as the thread ends.
    connect(threadAcq, &QThread::finished, acq, &QObject::deleteLater);
    threadAcq->start(QThread::TimeCriticalPriority);

    connect(ui->btnPause, &QPushButton::toggled, this, &Fenetre::setPauseActive);
    connect(ui->btnPause, &QPushButton::toggled, this, &Fenetre::takeSnapshot);
    connect(ui->btnExporter, &QPushButton::clicked, this, &Fenetre::exportation);
    connect(ui->frequence, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &Fenetre::setFrequence);
    connect(ui->decalageCO2, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &Fenetre::setDecalage);
    connect(ui->decalageO2, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &Fenetre::setDecalage);
    connect(ui->tendance, &QCheckBox::stateChanged, this, &Fenetre::setTendance);
    connect(ui->nbTendance, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &Fenetre::setTendance);
    for (QSpinBox* echelle :
         {ui->CO2Min, ui->CO2Max, ui->O2Min, ui->O2Max, ui->fluxMin, ui->fluxMax, ui->nbSecondes})
        connect(echelle, QOverload<int>::of(&QSpinBox::valueChanged), this, &Fenetre::setEchelles);
    connect(ui->radioTemporel, &QRadioButton::toggled, this, &Fenetre::setEchelles);
    connect(ui->radioCycles, &QRadioButton::toggled, this, &Fenetre::modeCycles);
    connect(calcPeriode, &calculPeriode::respiration, this, &Fenetre::setRespiration);
    connect(calcPeriode, &calculPeriode::newPeriode, this, &Fenetre::setPeriode);
    // The selector announces its choice by signature: the worker takes the text.
    connect(ui->source, SIGNAL(currentIndexChanged(QString)), acq, SLOT(setSource(QString)));
    connect(ui->source, SIGNAL(editTextChanged(QString)), acq, SLOT(setSource(QString)));
    connect(ui->source, &QComboBox::editTextChanged, this,
            [this](const QString& texte) { ajusterLargeurSource(ui->source, texte); });
    connect(ui->repriseAutomatique, &QCheckBox::toggled, acq, &acquisition::setRepriseAutomatique);
    connect(ui->repriseAutomatique, &QCheckBox::toggled, this, [](bool reprendre) {
        QSettings(kOrganisation, kOrganisation).setValue(kRepriseAutomatique, reprendre);
    });
    connect(ui->btnCapturer, &QPushButton::toggled, this, &Fenetre::capture);
    connect(ui->btnCapturer, &QPushButton::toggled, acq, &acquisition::setCapture);
    // The worker's thread waits until the window has handled a message or a list.
    connect(acq, &acquisition::newMessage, this, &Fenetre::showMessage,
            Qt::BlockingQueuedConnection);
    connect(acq, &acquisition::newDeviceList, this, &Fenetre::getPortsSeriesList,
            Qt::BlockingQueuedConnection);
    // A warning after which the acquisition goes on must not hold the reading of
    // the port while its box waits for the operator.
    connect(
        acq, &acquisition::avertissement, this,
        [this](int type, const QString& message) { showMessage(type, message, 0); },
        Qt::QueuedConnection);
    connect(ui->btnRejouer, &QPushButton::toggled, this, &Fenetre::rejouer);

    getPortsSeriesList(QStringList());
    QTimer::singleShot(500, this, &Fenetre::remplirEcran);
    QTimer::singleShot(500, this, &Fenetre::setFrequence);
    // The 100 ms timer belongs to the window, so that it cannot outlive a worker
    // thread that ends first; the request itself runs on the worker's thread.
    QTimer::singleShot(100, this, [this] {
        if (acq)
            QMetaObject::invokeMethod(acq, &acquisition::askForDeviceList, Qt::QueuedConnection);
    });
}

// The breath-by-breath analysis: the averaged-data tab, and the rate and apnea
// line under the values. The detector's results and the start of each
// acquisition come from the worker's thread, queued in the order they were
// emitted, so a new acquisition's reset always comes before its first breath.
void Fenetre::creerAnalyseCycles()
{
    ongletMoyennes = new OngletMoyennes(ui->tab_moyennes);
    auto* disposition = new QVBoxLayout(ui->tab_moyennes);
    disposition->setContentsMargins(0, 0, 0, 0);
    disposition->addWidget(ongletMoyennes);

    indicateur = new IndicateurRespiration(ui->frame, true);
    indicateur->setObjectName(QStringLiteral("indicateurRespiration"));
    auto* panneau = static_cast<QVBoxLayout*>(ui->frame->layout());
    panneau->insertWidget(panneau->indexOf(ui->valeursTexte) + 1, indicateur);
    ligneConnexion = new QLabel(ui->frame);
    ligneConnexion->setObjectName(QStringLiteral("ligneConnexion"));
    ligneConnexion->setWordWrap(true);
    ligneConnexion->hide();
    panneau->insertWidget(panneau->indexOf(indicateur) + 1, ligneConnexion);

    detecteur->setFormesDemandees(true);
    connect(detecteur, &detecteurCycles::formeCycle, ongletMoyennes, &OngletMoyennes::ajouterCycle);
    connect(detecteur, &detecteurCycles::apnee, ongletMoyennes, &OngletMoyennes::setApnee);
    connect(detecteur, &detecteurCycles::apnee, indicateur, &IndicateurRespiration::setApnee);
    connect(acq, &acquisition::analyseCommencee, ongletMoyennes, &OngletMoyennes::reinitialiser);
    connect(ongletMoyennes, &OngletMoyennes::frequenceChangee, indicateur,
            &IndicateurRespiration::setFrequence);
    connect(ongletMoyennes, &OngletMoyennes::delaiApneeChange, detecteur,
            &detecteurCycles::setDelaiApnee);
    connect(ui->btnPause, &QPushButton::toggled, ongletMoyennes, &OngletMoyennes::setPause);
    // One pause for both tabs: the averaged tab's button is the same switch.
    connect(ongletMoyennes, &OngletMoyennes::pauseDemandee, ui->btnPause, &QPushButton::setChecked);
    connect(ongletMoyennes, &OngletMoyennes::exportDemande, this, &Fenetre::exportation);

    // The clock's watch over a live acquisition: its silence and apnea go to
    // both tabs, beside the detector's apnea.
    veille = new VeilleDonnees([this] { return acq ? acq->echantillonsRecus() : 0; }, this);
    connect(detecteur, &detecteurCycles::nouveauCycle, veille, &VeilleDonnees::cycleRecu);
    connect(ongletMoyennes, &OngletMoyennes::delaiApneeChange, veille,
            &VeilleDonnees::setDelaiApnee);
    connect(veille, &VeilleDonnees::silence, this, &Fenetre::montrerSilence);
    connect(veille, &VeilleDonnees::apnee, indicateur, &IndicateurRespiration::setApneeHorloge);
    connect(veille, &VeilleDonnees::apnee, ongletMoyennes, &OngletMoyennes::setApneeHorloge);
    // After the apnea delay without a breath the estimator's window holds no
    // breathing: whatever bin wins, its period is not the patient's.
    connect(detecteur, &detecteurCycles::apnee, this, [this](bool enApnee) {
        apneeDetectee = enApnee;
        suivreApnee();
    });
    connect(veille, &VeilleDonnees::apnee, this, [this](bool enApnee) {
        apneeHorloge = enApnee;
        suivreApnee();
    });
    connect(acq, &acquisition::fichierEnregistre, this, &Fenetre::montrerEnregistrement);
    connect(acq, &acquisition::positionRejeu, this, &Fenetre::montrerPositionRejeu);
    connect(acq, &acquisition::connexionSuspendue, this,
            [this](const QString& message) { montrerConnexion(message, true); });
    connect(acq, &acquisition::connexionReprise, this,
            [this](const QString& message) { montrerConnexion(message, false); });
    ongletMoyennes->setEchelles(ui->CO2Min->value(), ui->CO2Max->value(), ui->O2Min->value(),
                                ui->O2Max->value(), ui->fluxMin->value(), ui->fluxMax->value());
}

// The review tab, with the averaged tab's breath table and the first tab's scales, and
// the replay's speed beside its button.
void Fenetre::creerRevue()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tab_revue"));
    ui->tabWidget->addTab(page, tr("Revue"));
    ongletRevue = new OngletRevue(page);
    auto* disposition = new QVBoxLayout(page);
    disposition->setContentsMargins(0, 0, 0, 0);
    disposition->addWidget(ongletRevue);
    connect(ongletRevue, &OngletRevue::exportDemande, this, &Fenetre::exportation);
    // After the live detector has taken the new delay (the same thread).
    connect(ongletMoyennes, &OngletMoyennes::delaiApneeChange, this, &Fenetre::reglerRevue);
    reglerRevue();
    ongletRevue->setEchelles(ui->CO2Min->value(), ui->CO2Max->value(), ui->O2Min->value(),
                             ui->O2Max->value(), ui->fluxMin->value(), ui->fluxMax->value());

    vitesseRejeu = new QComboBox(ui->centralWidget);
    vitesseRejeu->setObjectName(QStringLiteral("vitesseRejeu"));
    vitesseRejeu->setToolTip(tr("Vitesse du rejeu"));
    for (int fois : {1, 2, 5, 10, 50})
        vitesseRejeu->addItem(QStringLiteral("×%1").arg(fois), fois);
    ui->horizontalLayout_4->insertWidget(ui->horizontalLayout_4->indexOf(ui->btnRejouer) + 1,
                                         vitesseRejeu);
    connect(vitesseRejeu, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        if (acq)
            acq->setVitesseRejeu(vitesseRejeu->currentData().toDouble());
    });
}

// The review finds the breaths as the live analysis would: the same rate,
// apnea delay and delays.
void Fenetre::reglerRevue()
{
    if (!ongletRevue)
        return;
    LectureRevue::Reglages reglages;
    reglages.fe = ui->frequence->value();
    reglages.delaiApnee = detecteur->delaiApnee();
    reglages.decalageCo2 = ui->decalageCO2->value();
    reglages.decalageO2 = ui->decalageO2->value();
    ongletRevue->setReglages(reglages);
}

Fenetre::~Fenetre()
{
    arreterAcquisition();
    for (Graphique* plot : qAsConst(graphiques))
        delete plot;
    delete ui;
}

void Fenetre::arreterAcquisition()
{
    if (!threadAcq)
        return;
    // The worker writes into the buffers and the estimator that this window owns:
    // stop it on its own thread (a running capture file is written and closed),
    // then let the thread end, which also destroys the worker there.
    fermetureEnCours = true;
    QThread* thread = threadAcq;
    acquisition* worker = acq;
    QMetaObject::invokeMethod(
        worker,
        [worker, thread] {
            worker->arreter();
            thread->quit();
        },
        Qt::QueuedConnection);
    // Meanwhile the worker may be waiting for this window to take a message or a
    // device list through a blocking connection: keep delivering those (they are
    // no longer shown) so that it can reach the stop.
    while (!thread->wait(10))
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    delete thread;
    threadAcq = nullptr;
    acq = nullptr;
    calcPeriode->wait();
}

void Fenetre::closeEvent(QCloseEvent* event)
{
    arreterAcquisition();
    QMainWindow::closeEvent(event);
}

void Fenetre::timerEvent(QTimerEvent* event)
{
    QMainWindow::timerEvent(event);
}

Graphique* Fenetre::graphique(const QString& canal) const
{
    return graphiques.value(canal);
}

void Fenetre::remplirEcran()
{
    QScreen* ecran = QGuiApplication::primaryScreen();
    if (!ecran)
        return;
    QRect zone = ecran->availableGeometry();
    const QRect cadre = frameGeometry();
    const QRect client = geometry();
    const int bord = (cadre.width() - client.width()) / 2;

    // The frame spans the available area from the screen's top left corner; the
    // client geometry is what the window returns to when it is restored.
    zone.setBottom(zone.bottom() - bord);
    zone.setTop(client.top() - cadre.top());
    zone.setRight(zone.right() - bord);
    zone.setLeft(client.left() - cadre.left());
    setGeometry(zone);
    setWindowState(Qt::WindowMaximized);
}
