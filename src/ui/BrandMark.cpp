#include "ui/BrandMark.h"

#include "ui/KivoTheme.h"

#include <QPainter>

namespace kivo {

BrandMark::BrandMark(int size, QWidget* parent)
    : QWidget(parent) {
    setFixedSize(size, size);
}

void BrandMark::paint(QPainter& painter, QPointF origin, qreal size) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(KivoTheme::brand);
    painter.drawRoundedRect(QRectF(origin, QSizeF(size, size)), 0.3 * size, 0.3 * size);

    // Four capsules 3 pixels wide and 3 apart, their heights in fortieths of the size, centred.
    const qreal unit = size / 40.0;
    const qreal heights[] = {13, 23, 17, 9};
    const qreal width = 3;
    const qreal gap = 3;
    const qreal total = 4 * width + 3 * gap;
    qreal x = origin.x() + (size - total) / 2;
    painter.setBrush(KivoTheme::sidebar);
    for (qreal height : heights) {
        const qreal h = height * unit;
        painter.drawRoundedRect(QRectF(x, origin.y() + (size - h) / 2, width, h), width / 2,
                                width / 2);
        x += width + gap;
    }
    painter.restore();
}

void BrandMark::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QPointF(0, 0), qMin(width(), height()));
}

} // namespace kivo
