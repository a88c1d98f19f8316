#pragma once

// A horizontal slider that moves straight to where the track is clicked (and can be dragged on
// from there), and takes the mouse wheel only while it has the keyboard focus. The arrow keys
// move it by `singleStep`, Page Up and Page Down by `pageStep`, Home and End to its ends.
//
// Main thread only.

#include <QSlider>

namespace kivo {

class KivoSlider : public QSlider {
    Q_OBJECT

public:
    KivoSlider(int singleStep, int pageStep, QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace kivo
