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

    // "<what>：<why>", for a failed system call: why in Traditional Chinese for the common
    // causes, the system's own description for the others.
    static PlatformError fromErrno(const QString& what, int errnum);
    // The cause alone, as fromErrno says it.
    static QString describeErrno(int errnum);

private:
    QString m_description;
};

} // namespace kivo
