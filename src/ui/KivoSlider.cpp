#include "ui/KivoSlider.h"

#include "ui/WheelGuard.h"

#include <QMouseEvent>
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

} // namespace kivo
