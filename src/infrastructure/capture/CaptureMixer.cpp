#include "infrastructure/capture/CaptureMixer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kivo {

CaptureMixer::CaptureMixer(Output output)
    : m_output(std::move(output)) {}

qint64 CaptureMixer::frameAt(HostSeconds hostTime) {
    return std::llround(hostTime * kWorkingSampleRate);
}

void CaptureMixer::addInput(quint64 input) {
    m_inputs.try_emplace(input);
}

void CaptureMixer::removeInput(quint64 input) {
    if (m_inputs.erase(input) != 0) {
        emitReady();
    }
}

void CaptureMixer::push(quint64 input, const float* interleaved, Frames frames,
                        HostSeconds hostTime) {
    const auto found = m_inputs.find(input);
    if (found == m_inputs.end() || frames <= 0 || !std::isfinite(hostTime)) {
        return;
    }
    auto start = frameAt(hostTime);
    auto& next = found->second.next;
    if (next && std::abs(start - *next) <= kJoinFrames) {
        start = *next;
    }
    // A stream whose clock was measured again may step back: what it already delivered stays,
    // the overlap of the new fragment is dropped.
    const auto skip = next ? std::clamp<qint64>(*next - start, 0, frames) : 0;
    next = std::max(next.value_or(start + frames), start + frames);
    // Long fragments (a stream's first second, held until its clock was known) go in pieces so
    // that no piece is longer than what the mixer may hold.
    constexpr qint64 kPiece = kMaxSpanFrames / 4;
    for (qint64 done = skip; done < frames; done += kPiece) {
        place(interleaved + 2 * done, std::min(kPiece, frames - done), start + done);
    }
    emitReady();
}

void CaptureMixer::place(const float* interleaved, Frames frames, qint64 start) {
    const auto end = start + frames;
    if (!m_start) {
        m_start = start;
        m_end = start;
    }
    if (start > m_end && end - *m_start > kMaxSpanFrames) {
        // Nothing arrived for a long stretch: hand on what is held and start again here.
        emitUpTo(m_end);
        m_start = start;
        m_end = start;
    } else if (end - *m_start > kMaxSpanFrames) {
        emitUpTo(end - kMaxSpanFrames);
    }
    if (end <= *m_start) {
        return; // wholly late
    }
    const auto skip = std::max<qint64>(*m_start - start, 0);
    const auto offset = static_cast<std::size_t>(start + skip - *m_start);
    const auto needed = static_cast<std::size_t>(end - *m_start);
    if (m_left.size() < needed) {
        m_left.resize(needed, 0.0F);
        m_right.resize(needed, 0.0F);
    }
    for (auto i = skip; i < frames; ++i) {
        const auto at = offset + static_cast<std::size_t>(i - skip);
        m_left[at] += interleaved[2 * i];
        m_right[at] += interleaved[2 * i + 1];
    }
    m_end = std::max(m_end, end);
}

void CaptureMixer::flushBefore(HostSeconds hostTime) {
    if (!m_start) {
        return;
    }
    const auto frame = frameAt(hostTime);
    if (frame > *m_start) {
        emitUpTo(frame);
    }
}

void CaptureMixer::flushAll() {
    if (m_start) {
        emitUpTo(m_end);
    }
}

void CaptureMixer::emitReady() {
    if (!m_start) {
        return;
    }
    auto ready = m_end;
    for (const auto& [id, input] : m_inputs) {
        ready = std::min(ready, input.next.value_or(std::numeric_limits<qint64>::min()));
    }
    ready = std::max(ready, m_end - kMaxWaitFrames);
    if (ready - *m_start >= kMinOutputFrames) {
        emitUpTo(ready);
    }
}

void CaptureMixer::emitUpTo(qint64 frame) {
    const auto count = std::min(frame, m_end) - *m_start;
    if (count > 0) {
        PcmBuffer buffer(kWorkingFormat, count);
        buffer.setFrameLength(count);
        const auto n = static_cast<std::ptrdiff_t>(count);
        std::copy(m_left.begin(), m_left.begin() + n, buffer.channel(0).begin());
        std::copy(m_right.begin(), m_right.begin() + n, buffer.channel(1).begin());
        m_left.erase(m_left.begin(), m_left.begin() + n);
        m_right.erase(m_right.begin(), m_right.begin() + n);
        const auto time = static_cast<double>(*m_start) / kWorkingSampleRate;
        *m_start += count;
        if (m_output) {
            m_output(std::move(buffer), time);
        }
    }
    if (frame > *m_start) {
        // Frames before `frame` are done even where nothing was held: later audio for them is
        // late.
        m_left.clear();
        m_right.clear();
        m_start = frame;
        m_end = std::max(m_end, frame);
    }
}

} // namespace kivo
