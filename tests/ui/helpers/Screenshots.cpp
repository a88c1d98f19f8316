// Renders the window in each of its states into PNG files, for people to look at:
//   kivo_screenshots <folder>
// Run under a real X server (scripts/screenshots uses Xvfb) so the fonts and icon theme are the
// desktop's.

#include "UiTestSupport.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTest>

using namespace kivo;
using namespace kivo::test;

namespace {

QString g_folder;

void save(QWidget& widget, const QString& name) {
    QTest::qWait(50);
    widget.grab().save(QDir(g_folder).filePath(name + QStringLiteral(".png")));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    g_folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_folder);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QStringLiteral("hicolor")) {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK TC"), 10));

    UiFixture fixture(3, {1});
    MainWindow window(fixture.model(), fixture.desktop());
    window.show();
    for (KivoPage page :
         {KivoPage::studio, KivoPage::library, KivoPage::presets, KivoPage::settings}) {
        fixture.model().setPage(page);
        save(window, QStringLiteral("page-%1").arg(int(page)));
    }
    return 0;
}
