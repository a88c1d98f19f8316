#pragma once

// A moment of a recording the person marked while it ran ("the decision", "the question about
// the exam"): where it lies on the recording's own time (pauses left out) and its label.
// Records and session manifests keep them in time order under the optional key "markers";
// readers that do not know the key ignore it.

#include "domain/JsonValue.h"

#include <QJsonValue>
#include <QList>
#include <QString>

namespace kivo {

struct RecordingMarker {
    double at = 0; // seconds from the recording's start
    QString label;

    bool operator==(const RecordingMarker&) const = default;

    // The most markers one recording holds.
    static constexpr qsizetype kMaximumCount = 1000;
    // The longest label, in user-perceived characters (as a name).
    static constexpr qsizetype kMaximumLabelLength = 80;

    // "標記 N", the label of the `number`th marker (from 1) when none is given.
    static QString defaultLabel(qsizetype number);
    // `text` trimmed and cut to kMaximumLabelLength; empty when nothing is left, so that the
    // caller gives the default.
    static QString cleanLabel(const QString& text);

    // {"at": seconds, "label": text}.
    JsonValue toJson() const;
    // Throws JsonDecodingError.
    static RecordingMarker fromJson(const QJsonValue& json);

    // The "markers" member of `object`: absent when there are none, so that documents without
    // markers stay exactly as they were.
    static void addTo(JsonValue::Object& object, const QList<RecordingMarker>& markers);
    // The "markers" of `object`, in time order; none without the key. Throws JsonDecodingError.
    static QList<RecordingMarker> listIn(const QJsonObject& object);
};

} // namespace kivo
