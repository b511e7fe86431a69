#pragma once

#include "Courbe.h"
#include "Graphique.h"
#include "Tampon.h"

#include <QWidget>
#include <qwt_plot_curve.h>

// What a test sees of a main window: its controls by object name, and each
// channel's plot and sample buffer by channel name ("CO2", "O2", "Flux").
class RegardFenetre
{
public:
    explicit RegardFenetre(QWidget* vue) : fenetre(vue) {}

    template <typename T>
    T* controle(const char* nom) const
    {
        T* widget = fenetre->findChild<T*>(QString::fromLatin1(nom));
        if (!widget)
            qFatal("no control %s", nom);
        return widget;
    }

    Graphique* plot(const QString& canal) const
    {
        for (Graphique* g : fenetre->findChildren<Graphique*>()) {
            if (courbe(g)->title().text() == canal)
                return g;
        }
        qFatal("no plot %s", qPrintable(canal));
    }

    Tampon* tampon(const QString& canal) const
    {
        return dynamic_cast<Tampon*>(courbe(plot(canal))->data());
    }

    QVector<double> valeurs(const QString& canal) const
    {
        Tampon* t = tampon(canal);
        QVector<double> v;
        for (size_t i = 0; i < t->size(); ++i)
            v << t->sample(i).y();
        return v;
    }

private:
    // The channel's live curve, not one of the trend's earlier sweeps.
    static QwtPlotCurve* courbe(Graphique* g)
    {
        for (QwtPlotItem* item : g->itemList(QwtPlotItem::Rtti_PlotCurve)) {
            if (auto* c = dynamic_cast<Courbe*>(item))
                return c;
        }
        qFatal("a plot without a curve");
    }

    QWidget* fenetre;
};
