// Renders the window in each of its states into PNG files, for people to look at:
//   kivo_screenshots <folder>
// Run under a real X server (scripts/screenshots uses Xvfb) so the fonts and icon theme are the
// desktop's.

#include "UiTestSupport.h"
#include "ui/KivoTheme.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QPainter>
#include <QTest>

using namespace kivo;
using namespace kivo::test;

namespace {

QString g_folder;

void save(QWidget& widget, const QString& name) {
    widget.grab().save(QDir(g_folder).filePath(name + QStringLiteral(".png")));
}

// The window with its dialog drawn over it, as a person sees them.
void saveWithDialog(QWidget& window, QWidget& dialog, const QString& name) {
    QPixmap picture = window.grab();
    QPainter painter(&picture);
    const QPixmap box = dialog.grab();
    painter.fillRect(picture.rect(), QColor(0, 0, 0, 60));
    painter.drawPixmap((picture.width() - box.width()) / 2, (picture.height() - box.height()) / 3,
                       box);
    painter.end();
    picture.save(QDir(g_folder).filePath(name + QStringLiteral(".png")));
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
    // The desktop as scripts/screenshots describes it: its text size, and light or dark.
    const int points = qEnvironmentVariableIntValue("KIVO_TEST_DESKTOP_POINTS");
    QApplication::setFont(QFont(QStringLiteral("Noto Sans"), points > 0 ? points : 10));
    if (qgetenv("KIVO_TEST_DESKTOP") == "dark") {
        QApplication::setStyle(QStringLiteral("Windows"));
        QApplication::setPalette(darkDesktopPalette());
    }
    KivoTheme::applyTo(app);
    QLocale::setDefault(
        QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan));

    walkScenes(
        [](const QString& name, QWidget& window, QWidget* over) {
            if (over != nullptr) {
                saveWithDialog(window, *over, name);
            } else {
                save(window, name);
            }
        },
        true);
    return 0;
}
