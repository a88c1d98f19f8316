#include "ui/KivoSwitch.h"

#include "ui/KivoTheme.h"

#include <QPainter>

namespace kivo {

namespace {

constexpr int kWidth = 34;
constexpr int kHeight = 20;
constexpr qreal kKnobInset = 2;

} // namespace

KivoSwitch::KivoSwitch(const QString& accessibleName, QWidget* parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setAccessibleName(accessibleName);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize KivoSwitch::sizeHint() const {
    return {kWidth, kHeight};
}

void KivoSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.4);
    const QRectF track = QRectF(0, 0, kWidth, kHeight)
                             .translated((width() - kWidth) / 2.0, (height() - kHeight) / 2.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? KivoTheme::green : QColor(214, 219, 210));
    painter.drawRoundedRect(track, kHeight / 2.0, kHeight / 2.0);

    const qreal knob = kHeight - 2 * kKnobInset;
    const qreal x = isChecked() ? track.right() - kKnobInset - knob : track.left() + kKnobInset;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + kKnobInset, knob, knob));
    if (hasFocus()) {
        painter.setPen(QPen(KivoTheme::ink, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(0.5, 0.5, -0.5, -0.5), kHeight / 2.0, kHeight / 2.0);
    }
}

} // namespace kivo
