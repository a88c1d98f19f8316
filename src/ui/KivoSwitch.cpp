#include "ui/KivoSwitch.h"

#include "ui/KivoTheme.h"

#include <QPainter>

namespace kivo {

namespace {

constexpr int kTrackWidth = 36;
constexpr int kTrackHeight = 20;
constexpr int kKnobInset = 2;
constexpr int kGap = 12;
const QColor kTrackOff{214, 219, 210};

} // namespace

KivoSwitch::KivoSwitch(const QString& text, QWidget* parent, Label label)
    : QAbstractButton(parent)
    , m_label(label) {
    setAccessibleName(text);
    if (label == Label::shown) {
        setText(text);
    }
    setCheckable(true);
    setFont(KivoTheme::font(13));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(label == Label::shown ? QSizePolicy::Expanding : QSizePolicy::Fixed,
                  QSizePolicy::Fixed);
}

QSize KivoSwitch::sizeHint() const {
    const QFontMetrics metrics(font());
    const int label = m_label == Label::shown ? metrics.horizontalAdvance(text()) + kGap : 0;
    return {label + kTrackWidth, qMax(metrics.height(), kTrackHeight) + 4};
}

void KivoSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(!isEnabled() ? 0.4 : isDown() ? 0.75 : 1.0);

    painter.setPen(KivoTheme::ink);
    painter.setFont(font());
    painter.drawText(QRectF(0, 0, width() - kTrackWidth - kGap, height()),
                     Qt::AlignVCenter | Qt::AlignLeft, text());

    const QRectF track(width() - kTrackWidth, (height() - kTrackHeight) / 2.0, kTrackWidth,
                       kTrackHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? KivoTheme::green : kTrackOff);
    painter.drawRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);
    const qreal knob = kTrackHeight - 2 * kKnobInset;
    const qreal x = isChecked() ? track.right() - kKnobInset - knob : track.left() + kKnobInset;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + kKnobInset, knob, knob));
    if (hasFocus()) {
        painter.setPen(QPen(KivoTheme::green, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-2, -2, 2, 2), kTrackHeight / 2.0 + 2,
                                kTrackHeight / 2.0 + 2);
    }
}

} // namespace kivo
