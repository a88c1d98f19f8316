#pragma once

// Keeps a window's size and maximised state across launches in a small file (the desktop
// program's is $XDG_CONFIG_HOME/Kivo/window.conf). A remembered size is fitted into the screen's
// available area when restored, so a window from a larger monitor never opens bigger than this
// one; with nothing remembered the window keeps the size it was given. Positions are not kept:
// on Wayland a window has none to restore.
//
// Main thread only.

#include <QObject>
#include <QRect>
#include <QSize>
#include <QTimer>

#include <optional>

class QWidget;

namespace kivo {

class WindowMemory : public QObject {
    Q_OBJECT

public:
    WindowMemory(QWidget& window, QString file);
    ~WindowMemory() override;

    // Sizes the window as remembered, within `area` (the screen's available area when none is
    // given); call before it is first shown. True when it was maximised: show it so.
    bool restore(std::optional<QRect> area = std::nullopt);

    // The file of the desktop program.
    static QString defaultFile();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void save();

    QWidget& m_window;
    QString m_file;
    QSize m_normalSize;
    QTimer m_saveLater;
};

} // namespace kivo
