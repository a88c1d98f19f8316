#include "TestMain.h"
#include "UiTestSupport.h"
#include "ui/KivoButton.h"
#include "ui/KivoPicker.h"
#include "ui/KivoSlider.h"
#include "ui/KivoTheme.h"
#include "ui/NameSheet.h"
#include "ui/Panel.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <atomic>
#include <thread>

using namespace kivo;
using namespace kivo::test;

class WidgetsTest : public QObject {
    Q_OBJECT

private slots:
    // Han characters take their Traditional (Taiwan) forms only in the TC face of Noto CJK.
    void interfaceTextUsesTheTraditionalChineseFace() {
        const QFontInfo face(KivoTheme::font(12));
        QCOMPARE(face.family(), QStringLiteral("Noto Sans CJK TC"));
    }

    // On a scrolling page the wheel moves a slider or a picker only once it has the focus; until
    // then the page scrolls. A click on a slider's track jumps there; the keys step.
    // A second start hands its launcher's activation token to the running program and ends;
    // a crashed program's socket is taken over.
    // A path elided to a label's room takes no more than the room, as the label lays it out,
    // whatever the size of the text: a folder's random name once came out a pixel too wide.
    void anElidedPathFitsItsRoom() {
        for (const QString& path : {u"/tmp/kivo_ui_tests-aJ6kP0/output"_qs,
                                    u"/home/使用者/音樂/Kivo 錄音/2026 年度訪談"_qs}) {
            for (int pixels = 11; pixels <= 19; ++pixels) {
                const QFont font = KivoTheme::font(pixels);
                for (int room = 120; room <= 320; ++room) {
                    const QString shown = elidedToFit(font, path, Qt::ElideMiddle, room);
                    QVERIFY2(int(QFontMetricsF(font).size(0, shown).width()) <= room,
                             qPrintable(
                                 u"%1 px, %2 px of room: %3"_qs.arg(pixels).arg(room).arg(shown)));
                }
            }
        }
    }

    void aSecondStartHandsOverItsActivationToken_data() {
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("token") << QByteArray("launcher-token-1");
        QTest::newRow("none") << QByteArray();
    }
    void aSecondStartHandsOverItsActivationToken() {
        QFETCH(QByteArray, token);
        QTemporaryDir folder;
        const QString name = folder.filePath(QStringLiteral("kivo"));
        {
            SingleInstance crashed(name);
            QVERIFY(crashed.claim());
        } // its socket file is removed with it: leave one behind as a crash would
        QFile(name).open(QIODevice::WriteOnly);
        SingleInstance running(name);
        QVERIFY(running.claim());
        QStringList asked;
        connect(&running, &SingleInstance::activationRequested,
                [&](const QString& given) { asked << given; });
        const QByteArray saved = qgetenv("XDG_ACTIVATION_TOKEN");
        qputenv("XDG_ACTIVATION_TOKEN", token);
        // The later start, another program, waits until the running one has read its request.
        std::atomic<bool> claimed = true;
        std::thread later([&] { claimed = SingleInstance(name).claim(); });
        QTRY_COMPARE(asked, QStringList{QString::fromUtf8(token)});
        later.join();
        qputenv("XDG_ACTIVATION_TOKEN", saved);
        QVERIFY(!claimed);
    }

    void controlsTakeTheWheelOnlyWithFocus() {
        QScrollArea page;
        auto* content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        auto* slider = new KivoSlider(10, 100);
        slider->setRange(0, 1000);
        slider->setValue(500);
        auto* picker = new KivoPicker;
        picker->addItems({QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三")});
        picker->setCurrentIndex(1);
        layout->addWidget(slider);
        layout->addWidget(picker);
        layout->addSpacing(3000);
        page.setWidget(content);
        page.resize(400, 300);
        page.show();
        page.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page));
        const auto wheel = [](QWidget* control) {
            QWheelEvent event(QPointF(5, 5), control->mapToGlobal(QPointF(5, 5)), QPoint(),
                              QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            // As from the mouse (sendEvent would mark it synthesized): only such wheel events
            // travel on to the parents.
            QSpontaneKeyEvent::setSpontaneous(&event);
            qApp->notify(control, &event);
        };
        for (QWidget* control : {static_cast<QWidget*>(slider), static_cast<QWidget*>(picker)}) {
            page.setFocus();
            page.verticalScrollBar()->setValue(0);
            wheel(control);
            QVERIFY(page.verticalScrollBar()->value() > 0);
            control->setFocus();
            wheel(control);
        }
        QCOMPARE(picker->currentIndex(), 2);
        QVERIFY(slider->value() != 500);

        slider->setValue(500);
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 510);
        QTest::keyClick(slider, Qt::Key_PageUp);
        QCOMPARE(slider->value(), 610);
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(slider->value(), 1000);
        QTest::mouseClick(slider, Qt::LeftButton, {},
                          QPoint(slider->width() / 4, slider->height() / 2));
        QVERIFY2(qAbs(slider->value() - 250) < 60, qPrintable(QString::number(slider->value())));
    }

    void nameSheetPassesTheNameAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("saves");
        QTest::newRow("plain") << QStringLiteral("訪談") << true;
        QTest::newRow("surrounding spaces kept") << QStringLiteral("  訪談 ") << true;
        QTest::newRow("only spaces") << QStringLiteral("   ") << false;
        QTest::newRow("ideographic space and line break") << QStringLiteral("\u3000\n") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void nameSheetPassesTheNameAsTyped() {
        QFETCH(QString, typed);
        QFETCH(bool, saves);
        QWidget parent;
        QStringList saved;
        NameSheet sheet(
            QStringLiteral("儲存錄音方案"), QStringLiteral("我的錄音方案"),
            [&](const QString& name) { saved.append(name); }, &parent);
        sheet.show();
        sheet.field()->setText(typed);
        QCOMPARE(sheet.saveButton()->isEnabled(), saves);
        QTest::keyClick(sheet.field(), Qt::Key_Return);
        QCOMPARE(saved, saves ? QStringList{typed} : QStringList{});
        QCOMPARE(sheet.isVisible(), !saves); // a blank name: Return does nothing at all
    }
};

KIVO_TEST_CLASS(WidgetsTest)
#include "WidgetsTest.moc"
