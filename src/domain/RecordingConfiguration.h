#pragma once

// The complete description of one recording: what to capture, where to save it, in which format
// and at which gains. Any combination of values may be held while it is edited; validated()
// checks and normalises a copy before a recording starts.

#include "domain/AudioOutputFormat.h"
#include "domain/JsonValue.h"
#include "domain/RecordingMode.h"

#include <QJsonValue>
#include <QString>
#include <QUrl>

#include <optional>

namespace kivo {

struct RecordingConfiguration {
    // Longest name validated() keeps, in user-perceived characters.
    static constexpr qsizetype kMaximumNameLength = 80;

    // The fields in their stored order, which is also the key order of the JSON form.
    QString name = QStringLiteral("我的錄音");
    RecordingMode mode = RecordingMode::system;
    // In system and application mode, also record the microphone.
    bool includesMicrophone = true;
    // The process to record in application mode.
    std::optional<qint32> applicationPID;
    std::optional<QString> applicationName;
    // Finds the application again after a restart.
    std::optional<QString> applicationBundleID;
    // The sound server's source index; none means the default input.
    std::optional<quint32> microphoneDeviceID;
    AudioOutputFormat format = AudioOutputFormat::aac;
    bool highQuality = false;
    // The folder the finished files are exported into: a file URL.
    QUrl outputDirectory;
    // Besides the merged file, export one file per source.
    bool saveSeparateTracks = false;
    // Linear gains, 0 to 1.
    float systemGain = 0.8F;
    float microphoneGain = 0.7F;

    explicit RecordingConfiguration(QUrl directory);

    // True unless the mode is microphone.
    bool capturesSystem() const;
    // True in microphone mode; otherwise includesMicrophone.
    bool capturesMicrophone() const;
    // The sources named for the library and preset lists, such as "系統聲音＋麥克風".
    QString sourceDescription() const;

    // A checked, normalised copy: trimmed name cut to 80 characters, gains clamped to 0...1,
    // separate tracks only with two sources. Throws KivoError with the message for the user.
    RecordingConfiguration validated() const;

    // Field by field: URLs as URLs, gains as numbers.
    bool operator==(const RecordingConfiguration&) const = default;

    // The JSON object, keys in field order, absent optionals left out.
    JsonValue toJson() const;
    // Throws JsonDecodingError when a required key is missing or a value does not fit.
    static RecordingConfiguration fromJson(const QJsonValue& json);
};

} // namespace kivo
