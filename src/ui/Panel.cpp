#include "ui/Panel.h"

#include "ui/KivoTheme.h"

#include <QFontMetricsF>
#include <QPainter>

namespace kivo {

Panel::Panel(QWidget* parent)
    : QFrame(parent)
    , m_layout(new QVBoxLayout(this)) {
    m_layout->setContentsMargins(22, 22, 22, 22);
    m_layout->setSpacing(14);
    // Never taller than its content asks, which wrapped lines ask for at the width given.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void Panel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(KivoTheme::line, 1));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
}

PanelHeading::PanelHeading(const QString& step, const QString& title, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(makeLabel(step, 10, KivoTheme::muted));
    layout->addWidget(makeLabel(title, 15, KivoTheme::ink, QFont::DemiBold));
}

FieldHeading::FieldHeading(const QString& text, QWidget* parent)
    : QLabel(text, parent) {
    setFont(KivoTheme::font(11, QFont::Medium));
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, KivoTheme::muted);
    setPalette(colors);
}

QString plainToolTip(const QString& text) {
    if (text.isEmpty()) {
        return text;
    }
    return QStringLiteral("<p style=\"white-space: pre-wrap\">") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

QString elidedToFit(const QFont& font, const QString& text, Qt::TextElideMode mode, int width) {
    // Eliding adds up the advances of the characters it keeps; laid out as a line, with the
    // ellipsis, the text can come out a pixel or two wider (or, unelided, the whole text can),
    // so the room shrinks until the line fits.
    const QFontMetricsF metrics(font);
    QString shown = metrics.elidedText(text, mode, width);
    for (int room = width - 1; room > 0 && metrics.size(0, shown).width() > width; --room) {
        shown = metrics.elidedText(text, mode, room);
    }
    return shown;
}

QLabel* makeLabel(const QString& text, qreal pixels, const QColor& color, QFont::Weight weight,
                  QWidget* parent) {
    auto* label = new QLabel(text, parent);
    // Names the user typed are shown as typed: "<img src=…>" is text, not an image to load.
    label->setTextFormat(Qt::PlainText);
    label->setFont(KivoTheme::font(pixels, weight));
    QPalette colors = label->palette();
    colors.setColor(QPalette::WindowText, color);
    label->setPalette(colors);
    return label;
}

} // namespace kivo
