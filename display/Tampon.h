#pragma once

#include <QPointF>
#include <QQueue>
#include <QReadWriteLock>
#include <QRectF>
#include <QVector>
#include <qwt_series_data.h>

// Samples of one measured channel, laid out as the points a curve draws: x is
// the time in seconds since the last clearing, y the measured value.
//
// The acquisition thread appends with ajouterValeur(); the GUI thread reads
// size()/sample()/boundingRect() while painting and changes the settings.
// Every operation holds `verrou` for its own duration only and never calls
// another locking operation while holding it.
class Tampon : public QwtSeriesData<QPointF>
{
public:
    Tampon(double periode, double duree);
    ~Tampon() override;

    size_t size() const override;
    QPointF sample(size_t i) const override;
    QRectF boundingRect() const override;
    // Points from..to (included, within the points held) under one lock: a
    // drawing reads a whole window without taking the lock at every point.
    QVector<QPointF> copie(int from, int to) const;

    // How many times the points were cleared (a wrap, a clearing, a resume, a
    // shorter window): a count that changed between two reads tells a reader
    // the points it saw were replaced, even by as many or more.
    quint64 nombreEffacements() const;

    void ajouterValeur(double valeur);
    void viderDonnees();
    void setPause(bool pauseActive);
    // The window in seconds; it holds duree / periode points, rounded up, so a
    // window of 10.99 s at 0.01 s holds 1099 points.
    void setDuree(double duree);
    void setPeriodeEchantillonnage(double periode);
    void setDecalage(double retard, double masque);

private:
    void appliquerDuree(double duree);

    QVector<QPointF> points;
    QQueue<double> fileRetard;
    double duree;
    double periode;
    int retard = 0;
    int masque = 0;
    int capacite = 1;
    double largeur = 0;
    double temps = 0;
    bool pauseActive = false;
    double yMin = 0;
    double yMax = 0;
    quint64 effacements = 0;
    mutable QReadWriteLock verrou;
};
