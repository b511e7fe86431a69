#include "VeilleDonnees.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

// The detector tells an apnea while samples come; the clock takes over once
// they have stopped for longer than the gaps between the instrument's reads.
constexpr qint64 arretEchantillonsMs = 1000;

} // namespace

VeilleDonnees::VeilleDonnees(std::function<qint64()> compte, QObject* parent)
    : QObject(parent), recus(std::move(compte)), minuterie(new QTimer(this))
{
    minuterie->setInterval(250);
    connect(minuterie, &QTimer::timeout, this, &VeilleDonnees::verifier);
}

void VeilleDonnees::setSeuils(int silence, int intervalle)
{
    silenceMs = silence;
    minuterie->setInterval(intervalle);
}

bool VeilleDonnees::enCours() const
{
    return minuterie->isActive();
}

void VeilleDonnees::commencer()
{
    dernierCompte = recus();
    depuisEchantillon.start();
    depuisCycle.start();
    minuterie->start();
}

void VeilleDonnees::arreter()
{
    minuterie->stop();
    if (silenceSignalee != 0) {
        silenceSignalee = 0;
        emit silence(0);
    }
    if (apneeSignalee) {
        apneeSignalee = false;
        emit apnee(false);
    }
}

void VeilleDonnees::cycleRecu()
{
    depuisCycle.start();
}

void VeilleDonnees::setDelaiApnee(double secondes)
{
    delaiApneeMs = qint64(std::llround(secondes * 1000.0));
}

void VeilleDonnees::verifier()
{
    const qint64 compte = recus();
    if (compte != dernierCompte) {
        dernierCompte = compte;
        depuisEchantillon.start();
    }
    const qint64 sansEchantillon = depuisEchantillon.elapsed();
    const int secondes =
        sansEchantillon >= silenceMs ? std::max(1, int(sansEchantillon / 1000)) : 0;
    if (secondes != silenceSignalee) {
        silenceSignalee = secondes;
        emit silence(secondes);
    }
    const bool enApnee =
        sansEchantillon >= arretEchantillonsMs && depuisCycle.elapsed() >= delaiApneeMs;
    if (enApnee != apneeSignalee) {
        apneeSignalee = enApnee;
        emit apnee(enApnee);
    }
}
