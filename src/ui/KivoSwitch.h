#pragma once

// An on/off switch with its label: the text on the left, the switch at the right edge. Clicking
// anywhere on it toggles it; `toggled` tells the new state. Drawn at 40 % opacity when disabled.
// With the label hidden it is the switch alone (the caller shows the text beside it), and the
// text is only its accessible name.

#include <QAbstractButton>

namespace kivo {

class KivoSwitch : public QAbstractButton {
    Q_OBJECT

public:
    enum class Label { shown, hidden };

    explicit KivoSwitch(const QString& text, QWidget* parent = nullptr, Label label = Label::shown);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Label m_label;
};

} // namespace kivo
