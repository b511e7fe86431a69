#include "IndicateurRespiration.h"

#include <QHBoxLayout>
#include <QLabel>
#include <cmath>

IndicateurRespiration::IndicateurRespiration(QWidget* parent, bool centre)
    : QWidget(parent), frequence(new QLabel(this)), apnee(new QLabel(tr("Apnée"), this))
{
    auto* disposition = new QHBoxLayout(this);
    disposition->setContentsMargins(0, 0, 0, 0);
    if (centre)
        disposition->addStretch();
    disposition->addWidget(frequence);
    disposition->addWidget(apnee);
    disposition->addStretch();
    frequence->setObjectName(QStringLiteral("frequenceRespiratoire"));
    apnee->setObjectName(QStringLiteral("apnee"));
    apnee->setStyleSheet(QStringLiteral("QLabel { color: white; background-color: #c00000; "
                                        "font-weight: bold; padding: 1px 6px; }"));
    // The line keeps its height whether the indicator shows or not.
    QSizePolicy politique = apnee->sizePolicy();
    politique.setRetainSizeWhenHidden(true);
    apnee->setSizePolicy(politique);
    apnee->hide();
    setFrequence(std::nan(""));
}

void IndicateurRespiration::setFrequence(double parMinute)
{
    const QString valeur =
        std::isfinite(parMinute) ? QString::number(parMinute, 'f', 1) : QStringLiteral("--");
    frequence->setText(tr("Fréquence respiratoire : %1 /min").arg(valeur));
}

void IndicateurRespiration::setApnee(bool enApnee)
{
    apnee->setVisible(enApnee);
}

QString IndicateurRespiration::texteFrequence() const
{
    return frequence->text();
}

bool IndicateurRespiration::apneeAffichee() const
{
    return !apnee->isHidden();
}
