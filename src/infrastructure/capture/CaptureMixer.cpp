#include "infrastructure/capture/CaptureMixer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kivo {

CaptureMixer::CaptureMixer(FragmentHandler output)
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

void CaptureMixer::push(quint64 input, const AudioFragment& fragment) {
    const auto [interleaved, frames, hostTime] = fragment;
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
    if (m_held.size() < needed * 2) {
        m_held.resize(needed * 2, 0.0F);
    }
    float* into = m_held.data() + offset * 2;
    const float* from = interleaved + skip * 2;
    for (qint64 i = 0; i < (frames - skip) * 2; ++i) {
        into[i] += from[i];
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
        const auto time = static_cast<double>(*m_start) / kWorkingSampleRate;
        if (m_output) {
            m_output(AudioFragment{m_held.data(), count, time});
        }
        // The held frames move to the front; the vector keeps its capacity.
        m_held.erase(m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(count * 2));
        *m_start += count;
    }
    if (frame > *m_start) {
        // Frames before `frame` are done even where nothing was held: later audio for them is
        // late.
        m_held.clear();
        m_start = frame;
        m_end = std::max(m_end, frame);
    }
}

} // namespace kivo
