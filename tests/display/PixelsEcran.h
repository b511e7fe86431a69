#pragma once

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QWidget>
#include <cstdlib>

// What a plot shows on the X screen, and how much of a colour it holds. The
// screen keeps what the direct painter put there; QWidget::grab would draw the
// widget afresh instead.
class PixelsEcran
{
public:
    static QImage capturer(QWidget* widget)
    {
        QCoreApplication::processEvents();
        const QPoint origine = widget->mapTo(widget->window(), QPoint(0, 0));
        return QGuiApplication::primaryScreen()
            ->grabWindow(widget->window()->winId(), origine.x(), origine.y(), widget->width(),
                         widget->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }

    // Pixels within a small distance of the colour, antialiased edges aside.
    static int compter(const QImage& image, const QColor& couleur)
    {
        int nombre = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (std::abs(pixel.red() - couleur.red()) +
                        std::abs(pixel.green() - couleur.green()) +
                        std::abs(pixel.blue() - couleur.blue()) <
                    40) {
                    ++nombre;
                }
            }
        }
        return nombre;
    }
};
