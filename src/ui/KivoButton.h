#pragma once

// The button of the whole interface. Ordinary: ink text on white with a 1-pixel outline.
// Prominent: white text on the sidebar colour, or on the accent colour while `recording` is set.
// Plain: text (or a symbol) alone, for small actions in rows. Destructive: an ordinary button
// whose text warns, for the choice that deletes. Drawn at 40 % opacity when disabled and 75 %
// while pressed.

#include <QPushButton>

namespace kivo {

class KivoButton : public QPushButton {
    Q_OBJECT

public:
    enum class Kind { ordinary, prominent, plain, destructive };

    explicit KivoButton(const QString& text, Kind kind = Kind::ordinary, QWidget* parent = nullptr);

    Kind kind() const { return m_kind; }
    void setKind(Kind kind);
    bool recording() const { return m_recording; }
    void setRecording(bool recording);
    // A symbol name (see KivoSymbols) drawn before the text, in the text's colour; empty for none.
    const QString& symbol() const { return m_symbol; }
    void setSymbol(const QString& symbol);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The fill and text colours the button is drawn with now.
    QColor background() const;
    QColor foreground() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind m_kind;
    bool m_recording = false;
    QString m_symbol;
};

} // namespace kivo
