#include "infrastructure/audio/FragmentInbox.h"

#include <cmath>

namespace kivo {

bool FragmentInbox::put(const AudioFragment& fragment) {
    if (fragment.frames <= 0) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_samples.insert(m_samples.end(), fragment.interleaved,
                     fragment.interleaved + fragment.frames * AudioFragment::kChannels);
    if (!m_runs.empty()) {
        auto& last = m_runs.back();
        const HostSeconds expected = last.time + secondsOf(last.frames);
        if (std::abs(fragment.time - expected) * kWorkingSampleRate <= 1.0) {
            last.frames += fragment.frames;
        } else {
            m_runs.push_back({fragment.time, fragment.frames});
        }
    } else {
        m_runs.push_back({fragment.time, fragment.frames});
    }
    m_waiting += fragment.frames;
    if (m_told || m_waiting < kBatchFrames) {
        return false;
    }
    m_told = true;
    return true;
}

} // namespace kivo
