#pragma once
// Whole-file reads and crash-safe whole-file replacement. Paths are the
// kernel's bytes: a folder named in another encoding is used as it is.
#include <QByteArray>

#include <cstddef>
#include <ctime>
#include <sys/types.h>
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
    Changed,           // another program changed the file while it was saved
    IsProgram,         // the path is the program's own file
    InvalidKey,        // the entry's name cannot be written or removed
    CopyLeft,          // a copy from an interrupted save is in the way
    Other,             // any other system error; see sysErrno
};

// How a save reached the disk.
enum class SaveMethod {
    None,
    Renamed, // a new file renamed over the old one
    InPlace, // the old file overwritten, guarded by a flushed copy beside it
};

struct FileResult {
    FileError error = FileError::None;
    int sysErrno = 0;
    SaveMethod method = SaveMethod::None;
    bool ok() const { return error == FileError::None; }
};

struct FileBytes {
    FileResult result;
    QByteArray bytes;
};

// Which file a path named when it was read, to tell whether another program
// has replaced or changed it since.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileIdentity &other) const;
};
FileIdentity identityOf(int fd);

// Reads a regular file whole. Never blocks on a FIFO or a device: anything
// but a regular file is refused with NotAFile.
FileBytes readWholeFile(const QByteArray &path);

// Replaces (or creates) the file with the pieces written one after the
// other: bytes in memory, or a range of the old file that the kernel copies
// (so that an edit of a large file never holds the file in memory). Every
// range piece must come from the file being replaced.
//
// A crash at any moment leaves the old or the new content. The file keeps its
// owner, group, mode, access lists and other extended attributes, and its
// hard links; a symbolic link keeps pointing at its target, which is what
// gets written (created, when only the target is missing). Normally a new
// file is written, flushed and renamed over the old one; where the new file
// cannot get everything the old one had, the old file is overwritten in
// place, with a flushed copy of its content beside it until the new content
// is on disk (see savingCopyPath).
//
// With `expected`, the save fails with Changed when the file is no longer the
// one that was read, so that the caller can redo its edit on what is there
// now. On failure the old file is unchanged and no temporary file is left.
struct BytePiece {
    const char *data;
    size_t size;
    int fd = -1;       // when not -1: copy `size` bytes of this file ...
    qint64 offset = 0; // ... from this offset
};
FileResult replaceFileAtomically(const QByteArray &path, const std::vector<BytePiece> &pieces,
                                 const FileIdentity *expected = nullptr);
FileResult replaceFileAtomically(const QByteArray &path, const QByteArray &bytes);

// Writes `bytes` as a new file at `path`, whole or not at all: never replaces
// an existing file (Exists), also where the file system has no hard links,
// and verifies the result by reading it back.
FileResult createFileExclusively(const QByteArray &path, const QByteArray &bytes);

// The copy of the old content kept beside a file while it is overwritten in
// place. One that outlives a save is all that is left of the old content.
QByteArray savingCopyPath(const QByteArray &path);

// Temporary files this program makes beside `path` are hidden and named
// "." + file name + "." + six letters or digits.
bool isTemporaryNameFor(const QByteArray &entryName, const QByteArray &fileName);

} // namespace tavlo
