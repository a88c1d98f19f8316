#pragma once

// Where Kivo keeps its data on this computer.

#include <QString>

namespace kivo::KivoFolders {

// $XDG_DATA_HOME/Kivo (default ~/.local/share/Kivo): the library document and the sessions.
QString applicationSupport();
// applicationSupport()/Captures: one folder per running or interrupted recording.
QString captures();
// The XDG music folder (default ~/Music) + /Kivo: where recordings are exported unless the user
// chooses another folder.
QString defaultOutput();

} // namespace kivo::KivoFolders
