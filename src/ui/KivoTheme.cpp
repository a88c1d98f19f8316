#include "ui/KivoTheme.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QToolTip>
#include <QTranslator>

namespace kivo::KivoTheme {

namespace {

// The sizes were drawn for a desktop whose text is 10 points (13 pixels at 96 dots per inch).
constexpr qreal kUsualPointSize = 10.0;
constexpr qreal kPointsPerPixel = 0.75;

qreal g_textScale = 1.0;

} // namespace

QFont font(qreal pixels, QFont::Weight weight) {
    QFont result(QString::fromLatin1(kFontFamily));
    result.setPointSizeF(pixels * kPointsPerPixel * g_textScale);
    result.setWeight(weight);
    return result;
}

qreal textScale() {
    return g_textScale;
}

int scaled(int pixels) {
    return qRound(pixels * g_textScale);
}

QFont spaced(QFont font, qreal spacing) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

QString fieldStyleSheet() {
    return QStringLiteral("QLineEdit { border: 1px solid %1; border-radius: 8px; "
                          "padding: 7px 10px; background: white; color: %3; }"
                          "QLineEdit:focus { border-color: %2; }")
        .arg(line.name(), green.name(), ink.name());
}

QPalette palette() {
    QPalette result;
    const QColor white(Qt::white);
    const QColor selection(220, 230, 212); // softGreen, deep enough to see on white
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        result.setColor(group, QPalette::Window, paper);
        result.setColor(group, QPalette::WindowText, ink);
        result.setColor(group, QPalette::Base, white);
        result.setColor(group, QPalette::AlternateBase, paper);
        result.setColor(group, QPalette::Text, ink);
        result.setColor(group, QPalette::PlaceholderText, muted);
        result.setColor(group, QPalette::Button, white);
        result.setColor(group, QPalette::ButtonText, ink);
        result.setColor(group, QPalette::BrightText, white);
        result.setColor(group, QPalette::Highlight, selection);
        result.setColor(group, QPalette::HighlightedText, ink);
        result.setColor(group, QPalette::ToolTipBase, sidebar);
        result.setColor(group, QPalette::ToolTipText, white);
        result.setColor(group, QPalette::Link, green.darker(125));
        result.setColor(group, QPalette::LinkVisited, green.darker(140));
        result.setColor(group, QPalette::Light, white);
        result.setColor(group, QPalette::Midlight, paper);
        result.setColor(group, QPalette::Mid, line);
        result.setColor(group, QPalette::Dark, line.darker(130));
        result.setColor(group, QPalette::Shadow, QColor(0, 0, 0, 60));
    }
    const QColor faded(150, 157, 154);
    result.setColor(QPalette::Disabled, QPalette::Window, paper);
    result.setColor(QPalette::Disabled, QPalette::Base, paper);
    result.setColor(QPalette::Disabled, QPalette::Button, paper);
    result.setColor(QPalette::Disabled, QPalette::WindowText, faded);
    result.setColor(QPalette::Disabled, QPalette::Text, faded);
    result.setColor(QPalette::Disabled, QPalette::ButtonText, faded);
    result.setColor(QPalette::Disabled, QPalette::PlaceholderText, faded);
    result.setColor(QPalette::Disabled, QPalette::Highlight, line);
    result.setColor(QPalette::Disabled, QPalette::HighlightedText, faded);
    return result;
}

void applyTo(QApplication& application) {
    // Qt's own texts: the file dialog, text fields' context menus, standard buttons, shortcut
    // names. Without Debian's translations they stay English, which is no reason to fail.
    static bool translated = false;
    auto* translator = new QTranslator(&application);
    if (!translated && translator->load(QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript,
                                                QLocale::Taiwan),
                                        QStringLiteral("qtbase"), QStringLiteral("_"),
                                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
        translated = true;
    }
    // The desktop's text size, as its platform theme gave it to Qt, before Kivo's font replaces
    // the application's.
    const qreal desktopPoints = QApplication::font().pointSizeF();
    if (desktopPoints > 0) {
        g_textScale = qBound(0.8, desktopPoints / kUsualPointSize, 3.0);
    }
    // One look on every desktop: a dark desktop theme or another widget style would turn menus,
    // lists and dialogs dark around Kivo's light pages.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
    }
    QApplication::setPalette(palette());
    QToolTip::setPalette(palette());
    QApplication::setFont(font(13));
}

} // namespace kivo::KivoTheme
