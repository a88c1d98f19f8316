// The desktop program as a user meets it: the real `kivo` on a virtual X display, recording a
// playing tone from the test sound server, driven by its keyboard shortcuts pressed through the
// X server.

#include "CaptureTestSupport.h"
#include "ModelTestSupport.h"
#include "TestMain.h"

#include "infrastructure/storage/LibraryStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

// Xvfb on the first free display, ended when destroyed.
class VirtualDisplay {
public:
    VirtualDisplay() {
        m_server.setStandardErrorFile(QProcess::nullDevice());
        // -noreset: an X server resets when its last client leaves, and refuses connections
        // while it does; kivo, xdotool and the test connect and leave in turn.
        m_server.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"1400x900x24"_s,
                                   u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
        waitUntil(
            [this] {
                m_server.waitForReadyRead(50);
                return m_server.canReadLine() || m_server.state() == QProcess::NotRunning;
            },
            15000);
        const QByteArray number = m_server.readLine().trimmed();
        m_display = number.isEmpty() ? QString() : u':' + QString::fromLatin1(number);
    }
    ~VirtualDisplay() {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }
    const QString& name() const { return m_display; }

private:
    QProcess m_server;
    QString m_display;
};

// The running `kivo` and xdotool on its display.
class Desktop {
public:
    Desktop(const VirtualDisplay& display, const UserFolders& folders)
        : m_display(display.name()) {
        QProcessEnvironment environment = folders.environment();
        environment.remove(u"QT_QPA_PLATFORM"_s); // this test's own is offscreen
        environment.insert(u"DISPLAY"_s, m_display);
        m_kivo.setProcessEnvironment(environment);
        m_kivo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_kivo.start(QStringLiteral(KIVO_APP), QStringList());
    }
    ~Desktop() {
        if (m_kivo.state() != QProcess::NotRunning) {
            m_kivo.kill();
            m_kivo.waitForFinished(5000);
        }
    }
    QProcess& kivo() { return m_kivo; }
    // Starts kivo again, as a user does while it runs; its exit code.
    int startAgain() const {
        QProcess again;
        again.setProcessEnvironment(m_kivo.processEnvironment());
        again.start(QStringLiteral(KIVO_APP), QStringList());
        const bool ended = again.waitForFinished(30000);
        return ended && again.exitStatus() == QProcess::NormalExit ? again.exitCode() : -1;
    }

    // What xdotool printed, or nothing when it failed.
    std::optional<QString> xdotool(const QStringList& arguments) const {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DISPLAY"_s, m_display);
        tool.setProcessEnvironment(environment);
        tool.start(u"xdotool"_s, arguments);
        const bool ok = tool.waitForFinished(10000) && tool.exitCode() == 0;
        return ok ? std::optional(QString::fromUtf8(tool.readAllStandardOutput()).trimmed())
                  : std::nullopt;
    }
    // The window of kivo whose whole title is `title`, waiting up to 60 s for it.
    QString window(const QString& title) const {
        QString found;
        waitUntil(
            [&] {
                found = xdotool({u"search"_s, u"--all"_s, u"--pid"_s,
                                 QString::number(m_kivo.processId()), u"--onlyvisible"_s,
                                 u"--name"_s, u'^' + title + u'$'})
                            .value_or(QString())
                            .section(u'\n', 0, 0);
                return !found.isEmpty();
            },
            60000);
        return found;
    }
    // Gives the window the keyboard and presses `keys` there, as a user does.
    bool press(const QString& target, const QString& keys) const {
        return xdotool({u"windowfocus"_s, u"--sync"_s, target}) &&
               xdotool(QStringList{u"key"_s, u"--clearmodifiers"_s, u"--delay"_s, u"100"_s} +
                       keys.split(u' '));
    }

private:
    QString m_display;
    QProcess m_kivo;
};

// The records in the library document.
QJsonArray storedRecords(const UserFolders& folders) {
    QFile document(folders.library() + u"/library.json"_s);
    return document.open(QIODevice::ReadOnly)
               ? QJsonDocument::fromJson(document.readAll()).object().value(u"recordings").toArray()
               : QJsonArray();
}

bool sessionRuns(const UserFolders& folders) {
    return !QDir(folders.captures()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty();
}

} // namespace

class KivoWindowEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void theShortcutsRecordAndSaveTheTone_data() {
        QTest::addColumn<QString>("ending");
        QTest::newRow("stop and save") << u"stop"_s;
        // From the first control, Shift+Tab goes round to the controls bar's main button.
        QTest::newRow("keyboard only") << u"keys"_s;
        QTest::newRow("quit while recording, answered 停止並退出") << u"quit"_s;
        QTest::newRow("terminated while recording") << u"terminate"_s;
    }
    void theShortcutsRecordAndSaveTheTone() {
        QFETCH(QString, ending);
        const bool quitting = ending != u"stop"_s && ending != u"keys"_s;
        UserFolders folders;
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        VirtualDisplay display;
        QVERIFY2(!display.name().isEmpty(), "Xvfb did not start");
        Desktop desktop(display, folders);
        const QString mainWindow = desktop.window(u"Kivo 奇沃"_s);
        QVERIFY2(!mainWindow.isEmpty(), desktop.kivo().state() == QProcess::Running
                                            ? "kivo runs but shows no window"
                                            : "kivo ended without a window");
        if (!quitting) {
            // Starting it again gives the running program's window the keyboard, and ends.
            const auto root = desktop.xdotool({u"search"_s, u"--maxdepth"_s, u"0"_s, u""_s});
            QVERIFY(root);
            QVERIFY(desktop.xdotool({u"windowfocus"_s, u"--sync"_s, *root}));
            // The pointer passing over the window is the user's last action Kivo has seen.
            QVERIFY(desktop.xdotool(
                {u"mousemove"_s, u"--sync"_s, u"--window"_s, mainWindow, u"20"_s, u"20"_s}));
            QCOMPARE(desktop.startAgain(), 0);
            QVERIFY(
                waitUntil([&] { return desktop.xdotool({u"getwindowfocus"_s}) == mainWindow; }));
        }
        QVERIFY(desktop.press(mainWindow,
                              ending == u"keys"_s ? u"shift+Tab space"_s : u"ctrl+shift+r"_s));
        QVERIFY2(waitUntil([&] { return sessionRuns(folders); }, 30000), "no recording started");
        QTest::qWait(2000);
        if (quitting) {
            if (ending == u"terminate"_s) {
                desktop.kivo().terminate();
            } else {
                QVERIFY(desktop.press(mainWindow, u"ctrl+q"_s));
                const QString question = desktop.window(u"Kivo"_s);
                QVERIFY2(!question.isEmpty(), "the quit question did not appear");
                QVERIFY(desktop.press(question, u"Return"_s));
            }
            QVERIFY2(desktop.kivo().waitForFinished(60000), "kivo did not end");
            QCOMPARE(desktop.kivo().exitStatus(), QProcess::NormalExit);
            QCOMPARE(desktop.kivo().exitCode(), 0);
        } else {
            QVERIFY(
                desktop.press(mainWindow, ending == u"keys"_s ? u"space"_s : u"ctrl+shift+s"_s));
        }
        QVERIFY2(waitUntil([&] { return !storedRecords(folders).isEmpty(); }, 60000),
                 "no record was stored");

        const QJsonObject record = storedRecords(folders).at(0).toObject();
        const QString file = QUrl(record.value(u"files").toArray().at(0).toString()).toLocalFile();
        QVERIFY2(QFile::exists(file), qPrintable(file));
        QVERIFY(record.value(u"duration").toDouble() > 1.5);
        const StereoSamples audio = decodeFile(file);
        QVERIFY(audio.frames() > 48000);
        const double amplitude = toneAmplitude(window(audio.left, 12000, 48000), 440);
        QVERIFY2(amplitude > 0.1, qPrintable(QString::number(amplitude)));
        QVERIFY(!sessionRuns(folders));
        QCOMPARE(desktop.kivo().state() == QProcess::NotRunning, quitting);
    }

    // A library of ten thousand records opens; its page is shown and the window stays responsive.
    void aLibraryOfTenThousandOpens() {
        UserFolders folders;
        KivoLibrary library(folders.output());
        for (int i = 0; i < 10000; ++i) {
            RecordingConfiguration configuration = folders.configuration();
            configuration.name = u"週會 %1"_s.arg(i);
            library.recordings.append(
                RecordingRecord(QUuid::createUuid(), configuration.name, Date{820000000.0 - i}, 60,
                                configuration, {folders.output().resolved(QUrl(u"x.wav"_s))}));
        }
        LibraryStore(folders.library(), folders.output()).save(library);
        VirtualDisplay display;
        Desktop desktop(display, folders);
        const QString mainWindow = desktop.window(u"Kivo 奇沃"_s);
        QVERIFY2(!mainWindow.isEmpty(), "no window");
        // Tab from the studio's sidebar entry to the library's, Space to show it, then a search.
        QVERIFY(desktop.press(mainWindow, u"Tab space"_s));
        QTest::qWait(1000);
        QVERIFY(desktop.press(mainWindow, u"ctrl+q"_s));
        QVERIFY2(desktop.kivo().waitForFinished(30000), "kivo did not end");
        QCOMPARE(desktop.kivo().exitCode(), 0);
        QCOMPARE(storedRecords(folders).size(), 10000);
    }
};

KIVO_TEST_CLASS(KivoWindowEndToEndTest)
#include "KivoWindowEndToEndTest.moc"
