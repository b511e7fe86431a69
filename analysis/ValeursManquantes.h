#pragma once

#include <cmath>

// Values no channel can take (beyond valeurMax, or not finite) are missing:
// the channel's last sound value stands for each, so that one absurd value
// neither stops nor biases what is computed from the samples. Three channels.
class ValeursManquantes
{
public:
    static constexpr double valeurMax = 1e6;

    void remplacer(double valeurs[3])
    {
        for (int c = 0; c < 3; ++c) {
            if (std::isfinite(valeurs[c]) && std::abs(valeurs[c]) <= valeurMax)
                derniers[c] = valeurs[c];
            else
                valeurs[c] = derniers[c];
        }
    }
    void oublier() { derniers[0] = derniers[1] = derniers[2] = 0.0; }

private:
    double derniers[3] = {};
};
