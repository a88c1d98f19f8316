#pragma once

// The folder chooser of the desktop program: the desktop's own chooser through the file chooser
// portal (GNOME's, KDE's), modal to Kivo's window, or, where no portal answers, Qt's folder
// dialog. Either way one folder is picked and new folders can be made.
//
// Main thread only.

#include "application/PlatformServices.h"

#include <QString>

namespace kivo {

class DialogFolderChooser : public FolderChooser {
public:
    // `busAddress` empty: the session bus; tests give a bus of their own.
    explicit DialogFolderChooser(QString busAddress = {});

    std::optional<QUrl> chooseFolder(const QUrl& initialFolder) override;

private:
    // The portal's answer: a folder or none (cancelled); nullopt when there is no portal to ask.
    std::optional<std::optional<QUrl>> askPortal(const QUrl& initialFolder);

    QString m_busAddress;
};

} // namespace kivo
