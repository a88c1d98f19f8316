#include "ui/TabOrder.h"

#include <QAbstractScrollArea>
#include <QLayout>
#include <QList>
#include <QScrollArea>
#include <QSet>
#include <QWidget>

namespace kivo::TabOrder {

namespace {

struct Walk {
    QList<QWidget*> chain;
    QSet<QWidget*> seen;

    void layout(QLayout* layout) {
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem* item = layout->itemAt(i);
            if (QWidget* child = item->widget()) {
                widget(child);
            } else if (QLayout* inner = item->layout()) {
                this->layout(inner);
            }
        }
    }

    void widget(QWidget* widget) {
        if (seen.contains(widget)) {
            return;
        }
        seen.insert(widget);
        if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->focusProxy() == nullptr) {
            chain.append(widget);
        }
        if (auto* scroll = qobject_cast<QScrollArea*>(widget)) {
            if (scroll->widget() != nullptr) {
                this->widget(scroll->widget());
            }
            return;
        }
        if (qobject_cast<QAbstractScrollArea*>(widget) != nullptr) {
            return; // a list or a text area is one stop; its insides move by arrows
        }
        if (widget->layout() != nullptr) {
            layout(widget->layout());
        }
        // Children placed by hand, outside any layout, keep the order they were made in.
        for (QWidget* child : widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isWindow()) {
                this->widget(child);
            }
        }
    }
};

} // namespace

void followLayouts(QWidget* window) {
    Walk walk;
    walk.widget(window);
    for (qsizetype i = 1; i < walk.chain.size(); ++i) {
        QWidget::setTabOrder(walk.chain[i - 1], walk.chain[i]);
    }
}

} // namespace kivo::TabOrder
