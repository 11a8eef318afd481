#pragma once
// Whole-file reads and crash-safe whole-file replacement.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <vector>

namespace tavlo {

enum class FileError {
    None,
    NotFound,          // the file is not there (reads only)
    ReadOnlyFile,      // the file exists but may not be written
    FolderNotWritable, // no new file may be made in its folder
    FolderMissing,     // the folder is not there
    DiskFull,          // no space (or quota) left
    NotAFile,          // a folder, FIFO, device ... stands at the path
    TooLarge,          // more than this program will hold in memory
    Exists,            // the target of a no-replace copy is there already
    Mismatch,          // a copy read back differs from its source
    Changed,           // the file changed size while it was being copied
    Other,             // any other system error; see sysErrno
};

struct FileResult {
    FileError error = FileError::None;
    int sysErrno = 0;
    bool ok() const { return error == FileError::None; }
};

struct FileBytes {
    FileResult result;
    QByteArray bytes;
};

// Reads a regular file whole. Never blocks on a FIFO or a device: anything
// but a regular file is refused with NotAFile.
FileBytes readWholeFile(const QString &path);

// Replaces (or creates) the file with `bytes` so that a crash at any moment
// leaves either the old or the new content: a temporary file in the same
// folder is written, flushed to disk and renamed over the target, then the
// folder is flushed. An existing file keeps its permission bits, and a
// symbolic link keeps pointing at its target, which is what gets replaced.
// On failure the old file is unchanged and no temporary file is left.
FileResult replaceFileAtomically(const QString &path, const QByteArray &bytes);

// The same, with the new content given as pieces written one after the
// other: bytes in memory, or a range of an open file that the kernel copies
// (so that an edit of a large file never holds the file in memory). A range
// that turns out shorter than promised fails with Changed.
struct BytePiece {
    const char *data;
    size_t size;
    int fd = -1;         // when not -1: copy `size` bytes of this file ...
    qint64 offset = 0;   // ... from this offset
};
FileResult replaceFileAtomically(const QString &path, const std::vector<BytePiece> &pieces);

// Writes `bytes` as a new file at `path`, whole or not at all: never replaces
// an existing file (Exists), and verifies the result by reading it back.
FileResult createFileExclusively(const QString &path, const QByteArray &bytes);

} // namespace tavlo
