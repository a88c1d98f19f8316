#include "MockBus.h"
#include "TestMain.h"
#include "UiTestSupport.h"
#include "ui/DialogFolderChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace kivo;
using namespace Qt::StringLiterals;

// The folder chooser asks the desktop's file chooser portal first; without one, Qt's own
// dialog opens, in Traditional Chinese and in Kivo's colours.
class FolderChooserTest : public QObject {
    Q_OBJECT

private slots:
    void theDesktopsChooserElseQtsDialog_data() {
        QTest::addColumn<QString>("portal"); // how the portal answers; empty: no portal
        QTest::newRow("portal: a folder") << u"0"_s;
        QTest::newRow("portal: cancelled") << u"1"_s;
        QTest::newRow("no portal: Qt's dialog") << QString();
    }
    void theDesktopsChooserElseQtsDialog() {
        QFETCH(QString, portal);
        test::MockBus bus;
        const QString name = u"org.freedesktop.portal.Desktop"_s;
        const QString path = u"/org/freedesktop/portal/desktop"_s;
        if (!portal.isEmpty()) {
            QVERIFY(bus.mock({name, path, u"org.freedesktop.portal.FileChooser"_s}, name));
            // Answers a moment later on the request object, as a person choosing would.
            bus.call(name, path, u"org.freedesktop.DBus.Mock.AddMethod"_s,
                     {QString(), u"OpenFile"_s, u"ssa{sv}"_s, u"o"_s,
                      u"from gi.repository import GLib; "
                      "p = '/org/freedesktop/portal/desktop/request/t/' + args[2]['handle_token']; "
                      "self.AddObject(p, 'org.freedesktop.portal.Request', {}, []); "
                      "self.asked = args; "
                      "GLib.timeout_add(100, lambda p=p: objects[p].EmitSignal("
                      "'org.freedesktop.portal.Request', 'Response', 'ua{sv}', [dbus.UInt32(%1), "
                      "{'uris': dbus.Array(['file:///home/%E9%8C%84%E9%9F%B3'], signature='s')}]) "
                      "and False); ret = dbus.ObjectPath(p)"_s.arg(portal)});
        }
        DialogFolderChooser chooser(bus.address);
        QStringList dialogTexts;
        QTimer::singleShot(300, [&] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QFileDialog*>(window);
                    dialog && dialog->isVisible()) {
                    dialogTexts = test::visibleTexts(dialog);
                    for (auto* button : dialog->findChildren<QAbstractButton*>()) {
                        // Without the access key, "(&C)" as Chinese menus write it.
                        dialogTexts << button->text().remove(QRegularExpression(u"\\(&\\w\\)"_s));
                    }
                    QCOMPARE(dialog->palette().color(QPalette::Base), QColor(Qt::white));
                    dialog->reject();
                }
            }
        });
        const auto chosen = chooser.chooseFolder(QUrl::fromLocalFile(u"/tmp/"_s));
        if (portal == u"0") {
            QCOMPARE(chosen, QUrl::fromLocalFile(u"/home/錄音/"_s));
        } else {
            QVERIFY(!chosen);
        }
        if (portal.isEmpty()) {
            // "Look in", "Directory", "Choose", "Cancel" come from Qt's translations.
            QVERIFY2(dialogTexts.contains(u"選擇"_s) && dialogTexts.contains(u"取消"_s),
                     qPrintable(dialogTexts.join(u"|")));
            for (const QString& text : dialogTexts) {
                QVERIFY2(!text.contains(QRegularExpression(u"[A-Za-z]{2,}"_s)), qPrintable(text));
            }
        } else {
            QVERIFY(dialogTexts.isEmpty());
            // A folder chooser, starting at the current folder, modal to the window.
            const QString calls = bus.call(name, path, u"org.freedesktop.DBus.Mock.GetCalls"_s);
            QVERIFY2(calls.contains(u"'directory': <true>"_s) &&
                         calls.contains(u"'modal': <true>"_s) &&
                         calls.contains(u"'current_folder': <b'/tmp/'>"_s),
                     qPrintable(calls));
        }
    }
};

KIVO_TEST_CLASS(FolderChooserTest)

#include "FolderChooserTest.moc"
