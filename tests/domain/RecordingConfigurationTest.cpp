#include "domain/RecordingConfiguration.h"
#include "domain/AudioOutputFormat.h"
#include "domain/KivoError.h"
#include "domain/RecordingMode.h"

#include "TestMain.h"

#include <QTest>

#include <limits>

using namespace kivo;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kivo::RecordingMode)

namespace {

const QUrl kFolder = QUrl::fromLocalFile(u"/home/user/Music/Kivo/"_s);
constexpr auto kSystem = RecordingMode::system;
constexpr auto kApplication = RecordingMode::application;
constexpr auto kMicrophone = RecordingMode::microphone;

RecordingConfiguration configured(RecordingMode mode, bool includesMicrophone) {
    RecordingConfiguration configuration(kFolder);
    configuration.mode = mode;
    configuration.includesMicrophone = includesMicrophone;
    return configuration;
}

} // namespace

class RecordingConfigurationTest : public QObject {
    Q_OBJECT

private slots:
    void sourcesAndTheirDescription_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<bool>("includesMicrophone");
        QTest::addColumn<QString>("applicationName");
        QTest::addColumn<bool>("capturesSystem");
        QTest::addColumn<bool>("capturesMicrophone");
        QTest::addColumn<QString>("description");
        const auto row = [](const char* name, RecordingMode mode, bool microphone, const char* app,
                            bool system, bool capturesMicrophone, const char* description) {
            QTest::newRow(name) << mode << microphone << QString::fromUtf8(app) << system
                                << capturesMicrophone << QString::fromUtf8(description);
        };
        row("system with microphone", kSystem, true, nullptr, true, true, "系統聲音＋麥克風");
        row("system alone", kSystem, false, nullptr, true, false, "系統聲音");
        row("application without a name", kApplication, true, nullptr, true, true,
            "指定 App＋麥克風");
        row("named application alone", kApplication, false, "Zoom", true, false, "Zoom");
        row("named application with microphone", kApplication, true, "Zoom", true, true,
            "Zoom＋麥克風");
        row("microphone ignores the switch", kMicrophone, false, nullptr, false, true, "麥克風");
        row("microphone with the switch on", kMicrophone, true, nullptr, false, true, "麥克風");
    }
    void sourcesAndTheirDescription() {
        QFETCH(RecordingMode, mode);
        QFETCH(bool, includesMicrophone);
        QFETCH(QString, applicationName);
        auto configuration = configured(mode, includesMicrophone);
        if (!applicationName.isNull()) {
            configuration.applicationName = applicationName;
        }
        QTEST(configuration.capturesSystem(), "capturesSystem");
        QTEST(configuration.capturesMicrophone(), "capturesMicrophone");
        QTEST(configuration.sourceDescription(), "description");
    }

    // The first problem found, name before folder before application; empty when it passes.
    void validationFailures_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QUrl>("folder");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<bool>("hasPID");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* text, QUrl folder, RecordingMode mode,
                            bool hasPID, const char* message) {
            QTest::newRow(name) << QString::fromUtf8(text) << folder << mode << hasPID
                                << QString::fromUtf8(message);
        };
        const char* noName = "請輸入錄音名稱。";
        const char* noFolder = "請選擇本機保存資料夾。";
        const QUrl web(u"https://example.com/"_s);
        row("empty name", "", kFolder, kSystem, false, noName);
        row("spaces and line breaks", " \n\r\t\u3000\u0085 ", kFolder, kSystem, false, noName);
        row("name checked before the folder", "  ", web, kApplication, false, noName);
        row("web folder", "錄音", web, kSystem, false, noFolder);
        row("relative folder", "錄音", QUrl(u"Music/"_s), kSystem, false, noFolder);
        row("no folder", "錄音", QUrl(), kSystem, false, noFolder);
        row("folder checked before the application", "錄音", web, kApplication, false, noFolder);
        row("application without a process", "錄音", kFolder, kApplication, false,
            "請選擇要錄製的 App。");
        row("application with a process", "錄音", kFolder, kApplication, true, "");
        row("system needs no process", "錄音", kFolder, kSystem, false, "");
        row("microphone needs no process", "錄音", kFolder, kMicrophone, false, "");
    }
    void validationFailures() {
        QFETCH(QString, name);
        QFETCH(QUrl, folder);
        QFETCH(RecordingMode, mode);
        QFETCH(bool, hasPID);
        RecordingConfiguration configuration(folder);
        configuration.name = name;
        configuration.mode = mode;
        configuration.applicationName = u"Zoom"_s;
        if (hasPID) {
            configuration.applicationPID = 4242;
        }
        const QString message = test::thrownText([&] { configuration.validated(); });
        QTEST(message == u"(nothing thrown)"_s ? QString() : message, "message");
    }

    void validatedClampsTheGains_data() {
        QTest::addColumn<float>("gain");
        QTest::addColumn<float>("expected");
        const float inf = std::numeric_limits<float>::infinity();
        const std::pair<float, float> rows[] = {{1.5F, 1.0F}, {-0.2F, 0.0F},  {0.0F, 0.0F},
                                                {1.0F, 1.0F}, {0.35F, 0.35F}, {std::nanf(""), 0.0F},
                                                {inf, 1.0F},  {-inf, 0.0F}};
        for (const auto& [gain, expected] : rows) {
            QTest::addRow("%g", double(gain)) << gain << expected;
        }
    }
    void validatedClampsTheGains() {
        QFETCH(float, gain);
        RecordingConfiguration configuration(kFolder);
        configuration.systemGain = configuration.microphoneGain = gain;
        const auto result = configuration.validated();
        QTEST(result.systemGain, "expected");
        QTEST(result.microphoneGain, "expected");
    }

    // Microphone mode turns the microphone on; separate tracks need two sources. The other
    // fields are kept.
    void validatedNormalisesTheSources_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<bool>("microphone");
        QTest::addColumn<bool>("separate");
        QTest::addColumn<bool>("expectedMicrophone");
        QTest::addColumn<bool>("expectedSeparate");
        QTest::newRow("microphone mode") << kMicrophone << false << true << true << false;
        QTest::newRow("system alone") << kSystem << false << true << false << false;
        QTest::newRow("system with microphone") << kSystem << true << true << true << true;
        QTest::newRow("system with microphone, no separation")
            << kSystem << true << false << true << false;
        QTest::newRow("application alone") << kApplication << false << true << false << false;
        QTest::newRow("application with microphone")
            << kApplication << true << true << true << true;
    }
    void validatedNormalisesTheSources() {
        QFETCH(RecordingMode, mode);
        QFETCH(bool, microphone);
        QFETCH(bool, separate);
        QFETCH(bool, expectedMicrophone);
        QFETCH(bool, expectedSeparate);
        auto configuration = configured(mode, microphone);
        configuration.saveSeparateTracks = separate;
        configuration.applicationPID = 501;
        configuration.applicationName = u"Zoom"_s;
        configuration.applicationBundleID = u"zoom"_s;
        configuration.microphoneDeviceID = 3;
        configuration.format = AudioOutputFormat::wav;
        configuration.highQuality = true;
        auto expected = configuration;
        expected.includesMicrophone = expectedMicrophone;
        expected.saveSeparateTracks = expectedSeparate;
        QCOMPARE(configuration.validated(), expected);
        QVERIFY(expected == expected.validated());
    }
};

KIVO_TEST_CLASS(RecordingConfigurationTest)
#include "RecordingConfigurationTest.moc"
