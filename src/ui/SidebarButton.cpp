#include "ui/SidebarButton.h"

#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"

#include <QPainter>

namespace kivo {

SidebarButton::SidebarButton(const QString& symbol, const QString& title, QWidget* parent)
    : QAbstractButton(parent)
    , m_symbol(symbol) {
    setText(title);
    setFont(KivoTheme::font(13, QFont::Medium));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(title);
}

void SidebarButton::setCount(std::optional<int> count) {
    if (m_count != count) {
        m_count = count;
        update();
    }
}

void SidebarButton::setSelected(bool selected) {
    if (m_selected != selected) {
        m_selected = selected;
        update();
    }
}

QSize SidebarButton::sizeHint() const {
    return {200, 38};
}

void SidebarButton::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void SidebarButton::leaveEvent(QEvent* event) {
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void SidebarButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_selected || m_hovered) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, m_selected ? 30 : 14));
        painter.drawRoundedRect(QRectF(rect()), 9, 9);
    }
    if (hasFocus()) {
        painter.setPen(QPen(KivoTheme::brand, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
    }
    const QColor ink = m_selected ? QColor(Qt::white) : QColor(255, 255, 255, 190);
    const int iconSize = 17;
    KivoSymbols::icon(m_symbol, m_selected ? KivoTheme::brand : ink)
        .paint(&painter, QRect(12, (height() - iconSize) / 2, iconSize, iconSize));
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(rect().adjusted(40, 0, -12, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
    if (m_count) {
        QFont small = KivoTheme::font(11, QFont::Medium);
        painter.setFont(small);
        painter.setPen(QColor(255, 255, 255, 150));
        painter.drawText(rect().adjusted(0, 0, -12, 0), Qt::AlignVCenter | Qt::AlignRight,
                         QString::number(*m_count));
    }
}

StatusDot::StatusDot(QWidget* parent)
    : QWidget(parent)
    , m_color(KivoTheme::green) {
    setFixedSize(5, 5);
}

void StatusDot::setColor(const QColor& color) {
    if (m_color != color) {
        m_color = color;
        update();
    }
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()));
}

} // namespace kivo
