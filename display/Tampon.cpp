#include "Tampon.h"

#include <QDebug>
#include <QReadLocker>
#include <QWriteLocker>
#include <algorithm>
#include <cmath>

namespace {

// Upper bound of any sample count, so that an absurd window or period cannot
// make the buffer reserve gigabytes (4 Mi points are 64 MiB).
constexpr int maxEchantillons = 1 << 22;

// Seconds to samples, rounded up. The quotient is nudged down by a relative
// 1e-9 first so that 0.07 s at 0.01 s (7.000000000000001 in floating point)
// gives 7 samples and not 8. Non-positive or undefined quotients (a period of
// zero included) give 0.
int enEchantillons(double secondes, double periode)
{
    const double quotient = secondes / periode;
    if (!(quotient > 0) || !std::isfinite(quotient)) {
        return 0;
    }
    const double arrondi = std::ceil(quotient * (1 - 1e-9));
    return arrondi >= maxEchantillons ? maxEchantillons : static_cast<int>(arrondi);
}

// A window always holds at least one point, so that the end-of-sweep test of
// the append path keeps the points bounded whatever window was asked for.
int capaciteDe(double duree, double periode)
{
    return std::max(1, enEchantillons(duree, periode));
}

} // namespace

Tampon::Tampon(double periodeInitiale, double dureeInitiale)
    : duree(dureeInitiale), periode(periodeInitiale),
      capacite(capaciteDe(dureeInitiale, periodeInitiale)), largeur(periodeInitiale * capacite)
{
    points.reserve(capacite);
}

Tampon::~Tampon() = default;

size_t Tampon::size() const
{
    QReadLocker verrouLecture(&verrou);
    return static_cast<size_t>(points.size());
}

// The painter may ask for an index that the acquisition thread has cleared
// since it read size(): answer with the last point (or an empty one) rather
// than reading outside the list.
QPointF Tampon::sample(size_t i) const
{
    QReadLocker verrouLecture(&verrou);
    if (i < static_cast<size_t>(points.size())) {
        return points.at(static_cast<int>(i));
    }
    return points.isEmpty() ? QPointF() : points.constLast();
}

QVector<QPointF> Tampon::copie(int from, int to) const
{
    QReadLocker verrouLecture(&verrou);
    from = qMax(from, 0);
    to = qMin(to, points.size() - 1);
    return to < from ? QVector<QPointF>() : points.mid(from, to - from + 1);
}

QRectF Tampon::boundingRect() const
{
    QReadLocker verrouLecture(&verrou);
    return QRectF(0, yMin, largeur, yMax - yMin);
}

void Tampon::ajouterValeur(double valeur)
{
    QWriteLocker verrouEcriture(&verrou);
    if (masque > 0) {
        if (!pauseActive) {
            --masque;
        }
        return;
    }
    // While paused the delay queue is left as it is: it stays bounded, and
    // after the resume every channel keeps exactly its configured lag.
    if (pauseActive) {
        return;
    }
    fileRetard.enqueue(valeur);
    if (fileRetard.size() < retard) {
        return;
    }
    const double v = fileRetard.dequeue();
    if (points.size() >= capacite) {
        points.clear(); // keeps the reserved room
        temps = 0;
        ++effacements;
    }
    points.append(QPointF(temps, v));
    if (v < yMin) {
        yMin = v;
    }
    if (v > yMax) {
        yMax = v;
    }
    temps += periode;
}

void Tampon::viderDonnees()
{
    QWriteLocker verrouEcriture(&verrou);
    points.clear();
    temps = 0;
    ++effacements;
}

quint64 Tampon::nombreEffacements() const
{
    QReadLocker verrouLecture(&verrou);
    return effacements;
}

void Tampon::setPause(bool pause)
{
    QWriteLocker verrouEcriture(&verrou);
    if (pauseActive && !pause) {
        pauseActive = false;
        points.clear();
        temps = 0;
        ++effacements;
    } else if (!pauseActive && pause) {
        pauseActive = true;
    }
}

void Tampon::setDuree(double nouvelleDuree)
{
    QWriteLocker verrouEcriture(&verrou);
    appliquerDuree(nouvelleDuree);
}

void Tampon::setPeriodeEchantillonnage(double nouvellePeriode)
{
    if (!(nouvellePeriode > 0) || !std::isfinite(nouvellePeriode)) {
        qDebug() << "Tampon: sampling period ignored:" << nouvellePeriode;
        return;
    }
    QWriteLocker verrouEcriture(&verrou);
    periode = nouvellePeriode;
    appliquerDuree(duree);
}

void Tampon::setDecalage(double nouveauRetard, double nouveauMasque)
{
    QWriteLocker verrouEcriture(&verrou);
    fileRetard.clear();
    retard = enEchantillons(nouveauRetard, periode);
    masque = enEchantillons(nouveauMasque, periode);
    appliquerDuree(duree);
}

// Caller holds the write lock.
void Tampon::appliquerDuree(double nouvelleDuree)
{
    duree = nouvelleDuree;
    const int c = capaciteDe(duree, periode);
    if (c <= points.size()) {
        points.clear();
        temps = 0;
        ++effacements;
    }
    largeur = periode * c;
    capacite = c;
    points.reserve(c);
}
