#include "TestMain.h"

#include "cli/CommandLine.h"

#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;
using namespace kivo::cli;

// Arguments as kivo-cli reads them; each row is one command line, split at spaces, and what it
// gives: the command and its settings, or the message that refuses it.
class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void argumentsBecomeOneInvocation_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* line, const char* expected) {
            QTest::newRow(line) << QString::fromUtf8(line) << QString::fromUtf8(expected);
        };
        row("record", "record 我的錄音 system mic wav /m/Kivo/ -");
        row("record --app 42 --no-mic --format aac --name 週會 --output /tmp/x --seconds 2.5",
            "record 週會 application nomic aac /tmp/x/ 2.5");
        row("record --mode microphone --no-mic --mic --seconds 2147483",
            "record 我的錄音 microphone mic wav /m/Kivo/ 2147483");
        row("list --search ab --source microphone --oldest-first --json",
            "list ab microphone old json");
        row("recover", "recover - -");
        row("recover --all", "recover - all");
        row("recover 1B4E28BA-2FA1-11D2-883F-0016D3CCA427",
            "recover 1B4E28BA-2FA1-11D2-883F-0016D3CCA427 -");
        row("rename abc 新名字", "rename abc 新名字");
        row("trash abc", "trash abc");
        row("play abc", "play abc");
        row("play abc --from-marker 2", "play abc 2");
        row("markers abc", "markers abc");
        row("status --json", "status json");
        row("play abc --from-marker 0", "選項 --from-marker 需要一個從 1 起算的標記編號。");
        row("status --all", "未知的選項：--all");
        row("presets", "presets");
        row("record --seconds 2147484",
            "選項 --seconds 需要一個大於 0、不超過 2147483 的秒數：2147484");
        row("record --seconds 0", "選項 --seconds 需要一個大於 0、不超過 2147483 的秒數：0");
        row("record --seconds --name x", "選項 --seconds 需要一個值。");
        row("record --name", "選項 --name 需要一個值。");
        row("record --mic-gain 1.5", "選項 --mic-gain 的增益必須是 0 到 1 之間的數字：1.5");
        row("record --mode screen",
            "未知的錄音模式：screen（可用 system、application、microphone）");
        row("list --source speakers",
            "未知的來源：speakers（可用 all、system、application、microphone）");
        row("recover a b", "用法：kivo-cli recover [編號 | --all]");
        row("rename abc", "rename 需要錄音編號與新名稱。");
        row("trash", "trash 需要一個錄音編號。");
        row("devices --all", "devices 不接受選項：--all");
        row("frobnicate", "未知的指令：frobnicate");
    }
    void argumentsBecomeOneInvocation() {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QString got;
        try {
            const Invocation i = parse(line.split(u' '));
            const QStringList commands =
                u"record devices apps list recover rename trash presets play markers status help"_s
                    .split(u' ');
            QStringList parts{commands[static_cast<int>(i.command)]};
            if (i.command == Command::record) {
                // Options change the stored defaults, one field each.
                RecordingConfiguration defaults(QUrl::fromLocalFile(u"/m/Kivo/"_s));
                defaults.format = AudioOutputFormat::wav;
                const RecordingConfiguration c = i.recordingFrom(defaults);
                parts << c.name << rawValue(c.mode)
                      << (c.includesMicrophone ? u"mic"_s : u"nomic"_s)
                      << fileExtension(c.format).replace(u"m4a"_s, u"aac"_s)
                      << c.outputDirectory.toLocalFile()
                      << (i.seconds ? QString::number(*i.seconds, 'g', 10) : u"-"_s);
            } else if (i.command == Command::list) {
                parts << i.search << i.source << (i.oldestFirst ? u"old"_s : QString())
                      << (i.json ? u"json"_s : QString());
            } else if (i.command == Command::recover) {
                parts << i.id.value_or(u"-"_s) << (i.all ? u"all"_s : u"-"_s);
            } else if (i.command == Command::status) {
                parts << (i.json ? u"json"_s : QString());
            } else if (i.id) {
                parts << *i.id;
                if (i.command == Command::rename) {
                    parts << i.name;
                }
                if (i.fromMarker) {
                    parts << QString::number(*i.fromMarker);
                }
            }
            got = parts.join(u' ');
        } catch (const KivoError& error) {
            got = error.text();
        }
        QCOMPARE(got, expected);
    }
};

KIVO_TEST_CLASS(CommandLineTest)
#include "CommandLineTest.moc"
