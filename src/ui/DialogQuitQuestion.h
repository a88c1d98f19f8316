#pragma once

// The quit question of the desktop program: a modal Kivo dialog "錄音尚未完成" with the buttons
// "繼續使用" and "停止並退出" (the default).
//
// Main thread only.

#include "application/PlatformServices.h"

#include <memory>

class QWidget;

namespace kivo {

class KivoDialog;

class DialogQuitQuestion : public QuitQuestion {
public:
    bool confirmStopAndQuit() override;

    // The question, not yet shown; its default button is "停止並退出".
    static std::unique_ptr<KivoDialog> makeDialog(QWidget* parent);
};

} // namespace kivo
