// The desktop program as a user meets it: the real `kivo` on a virtual X display, recording a
// playing tone from the test sound server, driven by its keyboard shortcuts pressed through the
// X server.

#include "CaptureTestSupport.h"
#include "MockBus.h"
#include "ModelTestSupport.h"
#include "TestMain.h"

#include "infrastructure/storage/LibraryStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
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

// A headless Wayland compositor (weston) on a socket of its own, ended when destroyed.
class WaylandCompositor {
public:
    WaylandCompositor() {
        m_weston.setProcessChannelMode(QProcess::MergedChannels);
        m_weston.setStandardOutputFile(m_folder.filePath(u"weston.log"_s));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_folder.path());
        m_weston.setProcessEnvironment(environment);
        m_weston.start(u"weston"_s, {u"--backend=headless-backend.so"_s, u"--socket=kivo-test"_s,
                                     u"--no-config"_s, u"--idle-time=0"_s, u"--width=1400"_s,
                                     u"--height=900"_s});
        if (waitUntil([this] { return QFile::exists(socket()); }, 15000)) {
            m_running = true;
        }
    }
    ~WaylandCompositor() {
        m_weston.terminate();
        m_weston.waitForFinished(5000);
    }
    bool running() const { return m_running; }
    // WAYLAND_DISPLAY for a client: the socket's whole path.
    QString socket() const { return m_folder.filePath(u"kivo-test"_s); }

private:
    QTemporaryDir m_folder;
    QProcess m_weston;
    bool m_running = false;
};

// The running `kivo` and xdotool on its display.
class Desktop {
public:
    Desktop(const VirtualDisplay& display, const UserFolders& folders, const QString& bus)
        : Desktop(folders, {{u"DISPLAY"_s, display.name()}, {u"DBUS_SESSION_BUS_ADDRESS"_s, bus}}) {
    }
    // Kivo as a Wayland client of `compositor`, on the session bus at `bus`.
    Desktop(const WaylandCompositor& compositor, const QString& bus, const UserFolders& folders)
        : Desktop(folders, {{u"QT_QPA_PLATFORM"_s, u"wayland"_s},
                            {u"WAYLAND_DISPLAY"_s, compositor.socket()},
                            {u"DBUS_SESSION_BUS_ADDRESS"_s, bus}}) {}
    Desktop(const UserFolders& folders, const QList<std::pair<QString, QString>>& settings) {
        QProcessEnvironment environment = folders.environment();
        environment.remove(u"QT_QPA_PLATFORM"_s); // this test's own is offscreen
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"WAYLAND_DISPLAY"_s);
        for (const auto& [name, value] : settings) {
            environment.insert(name, value);
        }
        m_display = environment.value(u"DISPLAY"_s);
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
    // Runs `program` (kivo again, as a user does while it runs, or kivo-cli) in kivo's
    // environment; its exit code, and what it printed on stdout and stderr.
    std::pair<int, QString> run(const QStringList& arguments = {},
                                const QString& program = QStringLiteral(KIVO_APP)) const {
        QProcess again;
        again.setProcessEnvironment(m_kivo.processEnvironment());
        again.start(program, arguments);
        const bool ended = again.waitForFinished(30000);
        return {ended && again.exitStatus() == QProcess::NormalExit ? again.exitCode() : -1,
                QString::fromUtf8(again.readAllStandardOutput() + again.readAllStandardError())};
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

// The panel's side of the tray: a StatusNotifierWatcher on a session bus of the test's own, and
// what it reads of the item Kivo registers there.
class TrayPanel : public MockBus {
public:
    TrayPanel() {
        const QString watcher = u"org.kde.StatusNotifierWatcher"_s;
        running = mock({watcher, u"/StatusNotifierWatcher"_s, watcher}, watcher);
        for (const char* method : {"RegisterStatusNotifierItem", "RegisterStatusNotifierHost"}) {
            MockBus::call(watcher, u"/StatusNotifierWatcher"_s,
                          u"org.freedesktop.DBus.Mock.AddMethod"_s,
                          {QString(), QString::fromLatin1(method), u"s"_s, QString(), QString()});
        }
        // Qt offers its tray only to a watcher that says a host (the panel) shows items.
        MockBus::call(watcher, u"/StatusNotifierWatcher"_s,
                      u"org.freedesktop.DBus.Mock.AddProperty"_s,
                      {watcher, u"IsStatusNotifierHostRegistered"_s, u"<true>"_s});
    }
    // The bus name of the item registered with the watcher, once there is one.
    QString item() const {
        static const QRegularExpression name(u"'RegisterStatusNotifierItem', \\[<'([^']+)'>"_s);
        return name
            .match(MockBus::call(u"org.kde.StatusNotifierWatcher"_s, u"/StatusNotifierWatcher"_s,
                                 u"org.freedesktop.DBus.Mock.GetCalls"_s))
            .captured(1);
    }
    // A property of the item, as gdbus prints it.
    QString property(const QString& name) const {
        return MockBus::call(item(), u"/StatusNotifierItem"_s,
                             u"org.freedesktop.DBus.Properties.Get"_s,
                             {u"org.kde.StatusNotifierItem"_s, name});
    }
    // The item's menu: each entry's label (mnemonics written "_X", as the menu protocol does)
    // and whether it is enabled.
    QList<std::pair<QString, bool>> menu() const {
        QList<std::pair<QString, bool>> entries;
        static const QRegularExpression entry(u"\\((\\d+), \\{([^}]*)\\}"_s);
        for (const auto& match : entry.globalMatch(layout())) {
            const QString properties = match.captured(2);
            static const QRegularExpression label(u"'label': <'([^']*)'>"_s);
            if (const auto text = label.match(properties); text.hasMatch()) {
                entries.append({text.captured(1), !properties.contains(u"'enabled': <false>"_s)});
            }
        }
        return entries;
    }
    // Chooses the menu entry whose label starts with `label`, as a click on the panel does.
    bool click(const QString& label) const {
        static const QRegularExpression entry(u"\\((\\d+), \\{[^}]*'label': <'([^']*)'>"_s);
        for (const auto& match : entry.globalMatch(layout())) {
            if (match.captured(2).startsWith(label)) {
                MockBus::call(item(), menuPath(), u"com.canonical.dbusmenu.Event"_s,
                              {u"--"_s, match.captured(1), u"clicked"_s, u"<0>"_s, u"0"_s});
                return true;
            }
        }
        return false;
    }

    bool running = false;

private:
    QString menuPath() const {
        static const QRegularExpression path(u"objectpath '([^']+)'"_s);
        return path.match(property(u"Menu"_s)).captured(1);
    }
    QString layout() const {
        return MockBus::call(item(), menuPath(), u"com.canonical.dbusmenu.GetLayout"_s,
                             {u"--"_s, u"0"_s, u"-1"_s, u"[]"_s});
    }
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
        // As a desktop shortcut bound to the command does it, with the window in the back.
        QTest::newRow("kivo --toggle-record twice") << u"toggle"_s;
    }
    void theShortcutsRecordAndSaveTheTone() {
        QFETCH(QString, ending);
        const bool quitting = ending == u"quit"_s || ending == u"terminate"_s;
        UserFolders folders;
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        VirtualDisplay display;
        QVERIFY2(!display.name().isEmpty(), "Xvfb did not start");
        MockBus bus;
        Desktop desktop(display, folders, bus.address);
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
            QCOMPARE(desktop.run().first, 0);
            QVERIFY(
                waitUntil([&] { return desktop.xdotool({u"getwindowfocus"_s}) == mainWindow; }));
        }
        if (ending == u"toggle"_s) {
            QCOMPARE(desktop.run({u"--toggle-record"_s}), std::pair(0, QString()));
        } else {
            QVERIFY(desktop.press(mainWindow,
                                  ending == u"keys"_s ? u"shift+Tab space"_s : u"ctrl+shift+r"_s));
        }
        QVERIFY2(waitUntil([&] { return sessionRuns(folders); }, 30000), "no recording started");
        QTest::qWait(1000);
        if (ending == u"stop"_s) {
            // Two markers, the second typed over at once in the controls bar.
            QVERIFY(desktop.press(mainWindow, u"ctrl+shift+m"_s));
            QTest::qWait(500);
            QVERIFY(desktop.press(mainWindow, u"ctrl+shift+m"_s));
            QTest::qWait(300);
            QVERIFY(desktop.xdotool({u"type"_s, u"--delay"_s, u"50"_s, u"quiz"_s}));
            QVERIFY(desktop.press(mainWindow, u"Return"_s));
        }
        QTest::qWait(1000);
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
        } else if (ending == u"toggle"_s) {
            QCOMPARE(desktop.run({u"--toggle-record"_s}), std::pair(0, QString()));
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
        QStringList markers;
        for (const auto marker : record.value(u"markers").toArray()) {
            markers << marker[u"label"_s].toString();
        }
        const QStringList marked{u"標記 1"_s, u"quiz"_s};
        QCOMPARE(markers, ending == u"stop"_s ? marked : QStringList());
        const StereoSamples audio = decodeFile(file);
        QVERIFY(audio.frames() > 48000);
        // The tone is in the file (how its first moments line up is the capture tests' part):
        // measured over all but the first 0.25 s, saying where it begins when it fails.
        const double amplitude = CapturedSignal{0.0, audio.left}.usualAmplitude(
            440, 0.25, double(audio.frames()) / 48000);
        const auto loud = std::find_if(audio.left.begin(), audio.left.end(),
                                       [](float sample) { return std::abs(sample) > 0.1F; });
        QVERIFY2(amplitude > 0.1,
                 qPrintable(u"%1, the tone begins at frame %2 of %3"_s.arg(amplitude)
                                .arg(loud - audio.left.begin())
                                .arg(audio.frames())));
        QVERIFY(!sessionRuns(folders));
        QCOMPARE(desktop.kivo().state() == QProcess::NotRunning, quitting);
    }

    // Kivo as a native Wayland client of a headless compositor, with its tray on a panel that
    // shows StatusNotifierItems: the item registers with the panel's watcher, its icon and
    // tooltip follow the recording, and its menu, exported over D-Bus, holds the tray's
    // commands, which record the tone, save it and quit.
    void onWaylandTheTrayRecordsSavesAndQuits() {
        UserFolders folders;
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        WaylandCompositor compositor;
        QVERIFY2(compositor.running(), "weston did not start");
        TrayPanel panel;
        QVERIFY2(panel.running, "no StatusNotifierWatcher");
        Desktop desktop(compositor, panel.address, folders);
        QVERIFY2(waitUntil([&] { return !panel.item().isEmpty(); }, 60000),
                 "no tray item registered");
        const auto icon = [&] { return panel.property(u"IconName"_s); };
        QVERIFY2(icon().contains(u"'audio-input-microphone-symbolic'"_s), qPrintable(icon()));
        QVERIFY(panel.property(u"ToolTip"_s).contains(u"準備就緒"_s));
        QList<std::pair<QString, bool>> menu;
        QVERIFY(waitUntil([&] { return (menu = panel.menu()).size() == 9; }));
        const QList<std::pair<QString, bool>> idle{
            {u"關於 Kivo(_A)"_s, true},   {u"Kivo · 準備就緒"_s, false}, {u"00:00:00"_s, false},
            {u"顯示 Kivo"_s, true},       {u"開始錄音(_R)"_s, true},     {u"暫停錄音(_P)"_s, false},
            {u"停止並保存(_S)"_s, false}, {u"加入標記(_M)"_s, false},    {u"結束(_Q)"_s, true}};
        QCOMPARE(menu, idle);

        QVERIFY(panel.click(u"開始錄音"_s));
        QVERIFY2(waitUntil([&] { return sessionRuns(folders); }, 30000), "no recording started");
        QVERIFY(waitUntil([&] { return icon().contains(u"'media-record-symbolic'"_s); }));
        QVERIFY(panel.property(u"ToolTip"_s).contains(u"錄音中"_s));
        QTest::qWait(1000);
        QVERIFY(panel.click(u"暫停錄音"_s));
        QVERIFY(waitUntil([&] { return icon().contains(u"'media-playback-pause-symbolic'"_s); }));
        QVERIFY(panel.click(u"繼續錄音"_s));
        QVERIFY(waitUntil([&] { return icon().contains(u"'media-record-symbolic'"_s); }));
        QTest::qWait(1500);
        QVERIFY(panel.click(u"停止並保存"_s));
        QVERIFY2(waitUntil([&] { return !storedRecords(folders).isEmpty(); }, 60000),
                 "no record was stored");
        const QJsonObject record = storedRecords(folders).at(0).toObject();
        const StereoSamples audio =
            decodeFile(QUrl(record.value(u"files").toArray().at(0).toString()).toLocalFile());
        QVERIFY(audio.frames() > 48000);
        QCOMPARE_GT(CapturedSignal({0.0, audio.left}).usualAmplitude(440, 0.25, 1.0), 0.1);
        QVERIFY(waitUntil([&] { return icon().contains(u"'audio-input-microphone-symbolic'"_s); }));

        QVERIFY(panel.click(u"結束"_s));
        QVERIFY2(desktop.kivo().waitForFinished(30000), "kivo did not end");
        QCOMPARE(desktop.kivo().exitStatus(), QProcess::NormalExit);
        QCOMPARE(desktop.kivo().exitCode(), 0);
    }

    // The window on a session bus of the test's own, driven as a script, a desktop shortcut and
    // kivo-cli drive it: each call reaches the window's model, the properties and their signals
    // follow the recording, and a call the state does not allow is refused in words.
    void theBusAndKivoCliReachTheWindow() {
        UserFolders folders;
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        MockBus bus;
        const QString portal = u"org.freedesktop.portal.Desktop"_s;
        QVERIFY(bus.mock({u"--template"_s,
                          QStringLiteral(QT_TESTCASE_SOURCEDIR) + u"/global_shortcuts_portal.py"_s},
                         portal));
        Desktop desktop(folders, {{u"QT_QPA_PLATFORM"_s, u"offscreen"_s},
                                  {u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address}});
        QCOMPARE(QProcess::execute(u"gdbus"_s, {u"wait"_s, u"--address"_s, bus.address,
                                                u"--timeout"_s, u"30"_s, u"app.kivo.Kivo"_s}),
                 0);
        QProcess monitor;
        monitor.start(u"gdbus"_s,
                      {u"monitor"_s, u"--address"_s, bus.address, u"--dest"_s, u"app.kivo.Kivo"_s});
        QVERIFY(monitor.waitForStarted());
        const auto gdbus = [&](const QString& call) {
            return desktop.run(QStringList{u"call"_s, u"--address"_s, bus.address, u"--dest"_s,
                                           u"app.kivo.Kivo"_s, u"--object-path"_s,
                                           u"/app/kivo/Kivo"_s, u"--method"_s} +
                                   call.split(u' '),
                               u"gdbus"_s);
        };
        const auto property = [&](const QString& name) {
            return gdbus(u"org.freedesktop.DBus.Properties.Get app.kivo.Recorder1 "_s + name)
                .second.trimmed();
        };
        const auto stateIs = [&](const QString& state) {
            return waitUntil([&] { return property(u"State"_s) == u"(<'"_s + state + u"'>,)"_s; },
                             30000);
        };
        QVERIFY2(stateIs(u"idle"_s), qPrintable(property(u"State"_s)));
        struct Step {
            QString call; // a method of app.kivo.Recorder1, or a kivo command
            QString refusal;
            QString state; // afterwards
        };
        const QList<Step> steps{
            {u"Pause"_s, u"沒有正在進行的錄音。"_s, u"idle"_s},
            {u"Record"_s, QString(), u"recording"_s},
            {u"Record"_s, u"已經在錄音。"_s, u"recording"_s},
            {u"--pause"_s, QString(), u"paused"_s},
            {u"Pause"_s, u"錄音已經暫停。"_s, u"paused"_s},
            {u"TogglePause"_s, QString(), u"recording"_s},
            {u"--resume"_s, u"錄音沒有暫停。"_s, u"recording"_s},
            {u"Stop"_s, QString(), u"idle"_s},
            {u"--stop"_s, u"沒有正在進行的錄音。"_s, u"idle"_s},
        };
        for (const Step& step : steps) {
            const auto [code, output] = step.call.startsWith(u"--"_s)
                                            ? desktop.run({step.call})
                                            : gdbus(u"app.kivo.Recorder1."_s + step.call);
            QVERIFY2(step.refusal.isEmpty() ? code == 0
                                            : code == 1 && output.contains(step.refusal),
                     qPrintable(step.call + u": "_s + output));
            if (step.state == u"recording"_s && step.refusal.isEmpty()) {
                // kivo-cli sees what the window records.
                QVERIFY(stateIs(step.state));
                const auto status = QJsonDocument::fromJson(
                    desktop.run({u"status"_s, u"--json"_s}, QStringLiteral(KIVO_CLI))
                        .second.toUtf8());
                QCOMPARE(status[u"state"_s].toString(), u"recording"_s);
                QVERIFY(status[u"running"_s].toBool());
                QTest::qWait(1200);
            }
            QVERIFY2(stateIs(step.state), qPrintable(step.call));
        }
        QCOMPARE(storedRecords(folders).size(), 1);
        const QString name = storedRecords(folders).at(0).toObject().value(u"name").toString();
        QCOMPARE(property(u"LastRecordName"_s), u"(<'"_s + name + u"'>,)"_s);
        monitor.terminate();
        monitor.waitForFinished();
        const QString announced = QString::fromUtf8(monitor.readAllStandardOutput());
        QStringList states;
        for (const auto& match :
             QRegularExpression(u"'State': <'(\\w+)'>"_s).globalMatch(announced)) {
            states << match.captured(1);
        }
        QCOMPARE(states.join(u' '), u"starting recording paused recording saving idle"_s);
        QVERIFY(announced.contains(u"'LastRecordName': <'"_s + name + u"'>"_s));

        // The shortcut the desktop portal bound records and saves, as the window's button does.
        for (const QString& state : {u"recording"_s, u"idle"_s}) {
            bus.call(portal, u"/org/freedesktop/portal/desktop"_s,
                     u"org.freedesktop.DBus.Mock.Activate"_s, {u"toggle-record"_s});
            QVERIFY(stateIs(state));
            QTest::qWait(state == u"recording"_s ? 1200 : 0);
        }
        QCOMPARE(storedRecords(folders).size(), 2);

        // kivo-cli records through the window that holds the library: one record, in both.
        const auto [code, output] =
            desktop.run({u"record"_s, u"--seconds"_s, u"2"_s, u"--name"_s, u"經由視窗"_s},
                        QStringLiteral(KIVO_CLI));
        QVERIFY2(code == 0, qPrintable(output));
        const QJsonArray records = storedRecords(folders);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records.at(0).toObject().value(u"name").toString(), u"經由視窗"_s);
        QVERIFY(output.contains(records.at(0).toObject().value(u"id").toString()));
        QVERIFY(records.at(0).toObject().value(u"duration").toDouble() >= 1.9);
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
        Desktop desktop(display, folders, QString());
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
