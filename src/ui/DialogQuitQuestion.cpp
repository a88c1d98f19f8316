#include "ui/DialogQuitQuestion.h"

#include "ui/KivoButton.h"
#include "ui/KivoDialog.h"

#include <QApplication>

namespace kivo {

std::unique_ptr<KivoDialog> DialogQuitQuestion::makeDialog(QWidget* parent) {
    auto dialog =
        std::make_unique<KivoDialog>(KivoDialog::Symbol::question, QStringLiteral("錄音尚未完成"),
                                     QStringLiteral("停止並保存後退出 Kivo？"), parent);
    dialog->setObjectName(QStringLiteral("quitQuestion"));
    dialog->addButton(QStringLiteral("繼續使用"), KivoDialog::Role::cancel);
    dialog->addButton(QStringLiteral("停止並退出"), KivoDialog::Role::accept);
    return dialog;
}

bool DialogQuitQuestion::confirmStopAndQuit() {
    // The quit flow waits for the answer, so this one dialog is modal and blocking.
    const std::unique_ptr<KivoDialog> dialog = makeDialog(QApplication::activeWindow());
    dialog->exec();
    return dialog->clickedButton() == dialog->defaultButton();
}

} // namespace kivo
