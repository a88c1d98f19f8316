#pragma once

#include "infrastructure/audio/AudioFragment.h"

#include <mutex>
#include <vector>

namespace kivo {

// The captured audio of one source waiting for the session writer's queue. The pulse thread puts
// fragments in (a copy under a short lock; nothing is allocated once the buffers have grown to a
// batch), and the queue takes all that waits at once by swapping buffers, so that the writer is
// woken once per kBatchFrames of audio instead of once per fragment. Fragments that follow each
// other within a frame are joined into one.
class FragmentInbox {
public:
    static constexpr Frames kBatchFrames = 2400; // 50 ms

    // Any thread. Copies the fragment in; true when a batch has gathered and nobody has been
    // told so since the last take(): the caller then has the queue take it.
    bool put(const AudioFragment& fragment);
    // Hands every waiting fragment to `read` in the order they were put, on the caller's thread
    // (one at a time: take() does not run on two threads at once).
    template <typename Read>
    void take(Read&& read) {
        {
            std::lock_guard lock(m_mutex);
            std::swap(m_samples, m_takenSamples);
            std::swap(m_runs, m_takenRuns);
            m_waiting = 0;
            m_told = false;
        }
        const float* samples = m_takenSamples.data();
        for (const auto& run : m_takenRuns) {
            read(AudioFragment{samples, run.frames, run.time});
            samples += run.frames * AudioFragment::kChannels;
        }
        m_takenSamples.clear();
        m_takenRuns.clear();
    }

private:
    struct Run {
        HostSeconds time = 0.0;
        Frames frames = 0;
    };

    std::mutex m_mutex;
    std::vector<float> m_samples;      // guarded by m_mutex
    std::vector<Run> m_runs;           // guarded by m_mutex
    Frames m_waiting = 0;              // guarded by m_mutex
    bool m_told = false;               // guarded by m_mutex
    std::vector<float> m_takenSamples; // take() only
    std::vector<Run> m_takenRuns;      // take() only
};

} // namespace kivo
