// Display settings and the values panel: these slots turn the operator's display
// controls into calls on the plots, the buffers, the worker and the estimator.
#include "Fenetre.h"
#include "ui_Fenetre.h"

#include "Graphique.h"
#include "IndicateurRespiration.h"
#include "OngletMoyennes.h"
#include "OngletRevue.h"
#include "Tampon.h"
#include "acquisition.h"
#include "calculPeriode.h"
#include "detecteurCycles.h"

#include <cmath>
#include <qwt_scale_div.h>

namespace {

const char* const kCanaux[] = {"CO2", "O2", "Flux"};

} // namespace

void Fenetre::setPauseActive(bool pause)
{
    pauseActive = pause;
}

void Fenetre::setFrequence()
{
    const double fe = ui->frequence->value();
    calcPeriode->setFe(fe);
    if (acq)
        acq->setFrequence(fe);
    for (Tampon* tampon : {tamponCO2, tamponO2, tamponFlux})
        tampon->setPeriodeEchantillonnage(1.0 / fe);
    // On both tabs: which breaths this rate lets the analysis find.
    for (IndicateurRespiration* ligne : findChildren<IndicateurRespiration*>())
        ligne->setFrequenceEchantillonnage(fe);
    reglerRevue();
}

void Fenetre::setTendance()
{
    const int nbCourbes = ui->tendance->isChecked() ? ui->nbTendance->value() : 1;
    for (Graphique* plot : qAsConst(graphiques))
        plot->setTendance(nbCourbes);
}

void Fenetre::setEchelles()
{
    // Each plot takes its time and value scales together: one replot at most,
    // each one drawing the whole trend.
    const bool temporel = ui->radioTemporel->isChecked();
    const struct
    {
        const char* canal;
        double min;
        double max;
    } echelles[] = {{"CO2", double(ui->CO2Min->value()), double(ui->CO2Max->value())},
                    {"O2", double(ui->O2Min->value()), double(ui->O2Max->value())},
                    {"Flux", double(ui->fluxMin->value()), double(ui->fluxMax->value())}};
    for (const auto& echelle : echelles) {
        Graphique* plot = graphique(echelle.canal);
        const QwtScaleDiv& temps = plot->axisScaleDiv(QwtPlot::xBottom);
        plot->setEchelles(temporel ? 0 : temps.lowerBound(),
                          temporel ? ui->nbSecondes->value() : temps.upperBound(), echelle.min,
                          echelle.max);
    }
    // New labels may be wider or narrower: the time axes stay lined up.
    alignerAxes();
    if (ongletMoyennes)
        ongletMoyennes->setEchelles(ui->CO2Min->value(), ui->CO2Max->value(), ui->O2Min->value(),
                                    ui->O2Max->value(), ui->fluxMin->value(), ui->fluxMax->value());
    if (ongletRevue)
        ongletRevue->setEchelles(ui->CO2Min->value(), ui->CO2Max->value(), ui->O2Min->value(),
                                 ui->O2Max->value(), ui->fluxMin->value(), ui->fluxMax->value());
}

void Fenetre::setDecalage()
{
    // The three curves line up on the slowest gas signal: the flow is held back by
    // the larger offset, each gas by what it lacks to reach it, and each channel
    // discards its own offset's worth of lead-in.
    const double dCO2 = ui->decalageCO2->value();
    const double dO2 = ui->decalageO2->value();
    if (dCO2 > dO2) {
        graphique("O2")->setDecalage(dCO2 - dO2, dO2);
        graphique("CO2")->setDecalage(0, dCO2);
        graphique("Flux")->setDecalage(dCO2, 0);
    } else {
        graphique("CO2")->setDecalage(dO2 - dCO2, dCO2);
        graphique("O2")->setDecalage(0, dO2);
        graphique("Flux")->setDecalage(dO2, 0);
    }
    for (Graphique* plot : qAsConst(graphiques))
        plot->flushCourbesData();
    // The breaths are found on the channels lined up as the plots show them.
    detecteur->setDecalages(dCO2, dO2);
    reglerRevue();
}

void Fenetre::modeCycles()
{
    ui->radioCycles->setEnabled(true);
    if (!ui->radioCycles->isChecked())
        return;
    if (periode == 0.0)
        return;
    for (const char* canal : kCanaux)
        graphique(canal)->setAxisScale(QwtPlot::xBottom, 0,
                                       (periode + 0.25) * ui->nbCycles->value(), 0);
}

void Fenetre::setPeriode(double nouvellePeriode)
{
    // A strongest bin that cannot be breathing has a period that means
    // nothing: it neither shows nor sizes the cycles mode.
    if (!respirationVisible || periodeSansObjet())
        return;
    periode = nouvellePeriode;
    if (pauseActive)
        return;
    afficherPeriode(QString::number(periode, 'g'), static_cast<int>(std::ceil(periode)));
    modeCycles();
}

void Fenetre::setRespiration(bool visible)
{
    if (periodeSansObjet())
        return;
    respirationVisible = visible;
    if (!visible && !pauseActive)
        afficherPeriode(QStringLiteral("--"), 0);
}

void Fenetre::afficherPeriode(const QString& valeur, int pluriel)
{
    const QString ligne = tr("%1 seconde(s)", nullptr, pluriel).arg(valeur);
    ui->valeursTexte->setText(
        "<center><b><span style=\"font-size:14px;\" >" + tr("Période respiratoire") +
        "</span><br/><span style=\"font-size:12px;\" >" + ligne + "</span></b></center>");
}

// A new capture or replay, or data that stopped: no period of what came before
// stays on screen, and none is estimated from it.
void Fenetre::effacerPeriode()
{
    calcPeriode->resetData();
    effacement.start();
    periode = 0.0;
    respirationVisible = true;
    if (!pauseActive)
        afficherPeriode(QStringLiteral("--"), 0);
}

// No data or an apnea, no period. And an estimation that copied its window before the
// data was forgotten may still report it: as the next one needs a whole new
// window of samples, whatever comes within moments of the reset is its.
bool Fenetre::periodeSansObjet() const
{
    return silenceEnCours || apneeDetectee || apneeHorloge ||
           (effacement.isValid() && effacement.elapsed() < 500);
}

void Fenetre::suivreApnee()
{
    if ((apneeDetectee || apneeHorloge) && !pauseActive)
        afficherPeriode(QStringLiteral("--"), 0);
}
