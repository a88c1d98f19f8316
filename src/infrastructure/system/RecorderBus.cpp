#include "infrastructure/system/RecorderBus.h"

#include "application/AppModel.h"
#include "domain/JsonValue.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QJsonDocument>
#include <QVariantMap>

#include <cmath>

namespace kivo {

const QString RecorderBus::kServiceName = QStringLiteral("app.kivo.Kivo");
const QString RecorderBus::kObjectPath = QStringLiteral("/app/kivo/Kivo");
const QString RecorderBus::kInterfaceName = QStringLiteral("app.kivo.Recorder1");
const QString RecorderBus::kErrorName = QStringLiteral("app.kivo.Recorder1.Error.NotAllowed");

namespace {

const QString kNothingRecording = QStringLiteral("沒有正在進行的錄音。");

} // namespace

RecorderBus::RecorderBus(AppModel& model, std::function<void()> show, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_show(std::move(show))
    , m_state(state())
    , m_second(static_cast<qint64>(elapsed()))
    , m_lastRecord(lastRecordId()) {
    connect(&m_model, &AppModel::changed, this, &RecorderBus::announceChanges);
}

RecorderBus::~RecorderBus() {
    if (m_published) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(kObjectPath);
        bus.unregisterService(kServiceName);
    }
}

bool RecorderBus::publish(bool waitForName) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    if (!bus.registerObject(kObjectPath, this,
                            QDBusConnection::ExportScriptableSlots |
                                QDBusConnection::ExportAllProperties)) {
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(kServiceName,
                                         waitForName ? QDBusConnectionInterface::QueueService
                                                     : QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() == QDBusConnectionInterface::ServiceNotRegistered) {
        bus.unregisterObject(kObjectPath);
        return false;
    }
    m_published = true;
    return true;
}

// Commands -----------------------------------------------------------------------------------

std::optional<QString> RecorderBus::record() {
    if (auto refusal = m_model.recordRefusal()) {
        return refusal;
    }
    m_model.start();
    return std::nullopt;
}

std::optional<QString> RecorderBus::recordWith(const QString& configurationJson) {
    if (auto refusal = m_model.recordRefusal()) {
        return refusal;
    }
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(configurationJson.toUtf8(), &error);
    try {
        if (error.error != QJsonParseError::NoError) {
            throw JsonDecodingError(error.errorString());
        }
        m_model.setConfiguration(RecordingConfiguration::fromJson(document.object()));
    } catch (const JsonDecodingError&) {
        return QStringLiteral("錄音設定無法讀取。");
    }
    m_model.start();
    return std::nullopt;
}

std::optional<QString> RecorderBus::pause() {
    if (m_model.coordinator().state() != RecordingState::recording) {
        return m_model.coordinator().state() == RecordingState::paused
                   ? QStringLiteral("錄音已經暫停。")
                   : kNothingRecording;
    }
    m_model.coordinator().togglePause();
    return std::nullopt;
}

std::optional<QString> RecorderBus::resume() {
    if (m_model.coordinator().state() != RecordingState::paused) {
        return m_model.coordinator().state() == RecordingState::recording
                   ? QStringLiteral("錄音沒有暫停。")
                   : kNothingRecording;
    }
    m_model.coordinator().togglePause();
    return std::nullopt;
}

std::optional<QString> RecorderBus::togglePause() {
    if (!canStop(m_model.coordinator().state())) {
        return kNothingRecording;
    }
    m_model.coordinator().togglePause();
    return std::nullopt;
}

std::optional<QString> RecorderBus::toggleRecord() {
    return canStop(m_model.coordinator().state()) ? stop() : record();
}

std::optional<QString> RecorderBus::stop() {
    if (!canStop(m_model.coordinator().state())) {
        return m_model.coordinator().state() == RecordingState::saving
                   ? QStringLiteral("錄音正在保存。")
                   : kNothingRecording;
    }
    m_model.stop();
    return std::nullopt;
}

std::optional<QString> RecorderBus::mark(const QString& label) {
    if (!m_model.canMark()) {
        return kNothingRecording;
    }
    if (m_model.markers().size() >= RecordingMarker::kMaximumCount) {
        return QStringLiteral("一段錄音最多 %1 個標記。").arg(RecordingMarker::kMaximumCount);
    }
    m_model.addMarker(label);
    return std::nullopt;
}

// Properties ---------------------------------------------------------------------------------

QString RecorderBus::state() const {
    switch (m_model.coordinator().state()) {
    case RecordingState::idle:
        break;
    case RecordingState::starting:
        return QStringLiteral("starting");
    case RecordingState::recording:
        return QStringLiteral("recording");
    case RecordingState::paused:
        return QStringLiteral("paused");
    case RecordingState::saving:
        return QStringLiteral("saving");
    }
    return QStringLiteral("idle");
}

double RecorderBus::elapsed() const {
    return m_model.coordinator().elapsed();
}

QString RecorderBus::lastRecordName() const {
    const auto& records = m_model.library().recordings;
    return records.isEmpty() ? QString() : records.front().name();
}

QString RecorderBus::lastRecordId() const {
    const auto& records = m_model.library().recordings;
    return records.isEmpty() ? QString() : records.front().id().toString(QUuid::WithoutBraces);
}

QString RecorderBus::status() const {
    return m_model.status();
}

double RecorderBus::systemLevel() const {
    return m_model.coordinator().levels().system;
}

double RecorderBus::microphoneLevel() const {
    return m_model.coordinator().levels().microphone;
}

double RecorderBus::saveProgress() const {
    return m_model.exportProgress().value_or(-1.0);
}

// The bus ------------------------------------------------------------------------------------

void RecorderBus::answer(const std::optional<QString>& refusal) {
    if (refusal && calledFromDBus()) {
        sendErrorReply(kErrorName, *refusal);
    }
}

void RecorderBus::Record() {
    answer(record());
}

void RecorderBus::RecordWith(const QString& configuration) {
    answer(recordWith(configuration));
}

void RecorderBus::Pause() {
    answer(pause());
}

void RecorderBus::Resume() {
    answer(resume());
}

void RecorderBus::Stop() {
    answer(stop());
}

void RecorderBus::TogglePause() {
    answer(togglePause());
}

void RecorderBus::ToggleRecord() {
    answer(toggleRecord());
}

void RecorderBus::Mark(const QString& label) {
    answer(mark(label));
}

void RecorderBus::Show() {
    if (!m_show) {
        answer(QStringLiteral("這個 Kivo 在終端機錄音，沒有視窗。"));
        return;
    }
    m_show();
}

void RecorderBus::announceChanges() {
    if (!m_published) {
        return;
    }
    QVariantMap changed;
    const QString nowState = state();
    const auto second = static_cast<qint64>(std::floor(elapsed()));
    if (nowState != m_state) {
        m_state = nowState;
        changed.insert(QStringLiteral("State"), nowState);
    }
    if (second != m_second || !changed.isEmpty()) {
        m_second = second;
        changed.insert(QStringLiteral("Elapsed"), elapsed());
    }
    if (const QString last = lastRecordId(); last != m_lastRecord) {
        m_lastRecord = last;
        changed.insert(QStringLiteral("LastRecordName"), lastRecordName());
        changed.insert(QStringLiteral("LastRecordId"), last);
    }
    if (changed.isEmpty()) {
        return;
    }
    auto signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kInterfaceName << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace kivo
