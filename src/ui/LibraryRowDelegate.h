#pragma once

// Draws one row of the library list: the source symbol, the name (cut with "…" where it does
// not fit) above the source, date and size (or "檔案不存在"), the format, the length, and the
// play, show-in-folder and "…" buttons, the one under the pointer highlighted. The view asks it
// where each button is, for clicks and tooltips.
//
// Main thread only.

#include <QStyledItemDelegate>

namespace kivo {

class LibraryRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // Widths of the format, length and action columns, shared with the list's header.
    static constexpr int kFormatWidth = 72;
    static constexpr int kLengthWidth = 88;
    static constexpr int kActionsWidth = 118;
    static constexpr int kSpacing = 12;
    static constexpr int kRowHeight = 62; // rows are taller only with large desktop text

    enum class Button { none, play, reveal, more };

    explicit LibraryRowDelegate(QObject* parent = nullptr);

    // Where `button` is in a row drawn in `row`.
    static QRect buttonRect(const QRect& row, Button button);
    // The button at `point` in a row drawn in `row`, or none.
    static Button buttonAt(const QRect& row, const QPoint& point);

    // The button under the pointer: highlighted where its row is drawn.
    void setHovered(int row, Button button);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int m_hoveredRow = -1;
    Button m_hoveredButton = Button::none;
};

} // namespace kivo
