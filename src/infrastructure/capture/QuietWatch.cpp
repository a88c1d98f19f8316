#include "infrastructure/capture/QuietWatch.h"

#include "infrastructure/capture/RecordStream.h"

namespace kivo {

QuietWatch::Verdict QuietWatch::check(const RecordStream& stream, HostSeconds now) {
    if (!stream.hasBeenQuietFor(RecordStream::kMaxQuiet, now)) {
        if (stream.hasDelivered()) {
            m_reopened = false;
        }
        return Verdict::fine;
    }
    if (m_reopened) {
        return Verdict::giveUp;
    }
    m_reopened = true;
    return Verdict::reopen;
}

} // namespace kivo
