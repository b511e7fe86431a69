#pragma once

#include <QWidget>

class QLabel;

// The lines under the values: the breathing rate, mean of the last breaths
// ("Fréquence respiratoire : 21.3 /min", over "moyenne de 8 cycle(s)"), in a size read at a
// glance; "Apnée" in red while the analysis or the clock reports an apnea, the
// rate then reading "--"; in red under them, how long no data has come; and
// which breathing rates the sampling rate can carry, when not all of them.
class IndicateurRespiration : public QWidget
{
    Q_OBJECT

public:
    // Centred, the lines read as part of the values panel above them.
    explicit IndicateurRespiration(QWidget* parent = nullptr, bool centre = false);

    QString texteFrequence() const;
    bool apneeAffichee() const;
    // Empty while data comes.
    QString texteSilence() const;

public slots:
    // A rate that is not a number reads as no rate known yet; `nombre` is how
    // many breaths it is the mean of.
    void setFrequence(double parMinute, int nombre = 0);
    // The breath detector's apnea, found in the samples.
    void setApnee(bool enApnee);
    // The apnea seen on the clock while no sample comes.
    void setApneeHorloge(bool enApnee);
    // Seconds without a sample; 0 when data comes.
    void setSilence(int secondes);
    // Too few samples a breath: a line says which rates can be found, or
    // that none can.
    void setFrequenceEchantillonnage(double fe);

private:
    void afficher();

    bool centre;
    QLabel* frequence;
    QLabel* apnee;
    QLabel* silence;
    QLabel* limite;
    QString texte; // the rate line as plain text
    double parMinute;
    int nombre = 0;
    bool apneeDetectee = false;
    bool apneeHorloge = false;
};
