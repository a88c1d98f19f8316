#pragma once

// A horizontal slider that moves straight to where the track is clicked (and can be dragged on
// from there), and takes the mouse wheel only while it has the keyboard focus. The arrow keys
// move it by `singleStep`, Page Up and Page Down by `pageStep`, Home and End to its ends. Ticks,
// when given, mark values on the track (a recording's markers on the seek bar).
//
// Main thread only.

#include <QList>
#include <QSlider>

namespace kivo {

class KivoSlider : public QSlider {
    Q_OBJECT

public:
    KivoSlider(int singleStep, int pageStep, QWidget* parent = nullptr);

    // Values marked by a short line across the track; none by default.
    void setTicks(QList<int> values);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QList<int> m_ticks;
};

} // namespace kivo
