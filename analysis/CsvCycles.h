#pragma once

#include "Cycle.h"

#include <QString>

// The breath table as CSV, the same for the batch tool and the station's
// export: one header line, then one line per breath, fields separated by ";",
// "." as decimal point whatever the locale, lines ended by "\n". Columns, in
// this order:
//   debut_s          start of the breath, seconds from the first sample
//   duree_s          duration, seconds
//   frequence_min    rate, breaths per minute
//   inspiration_s    duration of the inspiration, seconds
//   expiration_s     duration of the expiration, seconds
//   o2_max o2_min o2_moy, co2_max co2_min co2_moy, flux_max flux_min flux_moy
//                    the channels over the breath
//   volume_inspire   integral of Flux over the inspiration (Flux units x s),
//   volume_expire    and over the expiration; empty when Flux carried nothing
//   fichier          the capture the breath comes from, between double quotes
//                    (a quote inside doubled) when it holds ";", a quote, CR or LF
//   apnee_s          seconds of the apnea that ended when the breath started;
//                    empty when none did
class CsvCycles
{
public:
    static QString entete();
    static QString ligne(const Cycle& cycle, const QString& fichier);
};
