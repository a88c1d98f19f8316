#include "ui/MessageBoxQuitQuestion.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace kivo {

std::unique_ptr<QMessageBox> MessageBoxQuitQuestion::makeBox(QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Question, QStringLiteral("Kivo"),
                                             QStringLiteral("錄音尚未完成"), QMessageBox::NoButton,
                                             parent);
    box->setObjectName(QStringLiteral("quitQuestion"));
    box->setInformativeText(QStringLiteral("停止並保存後退出 Kivo？"));
    QPushButton* quit = box->addButton(QStringLiteral("停止並退出"), QMessageBox::AcceptRole);
    QPushButton* stay = box->addButton(QStringLiteral("繼續使用"), QMessageBox::RejectRole);
    box->setDefaultButton(quit);
    box->setEscapeButton(stay);
    return box;
}

bool MessageBoxQuitQuestion::confirmStopAndQuit() {
    // The quit flow waits for the answer, so this one box is modal and blocking.
    const std::unique_ptr<QMessageBox> box = makeBox(QApplication::activeWindow());
    box->exec();
    return box->clickedButton() == box->defaultButton();
}

} // namespace kivo
