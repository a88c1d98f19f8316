#pragma once

// The folder chooser of the desktop program: a modal file dialog that picks one folder (new
// folders can be made in it).
//
// Main thread only.

#include "application/PlatformServices.h"

namespace kivo {

class DialogFolderChooser : public FolderChooser {
public:
    std::optional<QUrl> chooseFolder(const QUrl& initialFolder) override;
};

} // namespace kivo
