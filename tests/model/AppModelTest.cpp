#include "CaptureTestSupport.h"
#include "MockBus.h"
#include "ModelTestSupport.h"
#include "TestMain.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/storage/LibraryStore.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <system_error>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

RecordingRecord storedRecord(const UserFolders& folders, const QString& name, RecordingMode mode,
                             double createdAt, QList<QUrl> files = {}) {
    RecordingConfiguration configuration = folders.configuration(mode);
    configuration.name = name;
    return RecordingRecord(QUuid::createUuid(), name, Date{createdAt}, 1.0, configuration,
                           std::move(files));
}

void saveLibrary(const UserFolders& folders, const KivoLibrary& library) {
    LibraryStore(folders.library(), folders.output()).save(library);
}

// A file system without locks (an NFS home without a lock daemon): no Kivo gets the lock.
struct LocklessStore : LibraryStore {
    using LibraryStore::LibraryStore;
    bool lockForWriting() override { throw PlatformError::fromErrno(u"無法鎖定"_s, ENOLCK); }
};

// An export that cannot begin: no thread is left to run it on.
struct ThreadlessSessions : SessionFolders {
    void exportSession(const RecoveryItem&, std::function<void(double)>,
                       std::function<void(Result<RecordingRecord>)>) override {
        throw std::system_error(EAGAIN, std::generic_category(), "thread");
    }
    void remove(const QString&) override {}
};

} // namespace

class AppModelTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void startUpFollowsTheLibraryFolder_data() {
        QTest::addColumn<QString>("situation");
        for (const char* row :
             {"first run", "stored settings", "unreadable", "locked", "lock fails"}) {
            QTest::newRow(row) << QString::fromLatin1(row);
        }
    }
    void startUpFollowsTheLibraryFolder() {
        QFETCH(QString, situation);
        UserFolders folders;
        const QString document = folders.library() + u"/library.json"_s;
        KivoLibrary stored(folders.output());
        stored.settings.name = u"週會"_s;
        stored.recordings.append(storedRecord(folders, u"舊的"_s, RecordingMode::system, 100));
        stored.presets.append(RecordingPreset(u"方案"_s, stored.settings));
        std::unique_ptr<LibraryStore> otherWriter;
        if (situation != u"first run") {
            saveLibrary(folders, stored);
            leftSession(folders, 50, 0);
        }
        if (situation == u"unreadable") {
            QFile file(document);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("{\"recordings\": [");
        } else if (situation == u"locked") {
            otherWriter = std::make_unique<LibraryStore>(folders.library(), folders.output());
            QVERIFY(otherWriter->lockForWriting());
        }
        QFile before(document);
        const QByteArray bytes = before.open(QIODevice::ReadOnly) ? before.readAll() : QByteArray();

        AppServices services = LinuxServices::make(folders.options());
        if (situation == u"lock fails") {
            services.storage = std::make_unique<LocklessStore>(folders.library(), folders.output());
        }
        auto model = std::make_unique<AppModel>(std::move(services));
        if (situation == u"first run") {
            QCOMPARE(model->configuration(), RecordingConfiguration(folders.output()));
            QVERIFY(model->library().recordings.isEmpty() && !model->alertMessage());
            QVERIFY(model->storageAvailable() && model->canRecord());
            QVERIFY(!QFileInfo::exists(document));
        } else if (situation == u"stored settings") {
            QCOMPARE(model->configuration(), stored.settings);
            QCOMPARE(model->defaultConfiguration(), stored.settings);
            QCOMPARE(model->library(), stored);
            QCOMPARE(model->recoveries().size(), 1);
        } else {
            QVERIFY(!model->storageAvailable() && !model->canRecord());
            QVERIFY(!model->persistLibrary());
            model->start();
            QCOMPARE(model->coordinator().state(), RecordingState::idle);
            const QString reason = *model->alertMessage();
            if (situation == u"unreadable") {
                QVERIFY(
                    reason.startsWith(u"無法讀取錄音紀錄。原始檔案已保留，請先檢查 "_s + document));
            } else {
                QVERIFY2(situation == u"locked"
                             ? reason == AppModel::kLockedMessage
                             : reason == AppModel::kLockFailedMessage +
                                             u"無法鎖定：這個檔案系統無法鎖定檔案"_s,
                         qPrintable(reason));
                QCOMPARE(model->library(), stored); // still there to look at
                // The other writer's sessions may be recording: they are not offered.
                QVERIFY(model->recoveries().isEmpty());
                // Nothing may change, on disk or in memory: the reason is said each time.
                const RecordingRecord record = stored.recordings.front();
                model->savePreset(u"新方案"_s);
                model->rename(record, u"新名字"_s);
                model->trash(record);
                model->removePreset(stored.presets.front());
                model->saveDefaults();
                QCOMPARE(model->library(), stored);
                QCOMPARE(model->alertMessage(), std::optional(reason));
                QVERIFY(!model->notice());
            }
            if (situation == u"locked") {
                // The other writer ends: this one takes over without a restart.
                otherWriter.reset();
                QTRY_VERIFY_WITH_TIMEOUT(model->storageAvailable(), 5000);
                QVERIFY(!model->alertMessage() && model->canRecord());
                QCOMPARE(model->recoveries().size(), 1);
            }
            model.reset();
            QFile after(document);
            QVERIFY(after.open(QIODevice::ReadOnly));
            QCOMPARE(after.readAll(), bytes);
        }
    }

    void recoveryExportsLeftSessions_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("alert");
        QTest::newRow("tracks") << 20.0 << QString();
        QTest::newRow("no track") << 0.0
                                  << QStringLiteral(
                                         "無法復原，暫存資料已保留。\n暫存錄音沒有音訊內容。");
    }
    void recoveryExportsLeftSessions() {
        QFETCH(double, seconds);
        QFETCH(QString, alert);
        UserFolders folders;
        leftSession(folders, 11 * 3600, 0);
        const RecoveryItem item = leftSession(folders, 10 * 3600, seconds);
        leftSession(folders, 9 * 3600, 0);
        auto model = folders.model();
        QCOMPARE(model->recoveries().size(), 3);
        QCOMPARE(model->recoveries()[1], item); // oldest first
        QCOMPARE(model->recoveries()[0].manifest.startedAt.secondsSinceReferenceDate, 9 * 3600.0);

        // The export runs off the main thread: the event loop keeps turning meanwhile.
        int ticks = 0;
        QList<double> progress;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        connect(model.get(), &AppModel::changed, [&] {
            if (model->exportProgress()) {
                progress.append(*model->exportProgress());
            }
        });
        timer.start(5);
        bool done = false;
        model->recover(item, [&] { done = true; });
        QVERIFY(model->recovering() && !model->canRecord());
        QCOMPARE(model->status(), u"正在復原"_s);
        QVERIFY(waitUntil([&] { return done; }, 30000));
        QVERIFY(!model->recovering());
        if (alert.isEmpty()) {
            QVERIFY2(!model->alertMessage(), qPrintable(model->alertMessage().value_or(QString())));
            QCOMPARE(model->library().recordings.front().duration(), seconds);
            QCOMPARE(model->recoveries().size(), 2);
            QVERIFY(!QFileInfo::exists(item.directory));
            QVERIFY(ticks > 2);
            QVERIFY(progress.size() > 2 && std::is_sorted(progress.begin(), progress.end()));
            QVERIFY(!model->exportProgress());
        } else {
            QCOMPARE(*model->alertMessage(), alert);
            QCOMPARE(model->recoveries().size(), 3);
        }
    }

    void stopTriggersSaveTheRecording_data() {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("notice"); // shown while saving
        QTest::addColumn<QString>("alert");
        QTest::newRow("stop") << u"stop"_s << QString() << QString();
        QTest::newRow("application exit")
            << u"application"_s << u"選定 App 已結束，正在保存錄音。"_s << QString();
        // Its first stream closes, so the lists lose it, and it ends after its second.
        QTest::newRow("application exit after its streams")
            << u"streams first"_s << u"選定 App 已結束，正在保存錄音。"_s << QString();
        QTest::newRow("sleep") << u"sleep"_s << u"電腦即將睡眠，正在保存錄音。"_s << QString();
        QTest::newRow("capture failure")
            << u"failure"_s << QString() << u"麥克風裝置或音訊格式已改變，將保存目前錄音。"_s;
    }
    void stopTriggersSaveTheRecording() {
        QFETCH(QString, trigger);
        QFETCH(QString, notice);
        QFETCH(QString, alert);
        UserFolders folders;
        // What Kivo keeps of a recording is the user's alone, whatever the umask.
        std::optional<ScopedUmask> umask;
        if (trigger == u"stop") {
            umask.emplace(0);
            QDir().mkpath(folders.captures()); // as an older Kivo left it: 0777 less the umask
        }
        auto player = std::make_unique<TestPlayer>(
            trigger == u"streams first"
                ? QStringList{u"default,tone,440,0.3,0,2"_s, u"default,tone,440,0.3,3.5,0.5"_s}
                : QStringList{u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player->waitPlaying(0));
        MockLogind logind;
        QVERIFY(logind.running);
        LinuxServices::Options options = folders.options();
        options.systemBusAddress = logind.address;
        auto model = std::make_unique<AppModel>(LinuxServices::make(options));
        QStringList notices;
        connect(model.get(), &AppModel::changed, [&] {
            if (model->notice() && (notices.isEmpty() || notices.back() != *model->notice())) {
                notices.append(*model->notice());
            }
        });
        // The computer may sleep only once the record is in the library.
        int locksWhenStored = -1;
        connect(model.get(), &AppModel::recordingFinished,
                [&] { locksWhenStored = logind.sleepLocks(); });

        std::optional<LoadedModule> microphone;
        RecordingConfiguration configuration = folders.configuration(RecordingMode::application);
        configuration.applicationPID = player->pid();
        if (trigger == u"failure") {
            microphone.emplace(u"module-remap-source"_s,
                               QStringList{u"master=kivo_test_mic_feed.monitor"_s,
                                           u"source_name=kivo_model_mic"_s});
            std::optional<quint32> index;
            QVERIFY(waitUntil(
                [&] { return (index = sourceIndex(u"kivo_model_mic"_s)).has_value(); }, 5000));
            model->refreshSources();
            configuration.mode = RecordingMode::microphone;
            configuration.microphoneDeviceID = index;
        }
        model->setConfiguration(configuration);
        model->setNotice(u"舊訊息"_s);
        QVERIFY(startRecording(*model));
        QCOMPARE(model->status(), u"錄音中"_s);
        QVERIFY(!model->notice());
        notices.clear();
        QTRY_COMPARE(logind.sleepLocks(), 1);
        QTest::qWait(700);
        QCOMPARE(model->waveHistory().size(), AppModel::kWaveHistoryLength);
        QVERIFY(trigger == u"failure" || model->waveHistory().back() > 0.1F);
        if (trigger == u"stop") {
            const QString session = QDir(folders.captures())
                                        .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)
                                        .constFirst()
                                        .filePath();
            for (const auto& [path, mode] : {std::pair{folders.captures(), 0700},
                                             {session, 0700},
                                             {session + u"/system.caf"_s, 0600},
                                             {session + u"/session.json"_s, 0600},
                                             {folders.library(), 0700}}) {
                QCOMPARE(permissionsOf(path), mode);
            }
            model->stop();
        } else if (trigger == u"application") {
            player.reset();
        } else if (trigger == u"sleep") {
            logind.prepareForSleep(true);
        } else {
            microphone->unload();
        }
        QVERIFY(waitUntil([&] { return model->library().recordings.size() == 1; }, 20000));
        QCOMPARE(model->coordinator().state(), RecordingState::idle);
        QCOMPARE(notices.join(u'|'),
                 (notice.isEmpty() ? QString() : notice + u'|') + u"已保存「測試」。"_s);
        QCOMPARE(model->alertMessage().value_or(QString()), alert);
        QCOMPARE(locksWhenStored, 1);
        QTRY_COMPARE(logind.sleepLocks(), 0);
        QCOMPARE(model->status(), u"準備就緒"_s);
        QVERIFY(QDir(folders.captures()).isEmpty()); // the session is gone
        QCOMPARE(LibraryStore(folders.library(), folders.output()).load(), model->library());
        const StereoSamples audio =
            decodeFile(model->library().recordings.front().files().front().toLocalFile());
        QVERIFY(audio.frames() > 24000);
        if (trigger != u"failure") {
            // Where the tone begins in the file tells a late start from a quiet recording.
            const auto loud = std::find_if(audio.left.begin(), audio.left.end(),
                                           [](float sample) { return std::abs(sample) > 0.1F; });
            QVERIFY2(
                CapturedSignal({0.0, audio.left}).usualAmplitude(440, 0.1, 0.5) > 0.2,
                qPrintable(u"the tone begins at frame %1 of %2"_s.arg(loud - audio.left.begin())
                               .arg(audio.frames())));
        }
        if (umask) {
            QCOMPARE(permissionsOf(folders.library() + u"/library.json"_s), 0600);
            // The exported file is the user's document: the umask decides.
            const QString file = model->library().recordings.front().files().front().toLocalFile();
            QCOMPARE(permissionsOf(file) & 0044, 0044);
        }
        if (trigger == u"application" || trigger == u"streams first") {
            // The sound server's news of the ended client refreshes the list.
            QTRY_VERIFY(!model->configuration().applicationPID);
        }
    }

    // Held while audio is recorded: one request per stretch of recording, with the reason; let
    // go while paused and once saved. Without any service the recording works as ever.
    void recordingKeepsTheDesktopAwake_data() {
        QTest::addColumn<QString>("service");
        for (const char* service : {"portal", "screen saver", "logind", "none"}) {
            QTest::newRow(service) << QString::fromLatin1(service);
        }
    }
    void recordingKeepsTheDesktopAwake() {
        QFETCH(QString, service);
        UserFolders folders;
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        MockBus bus;
        const QString portal = u"org.freedesktop.portal.Desktop"_s;
        const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
        const QString saver = u"org.freedesktop.ScreenSaver"_s;
        const QString saverPath = u"/org/freedesktop/ScreenSaver"_s;
        const QString addMethod = u"org.freedesktop.DBus.Mock.AddMethod"_s;
        // The reasons of what is held, as gdbus prints them.
        std::function<QString()> held = [] { return QString(); };
        if (service == u"portal") {
            QVERIFY(bus.mock({portal, portalPath, u"org.freedesktop.portal.Inhibit"_s}, portal));
            bus.call(portal, portalPath, addMethod,
                     {QString(), u"Inhibit"_s, u"sua{sv}"_s, u"o"_s,
                      u"p = '/org/freedesktop/portal/desktop/request/%d' % len(self.call_log); "
                      "self.held = getattr(self, 'held', {}); self.held[p] = args[2]['reason']; "
                      "self.AddObject(p, 'org.freedesktop.portal.Request', {}, [('Close', '', '', "
                      "'objects[\"/org/freedesktop/portal/desktop\"].held.pop(self.path)')]); "
                      "ret = dbus.ObjectPath(p)"_s});
            held = [&] {
                return bus.call(portal, portalPath, u"org.freedesktop.portal.Inhibit.Held"_s);
            };
        } else if (service == u"screen saver") {
            QVERIFY(bus.mock({saver, saverPath, saver}, saver));
            bus.call(saver, saverPath, addMethod,
                     {QString(), u"Inhibit"_s, u"ss"_s, u"u"_s,
                      u"self.held = getattr(self, 'held', {}); n = len(self.call_log); "
                      "self.held[n] = args[1]; ret = n"_s});
            bus.call(saver, saverPath, addMethod,
                     {QString(), u"UnInhibit"_s, u"u"_s, QString(), u"self.held.pop(args[0])"_s});
            held = [&] {
                return bus.call(saver, saverPath, u"org.freedesktop.ScreenSaver.Held"_s);
            };
        } else if (service == u"logind") {
            QVERIFY(bus.mock({u"--system"_s, u"--template"_s, u"logind"_s},
                             u"org.freedesktop.login1"_s));
            held = [&] {
                return bus.call(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s,
                                u"org.freedesktop.login1.Manager.ListInhibitors"_s);
            };
        }
        for (const QString& name : {portal, saver}) {
            bus.call(name, name == portal ? portalPath : saverPath, addMethod,
                     {QString(), u"Held"_s, QString(), u"as"_s,
                      u"ret = list(getattr(self, 'held', {}).values())"_s});
        }
        const auto holds = [&] { return static_cast<int>(held().count(u"Kivo 正在錄音"_s)); };
        const int whileRecording = service == u"none" ? 0 : 1;
        LinuxServices::Options options = folders.options();
        options.sessionBusAddress = options.systemBusAddress = bus.address;
        auto model = std::make_unique<AppModel>(LinuxServices::make(options));
        model->setConfiguration(folders.configuration());

        QVERIFY(startRecording(*model));
        QTRY_COMPARE(holds(), whileRecording);
        model->coordinator().togglePause();
        QTRY_COMPARE(holds(), 0);
        model->coordinator().togglePause();
        QTRY_COMPARE(holds(), whileRecording);
        QTest::qWait(300); // no second request
        QCOMPARE(holds(), whileRecording);
        QVERIFY(await([&](auto done) { model->stop(done); }));
        QCOMPARE(model->library().recordings.size(), 1);
        QVERIFY(!model->alertMessage());
        QTRY_COMPARE(holds(), 0);
    }

    // A player that broke off is dropped with the reason; the next press plays afresh. A
    // recovery that cannot begin says why and leaves nothing stuck.
    void brokenPartsSayWhyAndLeaveNothingStuck() {
        UserFolders folders;
        const QString file = folders.outputPath() + u"/tone.caf"_s;
        QVERIFY(QDir().mkpath(folders.outputPath()));
        writeTrackFile(file, silentSamples(48000 * 10));
        const RecordingRecord record =
            storedRecord(folders, u"播放"_s, RecordingMode::system, 1, {QUrl::fromLocalFile(file)});
        auto model = folders.model();
        PrivateServer server;
        QVERIFY(server.started());
        {
            const ScopedPulseServer elsewhere(server.address());
            model->play(record);
        }
        QVERIFY(model->playing());
        server.stop();
        QTRY_VERIFY(model->alertMessage().has_value());
        QVERIFY(model->alertMessage()->startsWith(u"無法播放音檔，檔案可能已移動。\n"_s));
        QVERIFY(!model->playbackID() && !model->playing());
        model->setAlertMessage(std::nullopt);
        model->play(record);
        QVERIFY(model->playing() && !model->alertMessage());
        model->stopPlayback();

        model.reset(); // its writer lock goes to the next one
        leftSession(folders, 0, 1);
        for (const bool threadless : {false, true}) {
            AppServices services = LinuxServices::make(folders.options());
            services.sessions.reset();
            if (threadless) {
                services.sessions = std::make_unique<ThreadlessSessions>();
            }
            AppModel recovering(std::move(services));
            QCOMPARE(recovering.recoveries().size(), 1);
            bool done = false;
            recovering.recover(recovering.recoveries().front(), [&] { done = true; });
            QVERIFY(done && !recovering.recovering() && recovering.canRecord());
            QVERIFY(recovering.alertMessage().value_or(QString()).startsWith(
                u"無法復原，暫存資料已保留。\n"_s));
            QCOMPARE(recovering.recoveries().size(), 1);
        }
    }

    // Markers of a real recording: where they land on its timeline (a pause before a mark moves
    // it back by the paused time), their labels as cleaned, the record and its document.
    void markersLandOnTheRecordingsTimeline() {
        UserFolders folders;
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        auto model = folders.model();
        model->setConfiguration(folders.configuration());
        model->addMarker(u"太早"_s); // nothing is recorded yet
        QVERIFY(!model->notice() && model->markers().isEmpty());
        QVERIFY(startRecording(*model));
        const auto mark = [&](const QString& label) {
            const auto count = model->markers().size();
            model->addMarker(label);
            return waitUntil([&] { return model->markers().size() == count + 1; }, 5000);
        };
        QTest::qWait(800);
        QVERIFY(mark(u"  開場 \n"_s));
        QCOMPARE(*model->notice(), u"已加入標記「開場」。"_s);
        model->coordinator().togglePause();
        const double pausedAt = model->coordinator().elapsed();
        QTest::qWait(700);
        QVERIFY(mark(QString())); // at the pause's moment
        model->coordinator().togglePause();
        QTest::qWait(500);
        QVERIFY(mark(QString(100, u'字')));
        QCOMPARE(model->markers().back().label, QString(80, u'字'));
        model->relabelLastMarker(u" 結論 "_s);
        QVERIFY(waitUntil([&] { return model->markers().back().label == u"結論"_s; }));
        QVERIFY(await([&](auto done) { model->stop(done); }, 60000));

        const RecordingRecord record = model->library().recordings.front();
        const auto& markers = record.markers();
        QCOMPARE(markers.size(), 3);
        QCOMPARE(QStringList({markers[0].label, markers[1].label, markers[2].label}),
                 QStringList({u"開場"_s, u"標記 2"_s, u"結論"_s}));
        QVERIFY2(std::abs(markers[0].at - 0.8) < 0.2, qPrintable(QString::number(markers[0].at)));
        QVERIFY(std::abs(markers[1].at - pausedAt) < 0.1);
        // Marked 0.5 s after the resume: the 0.7 s paused are left out.
        const double afterResume = markers[2].at - markers[1].at;
        QVERIFY2(afterResume > 0.45 && afterResume < 0.8, qPrintable(QString::number(afterResume)));
        QCOMPARE(LibraryStore(folders.library(), folders.output()).load(), model->library());
    }

    void libraryOperationsKeepTheDocument() {
        UserFolders folders;
        QDir().mkpath(folders.outputPath());
        const QString file = folders.outputPath() + u"/a.wav"_s;
        QFile(file).open(QIODevice::WriteOnly);
        KivoLibrary stored(folders.output());
        stored.recordings = {
            storedRecord(folders, u"XABY"_s, RecordingMode::system, 300,
                         {QUrl::fromLocalFile(file), QUrl::fromLocalFile(file + u'x')}),
            storedRecord(folders, u"ab 2"_s, RecordingMode::microphone, 100),
            storedRecord(folders, u"cd"_s, RecordingMode::microphone, 100),
            storedRecord(folders, u"ef"_s, RecordingMode::application, 200)};
        stored.recordings[2].setMarkers({{12, u"期末考的問題"_s}});
        saveLibrary(folders, stored);
        auto model = folders.model();
        const auto names = [&] {
            QStringList list;
            for (const auto& record : model->filteredRecords()) {
                list.append(record.name());
            }
            return list.join(u',');
        };
        QCOMPARE(names(), u"XABY,ef,ab 2,cd"_s);
        model->setNewestFirst(false);
        QCOMPARE(names(), u"ab 2,cd,ef,XABY"_s); // equal dates keep their order
        model->setSearch(u"ab"_s);
        QCOMPARE(names(), u"ab 2,XABY"_s);
        model->setSourceFilter(u"microphone"_s);
        QCOMPARE(names(), u"ab 2"_s);
        model->setSearch(u"考"_s); // a marker's label
        QCOMPARE(names(), u"cd"_s);

        const auto stored_ = [&] {
            return LibraryStore(folders.library(), folders.output()).load();
        };
        model->rename(stored.recordings[1], u"  新名字  "_s);
        QCOMPARE(stored_().recordings[1].name(), u"新名字"_s);
        QCOMPARE(*model->notice(), u"已儲存設定。"_s);
        model->setNotice(std::nullopt);
        model->rename(stored.recordings[1], u"   "_s);
        QVERIFY(!model->notice());
        model->rename(stored.recordings[1], QString(100, u'字'));
        QCOMPARE(stored_().recordings[1].name(), QString(80, u'字'));
        const auto markersOf = [&] { return stored_().recordings[2].markers(); };
        model->renameMarker(stored.recordings[2], 0, u" 期中考 "_s);
        model->renameMarker(stored.recordings[2], 0, u"  "_s);
        model->renameMarker(stored.recordings[2], 1, u"沒有這個"_s);
        QCOMPARE(markersOf(), QList<RecordingMarker>({{12, u"期中考"_s}}));
        model->removeMarker(stored.recordings[2], 0);
        QVERIFY(markersOf().isEmpty());

        model->savePreset(u" 會議 "_s);
        model->savePreset(u"  "_s);
        QCOMPARE(stored_().presets.size(), 1);
        QCOMPARE(stored_().presets.front().name, u" 會議 "_s);
        model->setPage(KivoPage::presets);
        RecordingConfiguration other = model->configuration();
        other.name = u"另一個"_s;
        model->setConfiguration(other);
        model->applyPreset(stored_().presets.front());
        QCOMPARE(model->page(), KivoPage::studio);
        QCOMPARE(*model->notice(), u"已套用「 會議 」。"_s);
        QCOMPARE(model->configuration().name, u"我的錄音"_s);
        RecordingConfiguration defaults = model->defaultConfiguration();
        defaults.highQuality = true;
        model->setDefaultConfiguration(defaults);
        model->saveDefaults();
        QCOMPARE(model->configuration(), defaults);
        QCOMPARE(stored_().settings, defaults);
        model->removePreset(stored_().presets.front());
        QVERIFY(stored_().presets.isEmpty());

        // The first file goes to the trash, the missing second one is skipped.
        model->trash(stored.recordings[0]);
        QCOMPARE(*model->notice(), u"已移至垃圾桶。"_s);
        QVERIFY(!QFileInfo::exists(file) && filesIn(folders.trash()).size() == 1);
        QCOMPARE(stored_().recordings.size(), 3);

        // Failures: a backup that cannot be written, for the trash and for a rename; the
        // rename is undone from the document, which is still readable.
        QFile::remove(folders.library() + u"/library.backup.json"_s);
        QDir().mkpath(folders.library() + u"/library.backup.json"_s);
        model->trash(stored.recordings[1]);
        QVERIFY(model->alertMessage()->startsWith(
            u"未完成刪除。部分音檔可能已移至垃圾桶，紀錄仍可用來檢查保存位置。\n"_s));
        QVERIFY(model->alertMessage()->size() > 40);
        QCOMPARE(model->library().recordings.size(), 3);
        model->setAlertMessage(std::nullopt);
        model->rename(stored.recordings[2], u"不會保存"_s);
        QVERIFY(model->alertMessage() && !model->alertMessage()->isEmpty());
        QCOMPARE(model->library().recordings[1].name(), u"cd"_s);

        model->play(storedRecord(folders, u"無檔"_s, RecordingMode::system, 1,
                                 {QUrl::fromLocalFile(file + u".gone"_s)}));
        QVERIFY(model->alertMessage()->startsWith(u"無法播放音檔，檔案可能已移動。\n"_s));
        QVERIFY(!model->playbackID() && !model->playing());
    }
};

KIVO_TEST_CLASS(AppModelTest)
#include "AppModelTest.moc"
