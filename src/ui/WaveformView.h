#pragma once

// The level history: one vertical bar per value (oldest at the left), centred on a rounded
// background with horizontal guide lines; strong while a recording runs, faint otherwise.
//
// Main thread only.

#include <QList>
#include <QWidget>

namespace kivo {

class WaveformView : public QWidget {
    Q_OBJECT

public:
    explicit WaveformView(QWidget* parent = nullptr);

    const QList<float>& values() const { return m_values; }
    bool active() const { return m_active; }
    // Repaints only when the values or the active flag differ from those shown.
    void show(const QList<float>& values, bool active);

    QSize sizeHint() const override { return {400, 96}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<float> m_values;
    bool m_active = false;
};

} // namespace kivo
