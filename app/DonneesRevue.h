#pragma once

#include "Cycle.h"
#include "PyramideMinMax.h"

#include <QString>
#include <vector>

// Everything the review keeps of one capture file once it has been read: the
// three channels (CO2, O2, Flux) with their min/max levels, every breath the
// detector found in them, and where every pasIndex-th line starts in the
// file, so that a stretch can be copied out with its lines as they are.
struct DonneesRevue
{
    static constexpr int pasIndex = 256;

    QString chemin;
    double fe = 100.0;
    qint64 lignes = 0;
    PyramideMinMax canaux[3];
    std::vector<Cycle> cycles;
    std::vector<qint64> debutsLignes; // byte offset of line k * pasIndex
    qint64 finFichier = 0;            // where the last line read ends
    // The gases' delays the breaths were found with.
    double decalageCo2 = 0.0;
    double decalageO2 = 0.0;

    double duree() const { return lignes / fe; }
};
