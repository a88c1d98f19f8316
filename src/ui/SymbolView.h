#pragma once

// One of the interface's symbols (see KivoSymbols) at a fixed size and colour, drawn at the
// screen's pixel ratio: for the symbols beside titles and in rows.

#include <QColor>
#include <QWidget>

namespace kivo {

class SymbolView : public QWidget {
    Q_OBJECT

public:
    SymbolView(const QString& symbol, const QColor& color, int size, QWidget* parent = nullptr);

    const QString& symbol() const { return m_symbol; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    QColor m_color;
};

} // namespace kivo
