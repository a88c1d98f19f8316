#include "TestMain.h"

#include "infrastructure/capture/CaptureMixer.h"

#include <QTest>

#include <vector>

using namespace kivo;

namespace {

constexpr double kFrame = 1.0 / 48000.0;
// A grid-aligned time well away from zero, as monotonic stamps are.
constexpr double kBase = 1000.0;

// Interleaved stereo frames with the same value in both channels.
std::vector<float> constant(qint64 frames, float value) {
    return std::vector<float>(static_cast<std::size_t>(frames * 2), value);
}

std::vector<float> ramp(qint64 frames, float first) {
    std::vector<float> samples;
    for (qint64 i = 0; i < frames; ++i) {
        samples.push_back(first + static_cast<float>(i));
        samples.push_back(-(first + static_cast<float>(i)));
    }
    return samples;
}

struct Output {
    struct Piece {
        qint64 start; // grid frame
        std::vector<float> left;
        std::vector<float> right;
    };
    std::vector<Piece> pieces;

    CaptureMixer::Output handler() {
        return [this](PcmBuffer buffer, double hostTime) {
            QCOMPARE(buffer.format(), kWorkingFormat);
            const auto frames = static_cast<std::size_t>(buffer.frameLength());
            const auto left = buffer.channel(0);
            const auto right = buffer.channel(1);
            pieces.push_back(
                {CaptureMixer::frameAt(hostTime),
                 {left.begin(), left.begin() + static_cast<std::ptrdiff_t>(frames)},
                 {right.begin(), right.begin() + static_cast<std::ptrdiff_t>(frames)}});
        };
    }

    qint64 frames() const {
        qint64 total = 0;
        for (const auto& piece : pieces) {
            total += static_cast<qint64>(piece.left.size());
        }
        return total;
    }

    // The left channel laid out from `from`, zeros where nothing was handed on.
    std::vector<float> left(qint64 from, qint64 count) const {
        std::vector<float> samples(static_cast<std::size_t>(count), 0.0F);
        for (const auto& piece : pieces) {
            for (std::size_t i = 0; i < piece.left.size(); ++i) {
                const auto at = piece.start + static_cast<qint64>(i) - from;
                if (at >= 0 && at < count) {
                    samples[static_cast<std::size_t>(at)] += piece.left[i];
                }
            }
        }
        return samples;
    }

    bool contiguous() const {
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            if (pieces[i].start !=
                pieces[i - 1].start + static_cast<qint64>(pieces[i - 1].left.size())) {
                return false;
            }
        }
        return true;
    }
};

} // namespace

class CaptureMixerTest : public QObject {
    Q_OBJECT

private slots:
    void oneInputPassesThroughUnchangedAndContiguous() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        const auto base = CaptureMixer::frameAt(kBase);
        for (int i = 0; i < 10; ++i) {
            const auto samples = ramp(960, static_cast<float>(i * 960));
            mixer.push(1, samples.data(), 960, kBase + i * 960 * kFrame);
        }
        // With one input every fragment goes out as soon as it arrives.
        QCOMPARE(output.frames(), qint64{9600});
        QVERIFY(output.contiguous());
        QCOMPARE(output.pieces.front().start, base);
        const auto left = output.left(base, 9600);
        for (int i = 0; i < 9600; ++i) {
            QCOMPARE(left[static_cast<std::size_t>(i)], static_cast<float>(i));
        }
        QCOMPARE(output.pieces.back().right.back(), -9599.0F);
    }

    void twoInputsAreSummedOnTheirStamps() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        mixer.addInput(2);
        const auto base = CaptureMixer::frameAt(kBase);
        // Input 2 runs 300 frames behind input 1's phase; both deliver 960-frame fragments.
        for (int i = 0; i < 6; ++i) {
            const auto one = constant(960, 1.0F);
            mixer.push(1, one.data(), 960, kBase + i * 960 * kFrame);
            const auto two = constant(960, 2.0F);
            mixer.push(2, two.data(), 960, kBase + (300 + i * 960) * kFrame);
        }
        mixer.flushAll();
        QVERIFY(output.contiguous());
        const auto left = output.left(base, 300 + 6 * 960);
        QCOMPARE(left[0], 1.0F); // only input 1
        QCOMPARE(left[299], 1.0F);
        QCOMPARE(left[300], 3.0F); // both
        QCOMPARE(left[5759], 3.0F);
        QCOMPARE(left[5760], 2.0F); // only input 2 at the end
        QCOMPARE(left[6059], 2.0F);
    }

    void waitsForEveryInputBeforeHandingOn() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        mixer.addInput(2);
        const auto samples = constant(960, 1.0F);
        mixer.push(1, samples.data(), 960, kBase);
        mixer.push(1, samples.data(), 960, kBase + 960 * kFrame);
        QCOMPARE(output.frames(), qint64{0}); // input 2 has not delivered yet
        mixer.push(2, samples.data(), 960, kBase);
        QCOMPARE(output.frames(), qint64{960});
        QCOMPARE(output.left(CaptureMixer::frameAt(kBase), 960)[0], 2.0F);
    }

    void aStalledInputHoldsTheOthersUpOnlyForAWhile() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        mixer.addInput(2); // never delivers
        const auto samples = constant(960, 1.0F);
        for (int i = 0; i < 20; ++i) {
            mixer.push(1, samples.data(), 960, kBase + i * 960 * kFrame);
        }
        const auto held = 20 * 960 - output.frames();
        QVERIFY(held <= CaptureMixer::kMaxWaitFrames + 960);
        QVERIFY(held >= CaptureMixer::kMaxWaitFrames - 960);
        mixer.removeInput(2);
        QCOMPARE(output.frames(), qint64{20 * 960});
        QVERIFY(output.contiguous());
    }

    void lateAudioIsDroppedNotWrittenTwice() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        mixer.addInput(2);
        const auto one = constant(960, 1.0F);
        for (int i = 0; i < 20; ++i) {
            mixer.push(1, one.data(), 960, kBase + i * 960 * kFrame);
        }
        mixer.removeInput(2);
        mixer.addInput(3);
        const auto before = output.frames();
        const auto three = constant(960, 5.0F);
        mixer.push(3, three.data(), 960, kBase); // long gone
        mixer.flushAll();
        QCOMPARE(output.frames(), before);
        for (const auto& piece : output.pieces) {
            for (const auto sample : piece.left) {
                QCOMPARE(sample, 1.0F);
            }
        }
    }

    void anInputThatStepsBackDoesNotDoubleItsAudio() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        mixer.addInput(2);
        const auto one = constant(960, 1.0F);
        mixer.push(1, one.data(), 960, kBase);
        // Input 1's clock was measured again, 100 frames earlier.
        mixer.push(1, one.data(), 960, kBase + 860 * kFrame);
        const auto two = constant(1820, 2.0F);
        mixer.push(2, two.data(), 1820, kBase);
        mixer.flushAll();
        const auto left = output.left(CaptureMixer::frameAt(kBase), 1820);
        QCOMPARE(left[0], 3.0F);
        QCOMPARE(left[900], 3.0F); // not 4: the stepped-back frames were dropped
        QCOMPARE(left[1819], 3.0F);
        QCOMPARE(output.frames(), qint64{1820});
    }

    void roundingToTheGridNeverTearsAStream() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        // Stamps a fraction of a frame off the grid, as counted stamps are.
        for (int i = 0; i < 50; ++i) {
            const auto samples = constant(441, 1.0F);
            mixer.push(1, samples.data(), 441, kBase + 0.37 * kFrame + i * 441 * kFrame);
        }
        mixer.flushAll();
        QVERIFY(output.contiguous());
        QCOMPARE(output.frames(), qint64{50 * 441});
    }

    void aLongSilenceIsLeftAsAJumpInTheStamps() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        const auto samples = constant(960, 1.0F);
        mixer.push(1, samples.data(), 960, kBase);
        mixer.push(1, samples.data(), 960, kBase + 10.0); // the stream paused for ten seconds
        mixer.flushAll();
        QCOMPARE(output.frames(), qint64{1920});
        QCOMPARE(output.pieces.back().start, CaptureMixer::frameAt(kBase + 10.0));
    }

    void flushBeforeHandsOnWhatNoInputCompletes() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        mixer.addInput(2);
        const auto samples = constant(960, 1.0F);
        mixer.push(1, samples.data(), 960, kBase);
        QCOMPARE(output.frames(), qint64{0});
        mixer.flushBefore(kBase + 480 * kFrame);
        QCOMPARE(output.frames(), qint64{480});
        mixer.flushBefore(kBase + 5.0);
        QCOMPARE(output.frames(), qint64{960});
        // Audio for frames already handed on is late.
        mixer.push(2, samples.data(), 960, kBase + 2.0);
        mixer.flushAll();
        QCOMPARE(output.frames(), qint64{960});
    }

    void aFirstSecondHeldBackArrivesWhole() {
        Output output;
        CaptureMixer mixer(output.handler());
        mixer.addInput(1);
        const auto samples = ramp(60000, 0.0F);
        mixer.push(1, samples.data(), 60000, kBase);
        mixer.flushAll();
        QCOMPARE(output.frames(), qint64{60000});
        QVERIFY(output.contiguous());
        const auto left = output.left(CaptureMixer::frameAt(kBase), 60000);
        QCOMPARE(left[59999], 59999.0F);
    }

    void fragmentsOfUnknownInputsAreIgnored() {
        Output output;
        CaptureMixer mixer(output.handler());
        const auto samples = constant(960, 1.0F);
        mixer.push(7, samples.data(), 960, kBase);
        mixer.flushAll();
        QCOMPARE(output.frames(), qint64{0});
    }
};

KIVO_TEST_CLASS(CaptureMixerTest)
#include "CaptureMixerTest.moc"
