#pragma once

// The interface's drop-down picker: white, a 1-pixel outline in the line colour, rounded, with a
// small chevron; the accessible name carries the picker's label.
//
// Main thread only.

#include <QComboBox>

namespace kivo {

class KivoPicker : public QComboBox {
    Q_OBJECT

public:
    explicit KivoPicker(const QString& label, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kivo
