#pragma once

// The five states of the recorder and the latest level of each source.

#include <QMetaType>

namespace kivo {

enum class RecordingState { idle, starting, recording, paused, saving };

// True in every state but idle.
constexpr bool isBusy(RecordingState state) {
    return state != RecordingState::idle;
}
// True while a recording is open: recording or paused.
constexpr bool canStop(RecordingState state) {
    return state == RecordingState::recording || state == RecordingState::paused;
}

// Latest linear peak level of each source, 0 to 1. The all-zero pair stands for silence or no
// signal.
struct AudioLevels {
    float system = 0.0F;
    float microphone = 0.0F;

    bool operator==(const AudioLevels&) const = default;
};

} // namespace kivo

Q_DECLARE_METATYPE(kivo::RecordingState)
Q_DECLARE_METATYPE(kivo::AudioLevels)
