#pragma once

// The desktop actions on a Linux desktop: files are shown through the freedesktop file manager
// interface on the session bus (or their folder is opened when no file manager answers), files
// go to the clipboard in the formats file managers paste, and the sound settings are the first
// installed of GNOME's, KDE's and pavucontrol.
//
// Main thread only.

#include "ui/DesktopActions.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kivo {

class LinuxDesktopActions : public DesktopActions {
public:
    // `probe` (any thread) answers probeSoundServer(). The sound settings program is looked for
    // once, here.
    explicit LinuxDesktopActions(std::function<SoundServerState()> probe);

    // Asks org.freedesktop.FileManager1 to show the files without waiting for it; when the call
    // fails (no such service, no session bus) the first file's folder is opened instead. When
    // nothing can open it either, onFailure says where the files are. Must outlive its answer.
    void reveal(const QList<QUrl>& files) override;
    void openFolder(const QUrl& folder) override;
    // As text/uri-list, x-special/gnome-copied-files and the paths as plain text.
    void copyFiles(const QList<QUrl>& files) override;
    bool canOpenSoundSettings() const override { return m_soundSettings.has_value(); }
    void openSoundSettings() override;
    void probeSoundServer(QObject* context, std::function<void(SoundServerState)> done) override;

private:
    struct Command {
        QString program;
        QStringList arguments;
    };

    std::function<SoundServerState()> m_probe;
    std::optional<Command> m_soundSettings;
};

} // namespace kivo
