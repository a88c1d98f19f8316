#include "ui/SymbolView.h"

#include "ui/KivoSymbols.h"

#include <QPainter>

namespace kivo {

SymbolView::SymbolView(const QString& symbol, const QColor& color, int size, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_color(color) {
    setFixedSize(size, size);
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    KivoSymbols::icon(m_symbol, m_color).paint(&painter, rect());
}

} // namespace kivo
