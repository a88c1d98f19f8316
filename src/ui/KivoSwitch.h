#pragma once

// An on/off switch with its label: the text on the left, the switch at the right edge. Clicking
// anywhere on it toggles it; `toggled` tells the new state. Drawn at 40 % opacity when disabled.

#include <QAbstractButton>

namespace kivo {

class KivoSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit KivoSwitch(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kivo
