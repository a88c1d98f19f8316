#pragma once

// A failure of a platform service (the file system, libsndfile, FFmpeg, libsoxr, the sound
// server), carrying its user-visible description: a short Traditional Chinese sentence naming
// what failed, followed by the library's own error text.

#include <QString>

#include <stdexcept>

namespace kivo {

class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(const QString& description)
        : std::runtime_error(description.toStdString())
        , m_description(description) {}

    const QString& description() const noexcept { return m_description; }

    // "<what>：<strerror(errnum)>", for a failed system call.
    static PlatformError fromErrno(const QString& what, int errnum);

private:
    QString m_description;
};

} // namespace kivo
