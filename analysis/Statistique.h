#pragma once

#include <cmath>
#include <vector>

// Mean and sample standard deviation of a series of values, in two passes so
// that values far from zero (O2 around 50) keep their precision; no deviation
// for fewer than two values.
struct Statistique
{
    double moyenne = 0.0;
    double ecartType = 0.0;
    int nombre = 0;

    static Statistique de(const std::vector<double>& valeurs)
    {
        Statistique s;
        s.nombre = int(valeurs.size());
        if (s.nombre == 0)
            return s;
        for (double v : valeurs)
            s.moyenne += v;
        s.moyenne /= s.nombre;
        if (s.nombre < 2)
            return s;
        double carres = 0.0;
        for (double v : valeurs)
            carres += (v - s.moyenne) * (v - s.moyenne);
        s.ecartType = std::sqrt(carres / (s.nombre - 1));
        return s;
    }
};
