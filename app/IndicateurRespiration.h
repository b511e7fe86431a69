#pragma once

#include <QWidget>

class QLabel;

// One line under the values: the breathing rate, mean of the last breaths
// ("Fréquence respiratoire : 21.3 /min"), and "Apnée" in red while the
// analysis reports an apnea.
class IndicateurRespiration : public QWidget
{
    Q_OBJECT

public:
    // Centred, the line reads as part of the values panel above it.
    explicit IndicateurRespiration(QWidget* parent = nullptr, bool centre = false);

    QString texteFrequence() const;
    bool apneeAffichee() const;

public slots:
    // A rate that is not a number reads as no rate known yet.
    void setFrequence(double parMinute);
    void setApnee(bool enApnee);

private:
    QLabel* frequence;
    QLabel* apnee;
};
