#include "domain/RecordingConfiguration.h"

#include "domain/KivoError.h"
#include "domain/Text.h"

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

float clampedGain(float gain) {
    if (std::isnan(gain)) {
        return 0.0F;
    }
    return std::clamp(gain, 0.0F, 1.0F);
}

} // namespace

RecordingConfiguration::RecordingConfiguration(QUrl directory)
    : outputDirectory(std::move(directory)) {}

bool RecordingConfiguration::capturesSystem() const {
    return mode != RecordingMode::microphone;
}

bool RecordingConfiguration::capturesMicrophone() const {
    return mode == RecordingMode::microphone || includesMicrophone;
}

QString RecordingConfiguration::sourceDescription() const {
    const QString withMicrophone = QStringLiteral("＋麥克風");
    switch (mode) {
    case RecordingMode::system:
        return title(RecordingMode::system) + (includesMicrophone ? withMicrophone : QString());
    case RecordingMode::application:
        return applicationName.value_or(title(RecordingMode::application)) +
               (includesMicrophone ? withMicrophone : QString());
    case RecordingMode::microphone:
        return title(RecordingMode::microphone);
    }
    Q_UNREACHABLE();
}

RecordingConfiguration RecordingConfiguration::validated() const {
    const QString trimmedName = trimmedWhitespace(name);
    if (trimmedName.isEmpty()) {
        throw KivoError::message(QStringLiteral("請輸入錄音名稱。"));
    }
    if (!outputDirectory.isValid() || !outputDirectory.isLocalFile()) {
        throw KivoError::message(QStringLiteral("請選擇本機保存資料夾。"));
    }
    if (mode == RecordingMode::application && !applicationPID) {
        throw KivoError::message(QStringLiteral("請選擇要錄製的 App。"));
    }

    RecordingConfiguration result = *this;
    result.name = firstCharacters(trimmedName, kMaximumNameLength);
    result.systemGain = clampedGain(systemGain);
    result.microphoneGain = clampedGain(microphoneGain);
    if (mode == RecordingMode::microphone) {
        // One source only, so there is nothing to separate.
        result.includesMicrophone = true;
        result.saveSeparateTracks = false;
    } else {
        result.saveSeparateTracks = saveSeparateTracks && includesMicrophone;
    }
    return result;
}

JsonValue RecordingConfiguration::toJson() const {
    JsonValue::Object object;
    object.emplace_back(QStringLiteral("name"), name);
    object.emplace_back(QStringLiteral("mode"), rawValue(mode));
    object.emplace_back(QStringLiteral("includesMicrophone"), includesMicrophone);
    if (applicationPID) {
        object.emplace_back(QStringLiteral("applicationPID"), *applicationPID);
    }
    if (applicationName) {
        object.emplace_back(QStringLiteral("applicationName"), *applicationName);
    }
    if (applicationBundleID) {
        object.emplace_back(QStringLiteral("applicationBundleID"), *applicationBundleID);
    }
    if (microphoneDeviceID) {
        object.emplace_back(QStringLiteral("microphoneDeviceID"), *microphoneDeviceID);
    }
    object.emplace_back(QStringLiteral("format"), rawValue(format));
    object.emplace_back(QStringLiteral("highQuality"), highQuality);
    object.emplace_back(QStringLiteral("outputDirectory"), JsonValue::fromUrl(outputDirectory));
    object.emplace_back(QStringLiteral("saveSeparateTracks"), saveSeparateTracks);
    object.emplace_back(QStringLiteral("systemGain"), systemGain);
    object.emplace_back(QStringLiteral("microphoneGain"), microphoneGain);
    return object;
}

RecordingConfiguration RecordingConfiguration::fromJson(const QJsonValue& json) {
    const QJsonObject object = json::toObject(json);
    RecordingConfiguration configuration(json::requiredUrl(object, u"outputDirectory"));
    configuration.name = json::requiredString(object, u"name");
    configuration.mode = json::requiredField(object, u"mode", [](const QJsonValue& value) {
        const QString raw = json::toString(value);
        const auto decoded = recordingModeFromRawValue(raw);
        if (!decoded) {
            throw JsonDecodingError(QStringLiteral("「%1」不是錄音模式。").arg(raw));
        }
        return *decoded;
    });
    configuration.includesMicrophone = json::requiredBool(object, u"includesMicrophone");
    configuration.applicationPID = json::optionalInt32(object, u"applicationPID");
    configuration.applicationName = json::optionalString(object, u"applicationName");
    configuration.applicationBundleID = json::optionalString(object, u"applicationBundleID");
    configuration.microphoneDeviceID = json::optionalUInt32(object, u"microphoneDeviceID");
    configuration.format = json::requiredField(object, u"format", [](const QJsonValue& value) {
        const QString raw = json::toString(value);
        const auto decoded = audioOutputFormatFromRawValue(raw);
        if (!decoded) {
            throw JsonDecodingError(QStringLiteral("「%1」不是音檔格式。").arg(raw));
        }
        return *decoded;
    });
    configuration.highQuality = json::requiredBool(object, u"highQuality");
    configuration.saveSeparateTracks = json::requiredBool(object, u"saveSeparateTracks");
    configuration.systemGain = json::requiredFloat(object, u"systemGain");
    configuration.microphoneGain = json::requiredFloat(object, u"microphoneGain");
    return configuration;
}

} // namespace kivo
