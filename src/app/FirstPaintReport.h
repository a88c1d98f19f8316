#pragma once

// For the window benchmark: when KIVO_FIRST_PAINT_REPORT is set, prints to stderr how many
// milliseconds passed from the process's start to the first paint of a window, as
// "first_paint_ms: N".
//
// Main thread only.

#include <QObject>

class QWidget;

namespace kivo {

class FirstPaintReport : public QObject {
    Q_OBJECT

public:
    // Watches `window` when the variable is set; otherwise does nothing.
    explicit FirstPaintReport(QWidget& window);

    // Milliseconds since the kernel started this process (its fork), at the kernel clock's
    // resolution (10 ms on most systems).
    static double millisecondsSinceProcessStart();

signals:
    // The report has been printed.
    void reported();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_window;
};

} // namespace kivo
