#pragma once

// The quit question of the desktop program: a modal message box "錄音尚未完成" with the buttons
// "停止並退出" (the default) and "繼續使用".
//
// Main thread only.

#include "application/PlatformServices.h"

namespace kivo {

class MessageBoxQuitQuestion : public QuitQuestion {
public:
    bool confirmStopAndQuit() override;
};

} // namespace kivo
