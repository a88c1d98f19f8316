// The reference of the window benchmark: an empty Qt window, started and painted as `kivo`
// is, reporting its first paint the same way (KIVO_FIRST_PAINT_REPORT) and then ending.

#include "app/FirstPaintReport.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Empty"));
    window.resize(1240, 760);
    kivo::FirstPaintReport report(window);
    window.show();
    QObject::connect(&report, &kivo::FirstPaintReport::reported, &app, &QApplication::quit);
    return QApplication::exec();
}
