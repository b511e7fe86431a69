#pragma once

#include "Cycle.h"

#include <QCoreApplication>
#include <QString>
#include <vector>

struct DonneesRevue;

// Writes a stretch of a capture under review as a capture file of its own,
// its lines copied byte for byte from the file read (found from the review's
// index of line starts, never parsed again), and the stretch's breaths as the
// breath table beside it. Each file replaces an earlier one only once whole,
// and neither may be the capture read. Meant to run away from the window's
// thread; failures are told in French by the return value.
class ExtraitCapture
{
    Q_DECLARE_TR_FUNCTIONS(ExtraitCapture)

public:
    // The breath table's name beside a capture: "x.csv" gives "x_cycles.csv".
    static QString nomTableCycles(const QString& capture);
    // The message refusing to write `destination` when it is the capture
    // read, whatever the path to it (a link, another name); empty otherwise.
    static QString refusRemplacement(const QString& destination, const QString& capture);
    // Copies lines [premiere, fin) of the file read into `destination`, and
    // the breaths given (their times from the stretch's first line) into the
    // table beside it. An empty message means success.
    static QString ecrire(const DonneesRevue& donnees, qint64 premiere, qint64 fin,
                          const QString& destination, const std::vector<Cycle>& cycles);
};
