#include "domain/RecordingConfiguration.h"
#include "domain/AudioOutputFormat.h"
#include "domain/KivoError.h"
#include "domain/RecordingMode.h"

#include "TestMain.h"

#include <QTest>

#include <limits>

using namespace kivo;

Q_DECLARE_METATYPE(kivo::RecordingMode)

namespace {

const QUrl kFolder = QUrl::fromLocalFile(QStringLiteral("/home/user/Music/Kivo/"));

QString repeated(const QString& piece, int times) {
    QString text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

// The message validated() fails with, or an empty text when it passes.
QString validationMessage(const RecordingConfiguration& configuration) {
    try {
        configuration.validated();
        return {};
    } catch (const KivoError& error) {
        return error.text();
    }
}

} // namespace

class RecordingConfigurationTest : public QObject {
    Q_OBJECT

private slots:
    void equalityComparesEveryField() {
        const RecordingConfiguration base(kFolder);
        QVERIFY(base == RecordingConfiguration(kFolder));
        QVERIFY(base ==
                RecordingConfiguration(QUrl(QStringLiteral("file:///home/user/Music/Kivo/"))));

        auto changed = base;
        changed.applicationPID = 0;
        QVERIFY(changed != base); // zero is not absent
        changed = base;
        changed.applicationName = QString();
        QVERIFY(changed != base); // an empty text is not absent
        changed = base;
        changed.microphoneGain = 0.70001F;
        QVERIFY(changed != base);
        changed = base;
        changed.outputDirectory = QUrl::fromLocalFile(QStringLiteral("/home/user/Music/Kivo"));
        QVERIFY(changed != base);
        changed = base;
        changed.highQuality = true;
        QVERIFY(changed != base);
    }

    void sourcesAndTheirDescription_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<bool>("includesMicrophone");
        QTest::addColumn<QString>("applicationName");
        QTest::addColumn<bool>("capturesSystem");
        QTest::addColumn<bool>("capturesMicrophone");
        QTest::addColumn<QString>("description");
        const auto system = RecordingMode::system;
        const auto application = RecordingMode::application;
        const auto microphone = RecordingMode::microphone;
        QTest::newRow("system with microphone")
            << system << true << QString() << true << true << QStringLiteral("系統聲音＋麥克風");
        QTest::newRow("system alone")
            << system << false << QString() << true << false << QStringLiteral("系統聲音");
        QTest::newRow("application without a name") << application << true << QString() << true
                                                    << true << QStringLiteral("指定 App＋麥克風");
        QTest::newRow("named application alone") << application << false << QStringLiteral("Zoom")
                                                 << true << false << QStringLiteral("Zoom");
        QTest::newRow("named application with microphone")
            << application << true << QStringLiteral("Zoom") << true << true
            << QStringLiteral("Zoom＋麥克風");
        QTest::newRow("microphone ignores the switch")
            << microphone << false << QString() << false << true << QStringLiteral("麥克風");
        QTest::newRow("microphone with the switch on")
            << microphone << true << QString() << false << true << QStringLiteral("麥克風");
    }
    void sourcesAndTheirDescription() {
        QFETCH(RecordingMode, mode);
        QFETCH(bool, includesMicrophone);
        QFETCH(QString, applicationName);
        RecordingConfiguration configuration(kFolder);
        configuration.mode = mode;
        configuration.includesMicrophone = includesMicrophone;
        if (!applicationName.isNull()) {
            configuration.applicationName = applicationName;
        }
        QTEST(configuration.capturesSystem(), "capturesSystem");
        QTEST(configuration.capturesMicrophone(), "capturesMicrophone");
        QTEST(configuration.sourceDescription(), "description");
    }

    void validationFailures_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QUrl>("folder");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<bool>("hasPID");
        QTest::addColumn<QString>("message");
        const QString noName = QStringLiteral("請輸入錄音名稱。");
        const QString noFolder = QStringLiteral("請選擇本機保存資料夾。");
        const QString noApp = QStringLiteral("請選擇要錄製的 App。");
        QTest::newRow("empty name")
            << QString() << kFolder << RecordingMode::system << false << noName;
        QTest::newRow("spaces and line breaks") << QStringLiteral(" \n\r\t\u3000\u0085 ") << kFolder
                                                << RecordingMode::system << false << noName;
        QTest::newRow("name checked before the folder")
            << QStringLiteral("  ") << QUrl(QStringLiteral("https://example.com/"))
            << RecordingMode::application << false << noName;
        QTest::newRow("web folder")
            << QStringLiteral("錄音") << QUrl(QStringLiteral("https://example.com/music/"))
            << RecordingMode::system << false << noFolder;
        QTest::newRow("relative folder") << QStringLiteral("錄音") << QUrl(QStringLiteral("Music/"))
                                         << RecordingMode::system << false << noFolder;
        QTest::newRow("no folder")
            << QStringLiteral("錄音") << QUrl() << RecordingMode::system << false << noFolder;
        QTest::newRow("folder checked before the application")
            << QStringLiteral("錄音") << QUrl(QStringLiteral("ftp://host/"))
            << RecordingMode::application << false << noFolder;
        QTest::newRow("application without a process")
            << QStringLiteral("錄音") << kFolder << RecordingMode::application << false << noApp;
        QTest::newRow("application with a process")
            << QStringLiteral("錄音") << kFolder << RecordingMode::application << true << QString();
        QTest::newRow("system needs no process")
            << QStringLiteral("錄音") << kFolder << RecordingMode::system << false << QString();
        QTest::newRow("microphone needs no process")
            << QStringLiteral("錄音") << kFolder << RecordingMode::microphone << false << QString();
    }
    void validationFailures() {
        QFETCH(QString, name);
        QFETCH(QUrl, folder);
        QFETCH(RecordingMode, mode);
        QFETCH(bool, hasPID);
        RecordingConfiguration configuration(folder);
        configuration.name = name;
        configuration.mode = mode;
        configuration.applicationName = QStringLiteral("Zoom");
        if (hasPID) {
            configuration.applicationPID = 4242;
        }
        QTEST(validationMessage(configuration), "message");
    }

    // Trimmed first, then cut to eighty characters (grapheme clusters), so leading white space
    // does not use up the eighty.
    void validatedTrimsAndCutsTheName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        const QString family = QStringLiteral("👨‍👩‍👧‍👦");
        const QString accented = QStringLiteral("e\u0301");
        QTest::newRow("trimmed") << QStringLiteral("  \n週會紀錄\u3000 ")
                                 << QStringLiteral("週會紀錄");
        QTest::newRow("100 letters") << QString(100, u'a') << QString(80, u'a');
        QTest::newRow("80 emoji") << repeated(family, 80) << repeated(family, 80);
        QTest::newRow("81 emoji") << repeated(family, 81) << repeated(family, 80);
        QTest::newRow("trimmed before the cut")
            << QStringLiteral("    ") + repeated(accented, 85) << repeated(accented, 80);
    }
    void validatedTrimsAndCutsTheName() {
        QFETCH(QString, name);
        RecordingConfiguration configuration(kFolder);
        configuration.name = name;
        QTEST(configuration.validated().name, "expected");
        QCOMPARE(configuration.name, name); // the receiver is not changed
    }

    void validatedClampsTheGains_data() {
        QTest::addColumn<float>("gain");
        QTest::addColumn<float>("expected");
        QTest::newRow("above one") << 1.5F << 1.0F;
        QTest::newRow("below zero") << -0.2F << 0.0F;
        QTest::newRow("exactly zero") << 0.0F << 0.0F;
        QTest::newRow("exactly one") << 1.0F << 1.0F;
        QTest::newRow("inside") << 0.35F << 0.35F;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0.0F;
        QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << 1.0F;
        QTest::newRow("minus infinity") << -std::numeric_limits<float>::infinity() << 0.0F;
    }
    void validatedClampsTheGains() {
        QFETCH(float, gain);
        QFETCH(float, expected);
        RecordingConfiguration configuration(kFolder);
        configuration.systemGain = gain;
        configuration.microphoneGain = gain;
        const auto result = configuration.validated();
        QCOMPARE(result.systemGain, expected);
        QCOMPARE(result.microphoneGain, expected);
    }

    void validatedNormalisesTheSources_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<bool>("includesMicrophone");
        QTest::addColumn<bool>("saveSeparateTracks");
        QTest::addColumn<bool>("expectedIncludesMicrophone");
        QTest::addColumn<bool>("expectedSaveSeparateTracks");
        QTest::newRow("microphone mode turns the microphone on and separation off")
            << RecordingMode::microphone << false << true << true << false;
        QTest::newRow("system alone cannot separate")
            << RecordingMode::system << false << true << false << false;
        QTest::newRow("system with microphone keeps separation")
            << RecordingMode::system << true << true << true << true;
        QTest::newRow("system with microphone, no separation")
            << RecordingMode::system << true << false << true << false;
        QTest::newRow("application alone cannot separate")
            << RecordingMode::application << false << true << false << false;
        QTest::newRow("application with microphone keeps separation")
            << RecordingMode::application << true << true << true << true;
    }
    void validatedNormalisesTheSources() {
        QFETCH(RecordingMode, mode);
        QFETCH(bool, includesMicrophone);
        QFETCH(bool, saveSeparateTracks);
        RecordingConfiguration configuration(kFolder);
        configuration.mode = mode;
        configuration.applicationPID = 77;
        configuration.includesMicrophone = includesMicrophone;
        configuration.saveSeparateTracks = saveSeparateTracks;
        const auto result = configuration.validated();
        QTEST(result.includesMicrophone, "expectedIncludesMicrophone");
        QTEST(result.saveSeparateTracks, "expectedSaveSeparateTracks");
    }

    void validatedKeepsTheOtherFields() {
        RecordingConfiguration configuration(kFolder);
        configuration.mode = RecordingMode::microphone;
        configuration.applicationPID = 501;
        configuration.applicationName = QStringLiteral("Zoom");
        configuration.applicationBundleID = QStringLiteral("zoom");
        configuration.microphoneDeviceID = 3;
        configuration.format = AudioOutputFormat::wav;
        configuration.highQuality = true;
        const auto result = configuration.validated();
        auto expected = configuration;
        expected.includesMicrophone = true;
        QCOMPARE(result, expected);
        QVERIFY(result == result.validated());
    }

    void outputFormatRawValuesAreExact_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("expected"); // -1: no format
        QTest::newRow("AAC") << QStringLiteral("AAC") << int(AudioOutputFormat::aac);
        QTest::newRow("WAV") << QStringLiteral("WAV") << int(AudioOutputFormat::wav);
        QTest::newRow("lower-case wav") << QStringLiteral("wav") << -1;
        QTest::newRow("lower-case aac") << QStringLiteral("aac") << -1;
        QTest::newRow("extension") << QStringLiteral("m4a") << -1;
        QTest::newRow("empty") << QString() << -1;
    }
    void outputFormatRawValuesAreExact() {
        QFETCH(QString, raw);
        QFETCH(int, expected);
        const auto format = audioOutputFormatFromRawValue(raw);
        QCOMPARE(format ? int(*format) : -1, expected);
    }
};

KIVO_TEST_CLASS(RecordingConfigurationTest)
#include "RecordingConfigurationTest.moc"
