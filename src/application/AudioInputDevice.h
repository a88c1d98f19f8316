#pragma once

// An audio input the microphone can be switched to: a source of the sound server that is not the
// monitor of an output.

#include <QHashFunctions>
#include <QString>

namespace kivo {

struct AudioInputDevice {
    quint32 id = 0; // the source's index on the sound server
    QString name;   // the source's description

    bool operator==(const AudioInputDevice&) const = default;
};

// Combines `id`, then `name`.
inline size_t qHash(const AudioInputDevice& device, size_t seed = 0) noexcept {
    return qHashMulti(seed, device.id, device.name);
}

} // namespace kivo
