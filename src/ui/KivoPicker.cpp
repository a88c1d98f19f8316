#include "ui/KivoPicker.h"

#include "ui/KivoTheme.h"
#include "ui/Panel.h"
#include "ui/WheelGuard.h"

#include <QPainter>
#include <QPainterPath>

namespace kivo {

namespace {

constexpr int kPadding = 12;
constexpr int kIconSize = 16;
constexpr int kChevronRoom = 22;

} // namespace

KivoPicker::KivoPicker(QWidget* parent)
    : QComboBox(parent) {
    setFont(KivoTheme::font(13));
    setCursor(Qt::PointingHandCursor);
    setIconSize(QSize(kIconSize, kIconSize));
    WheelGuard::install(this);
}

QSize KivoPicker::sizeHint() const {
    const QFontMetrics metrics(font());
    int text = 0;
    for (int i = 0; i < count(); ++i) {
        text = qMax(text, metrics.horizontalAdvance(itemText(i)));
    }
    return {2 * kPadding + kIconSize + 8 + text + kChevronRoom, metrics.height() + 16};
}

QSize KivoPicker::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {2 * kPadding + kIconSize + 8 + metrics.horizontalAdvance(QStringLiteral("請選擇裝置")) +
                kChevronRoom,
            metrics.height() + 16};
}

void KivoPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.4);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(hasFocus() ? KivoTheme::green : KivoTheme::line, hasFocus() ? 1.5 : 1));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(frame, 8, 8);

    qreal x = kPadding;
    const QIcon icon = itemIcon(currentIndex());
    if (!icon.isNull()) {
        icon.paint(&painter, QRect(int(x), (height() - kIconSize) / 2, kIconSize, kIconSize));
        x += kIconSize + 8;
    }
    painter.setPen(KivoTheme::ink);
    painter.setFont(font());
    const QRectF room(x, 0, width() - x - kChevronRoom - kPadding, height());
    painter.drawText(room, Qt::AlignVCenter | Qt::AlignLeft,
                     elidedToFit(font(), currentText(), Qt::ElideRight, int(room.width())));

    // A small downward chevron.
    const QPointF centre(width() - kPadding - 5, height() / 2.0);
    QPainterPath chevron;
    chevron.moveTo(centre + QPointF(-4, -2));
    chevron.lineTo(centre + QPointF(0, 2));
    chevron.lineTo(centre + QPointF(4, -2));
    painter.setPen(QPen(KivoTheme::muted, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(chevron);
}

} // namespace kivo
