#pragma once

#include "detecteurCycles.h"

// What a breath detector is set to: the sampling rate, the apnea delay and the
// gases' delays on the flow. The window's review and the batch tool set theirs
// from one of these, so that both find the same breaths.
struct ReglagesDetecteur
{
    double fe = 100.0;
    double delaiApnee = 20.0;
    double decalageCo2 = 0.0;
    double decalageO2 = 0.0;

    void appliquer(detecteurCycles& detecteur) const
    {
        detecteur.setFe(fe);
        detecteur.setDelaiApnee(delaiApnee);
        detecteur.setDecalages(decalageCo2, decalageO2);
    }
    bool operator==(const ReglagesDetecteur& autre) const
    {
        return fe == autre.fe && delaiApnee == autre.delaiApnee &&
               decalageCo2 == autre.decalageCo2 && decalageO2 == autre.decalageO2;
    }
    bool operator!=(const ReglagesDetecteur& autre) const { return !(*this == autre); }
};
