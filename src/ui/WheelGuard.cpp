#include "ui/WheelGuard.h"

#include <QEvent>
#include <QWidget>

namespace kivo::WheelGuard {

namespace {

class Filter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel && !static_cast<QWidget*>(watched)->hasFocus()) {
            // Ignored, the event travels on to the parents, up to the page's scroll area.
            event->ignore();
            return true;
        }
        return false;
    }
};

} // namespace

void install(QWidget* control) {
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new Filter(control));
}

} // namespace kivo::WheelGuard
