#include "ui/SegmentedChoice.h"

#include "ui/KivoTheme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>

namespace kivo {

SegmentedChoice::SegmentedChoice(const QStringList& options, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(2);
    for (int index = 0; index < options.size(); ++index) {
        auto* button = new QPushButton(options.at(index), this);
        button->setCheckable(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setFont(KivoTheme::font(12, QFont::Medium));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_group.addButton(button, index);
        layout->addWidget(button);
    }
    m_group.setExclusive(true);
    connect(&m_group, &QButtonGroup::idClicked, this, &SegmentedChoice::chosen);

    const auto rgb = [](const QColor& color) { return color.name(QColor::HexRgb); };
    setStyleSheet(QStringLiteral("QPushButton { border: none; border-radius: 7px; padding: 6px 8px;"
                                 " color: %1; background: transparent; }"
                                 "QPushButton:checked { background: white; color: %2;"
                                 " border: 1px solid %3; }"
                                 "QPushButton:disabled { color: %1; }"
                                 "QPushButton:checked:disabled { background: %4; }"
                                 "QPushButton:focus { border: 1.5px solid %5; }")
                      .arg(rgb(KivoTheme::muted), rgb(KivoTheme::ink), rgb(KivoTheme::line),
                           rgb(KivoTheme::paper), rgb(KivoTheme::green)));
}

void SegmentedChoice::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(KivoTheme::softGreen);
    painter.drawRoundedRect(QRectF(rect()), 9, 9);
}

void SegmentedChoice::setCurrent(int index) {
    if (QAbstractButton* button = m_group.button(index); button && !button->isChecked()) {
        const QSignalBlocker blocker(m_group);
        button->setChecked(true);
    }
}

} // namespace kivo
