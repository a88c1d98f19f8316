#pragma once

// The card that wraps page content: white, a 1-pixel outline in the line colour, rounded, with
// 22 pixels of inner spacing; and the two small headings used on cards.

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

namespace kivo {

class Panel : public QFrame {
    Q_OBJECT

public:
    explicit Panel(QWidget* parent = nullptr);

    // The card's content column.
    QVBoxLayout* content() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_layout;
};

// A small step label ("01") above a semibold title.
class PanelHeading : public QWidget {
    Q_OBJECT

public:
    PanelHeading(const QString& step, const QString& title, QWidget* parent = nullptr);
};

// The small label above a field.
class FieldHeading : public QLabel {
    Q_OBJECT

public:
    explicit FieldHeading(const QString& text, QWidget* parent = nullptr);
};

// A tooltip that shows `text` as written, even when it looks like markup (a record's name).
QString plainToolTip(const QString& text);

// `text` elided so that, laid out in `font` as a label draws it, it takes at most `width` pixels.
QString elidedToFit(const QFont& font, const QString& text, Qt::TextElideMode mode, int width);

// A plain-text label in the interface font at `pixels` size, `weight` and `color`.
QLabel* makeLabel(const QString& text, qreal pixels, const QColor& color,
                  QFont::Weight weight = QFont::Normal, QWidget* parent = nullptr);

} // namespace kivo
