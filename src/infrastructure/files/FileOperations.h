#pragma once

// File-system steps that Kivo's durability rests on, each throwing PlatformError with a
// Traditional Chinese description on failure.

#include <QByteArray>
#include <QString>

#include <functional>

namespace kivo::FileOperations {

// Creates `path` with every missing parent; an existing folder is fine.
void makeFolder(const QString& path);

// Like makeFolder, but `path` itself is left readable only by its owner (0700), whatever the
// umask, also when it existed already: it holds raw recordings or the library.
void makePrivateFolder(const QString& path);

// Creates and removes a hidden empty file in the folder `path`, so that a folder where nothing
// can be written (a read-only mount, missing permission) is found before anything is recorded.
void checkCanCreateFiles(const QString& path);

// Removes `path` and everything in it; a folder that does not exist is fine.
void removeFolder(const QString& path);

// Forces a file's data, or a folder's entries, to disk.
void syncFile(const QString& path);
void syncFolder(const QString& path);

using FolderSync = std::function<void(const QString& path)>;

// Replaces `path` with `contents` so that a reader sees the old file or the new one, never a
// part: the bytes go to a temporary file beside it, are forced to disk, and the temporary file
// is renamed over `path`; then the folder entry is forced to disk with `syncFolder`. Once the
// rename is done the file is replaced, so a failure of that last step is not thrown (some file
// systems cannot sync a folder; the next write syncs it again). The file is readable only by its
// owner (0600), whatever the umask.
void writeAtomically(const QString& path, const QByteArray& contents,
                     const FolderSync& syncFolder = FileOperations::syncFolder);

// Renames `from` to `to` and fails, leaving both alone, when `to` exists already.
void moveWithoutReplacing(const QString& from, const QString& to);

} // namespace kivo::FileOperations
