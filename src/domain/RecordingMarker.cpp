#include "domain/RecordingMarker.h"

#include "domain/Text.h"

#include <algorithm>
#include <cmath>

namespace kivo {

QString RecordingMarker::defaultLabel(qsizetype number) {
    return QStringLiteral("標記 %1").arg(number);
}

QString RecordingMarker::cleanLabel(const QString& text) {
    return firstCharacters(trimmedWhitespace(text), kMaximumLabelLength);
}

JsonValue RecordingMarker::toJson() const {
    return JsonValue::Object{{QStringLiteral("at"), at}, {QStringLiteral("label"), label}};
}

RecordingMarker RecordingMarker::fromJson(const QJsonValue& json) {
    const QJsonObject object = json::toObject(json);
    const double at = json::requiredDouble(object, u"at");
    if (!std::isfinite(at) || at < 0) {
        throw JsonDecodingError(QStringLiteral("標記的時間不是有效的秒數"));
    }
    return RecordingMarker{at, json::requiredString(object, u"label")};
}

void RecordingMarker::addTo(JsonValue::Object& object, const QList<RecordingMarker>& markers) {
    if (markers.isEmpty()) {
        return;
    }
    JsonValue::Array array;
    for (const auto& marker : markers) {
        array.push_back(marker.toJson());
    }
    object.emplace_back(QStringLiteral("markers"), std::move(array));
}

QList<RecordingMarker> RecordingMarker::listIn(const QJsonObject& object) {
    auto markers = json::optionalField(object, u"markers", [](const QJsonValue& value) {
                       QList<RecordingMarker> list;
                       for (const auto& element : json::toArray(value)) {
                           list.append(fromJson(element));
                       }
                       return list;
                   }).value_or(QList<RecordingMarker>());
    std::stable_sort(markers.begin(), markers.end(),
                     [](const auto& a, const auto& b) { return a.at < b.at; });
    return markers;
}

} // namespace kivo
