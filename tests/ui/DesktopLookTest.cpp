// Kivo looks and reads the same on any desktop: in a C locale every text a person meets is
// Traditional Chinese, and under a dark desktop theme every text keeps its contrast.

#include "TestMain.h"
#include "UiTestSupport.h"
#include "ui/KivoTheme.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QStyle>
#include <QTest>
#include <QTextDocumentFragment>

#include <map>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

// The texts `root` shows: labels, buttons, fields, menu entries with their shortcuts, list rows,
// tooltips and window titles.
QStringList textsOf(QWidget* root) {
    QStringList texts{root->windowTitle(), root->toolTip()};
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        if (!widget->isVisibleTo(root) && widget != root) {
            continue;
        }
        texts << widget->toolTip() << widget->accessibleName();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            texts << label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            texts << button->text();
        } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
            texts << field->text() << field->placeholderText();
        } else if (auto* menu = qobject_cast<QMenu*>(widget)) {
            for (QAction* action : menu->actions()) {
                texts << action->text() << action->shortcut().toString(QKeySequence::NativeText);
            }
        } else if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
            const QAbstractItemModel* model = view->model();
            for (int row = 0; model != nullptr && row < model->rowCount(); ++row) {
                for (const QVariant& value : model->itemData(model->index(row, 0))) {
                    texts << value.toString();
                }
            }
        }
    }
    for (QString& text : texts) {
        if (Qt::mightBeRichText(text)) {
            text = QTextDocumentFragment::fromHtml(text).toPlainText();
        }
    }
    return texts;
}

// What may be Latin in a text: the pages' English eyebrow lines, names of formats, systems, keys
// and shortcuts, Kivo's own name and version, paths, file names and addresses.
QString withoutAllowedLatin(QString text) {
    static const QRegularExpression allowed(
        uR"(A PLACE FOR EVERY SOUND\.|MAKE IT YOURS\.|READY WHEN YOU ARE\.|YOUR SOUND, SAVED\.|)"
        uR"((?:~|\b\w+:)?/\S*|\S+\.(?:m4a|wav|caf|json)\b|\S+@\S+|\b\w+\.app\b|\(&\w\)|&|)"
        uR"(\bv?\d+(?:\.\d+)+|\b(?:Ctrl|Shift|Alt|Meta)(?:\+\w+)+|)"
        uR"(\b(?:Kivo|App|AAC|WAV|PCM|Linux|PipeWire|PulseAudio|PID|USB|Firefox|Zoom|)"
        uR"(Enter|Return|Esc|Space|Del|Delete|Home|End|PgUp|PgDown|F\d+)\b)"_s);
    return text.remove(allowed);
}

double luminance(QRgb colour) {
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(colour)) + 0.7152 * channel(qGreen(colour)) +
           0.0722 * channel(qBlue(colour));
}

double contrast(QRgb a, QRgb b) {
    const auto [dark, light] = std::minmax(luminance(a), luminance(b));
    return (light + 0.05) / (dark + 0.05);
}

// The contrast of text drawn in `area` of `picture`: its most common colour is the background,
// the colour farthest from it the text.
double textContrast(const QImage& picture, const QRect& area) {
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++counts[picture.pixel(x, y) | 0xff000000U];
        }
    }
    const QRgb background =
        std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first;
    double best = 1.0;
    for (const auto& [colour, count] : counts) {
        best = std::max(best, contrast(background, colour));
    }
    return best;
}

// Enabled labels, fields and buttons under `root` (and `root` itself when a menu) whose text has
// less than 4.5:1 contrast as drawn.
QStringList hardToRead(QWidget* root) {
    const QImage picture = root->grab().toImage();
    const double scale = picture.devicePixelRatio();
    QStringList found;
    const auto check = [&](QWidget* widget, const QString& text) {
        // Only what is wholly on screen (a scroll area shows part of its page), and only text
        // that reads: a lone "/" between words is decoration.
        const QRect shown =
            widget->visibleRegion().boundingRect().translated(widget->mapTo(root, QPoint()));
        if (shown.height() < widget->height() ||
            !text.contains(QRegularExpression(u"[\\p{L}\\p{N}]"_s))) {
            return;
        }
        const QRect area = QRectF(QPointF(shown.topLeft()) * scale, QSizeF(shown.size()) * scale)
                               .toAlignedRect()
                               .intersected(picture.rect());
        if (const double ratio = textContrast(picture, area); !area.isEmpty() && ratio < 4.5) {
            found << u"%1 (%2:1)"_s.arg(text).arg(ratio, 0, 'f', 2);
        }
    };
    // A menu's entries are drawn by the menu; disabled ones need not stand out.
    if (auto* menu = qobject_cast<QMenu*>(root);
        menu && std::ranges::any_of(menu->actions(), [](QAction* action) {
            return action->isEnabled() && !action->isSeparator();
        })) {
        check(root, u"menu"_s);
    }
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root) || !widget->isEnabled()) {
            continue;
        }
        if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().isEmpty()) {
            check(label, label->text());
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget);
                   button && !button->text().isEmpty()) {
            check(button, button->text());
        } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
            check(field, field->text() + field->placeholderText());
        }
    }
    return found;
}

} // namespace

class DesktopLookTest : public QObject {
    Q_OBJECT

private slots:
    void everyTextIsChineseInACLocale() {
        QLocale::setDefault(QLocale::c());
        QStringList latin;
        walkScenes([&](const QString& name, QWidget& window, QWidget* over) {
            for (QWidget* root : {&window, over}) {
                for (const QString& text : root != nullptr ? textsOf(root) : QStringList()) {
                    if (withoutAllowedLatin(text).contains(QRegularExpression(u"[A-Za-z]"_s))) {
                        latin << name + u": "_s + text;
                    }
                }
            }
        });
        latin.removeDuplicates();
        for (const QString& text : latin) {
            qInfo().noquote() << text;
        }
        QVERIFY(latin.isEmpty());
    }

    // A dark desktop palette and another style, as KDE's Breeze Dark gives them, before Kivo
    // applies its look.
    void aDarkDesktopKeepsEveryTextReadable() {
        QApplication::setStyle(u"Windows"_s);
        QApplication::setPalette(darkDesktopPalette());
        KivoTheme::applyTo(*qApp);
        QStringList unreadable;
        walkScenes([&](const QString& name, QWidget& window, QWidget* over) {
            for (const QString& text : hardToRead(over != nullptr ? over : &window)) {
                unreadable << name + u": "_s + text;
            }
        });
        unreadable.removeDuplicates();
        for (const QString& text : unreadable) {
            qInfo().noquote() << text;
        }
        QVERIFY(unreadable.isEmpty());
    }
};

KIVO_TEST_CLASS(DesktopLookTest)
#include "DesktopLookTest.moc"
