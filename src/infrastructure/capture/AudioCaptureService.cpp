#include "infrastructure/capture/AudioCaptureService.h"

#include "application/MainThread.h"
#include "domain/KivoError.h"
#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/capture/CaptureFailure.h"
#include "infrastructure/capture/CaptureStartError.h"
#include "infrastructure/capture/HostClock.h"
#include "infrastructure/capture/MicrophoneCapture.h"
#include "infrastructure/capture/RecordStream.h"
#include "infrastructure/capture/RunningAudioApps.h"
#include "infrastructure/capture/SystemAudioCapture.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <QTimer>

#include <algorithm>

namespace kivo {

namespace {

const QString kServerHint = QStringLiteral("請確認 PipeWire 或 PulseAudio 正在執行。");

QString microphoneServerMessage(const QString& description) {
    return QStringLiteral("無法使用麥克風：無法連線到音訊伺服器。") + kServerHint +
           QLatin1Char('\n') + description;
}

QString systemServerMessage(const QString& description) {
    return QStringLiteral("無法擷取系統音訊。") + kServerHint + QLatin1Char('\n') + description;
}

// `source` is the source's name as the recording's gain controls show it.
QString stalledMessage(const QString& source) {
    return source + QStringLiteral("已 %1 秒沒有送來音訊，將保存目前錄音。")
                        .arg(static_cast<int>(RecordStream::kMaxQuiet));
}

const QString kNoOutputMessage = QStringLiteral("找不到可用的音訊輸出裝置，無法啟動系統音訊擷取。");
const QString kMicrophoneChangedMessage =
    QStringLiteral("麥克風裝置或音訊格式已改變，將保存目前錄音。");

// The start error of a source in the words the user is shown.
[[noreturn]] void rethrowForUser(const CaptureStartError& error, bool microphone) {
    switch (error.problem()) {
    case CaptureStartProblem::noOutputDevice:
        throw KivoError(kNoOutputMessage);
    case CaptureStartProblem::microphoneMissing:
        throw KivoError(QStringLiteral("無法設定麥克風裝置。"));
    case CaptureStartProblem::microphoneUnusable:
        throw KivoError(QStringLiteral("無法使用選定麥克風，請重新選擇裝置。"));
    case CaptureStartProblem::microphoneWithoutInput:
        throw KivoError(QStringLiteral("麥克風沒有可用的音訊輸入。"));
    case CaptureStartProblem::serverUnreachable:
        throw KivoError(microphone ? microphoneServerMessage(error.description())
                                   : systemServerMessage(error.description()));
    case CaptureStartProblem::streamFailed:
        break;
    }
    throw error;
}

} // namespace

AudioCaptureService::AudioCaptureService(QString capturesRoot)
    : m_root(std::move(capturesRoot)) {}

AudioCaptureService::~AudioCaptureService() {
    if (m_stopping) {
        m_stopping->store(true);
    }
    stopSources();
}

void AudioCaptureService::reportFailure(const QPointer<QObject>& alive, const QString& message) {
    MainThread::post(alive, [this, message] {
        if (onFailure) {
            onFailure(message);
        }
    });
}

void AudioCaptureService::start(const RecordingConfiguration& configuration,
                                std::function<void(Result<>)> completion) {
    auto result = Result<>::capture([&] { startCapturing(configuration); });
    // The caller's continuation runs from the event loop, as it would after a real wait.
    MainThread::post(m_alive, [completion = std::move(completion), result = std::move(result)] {
        if (completion) {
            completion(result);
        }
    });
}

void AudioCaptureService::startCapturing(const RecordingConfiguration& configuration) {
    if (m_writer) {
        throw KivoError(QStringLiteral("前一段錄音尚未完成保存。"));
    }
    const bool microphone = configuration.capturesMicrophone();

    // Without a per-application permission, what can refuse a recording is the sound server.
    std::shared_ptr<PulseConnection> connection;
    try {
        connection = std::make_shared<PulseConnection>();
    } catch (const PlatformError& error) {
        throw KivoError(microphone ? microphoneServerMessage(error.description())
                                   : systemServerMessage(error.description()));
    }

    if (configuration.capturesSystem()) {
        try {
            const PulseServerInfo server = connection->serverInfo();
            const auto sinks = connection->sinks();
            const auto output = std::find_if(sinks.begin(), sinks.end(), [&](const auto& sink) {
                return sink.name == server.defaultSinkName;
            });
            if (server.defaultSinkName.isEmpty() || output == sinks.end() ||
                output->monitorSourceName.isEmpty()) {
                throw KivoError(kNoOutputMessage);
            }
            if (configuration.mode == RecordingMode::application) {
                const auto apps = RunningAudioApps::list(*connection);
                const bool running =
                    configuration.applicationPID &&
                    std::any_of(apps.begin(), apps.end(), [&](const RunningAudioApp& app) {
                        return app.id == *configuration.applicationPID;
                    });
                if (!running) {
                    throw KivoError(QStringLiteral("選定 App 已結束，請重新選擇。"));
                }
            }
        } catch (const PlatformError& error) {
            throw KivoError(systemServerMessage(error.description()));
        }
    }

    auto writer = std::make_shared<AudioRecordingWriter>(configuration, m_root);
    m_connection = connection;
    m_writer = writer;
    m_stopping = std::make_shared<std::atomic<bool>>(false);
    // These run on the writer queue and the capture threads: they hold the service only weakly.
    const QPointer<QObject> alive = m_alive;
    writer->onLevels = [this, alive](float system, float microphoneLevel) {
        MainThread::post(alive, [this, system, microphoneLevel] {
            if (onLevels) {
                onLevels(AudioLevels{system, microphoneLevel});
            }
        });
    };
    writer->onFailure = [this, alive](const QString& message) { reportFailure(alive, message); };
    writer->onExportProgress = [this, alive](double fraction) {
        MainThread::post(alive, [this, fraction] {
            if (onExportProgress) {
                onExportProgress(fraction);
            }
        });
    };

    try {
        const auto stopping = m_stopping;
        // A source's failure, in the words the user is shown; empty for none to show.
        const auto report = [this, alive,
                             stopping](std::function<QString(const CaptureFailure&)> describe) {
            return [this, alive, stopping, describe](const CaptureFailure& failure) {
                if (stopping->load()) {
                    return;
                }
                if (const auto message = describe(failure); !message.isEmpty()) {
                    reportFailure(alive, message);
                }
            };
        };
        if (configuration.capturesSystem()) {
            m_system = std::make_unique<SystemAudioCapture>(
                connection, configuration.mode == RecordingMode::application
                                ? configuration.applicationPID
                                : std::nullopt);
            startSource(*m_system, AudioSource::system, report([](const CaptureFailure& failure) {
                return failure.kind == CaptureFailureKind::sourceStalled
                           ? stalledMessage(QStringLiteral("電腦聲音"))
                           : QStringLiteral("系統音訊來源中斷。\n") + failure.description;
            }));
        }
        if (microphone) {
            // A lost server is reported once, by the system source when there is one.
            const bool systemReportsServer = configuration.capturesSystem();
            m_microphone =
                std::make_unique<MicrophoneCapture>(connection, configuration.microphoneDeviceID);
            startSource(*m_microphone, AudioSource::microphone,
                        report([systemReportsServer](const CaptureFailure& failure) {
                            switch (failure.kind) {
                            case CaptureFailureKind::microphoneChanged:
                                return kMicrophoneChangedMessage;
                            case CaptureFailureKind::sourceStalled:
                                return stalledMessage(QStringLiteral("麥克風"));
                            default:
                                return systemReportsServer
                                           ? QString()
                                           : microphoneServerMessage(failure.description);
                            }
                        }));
        }
        writer->activate(hostNow());
    } catch (...) {
        cleanUpFailedStart();
        throw;
    }
}

void AudioCaptureService::startSource(CaptureSource& source, AudioSource kind,
                                      CaptureSource::FailureHandler onSourceFailure) {
    auto writer = m_writer;
    try {
        source.start(
            [writer, kind](const AudioFragment& fragment) { writer->receive(kind, fragment); },
            std::move(onSourceFailure));
    } catch (const CaptureStartError& error) {
        rethrowForUser(error, kind == AudioSource::microphone);
    }
}

void AudioCaptureService::stopSources() {
    if (m_microphone) {
        m_microphone->stop();
        m_microphone.reset();
    }
    if (m_system) {
        m_system->stop();
        m_system.reset();
    }
    m_connection.reset();
}

void AudioCaptureService::cleanUpFailedStart() {
    m_stopping->store(true);
    stopSources();
    m_writer->abandonEmptySession();
    m_writer.reset();
}

void AudioCaptureService::pause() {
    if (m_writer) {
        m_writer->pause(hostNow());
    }
    if (onLevels) {
        onLevels(AudioLevels{});
    }
}

void AudioCaptureService::resume() {
    if (m_writer) {
        m_writer->resume(hostNow());
    }
}

void AudioCaptureService::setGains(float system, float microphone) {
    if (m_writer) {
        m_writer->setGains(system, microphone, hostNow());
    }
}

namespace {

// A completion of the writer queue, called on the main thread while `alive` holds.
template <typename Value>
std::function<void(Result<Value>)> onMainThread(const QPointer<QObject>& alive,
                                                std::function<void(Result<Value>)> completion) {
    return [alive, completion = std::move(completion)](Result<Value> result) {
        MainThread::post(alive, [completion, result = std::move(result)] {
            if (completion) {
                completion(result);
            }
        });
    };
}

const QString kNothingToMark = QStringLiteral("沒有正在進行的錄音。");

} // namespace

void AudioCaptureService::addMarker(const QString& label,
                                    std::function<void(Result<RecordingMarker>)> completion) {
    auto answer = onMainThread(m_alive, std::move(completion));
    if (!m_writer || !m_stopping || m_stopping->load()) {
        answer(Result<RecordingMarker>::failure(KivoError(kNothingToMark)));
        return;
    }
    m_writer->addMarker(hostNow(), label, std::move(answer));
}

void AudioCaptureService::relabelMarker(qsizetype index, const QString& label,
                                        std::function<void(Result<>)> completion) {
    auto answer = onMainThread(m_alive, std::move(completion));
    if (!m_writer || !m_stopping || m_stopping->load()) {
        answer(Result<>::failure(KivoError(kNothingToMark)));
        return;
    }
    m_writer->relabelMarker(index, label, std::move(answer));
}

void AudioCaptureService::stop(std::function<void(Result<RecordingRecord>)> completion) {
    if (!m_writer || !m_stopping || m_stopping->load()) {
        // No recording runs (or one is already being finished).
        MainThread::post(m_alive, [completion = std::move(completion)] {
            if (completion) {
                completion(Result<RecordingRecord>::failure(
                    KivoError(QStringLiteral("沒有正在進行的錄音。"))));
            }
        });
        return;
    }
    // The end of the recording is now, before any source stops: audio that still arrives while
    // the sources close is cut there by the writer.
    const double end = m_writer->endOfRecording(hostNow());
    m_stopping->store(true);
    finishAfterTail(end, end + kTailWait, std::move(completion));
}

void AudioCaptureService::finishAfterTail(double end, double deadline,
                                          std::function<void(Result<RecordingRecord>)> completion) {
    // A fragment reaches Kivo some milliseconds after its audio was captured (a server cycle
    // and the fragment's own length): closing the streams at once would leave the recording's
    // last moments as silence.
    const bool delivered = (!m_system || m_system->hasDeliveredUntil(end)) &&
                           (!m_microphone || m_microphone->hasDeliveredUntil(end));
    if (!delivered && hostNow() < deadline) {
        QTimer::singleShot(std::chrono::milliseconds(5), &m_lifetime,
                           [this, end, deadline, completion = std::move(completion)] {
                               finishAfterTail(end, deadline, completion);
                           });
        return;
    }
    stopSources();

    // The finish runs on the writer's queue, and its task is destroyed there after it ran: it
    // must hold neither the writer (the last reference would destroy the writer on its own
    // queue, which cannot join itself) nor anything of this service but `alive`.
    const QPointer<QObject> alive = m_alive;
    AudioRecordingWriter* const finishing = m_writer.get();
    finishing->finish(end, [this, alive, finishing, completion = std::move(completion)](
                               Result<RecordingRecord> result) mutable {
        MainThread::post(alive, [this, finishing, completion = std::move(completion),
                                 result = std::move(result)] {
            if (!result && m_writer.get() == finishing) {
                m_writer.reset();
            }
            if (completion) {
                completion(result);
            }
        });
    });
}

void AudioCaptureService::acknowledgeSaved() {
    if (m_writer) {
        m_writer->acknowledgeSaved();
    }
    m_writer.reset();
}

void AudioCaptureService::releaseAfterIndexFailure() {
    m_writer.reset();
}

QString AudioCaptureService::sessionFolder() const {
    return m_writer ? m_writer->directory() : QString();
}

} // namespace kivo
