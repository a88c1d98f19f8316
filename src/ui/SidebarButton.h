#pragma once

// One page's button in the dark sidebar: its symbol, its title and, for the library, the number
// of records. The selected page's button is highlighted.

#include <QAbstractButton>

namespace kivo {

class SidebarButton : public QAbstractButton {
    Q_OBJECT

public:
    SidebarButton(const QString& symbol, const QString& title, QWidget* parent = nullptr);

    // Shown at the right; absent: nothing.
    void setCount(std::optional<int> count);
    std::optional<int> count() const { return m_count; }
    void setSelected(bool selected);
    bool selected() const { return m_selected; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString m_symbol;
    std::optional<int> m_count;
    bool m_selected = false;
    bool m_hovered = false;
};

// The small round dot beside the status: accent while recording, green otherwise.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(QWidget* parent = nullptr);
    void setColor(const QColor& color);
    const QColor& color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color;
};

} // namespace kivo
