#include "ui/StudioPage.h"
#include "TestMain.h"
#include "UiTestSupport.h"
#include "ui/GainRow.h"
#include "ui/RecordingControlsView.h"
#include "ui/SourceCard.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

template <typename T = QWidget>
T* named(QWidget* root, QStringView name) {
    T* widget = root->findChild<T*>(name.toString());
    return widget ? widget : (qFatal("missing %ls", qUtf16Printable(name.toString())), nullptr);
}

// A data row whose texts are given as UTF-8 literals.
QString cell(const char* text) {
    return QString::fromUtf8(text);
}
template <typename T>
T cell(T value) {
    return value;
}
template <typename... Cells>
void row(const char* name, Cells... cells) {
    (QTest::newRow(name) << ... << cell(cells));
}

// The named controls that `root` shows, in the given order, each with its text (if it has one)
// and marked "(off)" when disabled.
QString shownControls(QWidget* root, const QString& names) {
    QStringList shown;
    for (const QString& name : names.split(u' ')) {
        QWidget* control = named(root, name);
        const QString text = control->property("text").toString();
        if (control->isVisibleTo(root)) {
            shown.append(name + (text.isEmpty() ? QString() : u':' + text) +
                         (control->isEnabled() ? QString() : u"(off)"_s));
        }
    }
    return shown.join(u' ');
}

// Presses the controls bar's buttons ("main", "pause") in order; "holdStart" and "holdStop" make
// the backend hold the next start or stop.
void run(UiFixture& fixture, RecordingControlsView& controls, const QString& steps) {
    for (const QString& step : steps.split(u' ', Qt::SkipEmptyParts)) {
        if (step.startsWith(u"hold"_s)) {
            (step == u"holdStart"_s ? fixture.backend().startOutcome
                                    : fixture.backend().stopOutcome) =
                FakeRecordingBackend::Outcome::hold;
        } else {
            QTest::mouseClick(named(&controls, step + u"Button"_s), Qt::LeftButton);
        }
    }
}

} // namespace

class StudioPageTest : public QObject {
    Q_OBJECT

private slots:
    void eachModeShowsOnlyItsControls_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("microphone");
        QTest::addColumn<QString>("shown");
        row("microphone only", "microphone", false,
            "devicePicker microphoneGainRow summaryLabel:合併為 1 個音檔");
        row("system without microphone", "system", false,
            "microphoneSwitch systemGainRow separateTracksSwitch(off) "
            "summaryLabel:合併為 1 個音檔");
        row("system with microphone", "system", true,
            "microphoneSwitch devicePicker systemGainRow microphoneGainRow separateTracksSwitch "
            "summaryLabel:合併音檔＋兩個分軌音檔");
    }

    void eachModeShowsOnlyItsControls() {
        QFETCH(QString, mode);
        QFETCH(bool, microphone);
        QFETCH(QString, shown);
        UiFixture fixture;
        StudioPage page(fixture.model(), fixture.desktop());
        auto configuration = fixture.model().configuration();
        configuration.includesMicrophone = microphone;
        configuration.saveSeparateTracks = true;
        fixture.model().setConfiguration(configuration);

        QTest::mouseClick(named(&page, u"modeCard_"_s + mode), Qt::LeftButton);
        for (RecordingMode each : kAllRecordingModes) {
            QCOMPARE(named<SourceCard>(&page, u"modeCard_"_s + rawValue(each))->selected(),
                     rawValue(each) == mode);
        }
        QCOMPARE(shownControls(&page,
                               u"applicationPicker microphoneSwitch devicePicker systemGainRow "
                               u"microphoneGainRow separateTracksSwitch summaryLabel"_s),
                 shown);
    }

    void gainsShowAsTruncatedPercentagesAndReachTheRecording_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("slider");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("sent");
        row("0.805 is not rounded up", "systemGainRow", 805, "80%", "setGains 0.805 0.7");
        row("0.7 stays 70 in single precision", "systemGainRow", 700, "70%", "setGains 0.7 0.7");
        row("0.8", "microphoneGainRow", 800, "80%", "setGains 0.8 0.8");
        row("full", "microphoneGainRow", 1000, "100%", "setGains 0.8 1");
        row("silent", "systemGainRow", 0, "0%", "setGains 0 0.7");
        row("muted", "muteButton", 0, "恢復麥克風收音", "setGains 0.8 0");
    }

    void gainsShowAsTruncatedPercentagesAndReachTheRecording() {
        QFETCH(QString, control);
        QFETCH(int, slider);
        QFETCH(QString, shown);
        QFETCH(QString, sent);
        UiFixture fixture;
        StudioPage page(fixture.model(), fixture.desktop());
        fixture.record();
        if (auto* row = qobject_cast<GainRow*>(named(&page, control))) {
            row->slider()->setValue(slider);
            QCOMPARE(row->percentageText(), shown);
        } else {
            QTest::mouseClick(named(&page, control), Qt::LeftButton);
            QCOMPARE(named<QAbstractButton>(&page, control)->text(), shown);
        }
        QCOMPARE(fixture.backend().calls.last(), sent);
    }

    void choosingAnApplicationTakesItsNameAndProgram_data() {
        QTest::addColumn<int>("entry");
        QTest::addColumn<std::optional<qint32>>("pid");
        QTest::addColumn<QString>("name");
        row("first app", 1, std::optional<qint32>(4242), "Firefox");
        row("second app", 2, std::optional<qint32>(5151), "Zoom");
        row("no selection", 0, std::optional<qint32>(), "Zoom");
    }

    void choosingAnApplicationTakesItsNameAndProgram() {
        QFETCH(int, entry);
        QFETCH(std::optional<qint32>, pid);
        QFETCH(QString, name);
        UiFixture fixture;
        StudioPage page(fixture.model(), fixture.desktop());
        QTest::mouseClick(named(&page, u"modeCard_application"), Qt::LeftButton);
        auto* picker = named<QComboBox>(&page, u"applicationPicker");
        QVERIFY(picker->isVisibleTo(&page));
        QCOMPARE(picker->itemText(0), u"請選擇 App"_s);
        picker->setCurrentIndex(2);
        picker->setCurrentIndex(entry);
        const RecordingConfiguration& configuration = fixture.model().configuration();
        QCOMPARE(configuration.applicationPID, pid);
        QCOMPARE(configuration.applicationName, std::optional<QString>(name));
        QCOMPARE(configuration.applicationBundleID, std::optional<QString>(name.toLower()));
    }

    // Programs of one name are told apart by what they play, else by their process id.
    void programsOfOneNameAreToldApart() {
        UiFixture fixture;
        const auto paplay = [](qint32 pid, std::optional<QString> plays) {
            return RunningAudioApp{pid, u"paplay"_s, u"paplay"_s, std::move(plays)};
        };
        fixture.sources().apps = {paplay(11, u"會議.wav"_s),
                                  paplay(12, u"音樂.wav"_s),
                                  paplay(13, std::nullopt),
                                  {14, u"Zoom"_s, u"zoom"_s, u"通話"_s}};
        fixture.model().refreshSources();
        StudioPage page(fixture.model(), fixture.desktop());
        auto* picker = named<QComboBox>(&page, u"applicationPicker");
        QStringList items;
        for (int i = 1; i < picker->count(); ++i) {
            items.append(picker->itemText(i));
        }
        QCOMPARE(items, (QStringList{u"paplay — 會議.wav"_s, u"paplay — 音樂.wav"_s,
                                     u"paplay（PID 13）"_s, u"Zoom"_s}));
    }

    // The mute button's room is kept while it is hidden: starting a recording moves no slider.
    void startingARecordingMovesNoSlider() {
        UiFixture fixture;
        StudioPage page(fixture.model(), fixture.desktop());
        page.resize(900, 800);
        page.show();
        QTest::qWait(20);
        const QWidget* row = named(&page, u"systemGainRow");
        const int width = row->width();
        fixture.record();
        QTest::qWait(20);
        QCOMPARE(row->width(), width);
    }

    // The latest marker's label: Return keeps what was typed, Escape gives back the default.
    // Past a thousand markers the recording takes no more, and says so.
    void markersAreNamedInTheBarUpToAThousand() {
        UiFixture fixture(1);
        RecordingControlsView controls(fixture.model());
        run(fixture, controls, u"main mark"_s);
        auto* field = qobject_cast<QLineEdit*>(named(&controls, u"markerLabel"_s));
        const auto last = [&] { return fixture.model().markers().back().label; };
        field->setText(u"  期末考  "_s);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(last(), u"期末考"_s);
        field->setText(u"打錯了"_s);
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(last(), u"標記 1"_s);
        QCOMPARE(field->text(), u"標記 1"_s);
        for (int i = 1; i < RecordingMarker::kMaximumCount; ++i) {
            fixture.model().addMarker();
        }
        QCOMPARE(last(), u"標記 1000"_s);
        fixture.model().addMarker();
        QCOMPARE(fixture.model().markers().size(), RecordingMarker::kMaximumCount);
        QCOMPARE(*fixture.model().notice(), u"一段錄音最多 1000 個標記，無法再加入。"_s);
    }

    void recentListShowsTheTwoNewest_data() {
        QTest::addColumn<int>("records");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("none") << 0 << QStringList{};
        QTest::newRow("one") << 1 << QStringList{u"錄音 1"_s};
        QTest::newRow("five") << 5 << QStringList{u"錄音 1"_s, u"錄音 2"_s};
    }

    void recentListShowsTheTwoNewest() {
        QFETCH(int, records);
        QFETCH(QStringList, names);
        UiFixture fixture(records);
        StudioPage page(fixture.model(), fixture.desktop());
        QStringList shown;
        for (QWidget* row : page.findChildren<QWidget*>(u"recentRow"_s)) {
            shown.append(visibleTexts(row).first());
        }
        QCOMPARE(shown, names);
        QCOMPARE(visibleTexts(&page).contains(u"還沒有錄音，試著留下一段聲音。"_s),
                 names.isEmpty());
        QTest::mouseClick(buttonWithText(&page, u"查看全部 ↗"_s), Qt::LeftButton);
        QVERIFY(fixture.model().page() == KivoPage::library);
    }

    // The bar's buttons drive the recorder; while a recording is open (or starting or saving)
    // the page's editing controls are locked and only the gains stay adjustable.
    void recorderStatesShowOnTheBarAndLockEditing_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("bar");
        QTest::addColumn<QString>("page");
        // The sources give way to one line saying what is recorded.
        const QString locked =
            u"sourcesSummary:系統聲音＋麥克風 · 系統預設麥克風 formatChoice(off) systemGainRow "
            u"microphoneGainRow"_s;
        const QString mute = u" muteButton:麥克風靜音"_s;
        row("idle", "", "", "markButton:加入標記(off) mainButton:開始錄音 pauseButton:暫停(off)",
            "modeCard_system:系統聲音 microphoneSwitch devicePicker formatChoice systemGainRow "
            "microphoneGainRow");
        row("starting", "holdStart main", "start",
            "busyIndicator markButton:加入標記(off) mainButton:開始錄音(off) pauseButton:暫停(off)",
            locked);
        const QString open = u"markButton:加入標記 mainButton:停止並保存 pauseButton:"_s;
        row("recording", "main", "start", open + u"暫停"_s, locked + mute);
        row("paused", "main pause", "start pause", open + u"繼續"_s, locked + mute);
        row("marked while paused", "main pause mark", "start pause",
            u"markerLabel:標記 1 "_s + open + u"繼續"_s, locked + mute);
        row("resumed", "main pause pause", "start pause resume", open + u"暫停"_s, locked + mute);
        row("saving", "holdStop main main", "start stop",
            "busyIndicator:0% markButton:加入標記(off) mainButton:開始錄音(off) "
            "pauseButton:暫停(off)",
            locked);
    }

    void recorderStatesShowOnTheBarAndLockEditing() {
        QFETCH(QString, steps);
        QFETCH(QString, calls);
        QFETCH(QString, bar);
        QFETCH(QString, page);
        UiFixture fixture(1);
        RecordingControlsView controls(fixture.model());
        StudioPage studio(fixture.model(), fixture.desktop());
        run(fixture, controls, steps);
        // The recent recording cannot be played while the recorder is busy.
        page += steps.isEmpty() ? u" playButton"_s : u" playButton(off)"_s;
        QCOMPARE(fixture.backend().calls.join(u' '), calls);
        QCOMPARE(shownControls(&controls,
                               u"busyIndicator markerLabel markButton mainButton pauseButton"_s),
                 bar);
        QCOMPARE(shownControls(&studio, u"modeCard_system microphoneSwitch devicePicker "
                                        u"sourcesSummary formatChoice systemGainRow "
                                        u"microphoneGainRow muteButton playButton"_s),
                 page);
        if (steps.startsWith(u"holdStop"_s)) {
            fixture.backend().onExportProgress(0.427);
            QCOMPARE(shownControls(&controls, u"busyIndicator progressLabel"_s),
                     u"busyIndicator:42% progressLabel:42%"_s);
        }
    }
};

KIVO_TEST_CLASS(StudioPageTest)
#include "StudioPageTest.moc"
