#pragma once

// A session folder left behind by an interrupted or unsaved recording, with its manifest.

#include "domain/RecoveryManifest.h"

#include <QString>

namespace kivo {

struct RecoveryItem {
    QString directory; // the session folder, absolute, no trailing slash
    RecoveryManifest manifest;

    bool operator==(const RecoveryItem&) const = default;
};

} // namespace kivo
