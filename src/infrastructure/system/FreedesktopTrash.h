#pragma once

// Moves files to the user's freedesktop trash, from where the file manager can restore them.
//
// Main thread only.

#include "application/PlatformServices.h"

namespace kivo {

class FreedesktopTrash final : public Trash {
public:
    // Throws PlatformError "無法將「<path>」移至垃圾桶：<reason>".
    void moveToTrash(const QString& path) override;
};

} // namespace kivo
