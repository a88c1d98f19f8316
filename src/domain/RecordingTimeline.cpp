#include "domain/RecordingTimeline.h"

#include <algorithm>
#include <cmath>

namespace kivo {

void RecordingTimeline::start(double at) {
    m_started = at;
    m_intervalStarted = at;
    m_pauseStarted.reset();
    m_pauseDuration = 0;
}

void RecordingTimeline::pause(double at) {
    if (m_started && !m_pauseStarted) {
        m_pauseStarted = at;
    }
}

void RecordingTimeline::resume(double at) {
    if (!m_pauseStarted) {
        return;
    }
    m_pauseDuration += std::max(0.0, at - *m_pauseStarted);
    m_pauseStarted.reset();
    m_intervalStarted = at;
}

std::optional<double> RecordingTimeline::position(double at) const {
    if (!m_started || (m_pauseStarted && at >= *m_pauseStarted)) {
        return std::nullopt;
    }
    if (at < m_intervalStarted.value_or(*m_started)) {
        return std::nullopt;
    }
    return at - *m_started - m_pauseDuration;
}

double RecordingTimeline::elapsed(double at) const {
    if (!m_started) {
        return 0;
    }
    const double end = m_pauseStarted.value_or(at);
    const double result = end - *m_started - m_pauseDuration;
    // Not-a-number fails this test too.
    return result > 0 ? result : 0;
}

} // namespace kivo
