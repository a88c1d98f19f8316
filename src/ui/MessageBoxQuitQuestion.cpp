#include "ui/MessageBoxQuitQuestion.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace kivo {

bool MessageBoxQuitQuestion::confirmStopAndQuit() {
    // The quit flow waits for the answer, so this one box is modal and blocking.
    QMessageBox box(QMessageBox::Question, QStringLiteral("Kivo"), QStringLiteral("錄音尚未完成"),
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("quitQuestion"));
    box.setInformativeText(QStringLiteral("停止並保存後退出 Kivo？"));
    QPushButton* quit = box.addButton(QStringLiteral("停止並退出"), QMessageBox::AcceptRole);
    QPushButton* stay = box.addButton(QStringLiteral("繼續使用"), QMessageBox::RejectRole);
    box.setDefaultButton(quit);
    box.setEscapeButton(stay);
    box.exec();
    return box.clickedButton() == quit;
}

} // namespace kivo
