#include "infrastructure/storage/LibraryStore.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/files/FileOperations.h"
#include "infrastructure/storage/KivoFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <unistd.h>

namespace kivo {

namespace {

const QString kLibraryFileName = QStringLiteral("library.json");
const QString kBackupFileName = QStringLiteral("library.backup.json");

// The whole file, or nothing when it does not exist. Throws PlatformError when it exists but
// cannot be read (a folder in its place included).
std::optional<QByteArray> readIfPresent(const QString& path) {
    const QString what = QStringLiteral("無法讀取「%1」").arg(QDir::toNativeSeparators(path));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw PlatformError::fromErrno(what, errno);
    }
    QByteArray contents;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            throw PlatformError::fromErrno(what, error);
        }
        if (got == 0) {
            break;
        }
        contents.append(buffer, static_cast<qsizetype>(got));
    }
    ::close(fd);
    return contents;
}

} // namespace

LibraryStore::LibraryStore(QString directory, QUrl defaultOutputFolder)
    : m_directory(QDir::cleanPath(std::move(directory)))
    , m_defaultOutputFolder(std::move(defaultOutputFolder)) {}

LibraryStore::~LibraryStore() {
    if (m_lockFd >= 0) {
        ::close(m_lockFd); // releases the flock
    }
}

QString LibraryStore::defaultDirectory() {
    return KivoFolders::applicationSupport();
}

QString LibraryStore::libraryPath() const {
    return m_directory + QLatin1Char('/') + kLibraryFileName;
}

QString LibraryStore::backupPath() const {
    return m_directory + QLatin1Char('/') + kBackupFileName;
}

KivoLibrary LibraryStore::load() {
    const QString path = libraryPath();
    const QFileInfo folder(m_directory);
    if (folder.exists() && !folder.isDir()) {
        // Not a damaged document: there is none, and nothing could be saved either.
        throw KivoError(
            QStringLiteral("無法使用錄音資料庫：「%1」是一個檔案，不是資料夾。請移走或改名"
                           "這個檔案，再重新開啟 Kivo。")
                .arg(QDir::toNativeSeparators(m_directory)));
    }
    try {
        const std::optional<QByteArray> contents = readIfPresent(path);
        if (!contents) {
            return KivoLibrary(m_defaultOutputFolder);
        }
        KivoLibrary library = KivoLibrary::decoded(*contents);
        // Reading a large document takes several times its size for a moment; give that back
        // to the system now instead of keeping it for the life of the program.
        ::malloc_trim(0);
        return library;
    } catch (const std::exception& error) {
        throw KivoError(QStringLiteral("無法讀取錄音紀錄。原始檔案已保留，請先檢查 ") +
                        QDir::toNativeSeparators(path) + QStringLiteral("。\n") + describe(error));
    }
}

void LibraryStore::save(const KivoLibrary& library) {
    FileOperations::makePrivateFolder(m_directory);
    const QByteArray document = library.encoded();
    if (const std::optional<QByteArray> previous = readIfPresent(libraryPath())) {
        FileOperations::writeAtomically(backupPath(), *previous);
    }
    FileOperations::writeAtomically(libraryPath(), document);
}

bool LibraryStore::lockForWriting() {
    if (m_lockFd >= 0) {
        return true;
    }
    FileOperations::makePrivateFolder(m_directory);
    const QString what =
        QStringLiteral("無法鎖定資料夾「%1」").arg(QDir::toNativeSeparators(m_directory));
    const int fd =
        ::open(QFile::encodeName(m_directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw PlatformError::fromErrno(what, errno);
    }
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            return false;
        }
        throw PlatformError::fromErrno(what, error);
    }
    m_lockFd = fd;
    return true;
}

} // namespace kivo
