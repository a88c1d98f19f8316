#include "infrastructure/files/FileOperations.h"

#include "infrastructure/PlatformError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::FileOperations {

namespace {

std::filesystem::path toPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    // Closes now, reporting the error that a delayed write may surface only here.
    int close() {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

void sync(const QString& path, int flags, const QString& what) {
    FileDescriptor fd(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC));
    if (fd.get() < 0) {
        throw PlatformError::fromErrno(what, errno);
    }
    if (::fsync(fd.get()) != 0) {
        throw PlatformError::fromErrno(what, errno);
    }
}

} // namespace

void makeFolder(const QString& path) {
    std::error_code error;
    std::filesystem::create_directories(toPath(path), error);
    if (error) {
        throw PlatformError(
            QStringLiteral("無法建立資料夾「%1」：%2")
                .arg(nativePath(path), PlatformError::describeErrno(error.value())));
    }
    if (!QFileInfo(path).isDir()) {
        throw PlatformError::fromErrno(QStringLiteral("無法建立資料夾「%1」").arg(nativePath(path)),
                                       ENOTDIR);
    }
}

void makePrivateFolder(const QString& path) {
    const QString what = QStringLiteral("無法建立資料夾「%1」").arg(nativePath(path));
    makeFolder(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        throw PlatformError::fromErrno(what, errno);
    }
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        throw PlatformError::fromErrno(what, errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        throw PlatformError::fromErrno(what, ENOTDIR);
    }
    if ((info.st_mode & 07777) != 0700 && ::chmod(name.constData(), 0700) != 0) {
        throw PlatformError::fromErrno(what, errno);
    }
}

void checkCanCreateFiles(const QString& path) {
    const QByteArray probe = QFile::encodeName(path + QStringLiteral("/.kivo-") +
                                               QUuid::createUuid().toString(QUuid::WithoutBraces) +
                                               QStringLiteral(".probe"));
    FileDescriptor fd(::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        throw PlatformError::fromErrno(
            QStringLiteral("無法在資料夾「%1」建立檔案").arg(nativePath(path)), errno);
    }
    ::unlink(probe.constData());
}

void removeFolder(const QString& path) {
    std::error_code error;
    std::filesystem::remove_all(toPath(path), error);
    if (error) {
        throw PlatformError(
            QStringLiteral("無法刪除資料夾「%1」：%2")
                .arg(nativePath(path), PlatformError::describeErrno(error.value())));
    }
}

void writeAtomically(const QString& path, const QByteArray& contents,
                     const FolderSync& syncFolder) {
    const QString what = QStringLiteral("無法寫入「%1」").arg(nativePath(path));
    const QFileInfo info(path);
    const QString temporaryPath =
        info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1Char('-') +
        QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".tmp");
    const QByteArray temporaryName = QFile::encodeName(temporaryPath);

    FileDescriptor fd(
        ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        throw PlatformError::fromErrno(what, errno);
    }
    const auto fail = [&](int errnum) {
        ::unlink(temporaryName.constData());
        throw PlatformError::fromErrno(what, errnum);
    };
    // The umask may have taken more than the group's and others' rights away.
    if (::fchmod(fd.get(), 0600) != 0) {
        fail(errno);
    }

    const char* data = contents.constData();
    qsizetype remaining = contents.size();
    while (remaining > 0) {
        const ssize_t written = ::write(fd.get(), data, static_cast<std::size_t>(remaining));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        data += written;
        remaining -= written;
    }
    if (::fsync(fd.get()) != 0) {
        fail(errno);
    }
    if (fd.close() != 0) {
        fail(errno);
    }
    if (::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0) {
        fail(errno);
    }
    try {
        syncFolder(info.absolutePath());
    } catch (const PlatformError&) {
        // The new document is in place: reporting a failure now would have the caller believe
        // the old one still is.
    }
}

void moveWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const QString what =
        QStringLiteral("無法將「%1」改名為「%2」").arg(nativePath(from), nativePath(to));
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0) {
        return;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        throw PlatformError::fromErrno(what, errno);
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing target too.
    if (::link(source.constData(), target.constData()) != 0) {
        throw PlatformError::fromErrno(what, errno);
    }
    ::unlink(source.constData());
}

void syncFile(const QString& path) {
    sync(path, O_RDONLY, QStringLiteral("無法將「%1」寫入磁碟").arg(nativePath(path)));
}

void syncFolder(const QString& path) {
    sync(path, O_RDONLY | O_DIRECTORY,
         QStringLiteral("無法將資料夾「%1」寫入磁碟").arg(nativePath(path)));
}

} // namespace kivo::FileOperations
