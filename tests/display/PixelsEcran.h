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

    // How dark a pixel is against white, 0 to 1.
    static double encre(QRgb pixel)
    {
        return (765 - qRed(pixel) - qGreen(pixel) - qBlue(pixel)) / 765.0;
    }

    static double encreTotale(const QImage& image)
    {
        double somme = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                somme += encre(image.pixel(x, y));
        return somme;
    }

    // The share of a's inked pixels with no inked pixel of b (same size) within
    // one pixel: where one drawing has a line the other has none.
    static double horsDe(const QImage& a, const QImage& b)
    {
        auto encree = [](const QImage& i, int x, int y) {
            return i.valid(x, y) && encre(i.pixel(x, y)) > 0.35;
        };
        int encres = 0, seuls = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                if (!encree(a, x, y))
                    continue;
                ++encres;
                bool voisin = false;
                for (int d = 0; d < 9 && !voisin; ++d)
                    voisin = encree(b, x + d % 3 - 1, y + d / 3 - 1);
                seuls += !voisin;
            }
        }
        return encres > 0 ? double(seuls) / encres : 0;
    }
};
