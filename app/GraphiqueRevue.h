#pragma once

#include <QColor>
#include <QPair>
#include <memory>
#include <qwt_plot.h>
#include <vector>

struct DonneesRevue;
class QwtPlotZoneItem;

// One channel of a capture under review over the stretch in view, drawn from
// the channel's min/max levels: one vertical stroke a pixel column, or the
// samples joined by lines once there are fewer of them than columns, so that
// a redraw costs the width of the plot whatever the length of the file. The
// time axis is in h:mm:ss from the file's start. The breathing channel also
// shows where each inspiration starts; apneas are shaded, and so are the
// operator's selection and the breath picked in the table. As the overview
// strip, it shows the whole file with the stretch in view highlighted.
class GraphiqueRevue : public QwtPlot
{
    Q_OBJECT

public:
    // `canal` is 0 for CO2, 1 for O2, 2 for Flux; `apercu` makes it the
    // overview strip. A gas channel's marks and shading are drawn later than
    // the breaths' times by its delay (the detector's lining up on the flow).
    GraphiqueRevue(const QString& nom, int canal, const QColor& couleur, bool apercu,
                   QWidget* parent = nullptr);

    // The file to draw, without apneas yet; drawn once the stretch to show is set.
    void setDonnees(std::shared_ptr<const DonneesRevue> donnees);
    // The file's apneas (start and end, seconds); drawn at the next replot.
    void setApnees(const std::vector<QPair<double, double>>& apnees);
    int canal() const { return indiceCanal; }
    // The stretch shown, in seconds; for the overview, the stretch highlighted.
    void setVue(double debut, double fin);
    void setEchelle(double min, double max);
    void setSelection(double debut, double fin);   // empty (fin <= debut): none
    void setCycleMarque(double debut, double fin); // the breath picked, in the breath's times
    void setMarquesInspiration(bool marques);
    // The time axis's labels; its ticks are always drawn, so that every plot's
    // canvas spans the same times.
    void setEtiquettesTemps(bool affichees);
    // Seconds at a pixel of the canvas, and back.
    double tempsA(int x) const;

private:
    void diviserTemps(double debut, double fin);

    int indiceCanal;
    bool apercu;
    class Trace;
    class Reperes;
    Trace* trace;
    Reperes* reperes;
    QwtPlotZoneItem* zoneVue = nullptr;
    QwtPlotZoneItem* zoneSelection;
    QwtPlotZoneItem* zoneCycle;
};
