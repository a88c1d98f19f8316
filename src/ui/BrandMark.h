#pragma once

// Kivo's logo: a rounded square in the brand colour holding four vertical bars, at any size.

#include <QFont>
#include <QWidget>

class QVBoxLayout;

namespace kivo {

class BrandMark : public QWidget {
    Q_OBJECT

public:
    explicit BrandMark(int size, QWidget* parent = nullptr);

    // Draws the logo into the square of side `size` at `origin`. For a larger picture of the
    // same drawing (the application icon), scale the painter instead.
    static void paint(QPainter& painter, QPointF origin, qreal size);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The program's name ("Kivo 奇沃"), its version in a monospaced font and its slogan, stacked,
// with the name at `titlePixels` and `weight` and the slogan at `sloganPixels`.
QVBoxLayout* makeBrandNames(qreal titlePixels, QFont::Weight weight, qreal sloganPixels,
                            QWidget* parent);

} // namespace kivo
