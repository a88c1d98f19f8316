#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/audio/SessionExport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <future>

#include <sndfile.h>

#include <sys/mount.h>
#include <sys/stat.h>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

QStringList unfinished(const QString& folder) {
    return QDir(folder).entryList({u".kivo-*"_s}, QDir::Files | QDir::Hidden);
}

ino_t inode(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The markers a kept file carries: an MPEG-4 file's chapters as ffprobe reads them, a WAV
// file's cue points and their labels as libsndfile reads them.
QList<RecordingMarker> markersIn(const QString& path) {
    QList<RecordingMarker> markers;
    if (path.endsWith(u".m4a"_s)) {
        for (const auto chapter : test::probeFile(path).value(u"chapters").toArray()) {
            markers.append({chapter[u"start_time"_s].toString().toDouble(),
                            chapter[u"tags"_s][u"title"_s].toString()});
        }
        return markers;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    uint32_t count = 0;
    sf_command(file, SFC_GET_CUE_COUNT, &count, sizeof(count));
    auto cues = std::make_unique<SF_CUES>();
    if (count > 0 && sf_command(file, SFC_GET_CUE, cues.get(), sizeof(SF_CUES)) == SF_TRUE) {
        for (uint32_t i = 0; i < cues->cue_count; ++i) {
            markers.append({cues->cue_points[i].sample_offset / 48000.0,
                            QString::fromUtf8(cues->cue_points[i].name)});
        }
    }
    sf_close(file);
    return markers;
}

bool sameMarkers(const QList<RecordingMarker>& found, const QList<RecordingMarker>& expected,
                 double within) {
    return std::equal(found.begin(), found.end(), expected.begin(), expected.end(),
                      [within](const auto& a, const auto& b) {
                          return a.label == b.label && std::abs(a.at - b.at) <= within;
                      });
}

const AudioRecordingWriter::AvailableCapacity plenty = [](const QString&) {
    return std::optional<std::uint64_t>(1'000'000'000);
};

} // namespace

// The files written while recording, against the export from the track files at the stop.
class LiveExportTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root;
    QString m_output;
    bool m_mounted = false;

    RecordingConfiguration configuration(AudioOutputFormat format, bool separate) const {
        RecordingConfiguration c(QUrl::fromLocalFile(m_output + u'/'));
        c.name = u"講座"_s;
        c.includesMicrophone = true;
        c.saveSeparateTracks = separate;
        c.format = format;
        c.systemGain = c.microphoneGain = 1.0F;
        return c;
    }

    // Activates at host time 0 and feeds `seconds` of a tone (system) and noise (microphone)
    // in 20 ms buffers, with a stretch the microphone skips, a pause and a gain change; returns
    // the end. `during` runs before each buffer with its number and host time (at the 150th,
    // 0.2 s into the pause).
    static double record(AudioRecordingWriter& writer, double seconds,
                         const std::function<void(int, double)>& during = {}) {
        writer.activate(0.0);
        const auto noise = test::noise(960);
        double at = 0.0;
        for (int i = 0; at < seconds; ++i, at += 0.02) {
            if (i == 150) {
                writer.pause(at);
                if (during) {
                    during(i, at + 0.2);
                }
                writer.resume(at + 0.5);
                at += 0.5;
            } else if (during) {
                during(i, at);
            }
            if (i == 200) {
                writer.setGains(0.5F, 0.25F);
            }
            PcmBuffer tone(kWorkingFormat, 960);
            for (qint64 n = 0; n < 960; ++n) {
                tone.channel(0)[n] = tone.channel(1)[n] = test::tone(440, 48000, i * 960 + n);
            }
            tone.setFrameLength(960);
            writer.appendAsync(std::move(tone), AudioSource::system, at);
            if (i < 60 || i > 75) {
                PcmBuffer mic(kWorkingFormat, 960);
                std::copy(noise.left.begin(), noise.left.end(), mic.channel(0).begin());
                std::copy(noise.right.begin(), noise.right.end(), mic.channel(1).begin());
                mic.setFrameLength(960);
                writer.appendAsync(std::move(mic), AudioSource::microphone, at + 0.003);
            }
        }
        writer.queue().sync([] {});
        return at;
    }

private slots:
    void init() {
        m_root = m_dir.filePath(u"Captures"_s);
        m_output = m_dir.filePath(u"out"_s);
        QDir(m_root).removeRecursively();
        QDir(m_output).removeRecursively();
    }
    void cleanup() {
        if (m_mounted) {
            ::umount2(QFile::encodeName(m_output).constData(), MNT_DETACH);
            m_mounted = false;
        }
    }

    void liveFilesEqualTheExportFromTheTracks_data() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<bool>("separate");
        QTest::newRow("WAV") << AudioOutputFormat::wav << false;
        QTest::newRow("WAV, separate tracks") << AudioOutputFormat::wav << true;
        QTest::newRow("AAC, separate tracks") << AudioOutputFormat::aac << true;
    }
    void liveFilesEqualTheExportFromTheTracks() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, separate);
        AudioRecordingWriter writer(configuration(format, separate), m_root, plenty);
        // One marked during the pause (at its moment), one after it (the pause left out).
        const QList<RecordingMarker> marked{{1.0, u"開場"_s},
                                            {3.0, u"關於考試的問題 🙋🏽‍♀️"_s},
                                            {4.0, u"結論"_s}};
        const double end = record(writer, 5.0, [&](int i, double at) {
            if (i == 50 || i == 150 || i == 200) {
                writer.addMarker(at, marked[i / 100].label, [](Result<RecordingMarker>) {});
            }
        });
        // Written as the audio arrives, behind the tracks (AAC goes to the disk in larger
        // pieces).
        const auto written = [&] {
            const auto names = unfinished(m_output);
            return names.isEmpty() ? 0 : QFileInfo(QDir(m_output).filePath(names[0])).size();
        };
        QTRY_VERIFY(format == AudioOutputFormat::aac || written() > 100000);
        const auto merged = inode(QDir(m_output).filePath(unfinished(m_output).value(0)));
        const auto live = test::finishAndWait(writer, end);
        QVERIFY2(live.ok(), qPrintable(live.errorDescription()));
        QVERIFY(unfinished(m_output).isEmpty());
        // The stop put the file written while recording in place; it did not export again.
        QCOMPARE(inode(live.value().files()[0].toLocalFile()), merged);
        const auto frames = std::llround(live.value().duration() * 48000);
        if (format == AudioOutputFormat::aac) {
            QCOMPARE(frames % 1024, 0); // whole encoder frames, no padding after the audio
        }

        const auto atStop =
            SessionExport::exportSession(writer.manifest(), writer.directory(), frames);
        QCOMPARE(atStop.files().size(), separate ? 3 : 1);
        QVERIFY(sameMarkers(live.value().markers(), marked, 1e-9));
        QVERIFY(sameMarkers(atStop.markers(), marked, 1e-9));
        for (qsizetype i = 0; i < atStop.files().size(); ++i) {
            const QString livePath = live.value().files()[i].toLocalFile();
            const QString stopPath = atStop.files()[i].toLocalFile();
            // Times to the millisecond, labels exact.
            QVERIFY2(sameMarkers(markersIn(livePath), marked, 0.001), qPrintable(livePath));
            QVERIFY2(sameMarkers(markersIn(stopPath), marked, 0.001), qPrintable(stopPath));
            if (format == AudioOutputFormat::wav) {
                QCOMPARE(contents(livePath), contents(stopPath));
                continue;
            }
            const auto heard = test::decodeFile(livePath);
            const auto expected = test::decodeFile(stopPath);
            QCOMPARE(heard.frames(), frames);
            QCOMPARE(expected.frames(), frames);
            QCOMPARE(test::peakLevel(heard.left), test::peakLevel(expected.left));
        }
    }

    // When the output folder fails during the recording, the recording goes on into its
    // tracks, the unfinished files go, and the stop exports from the tracks.
    void anOutputThatFailsLeavesTheExportToTheStop_data() {
        QTest::addColumn<bool>("full");
        QTest::newRow("full output volume") << true;
        QTest::newRow("output folder removed") << false;
    }
    void anOutputThatFailsLeavesTheExportToTheStop() {
        QFETCH(bool, full);
        QVERIFY(QDir().mkpath(m_output));
        const QString filler = m_output + u"/filler"_s;
        if (full) {
            if (::mount("tmpfs", QFile::encodeName(m_output).constData(), "tmpfs", 0, "size=4m") !=
                0) {
                QSKIP("A small volume for the output needs the right to mount a tmpfs.");
            }
            m_mounted = true;
            QFile fill(filler);
            QVERIFY(fill.open(QIODevice::WriteOnly));
            fill.write(QByteArray(3'900'000, 'x'));
        }
        AudioRecordingWriter writer(configuration(AudioOutputFormat::wav, false), m_root, plenty);
        writer.onLevels = [&](float, float) {
            // Once the recording runs, its output folder goes.
            if (!full && !unfinished(m_output).isEmpty()) {
                QDir(m_output).removeRecursively();
            }
        };
        const double end = record(writer, 4.0);
        if (full) {
            QTRY_VERIFY(unfinished(m_output).isEmpty());
            QVERIFY(QFile::remove(filler));
        }
        const auto result = test::finishAndWait(writer, end);
        QVERIFY2(result.ok(), qPrintable(result.errorDescription()));
        QVERIFY(unfinished(m_output).isEmpty());
        const auto heard = test::decodeFile(result.value().files()[0].toLocalFile());
        QCOMPARE(heard.frames(), std::llround(result.value().duration() * 48000));
        QVERIFY(test::toneAmplitude(test::window(heard.left, 0, 48000), 440) > 0.2);
    }
};

KIVO_TEST_CLASS(LiveExportTest)
#include "LiveExportTest.moc"
