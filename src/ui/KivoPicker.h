#pragma once

// A drop-down picker in the interface's look: the current item (its icon and text) on white in
// a rounded outline, with a chevron at the right. The list that opens is the platform's.

#include <QComboBox>

namespace kivo {

class KivoPicker : public QComboBox {
    Q_OBJECT

public:
    explicit KivoPicker(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kivo
