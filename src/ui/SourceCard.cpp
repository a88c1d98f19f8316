#include "ui/SourceCard.h"

#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"

#include <QPainter>

namespace kivo {

namespace {

constexpr int kPadding = 14;
constexpr int kSymbolSize = 20;
constexpr int kCheckSize = 16;
constexpr int kHeight = 112;

} // namespace

SourceCard::SourceCard(const QString& symbol, const QString& title, const QString& line,
                       QWidget* parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_line(line) {
    setText(title);
    setAccessibleDescription(line);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SourceCard::setSelected(bool selected) {
    if (m_selected != selected) {
        m_selected = selected;
        update();
    }
}

QSize SourceCard::sizeHint() const {
    return {170, kHeight};
}

QSize SourceCard::minimumSizeHint() const {
    return {120, kHeight};
}

void SourceCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(!isEnabled() ? 0.4 : isDown() ? 0.75 : 1.0);

    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(m_selected ? KivoTheme::green : KivoTheme::line, m_selected ? 1.5 : 1));
    painter.setBrush(m_selected ? KivoTheme::softGreen : QColor(Qt::white));
    painter.drawRoundedRect(frame, 12, 12);

    const QColor symbolColor = m_selected ? KivoTheme::green : KivoTheme::ink;
    KivoSymbols::icon(m_symbol, symbolColor)
        .paint(&painter, QRect(kPadding, kPadding, kSymbolSize, kSymbolSize));
    if (m_selected) {
        KivoSymbols::icon(QStringLiteral("checkmark.circle.fill"), KivoTheme::green)
            .paint(&painter,
                   QRect(width() - kPadding - kCheckSize, kPadding + 2, kCheckSize, kCheckSize));
    }

    const int textWidth = width() - 2 * kPadding;
    painter.setPen(KivoTheme::ink);
    painter.setFont(KivoTheme::font(14, QFont::DemiBold));
    painter.drawText(QRect(kPadding, kPadding + kSymbolSize + 10, textWidth, 22),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
    painter.setPen(KivoTheme::muted);
    painter.setFont(KivoTheme::font(11.5));
    // Up to two lines, so that a narrow window wraps the line instead of cutting it.
    painter.drawText(QRect(kPadding, kPadding + kSymbolSize + 34, textWidth, 34),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_line);

    if (hasFocus()) {
        painter.setPen(QPen(KivoTheme::green, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(frame.adjusted(2, 2, -2, -2), 10, 10);
    }
}

} // namespace kivo
