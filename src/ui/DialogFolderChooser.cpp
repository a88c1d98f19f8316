#include "ui/DialogFolderChooser.h"

#include <QApplication>
#include <QFileDialog>

namespace kivo {

std::optional<QUrl> DialogFolderChooser::chooseFolder(const QUrl& initialFolder) {
    const QString folder = QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), QStringLiteral("選擇資料夾"), initialFolder.toLocalFile(),
        QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    // A folder URL ends with a slash, as the default output folder does.
    return QUrl::fromLocalFile(folder.endsWith(u'/') ? folder : folder + u'/');
}

} // namespace kivo
