#pragma once

// An on/off switch: a capsule track, green when on, with a white knob. Checkable; its label is
// shown beside it by the caller, and its accessible name says what it switches.
//
// Main thread only.

#include <QAbstractButton>

namespace kivo {

class KivoSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit KivoSwitch(const QString& accessibleName, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kivo
