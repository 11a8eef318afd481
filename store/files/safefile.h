#pragma once
// Whole-file reads and crash-safe whole-file replacement. Paths are the
// kernel's bytes: a folder named in another encoding is used as it is.
#include <QByteArray>

#include <QDeadlineTimer>

#include <cstddef>
#include <ctime>
#include <functional>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace tavlo {

enum class FileError {
    None,
    NotFound,           // the file is not there (reads only)
    Unreadable,         // the file is there, but this user may not read it
    ReadOnlyFile,       // the file exists but may not be written
    FolderNotWritable,  // no new file may be made in its folder
    ReadOnlyFileSystem, // the disk or medium is mounted read-only
    FolderMissing,      // the folder is not there
    FolderUnusable,     // a part of the path is a file, or links loop
    DiskFull,           // no space (or quota) left
    IoError,            // the disk (or the network under it) failed
    NotAFile,           // a folder, FIFO, device ... stands at the path
    TooLarge,           // more than this program will hold in memory
    Exists,             // the target of a no-replace copy is there already
    Mismatch,           // a copy read back differs from its source
    Changed,            // another program changed the file while it was saved
    Busy,               // another program holds the file's lock
    CopyLeft,           // the journal of an interrupted save is in the way
    RestoreFailed,      // an in-place save failed and so did putting the old
                        // content back: the journal holds it
    Other,              // any other system error; see sysErrno
};

// What a system error means for a file operation. `reading`: the file was
// being opened or read, so a refusal is the file's, not its folder's.
FileError ClassifyError(int err, bool reading = false);

// How a save reached the disk.

struct FileResult {
    FileError error = FileError::None;
    int sysErrno = 0;
    QByteArray journal; // with CopyLeft and RestoreFailed: where the old content is
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
FileIdentity IdentityOf(const struct stat &st);

// All the lock waits of one user action, together: however many times the
// action opens the file, it waits for another program's lock once, until one
// deadline, and `whileWaiting` runs between tries (the window keeps painting).
// Only for the thread that made it, while it lives.
class LockWaits
{
public:
    LockWaits(int totalMs, std::function<void()> whileWaiting);
    ~LockWaits();
    LockWaits(const LockWaits &) = delete;
    LockWaits &operator=(const LockWaits &) = delete;

    // How long an open that would wait `ms` may wait now.
    static QDeadlineTimer deadlineFor(int ms);
    static void waitStep();

private:
    QDeadlineTimer m_deadline;
    std::function<void()> m_whileWaiting;
    LockWaits *m_outer;
};

// The file a path names, opened and locked for one operation. Symbolic links
// are followed to the file they name, which is what gets written (created,
// when only the target is missing); the link stays. Every copy of the
// program locks before it reads or writes, so a save never meets another
// copy's half-written file, and writers take turns; other programs take no
// part in it, so a save still checks for their changes.
class LockedFile
{
public:
    enum Mode { Shared, Exclusive };

    LockedFile() = default;
    ~LockedFile();
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    // Opens and locks. A missing file is no error: exists() is then false
    // and nothing is locked. Busy when another program holds the lock longer
    // than `waitMs` (or the action's LockWaits allow); a shared lock is then
    // read without it.
    FileResult open(const QByteArray &path, Mode mode, int waitMs);

    bool exists() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool writable() const { return m_writable; }
    // The path with its symbolic links resolved.
    const QByteArray &target() const { return m_target; }
    // The path as given, which may be a link.
    const QByteArray &path() const { return m_path; }
    const struct stat &status() const { return m_status; }
    FileIdentity identity() const { return m_fd >= 0 ? IdentityOf(m_status) : FileIdentity{}; }

private:
    int m_fd = -1;
    bool m_writable = false;
    QByteArray m_path;
    QByteArray m_target;
    struct stat m_status {};
};

// Reads what a locked file holds, whole.
FileBytes ReadWholeFile(const LockedFile &file);

// Replaces (or creates) the locked file with the pieces written one after
// the other: bytes in memory, or a range of the old file that the kernel
// copies (so that an edit of a large file never holds the file in memory).
// Every range piece must come from `file`.
//
// A crash at any moment leaves the old or the new content, or a complete
// journal of the old content (JournalPathFor) beside a file that may be torn.
// The file keeps its owner, group, mode, access lists and other extended
// attributes, and its hard links. Normally a new file is written, flushed
// and exchanged for the old one; where the new file cannot get everything the
// old one had, the old file is overwritten in place, with its old content in
// a flushed journal beside it until the new content is on disk.
//
// Fails with Changed when another program replaced or changed the file since
// it was locked, up to the moment the new content is in place, so that the
// caller can redo its edit on what is there now; with CopyLeft while a
// journal of an interrupted save exists. On failure the old file is
// unchanged (RestoreFailed excepted); a temporary is left only where the
// save was killed, marked for the next start to clear (recovery.h).
struct BytePiece {
    const char *data;
    size_t size;
    int fd = -1;       // when not -1: copy `size` bytes of this file ...
    qint64 offset = 0; // ... from this offset
};
FileResult ReplaceFile(const LockedFile &file, const std::vector<BytePiece> &pieces);

// Writes `bytes` as a new file at `path`, whole or not at all: never replaces
// an existing file (Exists), also where the file system has no hard links,
// and verifies the result by reading it back. The new file is readable by
// no one who may not read `like`; without one, it is a new file of the
// user's.
FileResult CreateCopyExclusively(const QByteArray &path, const QByteArray &bytes, const LockedFile *like);

} // namespace tavlo
