#include "IndicateurRespiration.h"

#include "detecteurCycles.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cmath>

namespace {

const char* const kRouge = "QLabel { color: white; background-color: #c00000; "
                           "font-weight: bold; padding: 1px 6px; }";

} // namespace

IndicateurRespiration::IndicateurRespiration(QWidget* parent, bool auCentre)
    : QWidget(parent), centre(auCentre), frequence(new QLabel(this)),
      apnee(new QLabel(tr("Apnée"), this)), silence(new QLabel(this)), limite(new QLabel(this)),
      parMinute(std::nan(""))
{
    auto* pile = new QVBoxLayout(this);
    pile->setContentsMargins(0, 0, 0, 0);
    pile->setSpacing(2);
    auto* disposition = new QHBoxLayout;
    if (auCentre)
        disposition->addStretch();
    disposition->addWidget(frequence);
    disposition->addWidget(apnee, 0, Qt::AlignVCenter);
    disposition->addStretch();
    pile->addLayout(disposition);
    pile->addWidget(silence, 0, auCentre ? Qt::AlignHCenter : Qt::AlignLeft);
    pile->addWidget(limite, 0, auCentre ? Qt::AlignHCenter : Qt::AlignLeft);

    frequence->setObjectName(QStringLiteral("frequenceRespiratoire"));
    frequence->setTextFormat(Qt::RichText);
    frequence->setAlignment(auCentre ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);

    apnee->setObjectName(QStringLiteral("apnee"));
    apnee->setStyleSheet(QLatin1String(kRouge));
    silence->setObjectName(QStringLiteral("silence"));
    silence->setStyleSheet(QLatin1String(kRouge));
    // The rate line keeps its height whether the indicator shows or not.
    QSizePolicy politique = apnee->sizePolicy();
    politique.setRetainSizeWhenHidden(true);
    apnee->setSizePolicy(politique);
    limite->setObjectName(QStringLiteral("limiteFrequence"));
    limite->setWordWrap(true);
    limite->setStyleSheet(QStringLiteral("QLabel { color: #a04000; font-weight: bold; }"));
    apnee->hide();
    silence->hide();
    limite->hide();
    afficher();
}

void IndicateurRespiration::setFrequence(double valeur, int cycles)
{
    parMinute = valeur;
    nombre = cycles;
    afficher();
}

void IndicateurRespiration::setApnee(bool enApnee)
{
    apneeDetectee = enApnee;
    afficher();
}

void IndicateurRespiration::setApneeHorloge(bool enApnee)
{
    apneeHorloge = enApnee;
    afficher();
}

void IndicateurRespiration::setSilence(int secondes)
{
    silence->setText(secondes > 0 ? tr("Aucune donnée reçue depuis %1 s").arg(secondes)
                                  : QString());
    silence->setVisible(secondes > 0);
}

void IndicateurRespiration::setFrequenceEchantillonnage(double fe)
{
    const double portee = detecteurCycles::frequenceMaxTrouvable(fe);
    const bool toutes = portee >= detecteurCycles::frequenceMaxCherchee;
    limite->setText(portee <= 0.0
                        ? tr("Aucun cycle respiratoire ne peut être trouvé à %1 Hz").arg(fe)
                        : tr("À %1 Hz, seuls les rythmes jusqu'à %2 /min peuvent être trouvés")
                              .arg(fe)
                              .arg(portee));
    limite->setVisible(!toutes);
}

// During an apnea the last breaths' rate is history, not the rate now.
void IndicateurRespiration::afficher()
{
    const bool enApnee = apneeDetectee || apneeHorloge;
    apnee->setVisible(enApnee);
    const bool connue = std::isfinite(parMinute) && !enApnee;
    texte = tr("Fréquence respiratoire : %1 /min")
                .arg(connue ? QString::number(parMinute, 'f', 1) : QStringLiteral("--"));
    if (connue && nombre > 0)
        texte += QLatin1Char(' ') + tr("(moyenne de %n cycle(s))", nullptr, nombre);
    // Larger than the period above it: this is the figure read from afar. In
    // the values panel the rate stands on a line of its own, so that the
    // panel stays narrow; in a row of controls it all goes on one line.
    const QString valeur = (connue ? QString::number(parMinute, 'f', 1) : QStringLiteral("--")) +
                           QStringLiteral("&nbsp;/min");
    QString html = QStringLiteral("<span style=\"font-size:16px; font-weight:bold;\">") +
                   tr("Fréquence respiratoire :").toHtmlEscaped() +
                   (centre ? QStringLiteral("<br/><span style=\"font-size:20px;\">")
                           : QStringLiteral(" <span>")) +
                   valeur + QStringLiteral("</span></span>");
    if (connue && nombre > 0)
        html += centre ? QStringLiteral("<br/>") + tr("moyenne de %n cycle(s)", nullptr, nombre)
                       : QLatin1Char(' ') + tr("(%n cycle(s))", nullptr, nombre);
    frequence->setText(html);
}

QString IndicateurRespiration::texteFrequence() const
{
    return texte;
}

bool IndicateurRespiration::apneeAffichee() const
{
    return !apnee->isHidden();
}

QString IndicateurRespiration::texteSilence() const
{
    return silence->text();
}
