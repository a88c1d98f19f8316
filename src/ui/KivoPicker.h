#pragma once

// A drop-down picker in the interface's look: the current item (its icon and text) on white in
// a rounded outline, with a chevron at the right. The list that opens is the platform's.

#include <QComboBox>

namespace kivo {

class KivoPicker : public QComboBox {
    Q_OBJECT

public:
    explicit KivoPicker(QWidget* parent = nullptr);

    // As wide as its longest item; at least room for a few characters, so a long App name
    // never widens the page (the shown text is elided instead).
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kivo
