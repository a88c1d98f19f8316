#pragma once

// The library document on disk: "library.json" in one folder, the document it replaced kept
// beside it as "library.backup.json", and the lock that makes one process at a time the
// library's writer. An unreadable document is reported and left where it is, never repaired.
//
// Main thread; every operation is complete when it returns.

#include "application/PlatformServices.h"

#include <QString>
#include <QUrl>

namespace kivo {

class LibraryStore : public LibraryStorage {
public:
    // Touches no file. `defaultOutputFolder` (a folder URL) is where the default library's
    // recordings go.
    LibraryStore(QString directory, QUrl defaultOutputFolder);
    // Releases the writer lock.
    ~LibraryStore() override;
    LibraryStore(const LibraryStore&) = delete;
    LibraryStore& operator=(const LibraryStore&) = delete;

    // $XDG_DATA_HOME/Kivo (default ~/.local/share/Kivo).
    static QString defaultDirectory();

    QString directory() const override { return m_directory; }
    QString libraryPath() const;
    QString backupPath() const;

    // The defaults when "library.json" does not exist, without writing anything. Throws
    // KivoError "無法讀取錄音紀錄。原始檔案已保留，請先檢查 <path>。\n<why>" when it cannot be read
    // or is not a library document (an empty file included); the file stays as it is. A plain
    // file where the folder should be is said to be one.
    KivoLibrary load() override;
    // Makes the folder (private to the user), copies the current "library.json" byte for byte to
    // "library.backup.json" and then replaces "library.json", each file atomically. The first
    // failure is thrown unchanged (PlatformError, or JsonEncodingError for a value JSON cannot
    // hold); the files not yet replaced stay as they were.
    void save(const KivoLibrary& library) override;
    // An exclusive flock() on the folder itself (made first if missing), held until this object
    // is destroyed. False when another open of the folder holds it; true again once taken.
    bool lockForWriting() override;

private:
    QString m_directory;
    QUrl m_defaultOutputFolder;
    int m_lockFd = -1; // the locked folder, open while the lock is held
};

} // namespace kivo
