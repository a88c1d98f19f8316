#include "ui/KivoPicker.h"

#include "ui/KivoTheme.h"

#include <QPainter>

namespace kivo {

namespace {

constexpr int kChevronArea = 26;

} // namespace

KivoPicker::KivoPicker(const QString& label, QWidget* parent)
    : QComboBox(parent) {
    setAccessibleName(label);
    setFont(KivoTheme::font(12));
    setMinimumWidth(124);
    setCursor(Qt::PointingHandCursor);
    setStyleSheet(QStringLiteral("QComboBox { border: 1px solid %1; border-radius: 8px; "
                                 "padding: 6px %3px 6px 10px; background: white; color: %2; }"
                                 "QComboBox::drop-down { border: none; width: %3px; }"
                                 "QComboBox::down-arrow { image: none; }")
                      .arg(KivoTheme::line.name(), KivoTheme::ink.name())
                      .arg(kChevronArea));
}

void KivoPicker::paintEvent(QPaintEvent* event) {
    QComboBox::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(KivoTheme::muted, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF centre(width() - kChevronArea / 2.0 - 2, height() / 2.0);
    painter.drawPolyline(
        QPolygonF{centre + QPointF(-4, -2), centre + QPointF(0, 2), centre + QPointF(4, -2)});
}

} // namespace kivo
