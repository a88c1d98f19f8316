#pragma once

// The quit question of the desktop program: a modal message box "錄音尚未完成" with the buttons
// "停止並退出" (the default) and "繼續使用".
//
// Main thread only.

#include "application/PlatformServices.h"

#include <memory>

class QMessageBox;
class QWidget;

namespace kivo {

class MessageBoxQuitQuestion : public QuitQuestion {
public:
    bool confirmStopAndQuit() override;

    // The question's box, not yet shown; its first button is "停止並退出".
    static std::unique_ptr<QMessageBox> makeBox(QWidget* parent);
};

} // namespace kivo
