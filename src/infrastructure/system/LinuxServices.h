#pragma once

// Builds the application model's services from what this Linux computer has: the sound server
// (capture, sources, playback), the library folder, logind, the freedesktop trash.

#include "application/PlatformServices.h"

namespace kivo::LinuxServices {

struct Options {
    // Capture, the source lists and their change events need the sound server.
    bool soundServer = true;
    // Only look at the library (see AppServices::viewOnly).
    bool viewOnly = false;
    // Sleep and the recorded process's exit stop a recording.
    bool systemEvents = true;
    std::shared_ptr<FolderChooser> folderChooser;
    // The library folder (its "Captures" holds the sessions) and the default output folder URL;
    // empty: the user's ($XDG_DATA_HOME/Kivo and the XDG music folder + "Kivo").
    QString libraryFolder;
    QUrl outputFolder;
    // The bus logind is on; empty: the system bus.
    QString systemBusAddress;
};

AppServices make(const Options& options);

} // namespace kivo::LinuxServices
