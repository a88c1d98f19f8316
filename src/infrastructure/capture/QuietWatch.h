#pragma once

#include "infrastructure/AudioUnits.h"

namespace kivo {

class RecordStream;

// Decides what to do about a stream that may be stuck: nothing, reopen it (once), or give up
// when the reopened stream delivers nothing either. A stream that delivers again earns its
// reopen back. On the thread that owns the stream.
class QuietWatch {
public:
    enum class Verdict { fine, reopen, giveUp };

    Verdict check(const RecordStream& stream, HostSeconds now);
    void reset() { m_reopened = false; }

private:
    bool m_reopened = false; // reopened, and nothing delivered since
};

} // namespace kivo
