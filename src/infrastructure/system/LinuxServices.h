#pragma once

// Builds the application model's services from what this Linux computer has: the sound server
// (capture, sources, playback), the library folder, logind and the desktop's idle services, the
// freedesktop trash. Throws KivoError when the user's data folder cannot be found.

#include "application/PlatformServices.h"

namespace kivo::LinuxServices {

struct Options {
    // Capture, the source lists and their change events need the sound server.
    bool soundServer = true;
    // Only look at the library (see AppServices::viewOnly).
    bool viewOnly = false;
    // Sleep and the recorded process's exit stop a recording, and a recording keeps the desktop
    // from going idle.
    bool systemEvents = true;
    std::shared_ptr<FolderChooser> folderChooser;
    // The library folder (its "Captures" holds the sessions) and the default output folder URL;
    // empty: the user's ($XDG_DATA_HOME/Kivo and the XDG music folder + "Kivo").
    QString libraryFolder;
    QUrl outputFolder;
    // The bus logind is on, and the one of the desktop's services; empty: the system bus and the
    // session bus.
    QString systemBusAddress;
    QString sessionBusAddress;
};

AppServices make(const Options& options);

} // namespace kivo::LinuxServices
