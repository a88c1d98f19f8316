#pragma once

// What the interface asks of the desktop around it: showing files in the file manager, opening a
// folder, putting files on the clipboard, starting the sound settings, and how the sound server
// answers. LinuxDesktopActions is the real one; tests may stand in for it.

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

namespace kivo {

// How the sound server answered the last attempt to connect.
enum class SoundServerState { connected, unreachable, refused };

class DesktopActions {
public:
    virtual ~DesktopActions() = default;
    // Shows the files in the file manager, selected; without one that can, opens their folder.
    virtual void reveal(const QList<QUrl>& files) = 0;
    virtual void openFolder(const QUrl& folder) = 0;
    // Puts the files on the clipboard as a file list, ready to paste into another program.
    virtual void copyFiles(const QList<QUrl>& files) = 0;
    // True when a sound settings program is installed.
    virtual bool canOpenSoundSettings() const = 0;
    virtual void openSoundSettings() = 0;
    // Asks the sound server off the main thread (a server that hangs takes up to a second) and
    // calls `done` on the main thread, unless `context` is gone by then.
    virtual void probeSoundServer(QObject* context, std::function<void(SoundServerState)> done) = 0;

    // An action that could not be done (no file manager opened), with what to tell the user;
    // called on the main thread, perhaps later.
    std::function<void(const QString& message)> onFailure;
};

} // namespace kivo
