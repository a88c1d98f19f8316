#include "infrastructure/audio/FfmpegLog.h"

#include "infrastructure/PlatformError.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>

namespace kivo::FfmpegLog {

namespace {

// An error code's text alone often says little ("Invalid argument"); what FFmpeg logged just
// before names the cause.
thread_local QString lastError;

void keepErrors(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[1024] = {};
    int printPrefix = 0;
    av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix);
    const QString text = QString::fromUtf8(line).trimmed();
    if (!text.isEmpty()) {
        lastError = text;
    }
}

} // namespace

void install() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(keepErrors); });
}

QString describe(int error) {
    QString description;
    if (error < 0 && error > -4096) {
        description = PlatformError::describeErrno(AVUNERROR(error)); // a system call's errno
    } else {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(error, text, sizeof text);
        description = QString::fromLocal8Bit(text);
    }
    if (!lastError.isEmpty()) {
        description += QStringLiteral("（") + lastError + QStringLiteral("）");
        lastError.clear();
    }
    return description;
}

} // namespace kivo::FfmpegLog
