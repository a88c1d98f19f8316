#include "ui/KivoButton.h"

#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"

#include <QPainter>

namespace kivo {

namespace {

constexpr int kHorizontalPadding = 14;
constexpr int kVerticalPadding = 10;
constexpr int kSymbolSize = 14;
constexpr int kSymbolGap = 6;

} // namespace

KivoButton::KivoButton(const QString& text, Kind kind, QWidget* parent)
    : QPushButton(text, parent)
    , m_kind(kind) {
    setFont(KivoTheme::font(12, QFont::Medium));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KivoButton::setKind(Kind kind) {
    if (m_kind != kind) {
        m_kind = kind;
        update();
    }
}

void KivoButton::setRecording(bool recording) {
    if (m_recording != recording) {
        m_recording = recording;
        update();
    }
}

void KivoButton::setSymbol(const QString& symbol) {
    if (m_symbol != symbol) {
        m_symbol = symbol;
        updateGeometry();
        update();
    }
}

QSize KivoButton::sizeHint() const {
    const QFontMetrics metrics(font());
    int width = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
    if (!m_symbol.isEmpty()) {
        width += kSymbolSize + (text().isEmpty() ? 0 : kSymbolGap);
    }
    const int padding = m_kind == Kind::plain ? 4 : kHorizontalPadding;
    const int vertical = m_kind == Kind::plain ? 4 : kVerticalPadding;
    return {width + 2 * padding, qMax(metrics.height(), kSymbolSize) + 2 * vertical};
}

QColor KivoButton::background() const {
    switch (m_kind) {
    case Kind::prominent:
        return m_recording ? KivoTheme::accentText : KivoTheme::sidebar;
    case Kind::ordinary:
    case Kind::destructive:
        return Qt::white;
    case Kind::plain:
        break;
    }
    return Qt::transparent;
}

QColor KivoButton::foreground() const {
    switch (m_kind) {
    case Kind::prominent:
        return Qt::white;
    case Kind::destructive:
        return KivoTheme::accentText;
    case Kind::ordinary:
    case Kind::plain:
        break;
    }
    return KivoTheme::ink;
}

void KivoButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(!isEnabled() ? 0.4 : isDown() ? 0.75 : 1.0);

    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (m_kind != Kind::plain) {
        painter.setPen(m_kind == Kind::prominent ? Qt::NoPen : QPen(KivoTheme::line, 1));
        painter.setBrush(background());
        painter.drawRoundedRect(frame, 8, 8);
    }
    if (hasFocus()) {
        painter.setPen(QPen(KivoTheme::green, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), 7, 7);
    }

    const QFontMetrics metrics(font());
    const int textWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
    const int symbolWidth =
        m_symbol.isEmpty() ? 0 : kSymbolSize + (text().isEmpty() ? 0 : kSymbolGap);
    qreal x = (width() - textWidth - symbolWidth) / 2.0;
    if (!m_symbol.isEmpty()) {
        const QRectF area(x, (height() - kSymbolSize) / 2.0, kSymbolSize, kSymbolSize);
        KivoSymbols::icon(m_symbol, foreground()).paint(&painter, area.toRect());
        x += symbolWidth;
    }
    painter.setPen(foreground());
    painter.setFont(font());
    painter.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
}

} // namespace kivo
