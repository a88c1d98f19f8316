#include "TestMain.h"

#include "infrastructure/capture/CaptureMixer.h"

#include <QRegularExpression>
#include <QTest>

#include <map>

using namespace kivo;

namespace {

// A grid-aligned time well away from zero, as monotonic stamps are.
constexpr double kBase = 1000.0;

// What the mixer handed on, summed onto the grid frames counted from kBase.
struct Output {
    std::map<qint64, float> left;
    qint64 frames = 0;
    qint64 firstStart = -1, lastStart = -1, nextStart = -1;
    bool contiguous = true;

    void take(const AudioFragment& fragment) {
        const qint64 start = CaptureMixer::frameAt(fragment.time) - CaptureMixer::frameAt(kBase);
        contiguous = contiguous && (nextStart < 0 || start == nextStart);
        firstStart = firstStart < 0 ? start : firstStart;
        lastStart = start;
        nextStart = start + fragment.frames;
        for (qint64 i = 0; i < fragment.frames; ++i) {
            left[start + i] += fragment.interleaved[2 * i];
            QCOMPARE(fragment.interleaved[2 * i + 1], -fragment.interleaved[2 * i]);
        }
        frames += fragment.frames;
    }
};

} // namespace

class CaptureMixerTest : public QObject {
    Q_OBJECT

private slots:
    // Script steps: +N / -N add or remove input N; N:FRAMESxVALUE@AT pushes a constant fragment
    // of input N stamped AT grid frames after kBase (N:FRAMES~FIRST@AT a ramp from FIRST),
    // *K repeats it K times back to back; "flush", "before:AT". Checks: =FRAMES (or a range
    // LOW..HIGH) handed on so far; Li=V the sum at frame i; "contiguous"; "first@AT", "last@AT";
    // "peak=V" the largest sample.
    void handsOnTheSumOfItsInputsOnTheGrid_data() {
        QTest::addColumn<QString>("script");
        const auto row = [](const char* name, const char* script) {
            QTest::newRow(name) << QString::fromLatin1(script);
        };
        row("one input passes through unchanged and at once",
            "+1 1:960~0@0*3 =2880 contiguous first@0 L0=0 L2879=2879");
        row("two inputs are summed on their stamps",
            "+1 +2 1:960x1@0*2 2:960x2@300*2 flush contiguous L0=1 L299=1 L300=3 L1919=3 L1920=2 "
            "L2219=2");
        row("waits for every input before handing on", "+1 +2 1:960x1@0*2 =0 2:960x1@0 =960 L0=2");
        row("a stalled input holds the others up only for a while",
            "+1 +2 1:960x1@0*20 =11040..12960 -2 =19200 contiguous");
        row("late audio is dropped, not written twice",
            "+1 +2 1:960x1@0*20 -2 +3 =19200 3:960x5@0 flush =19200 peak=1");
        row("an input that steps back does not double its audio",
            "+1 +2 1:960x1@0 1:960x1@860 2:1820x2@0 flush =1820 L0=3 L900=3 L1819=3");
        row("rounding to the grid never tears a stream",
            "+1 1:441x1@0.37*50 flush contiguous =22050");
        row("a long silence is left as a jump in the stamps",
            "+1 1:960x1@0 1:960x1@480000 flush =1920 last@480000");
        row("flushing hands on what no input completes, later audio is late",
            "+1 +2 1:960x1@0 =0 before:480 =480 before:240000 =960 2:960x1@96000 flush =960");
        row("a first second held back arrives whole",
            "+1 1:60000~0@0 flush =60000 contiguous L59999=59999");
        row("fragments of unknown inputs are ignored", "7:960x1@0 flush =0");
    }
    void handsOnTheSumOfItsInputsOnTheGrid() {
        QFETCH(QString, script);
        Output output;
        CaptureMixer mixer([&output](const AudioFragment& fragment) { output.take(fragment); });
        const double frame = 1.0 / 48000.0;
        for (const QString& step : script.split(u' ')) {
            const QString rest = step.mid(1);
            if (step[0] == u'+' || step[0] == u'-') {
                step[0] == u'+' ? mixer.addInput(rest.toULongLong())
                                : mixer.removeInput(rest.toULongLong());
            } else if (step == u"flush") {
                mixer.flushAll();
            } else if (step.startsWith(u"before:")) {
                mixer.flushBefore(kBase + step.mid(7).toDouble() * frame);
            } else if (step[0] == u'=') {
                const QStringList range = rest.split(QStringLiteral(".."));
                QVERIFY2(
                    output.frames >= range.first().toLongLong() &&
                        output.frames <= range.last().toLongLong(),
                    qPrintable(QStringLiteral("%1 frames at %2").arg(output.frames).arg(step)));
            } else if (step[0] == u'L') {
                const QStringList parts = rest.split(u'=');
                QCOMPARE(output.left[parts[0].toLongLong()], parts[1].toFloat());
            } else if (step == u"contiguous") {
                QVERIFY(output.contiguous);
            } else if (step.startsWith(u"first@") || step.startsWith(u"last@")) {
                QCOMPARE(step[0] == u'f' ? output.firstStart : output.lastStart,
                         step.section(u'@', 1).toLongLong());
            } else if (step.startsWith(u"peak=")) {
                for (const auto& [at, value] : output.left) {
                    QVERIFY(value <= step.mid(5).toFloat());
                }
            } else {
                // N:FRAMES(x|~)VALUE@AT[*K]
                const QStringList parts = step.split(QRegularExpression(QStringLiteral("[:x~@*]")));
                const qint64 frames = parts[1].toLongLong();
                const bool ramp = step.contains(u'~');
                double at = parts[3].toDouble();
                for (int k = 0; k < (parts.size() > 4 ? parts[4].toInt() : 1);
                     ++k, at += double(frames)) {
                    std::vector<float> samples;
                    for (qint64 i = 0; i < frames; ++i) {
                        const float value = parts[2].toFloat() + (ramp ? float(k * frames + i) : 0);
                        samples.insert(samples.end(), {value, -value});
                    }
                    mixer.push(parts[0].toULongLong(),
                               {samples.data(), frames, kBase + at * frame});
                }
            }
        }
    }
};

KIVO_TEST_CLASS(CaptureMixerTest)
#include "CaptureMixerTest.moc"
