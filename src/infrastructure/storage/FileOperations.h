#pragma once

// File-system steps that Kivo's durability rests on, each throwing PlatformError with a
// Traditional Chinese description on failure.

#include <QByteArray>
#include <QString>

namespace kivo::FileOperations {

// Creates `path` with every missing parent; an existing folder is fine.
void makeFolder(const QString& path);

// Creates and removes a hidden empty file in the folder `path`, so that a folder where nothing
// can be written (a read-only mount, missing permission) is found before anything is recorded.
void checkCanCreateFiles(const QString& path);

// Removes `path` and everything in it; a folder that does not exist is fine.
void removeFolder(const QString& path);

// Replaces `path` with `contents` so that a reader sees the old file or the new one, never a
// part: the bytes go to a temporary file beside it, are forced to disk, and the temporary file
// is renamed over `path`; then the folder entry is forced to disk.
void writeAtomically(const QString& path, const QByteArray& contents);

// Renames `from` to `to` and fails, leaving both alone, when `to` exists already.
void moveWithoutReplacing(const QString& from, const QString& to);

// Forces a file's data, or a folder's entries, to disk.
void syncFile(const QString& path);
void syncFolder(const QString& path);

} // namespace kivo::FileOperations
