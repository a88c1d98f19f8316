#pragma once

// One recording mode as a card to press: the mode's symbol and title and a line below. The
// selected card is tinted and carries a check mark.
//
// Main thread only.

#include <QAbstractButton>

namespace kivo {

class SourceCard : public QAbstractButton {
    Q_OBJECT

public:
    SourceCard(const QString& symbol, const QString& title, const QString& line,
               QWidget* parent = nullptr);

    bool selected() const { return m_selected; }
    void setSelected(bool selected);
    const QString& line() const { return m_line; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    QString m_line;
    bool m_selected = false;
};

} // namespace kivo
