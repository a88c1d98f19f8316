#include "ui/BrandMark.h"

#include "ui/KivoBrand.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"

#include <QFontDatabase>
#include <QPainter>
#include <QVBoxLayout>

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

QVBoxLayout* makeBrandNames(qreal titlePixels, QFont::Weight weight, qreal sloganPixels,
                            QWidget* parent) {
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(
        makeLabel(QStringLiteral("Kivo 奇沃"), titlePixels, KivoTheme::ink, weight, parent));
    QLabel* version =
        makeLabel(KivoBrand::versionText(), 11, KivoTheme::muted, QFont::Normal, parent);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(11);
    version->setFont(mono);
    names->addWidget(version);
    names->addWidget(makeLabel(QStringLiteral("想留的聲音，隨手錄下。"), sloganPixels,
                               KivoTheme::muted, QFont::Normal, parent));
    return names;
}

} // namespace kivo
