#include "ui/WaveformView.h"

#include "ui/KivoTheme.h"

#include <QPainter>

#include <algorithm>

namespace kivo {

namespace {

constexpr qreal kGuideSpacing = 24;
constexpr qreal kMinimumBar = 2;

} // namespace

WaveformView::WaveformView(QWidget* parent)
    : QWidget(parent) {
    setMinimumHeight(72);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setAccessibleName(QStringLiteral("尚未錄音"));
}

void WaveformView::show(const QList<float>& values, bool active) {
    if (values == m_values && active == m_active) {
        return;
    }
    m_values = values;
    if (active != m_active) {
        m_active = active;
        setAccessibleName(active ? QStringLiteral("即時音量歷史") : QStringLiteral("尚未錄音"));
    }
    update();
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(KivoTheme::waveBackground);
    painter.drawRoundedRect(area, 12, 12);

    painter.setPen(QPen(KivoTheme::line, 1));
    for (qreal y = kGuideSpacing; y < area.height(); y += kGuideSpacing) {
        painter.drawLine(QPointF(0, y + 0.5), QPointF(area.width(), y + 0.5));
    }
    if (m_values.isEmpty()) {
        return;
    }

    QColor bar = KivoTheme::green;
    bar.setAlphaF(m_active ? 0.9F : 0.25F);
    painter.setPen(Qt::NoPen);
    painter.setBrush(bar);
    // Each value owns width / count; its capsule leaves a little of that free so that
    // neighbouring bars read as bars, not as one block.
    const qreal slot = area.width() / qreal(m_values.size());
    const qreal barWidth = std::max(slot - std::max(slot * 0.3, 1.0), 1.0);
    for (qsizetype index = 0; index < m_values.size(); ++index) {
        const qreal height =
            std::max(qreal(m_values.at(index)) * area.height() * 0.85, kMinimumBar);
        const qreal x = slot * qreal(index) + (slot - barWidth) / 2;
        painter.drawRoundedRect(QRectF(x, (area.height() - height) / 2, barWidth, height),
                                barWidth / 2, barWidth / 2);
    }
}

} // namespace kivo
