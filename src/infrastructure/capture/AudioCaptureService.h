#pragma once

// The recording backend that records real sources from the sound server: for each recording it
// creates the session writer, opens the system (or one application's) audio and the microphone,
// hands their stamped buffers to the writer, and on stop lets the writer finish and export. It
// keeps the finished writer until the record is safely stored (acknowledgeSaved), so that the
// session folder is deleted only then.
//
// Main thread: every operation, every completion and both callbacks. The capture threads and the
// writer queue reach the main thread only by posting to it.

#include "application/RecordingBackend.h"
#include "infrastructure/audio/AudioSource.h"
#include "infrastructure/capture/CaptureSource.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>

namespace kivo {

class AudioRecordingWriter;
class MicrophoneCapture;
class PulseConnection;
class SystemAudioCapture;

class AudioCaptureService final : public RecordingBackend {
public:
    // `capturesRoot` holds the session folders (the library folder's "Captures" in the program).
    explicit AudioCaptureService(QString capturesRoot);
    ~AudioCaptureService() override;

    AudioCaptureService(const AudioCaptureService&) = delete;
    AudioCaptureService& operator=(const AudioCaptureService&) = delete;

    void start(const RecordingConfiguration& configuration,
               std::function<void(Result<>)> completion) override;
    void pause() override;
    void resume() override;
    void setGains(float system, float microphone) override;
    void addMarker(const QString& label,
                   std::function<void(Result<RecordingMarker>)> completion) override;
    void relabelMarker(qsizetype index, const QString& label,
                       std::function<void(Result<>)> completion) override;
    void stop(std::function<void(Result<RecordingRecord>)> completion) override;
    void acknowledgeSaved() override;

    // Lets go of the finished writer without removing its session folder, which stays for
    // recovery, so that a new recording can start.
    void releaseAfterIndexFailure() override;

    // The session folder of the current or last finished recording; empty when there is none.
    QString sessionFolder() const;

    // How long a stop waits at most for the sources' last fragments, in seconds.
    static constexpr double kTailWait = 0.1;

private:
    void startCapturing(const RecordingConfiguration& configuration);
    // Main thread: finishes the recording at `end` once every source has delivered what it
    // captured before `end`, or once `deadline` (host time) has passed.
    void finishAfterTail(double end, double deadline,
                         std::function<void(Result<RecordingRecord>)> completion);
    // Starts `source`, its fragments going to the writer as `kind`. Throws KivoError.
    void startSource(CaptureSource& source, AudioSource kind,
                     CaptureSource::FailureHandler onSourceFailure);
    void stopSources();
    void cleanUpFailedStart();
    // Any thread: calls onFailure with `message` on the main thread, if the service that
    // `alive` stands for still exists there.
    void reportFailure(const QPointer<QObject>& alive, const QString& message);

    QString m_root;
    // Lives as long as the service: work posted to the main thread runs only while it does. Off
    // the main thread, take a copy of `m_alive` beforehand: the service may be going away.
    QObject m_lifetime;
    const QPointer<QObject> m_alive{&m_lifetime};

    std::shared_ptr<PulseConnection> m_connection;
    std::unique_ptr<SystemAudioCapture> m_system;
    std::unique_ptr<MicrophoneCapture> m_microphone;
    std::shared_ptr<AudioRecordingWriter> m_writer;
    // Set before a requested stop, so that the sources' own ending is not reported as a failure.
    // Read on the capture threads.
    std::shared_ptr<std::atomic<bool>> m_stopping;
};

} // namespace kivo
