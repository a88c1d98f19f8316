#include "TestMain.h"

#include "cli/CommandLine.h"
#include "domain/KivoError.h"

#include <QTest>

using namespace kivo;
using namespace kivo::cli;

namespace {

QStringList words(const char* line) {
    return QString::fromUtf8(line).split(u' ');
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void recordDefaultsToTheDefaultConfiguration() {
        const Invocation invocation = parse(words("record"), QStringLiteral("/home/u/Music/Kivo"));
        QCOMPARE(invocation.command, Command::record);
        QVERIFY(!invocation.seconds);
        QCOMPARE(*invocation.configuration,
                 RecordingConfiguration(QUrl(QStringLiteral("file:///home/u/Music/Kivo/"))));
    }

    void recordOptionsSetTheConfiguration() {
        const Invocation invocation =
            parse(words("record --app 4242 --no-mic --device 7 --format wav --high-quality "
                        "--separate-tracks --system-gain 0.25 --mic-gain 1 --name 週會_3/4 "
                        "--output /tmp/錄音 --seconds 2.5"),
                  QStringLiteral("/unused"));
        const RecordingConfiguration& c = *invocation.configuration;
        QCOMPARE(c.mode, RecordingMode::application); // --app alone implies the application mode
        QCOMPARE(c.applicationPID, std::optional<qint32>(4242));
        QVERIFY(!c.includesMicrophone);
        QCOMPARE(c.microphoneDeviceID, std::optional<quint32>(7));
        QCOMPARE(c.format, AudioOutputFormat::wav);
        QVERIFY(c.highQuality);
        QVERIFY(c.saveSeparateTracks);
        QCOMPARE(c.systemGain, 0.25F);
        QCOMPARE(c.microphoneGain, 1.0F);
        QCOMPARE(c.name, QStringLiteral("週會_3/4"));
        QCOMPARE(c.outputDirectory, QUrl::fromLocalFile(QStringLiteral("/tmp/錄音/")));
        QCOMPARE(invocation.seconds, std::optional<double>(2.5));
        QCOMPARE(parse(words("record --mode microphone"), QString()).configuration->mode,
                 RecordingMode::microphone);
    }

    void badInputIsRefusedWithAMessage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* arguments, const char* message) {
            QTest::newRow(name) << words(arguments) << QString::fromUtf8(message);
        };
        row("unknown command", "play", "未知的指令：play");
        row("unknown option", "record --loud", "未知的選項：--loud");
        row("missing value", "record --name", "選項 --name 需要一個值。");
        row("unknown mode", "record --mode screen",
            "未知的錄音模式：screen（可用 system、application、microphone）");
        row("format is lower case", "record --format AAC", "未知的格式：AAC（可用 aac、wav）");
        row("gain above 1", "record --mic-gain 1.5",
            "選項 --mic-gain 的增益必須是 0 到 1 之間的數字：1.5");
        row("gain not a number", "record --system-gain nan",
            "選項 --system-gain 的增益必須是 0 到 1 之間的數字：nan");
        row("negative seconds", "record --seconds -1", "選項 --seconds 需要一個大於 0 的秒數：-1");
        row("process id not a number", "record --app firefox",
            "選項 --app 需要一個行程編號：firefox");
        row("device id negative", "record --device -3", "選項 --device 需要一個裝置編號：-3");
        row("devices takes no option", "devices --all", "devices 不接受選項：--all");
    }
    void badInputIsRefusedWithAMessage() {
        QFETCH(QStringList, arguments);
        QTEST(test::thrownText([&] { parse(arguments, QStringLiteral("/home/u/Music/Kivo")); }),
              "message");
    }
};

KIVO_TEST_CLASS(CommandLineTest)
#include "CommandLineTest.moc"
