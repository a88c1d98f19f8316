#include "ui/KivoSlider.h"

#include "ui/KivoTheme.h"
#include "ui/WheelGuard.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

namespace kivo {

KivoSlider::KivoSlider(int singleStep, int pageStep, QWidget* parent)
    : QSlider(Qt::Horizontal, parent) {
    setSingleStep(singleStep);
    setPageStep(pageStep);
    WheelGuard::install(this);
}

void KivoSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect handle =
            style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        const QPoint at = event->position().toPoint();
        if (!handle.contains(at)) {
            const QRect groove =
                style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
            // The handle's centre goes under the pointer; then the press below grabs it.
            const int span = groove.width() - handle.width();
            setValue(QStyle::sliderValueFromPosition(minimum(), maximum(),
                                                     at.x() - groove.x() - handle.width() / 2, span,
                                                     option.upsideDown));
        }
    }
    QSlider::mousePressEvent(event);
}

void KivoSlider::setTicks(QList<int> values) {
    if (values != m_ticks) {
        m_ticks = std::move(values);
        update();
    }
}

void KivoSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (m_ticks.isEmpty() || maximum() <= minimum()) {
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int span = groove.width() - handle.width();
    QPainter painter(this);
    painter.setPen(QPen(KivoTheme::accent, 2));
    for (const int value : m_ticks) {
        // The handle's centre at that value.
        const int x =
            groove.x() + handle.width() / 2 +
            QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, option.upsideDown);
        painter.drawLine(x, groove.center().y() - 5, x, groove.center().y() + 5);
    }
}

} // namespace kivo
