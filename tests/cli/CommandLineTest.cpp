#include "TestMain.h"

#include "cli/CommandLine.h"
#include "domain/KivoError.h"

#include <QTest>

using namespace kivo;
using namespace kivo::cli;

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void recordDefaultsToTheDefaultConfiguration() {
        const Invocation invocation =
            parse({QStringLiteral("record")}, QStringLiteral("/home/u/Music/Kivo"));
        QCOMPARE(invocation.command, Command::record);
        QVERIFY(!invocation.seconds);
        const RecordingConfiguration expected(QUrl(QStringLiteral("file:///home/u/Music/Kivo/")));
        QCOMPARE(*invocation.configuration, expected);
        QCOMPARE(invocation.configuration->name, QStringLiteral("我的錄音"));
    }

    void recordOptionsSetTheConfiguration() {
        const Invocation invocation =
            parse(QStringList{QStringLiteral("record"),         QStringLiteral("--app"),
                              QStringLiteral("4242"),           QStringLiteral("--no-mic"),
                              QStringLiteral("--device"),       QStringLiteral("7"),
                              QStringLiteral("--format"),       QStringLiteral("wav"),
                              QStringLiteral("--high-quality"), QStringLiteral("--separate-tracks"),
                              QStringLiteral("--system-gain"),  QStringLiteral("0.25"),
                              QStringLiteral("--mic-gain"),     QStringLiteral("1"),
                              QStringLiteral("--name"),         QStringLiteral("週會 3/4"),
                              QStringLiteral("--output"),       QStringLiteral("/tmp/錄音"),
                              QStringLiteral("--seconds"),      QStringLiteral("2.5")},
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
        QCOMPARE(c.name, QStringLiteral("週會 3/4"));
        QCOMPARE(c.outputDirectory, QUrl::fromLocalFile(QStringLiteral("/tmp/錄音/")));
        QCOMPARE(invocation.seconds, std::optional<double>(2.5));

        const Invocation microphone = parse(
            {QStringLiteral("record"), QStringLiteral("--mode"), QStringLiteral("microphone")},
            QStringLiteral("/unused"));
        QCOMPARE(microphone.configuration->mode, RecordingMode::microphone);
    }

    void badInputIsRefusedWithAMessage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, QStringList arguments, const char* message) {
            QTest::newRow(name) << arguments << QString::fromUtf8(message);
        };
        row("unknown command", {QStringLiteral("play")}, "未知的指令：play");
        row("unknown option", {QStringLiteral("record"), QStringLiteral("--loud")},
            "未知的選項：--loud");
        row("missing value", {QStringLiteral("record"), QStringLiteral("--name")},
            "選項 --name 需要一個值。");
        row("unknown mode",
            {QStringLiteral("record"), QStringLiteral("--mode"), QStringLiteral("screen")},
            "未知的錄音模式：screen（可用 system、application、microphone）");
        row("format is lower case",
            {QStringLiteral("record"), QStringLiteral("--format"), QStringLiteral("AAC")},
            "未知的格式：AAC（可用 aac、wav）");
        row("gain above 1",
            {QStringLiteral("record"), QStringLiteral("--mic-gain"), QStringLiteral("1.5")},
            "選項 --mic-gain 的增益必須是 0 到 1 之間的數字：1.5");
        row("gain not a number",
            {QStringLiteral("record"), QStringLiteral("--system-gain"), QStringLiteral("nan")},
            "選項 --system-gain 的增益必須是 0 到 1 之間的數字：nan");
        row("negative seconds",
            {QStringLiteral("record"), QStringLiteral("--seconds"), QStringLiteral("-1")},
            "選項 --seconds 需要一個大於 0 的秒數：-1");
        row("process id not a number",
            {QStringLiteral("record"), QStringLiteral("--app"), QStringLiteral("firefox")},
            "選項 --app 需要一個行程編號：firefox");
        row("device id negative",
            {QStringLiteral("record"), QStringLiteral("--device"), QStringLiteral("-3")},
            "選項 --device 需要一個裝置編號：-3");
        row("devices takes no option", {QStringLiteral("devices"), QStringLiteral("--all")},
            "devices 不接受選項：--all");
    }
    void badInputIsRefusedWithAMessage() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        try {
            parse(arguments, QStringLiteral("/home/u/Music/Kivo"));
            QFAIL("accepted");
        } catch (const KivoError& error) {
            QCOMPARE(error.text(), message);
        }
    }
};

KIVO_TEST_CLASS(CommandLineTest)
#include "CommandLineTest.moc"
