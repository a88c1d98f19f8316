#pragma once

// Where Kivo keeps its data on this computer.

#include <QString>

namespace kivo::KivoFolders {

// $XDG_DATA_HOME/Kivo (default ~/.local/share/Kivo): the library document and the sessions.
// Throws KivoError when neither variable holds an absolute path.
QString applicationSupport();
// The XDG music folder (default ~/Music) + /Kivo: where recordings are exported unless the user
// chooses another folder.
QString defaultOutput();

} // namespace kivo::KivoFolders
