#pragma once

#include <QMetaType>

// One breath, from the onset of an inspiration (O2 rising) to the onset of the
// next. Times in seconds from the first sample of the acquisition; gas values in
// the units of their channels; volumes in Flux units x seconds.
struct Cycle
{
    // Maximum, minimum and mean of one channel over the breath.
    struct Mesure
    {
        double max = 0.0;
        double min = 0.0;
        double moyenne = 0.0;
    };

    double debut = 0.0;
    double duree = 0.0;
    double frequence = 0.0; // breaths per minute: 60 / duree
    double dureeInspiration = 0.0;
    double dureeExpiration = 0.0;
    Mesure co2;
    Mesure o2;
    Mesure flux;
    // Integrals of Flux over the inspiration and the expiration; meaningful
    // only when Flux carried a signal during the breath.
    bool fluxPresent = false;
    double volumeInspire = 0.0;
    double volumeExpire = 0.0;
    // Seconds of the apnea that ended when this breath started (from the onset
    // before the apnea to this one); 0 when no apnea preceded it.
    double apneePrecedente = 0.0;
    // The line to the instrument was lost and came back between the previous
    // breath and this one: nothing is known of what came between.
    bool apresCoupure = false;
};

Q_DECLARE_METATYPE(Cycle)
