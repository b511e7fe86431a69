#pragma once

#include <QMetaType>
#include <QVector>

// The samples of one breath, for drawing breaths over each other: the three
// channels from the onset of the inspiration to the onset of the next, at most
// pointsMax points each (longer breaths are averaged over groups of samples).
struct FormeCycle
{
    static constexpr int pointsMax = 1000;

    double decalage = 0.0; // seconds from the onset to the first point
    double pas = 0.0;      // seconds between points
    QVector<float> co2;
    QVector<float> o2;
    QVector<float> flux;

    int taille() const { return o2.size(); }
    // Seconds from the onset to the last point.
    double fin() const { return decalage + (taille() - 1) * pas; }
};

Q_DECLARE_METATYPE(FormeCycle)
