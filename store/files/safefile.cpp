#include "store/files/safefile.h"

#include "store/files/filenames.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tavlo {
namespace {

// Files beyond this are not agenda files anyone wrote by hand or with us.
constexpr qint64 kMaxFileSize = qint64(1) << 30;

FileResult fail(FileError error, int err = 0)
{
    return FileResult{error, err, QByteArray()};
}

FileResult failWith(int err)
{
    return fail(ClassifyError(err), err);
}

bool notSupported(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL;
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool writeBytes(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Copies a range of one file to the current position of another: in the
// kernel where it can, else through a buffer.
bool copyRange(int from, off_t offset, int to, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::copy_file_range(from, &offset, to, nullptr, size, 0);
        if (n > 0) {
            size -= size_t(n);
            continue;
        }
        if (n == 0) {
            errno = ESTALE; // the file ended early: someone shortened it
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && !notSupported(errno))
            return false;
        std::vector<char> buffer(std::min<size_t>(size, size_t(1) << 20));
        while (size > 0) {
            const ssize_t got = ::pread(from, buffer.data(), std::min(size, buffer.size()), offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                if (got == 0)
                    errno = ESTALE;
                return false;
            }
            if (!writeBytes(to, buffer.data(), size_t(got)))
                return false;
            offset += got;
            size -= size_t(got);
        }
    }
    return true;
}

bool writeAll(int fd, const std::vector<BytePiece> &pieces)
{
    for (const BytePiece &piece : pieces) {
        const bool ok = piece.fd >= 0 ? copyRange(piece.fd, off_t(piece.offset), fd, piece.size)
                                      : writeBytes(fd, piece.data, piece.size);
        if (!ok)
            return false;
    }
    return true;
}

off_t totalSize(const std::vector<BytePiece> &pieces)
{
    off_t total = 0;
    for (const BytePiece &piece : pieces)
        total += off_t(piece.size);
    return total;
}

// Follows symbolic links to the file they name, which need not exist yet.
QByteArray resolveTarget(QByteArray path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
        if (n <= 0 || size_t(n) == sizeof buffer)
            return path;
        const QByteArray link(buffer, int(n));
        path = link.startsWith('/') ? link : FolderOf(path) + '/' + link;
    }
    return path; // a loop of links: every call on it fails with ELOOP
}

void syncFolder(const QByteArray &path)
{
    Fd dir(::open(FolderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

bool sameInode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the locked file's content is as it was when it was read.
bool unchangedContent(const LockedFile &file)
{
    struct stat now;
    return ::fstat(file.fd(), &now) == 0 && IdentityOf(now) == file.identity();
}

// Whether the path still names the locked file (through the same links),
// unchanged since it was read.
bool unchanged(const LockedFile &file)
{
    struct stat now, atPath;
    return ::fstat(file.fd(), &now) == 0 && IdentityOf(now) == file.identity()
        && resolveTarget(file.path()) == file.target() && ::stat(file.target().constData(), &atPath) == 0
        && IdentityOf(atPath) == file.identity();
}

std::vector<QByteArray> attributeNames(int fd, bool &ok)
{
    std::vector<QByteArray> names;
    ok = true;
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size <= 0) {
        ok = size == 0 || notSupported(errno);
        return names;
    }
    std::vector<char> list(size_t(size) + 1);
    const ssize_t got = ::flistxattr(fd, list.data(), list.size());
    if (got < 0) {
        ok = false;
        return names;
    }
    for (const char *name = list.data(); name < list.data() + got; name += std::strlen(name) + 1)
        names.emplace_back(name);
    return names;
}

bool copyAttribute(int from, int to, const char *name)
{
    const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
    if (size < 0)
        return false;
    std::vector<char> value(size_t(size) + 1);
    const ssize_t got = ::fgetxattr(from, name, value.data(), value.size());
    return got >= 0 && ::fsetxattr(to, name, value.data(), size_t(got), 0) == 0;
}

// Extended attributes, access lists among them, of one file onto another,
// which loses those the first has not (a folder's default list gives new
// files one).
bool copyAttributes(int from, int to)
{
    bool ok = false;
    const std::vector<QByteArray> wanted = attributeNames(from, ok);
    if (!ok)
        return false;
    const std::vector<QByteArray> present = attributeNames(to, ok);
    for (const QByteArray &name : present)
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()
            && ::fremovexattr(to, name.constData()) != 0)
            return false;
    for (const QByteArray &name : wanted)
        if (!copyAttribute(from, to, name.constData()))
            return false;
    return true;
}

// Gives the new file the old one's owner, group, attributes and mode; false
// when it cannot have them all.
bool takeOver(int fd, const LockedFile &old)
{
    struct stat now;
    if (::fstat(fd, &now) != 0)
        return false;
    const struct stat &st = old.status();
    if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) && ::fchown(fd, st.st_uid, st.st_gid) != 0)
        return false;
    return copyAttributes(old.fd(), fd) && ::fchmod(fd, st.st_mode & 07777) == 0;
}

// A copy of a file is readable by the file's readers: its owner and group
// where they can be given, its access list, its permissions. In doubt (the
// list cannot be copied, the group cannot be seen), a backup narrows to its
// owner (it must be no more readable than the file), and a journal keeps the
// file's permissions (the file's readers must be able to take the old
// content back). Never by anyone else: without the file's list the copy has
// none, since a folder's default list would let in whoever it names. False
// for a journal that cannot be made so.
enum class Sharing { Backup, Journal };
bool shareLike(int fd, const LockedFile &source, Sharing sharing)
{
    const struct stat &st = source.status();
    mode_t mode = st.st_mode & 0666;
    // A member of the file's group may give it that group (a folder's own
    // group may have given it already); its group's rights are not for
    // another group. Where that cannot be told, doubt goes as above.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0)
        ::fchown(fd, uid_t(-1), st.st_gid);
    struct stat now;
    if (::fstat(fd, &now) == 0 ? now.st_gid != st.st_gid : sharing == Sharing::Backup)
        mode &= ~mode_t(070);
    const char *const acl = "system.posix_acl_access";
    const bool listed = ::fgetxattr(source.fd(), acl, nullptr, 0) > 0;
    const bool copied = listed && copyAttribute(source.fd(), fd, acl);
    if (listed && !copied && sharing == Sharing::Backup)
        mode &= 0600;
    if (!copied && ::fremovexattr(fd, acl) != 0 && errno != ENODATA && !notSupported(errno)) {
        if (sharing == Sharing::Journal)
            return false;
        mode &= 0600; // no group rights: every named entry is masked out
    }
    ::fchmod(fd, mode);
    return true;
}

mode_t defaultMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A new file beside a target, written before it takes a name there. It is
// made without a name where the system allows, so that a crash leaves
// nothing behind; else under a marked hidden name (TemporaryPathFor). It is
// locked for as long as it exists, so that a start-up's clean-up can tell it
// from one a killed save left. Removed when destroyed, unless kept.
class Temporary
{
public:
    // Opens one beside `target`; false with errno set when none can be made.
    bool create(const QByteArray &target)
    {
        m_target = target;
        m_fd.reset(::open(FolderOf(target).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (m_fd.valid())
            return ::flock(m_fd.get(), LOCK_EX) == 0;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return false;
        return createNamed();
    }
    ~Temporary()
    {
        if (!m_path.isEmpty())
            ::unlink(m_path.constData());
    }
    int fd() const { return m_fd.get(); }
    bool named() const { return !m_path.isEmpty(); }
    const QByteArray &path() const { return m_path; }
    // It took its place: nothing to remove.
    void keep() { m_path.clear(); }

    // Gives the complete file a hidden name of its own.
    bool name()
    {
        if (named())
            return true;
        const QByteArray proc = "/proc/self/fd/" + QByteArray::number(m_fd.get());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray path = TemporaryPathFor(m_target);
            if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0) {
                m_path = path;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    // Gives the complete file the name `path`, which must not exist: a
    // file already there is never replaced (EEXIST).
    bool place(const QByteArray &path)
    {
        if (!named()) {
            const QByteArray proc = "/proc/self/fd/" + QByteArray::number(m_fd.get());
            if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0)
                return true;
            if (errno != ENOENT || !name()) // ENOENT: no /proc to name it by
                return false;
        }
        if (::link(m_path.constData(), path.constData()) == 0)
            return true; // the hidden name goes when this object does
        if (errno != EPERM && errno != EMLINK && !notSupported(errno))
            return false;
        if (::renameat2(AT_FDCWD, m_path.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE) == 0) {
            keep();
            return true;
        }
        if (!notSupported(errno))
            return false;
        // No hard links and no exclusive rename (FAT and exFAT through
        // FUSE). Every copy of the program that could aim at this name
        // holds the agenda file's lock, so checking first is enough.
        struct stat st;
        if (::lstat(path.constData(), &st) == 0) {
            errno = EEXIST;
            return false;
        }
        if (::rename(m_path.constData(), path.constData()) != 0)
            return false;
        keep();
        return true;
    }

private:
    bool createNamed()
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray path = TemporaryPathFor(m_target);
            m_fd.reset(::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (!m_fd.valid()) {
                if (errno == EEXIST)
                    continue;
                return false;
            }
            // A start-up's clean-up may have taken it for a leftover before
            // it was locked: then it has no name any more.
            struct stat st;
            if (::flock(m_fd.get(), LOCK_EX) == 0 && ::fstat(m_fd.get(), &st) == 0 && st.st_nlink > 0) {
                m_path = path;
                return true;
            }
        }
        return false;
    }

    Fd m_fd;
    QByteArray m_target;
    QByteArray m_path;
};

// A write lease on the file while it is overwritten in place: any other
// program that opens or truncates the file then waits until the save is
// done, so nothing it writes is overwritten or cut off. Only the file's
// owner gets one, and only while no one else has the file open; without one
// the save still checks afterwards that the file is where it was.
class WriteLease
{
public:
    explicit WriteLease(int fd) : m_fd(fd)
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGIO, &ignore, &m_previous); // the breaker is told to wait; we need no signal
        m_held = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
        if (!m_held)
            ::sigaction(SIGIO, &m_previous, nullptr);
    }
    bool held() const { return m_held; }
    ~WriteLease()
    {
        if (!m_held)
            return;
        ::fcntl(m_fd, F_SETLEASE, F_UNLCK);
        ::sigaction(SIGIO, &m_previous, nullptr);
    }
    WriteLease(const WriteLease &) = delete;
    WriteLease &operator=(const WriteLease &) = delete;

private:
    int m_fd;
    bool m_held = false;
    struct sigaction m_previous {};
};

// Writes and flushes a new file beside the target; `kept` is false when it
// could not take over the old file's attributes, and then nothing was written.
FileResult writeReplacement(const LockedFile &old, const std::vector<BytePiece> &pieces, Temporary &temp, bool &kept)
{
    if (!temp.create(old.target()))
        return failWith(errno);
    kept = !old.exists() || takeOver(temp.fd(), old);
    if (!kept)
        return FileResult{};
    if (!old.exists())
        ::fchmod(temp.fd(), defaultMode()); // file systems without modes refuse, which is no loss
    if (!writeAll(temp.fd(), pieces) || ::fsync(temp.fd()) != 0 || !temp.name())
        return failWith(errno);
    return FileResult{};
}

enum class Commit { Done, Refused };

// Puts the written file in the target's place. Where the file system can
// exchange two names, the old file is checked after the exchange, so that a
// change made at any moment before the new content was in place is seen and
// undone; else it is checked just before the rename.
FileResult commitByRename(const LockedFile &old, Temporary &temp, Commit &how)
{
    how = Commit::Done;
    const QByteArray &target = old.target();
    const char *from = temp.path().constData();
    if (!old.exists()) {
        if (::renameat2(AT_FDCWD, from, AT_FDCWD, target.constData(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                return fail(FileError::Changed); // another program made it meanwhile
            if (!notSupported(errno))
                return failWith(errno);
            struct stat st;
            if (::lstat(target.constData(), &st) == 0)
                return fail(FileError::Changed);
            if (::rename(from, target.constData()) != 0)
                return failWith(errno);
        }
    } else if (::renameat2(AT_FDCWD, from, AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
        // The temporary's name now holds what was in the target's place.
        struct stat was;
        if (::lstat(from, &was) != 0 || !sameInode(was, old.status()) || !unchangedContent(old)) {
            // Someone else's file, or ours changed: give the place back.
            if (::renameat2(AT_FDCWD, from, AT_FDCWD, target.constData(), RENAME_EXCHANGE) != 0)
                temp.keep(); // what the name holds now is not ours to remove
            return fail(FileError::Changed);
        }
        // The old content is removed with the temporary's name.
    } else {
        const int err = errno;
        if (!notSupported(err)) {
            // Some file systems, and folders where others' files may not be
            // renamed over (sticky), still let the file itself be written.
            if (err == EXDEV || err == EPERM || err == EBUSY) {
                how = Commit::Refused;
                return FileResult{};
            }
            return failWith(err);
        }
        if (!unchanged(old))
            return fail(FileError::Changed);
        if (::rename(from, target.constData()) != 0) {
            if (errno == EXDEV || errno == EPERM || errno == EBUSY) {
                how = Commit::Refused;
                return FileResult{};
            }
            return failWith(errno);
        }
        temp.keep();
    }
    if (!old.exists())
        temp.keep();
    syncFolder(target);
    FileResult done;
    return done;
}

} // namespace

namespace {

// The old content of a file that is overwritten in place, kept complete and
// flushed beside it under JournalPathFor(target). It takes that name only
// once it is whole, so a journal that exists is always the complete old
// content; while it exists no save of any kind goes ahead.
class Journal
{
public:
    FileResult make(const LockedFile &file)
    {
        m_path = JournalPathFor(file.target());
        if (!m_temp.create(file.target()) || !copyRange(file.fd(), 0, m_temp.fd(), size_t(file.status().st_size)))
            return failWith(errno);
        if (!shareLike(m_temp.fd(), file, Sharing::Journal))
            return failWith(errno);
        if (::fsync(m_temp.fd()) != 0)
            return failWith(errno);
        if (!m_temp.place(m_path)) {
            const int err = errno;
            m_path.clear();
            if (err == EEXIST)
                return fail(FileError::CopyLeft);
            return failWith(err);
        }
        syncFolder(file.target());
        return FileResult{};
    }
    ~Journal()
    {
        if (!m_path.isEmpty()) {
            ::unlink(m_path.constData());
            syncFolder(m_path);
        }
    }
    int fd() const { return m_temp.fd(); }
    // The old content must stay: the file could not be given it back.
    QByteArray keep()
    {
        const QByteArray path = m_path;
        m_path.clear();
        return path;
    }

private:
    Temporary m_temp;
    QByteArray m_path;
};

// Whether the file begins with the pieces: without a lease, another
// program may have written into it meanwhile. What it appended is kept.
bool holds(int fd, const std::vector<BytePiece> &pieces)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size < totalSize(pieces))
        return false;
    std::vector<char> mine(1 << 16), there(1 << 16);
    off_t at = 0;
    for (const BytePiece &piece : pieces) {
        for (size_t done = 0; done < piece.size;) {
            const size_t step = std::min(piece.size - done, mine.size());
            if (piece.fd >= 0) {
                if (::pread(piece.fd, mine.data(), step, off_t(piece.offset) + off_t(done)) != ssize_t(step))
                    return false;
            } else {
                std::memcpy(mine.data(), piece.data + done, step);
            }
            if (::pread(fd, there.data(), step, at) != ssize_t(step) || std::memcmp(mine.data(), there.data(), step) != 0)
                return false;
            done += step;
            at += off_t(step);
        }
    }
    return true;
}

// Puts the old content back. What another program appended past `from`
// (where the new content ended, or the old) is kept after it.
bool restore(int fd, const Journal &journal, off_t size, off_t from)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    QByteArray appended;
    if (st.st_size > from) {
        appended.resize(qsizetype(st.st_size - from));
        if (::pread(fd, appended.data(), size_t(appended.size()), from) != ssize_t(appended.size()))
            return false;
    }
    return ::lseek(fd, 0, SEEK_SET) == 0 && copyRange(journal.fd(), 0, fd, size_t(size))
        && writeBytes(fd, appended.constData(), size_t(appended.size()))
        && ::ftruncate(fd, size + off_t(appended.size())) == 0 && ::fsync(fd) == 0;
}

// Overwrites the file where it is. A failure puts the old content back.
FileResult overwriteInPlace(const LockedFile &file, const std::vector<BytePiece> &pieces)
{
    if (!file.writable())
        return fail(FileError::ReadOnlyFile, EACCES);
    const int fd = file.fd();
    const off_t oldSize = file.status().st_size;
    WriteLease lease(fd);
    Journal journal;
    const FileResult made = journal.make(file);
    if (!made.ok()) {
        FileResult refused = made;
        if (made.error == FileError::CopyLeft)
            refused.journal = JournalPathFor(file.target());
        return refused;
    }
    if (!unchanged(file))
        return fail(FileError::Changed);

    // The unchanged ranges now come from the journal: the file itself is
    // about to be overwritten.
    std::vector<BytePiece> fromJournal = pieces;
    for (BytePiece &piece : fromJournal)
        if (piece.fd >= 0)
            piece.fd = journal.fd();
    // A longer file is made its new length first, so that whatever another
    // program appends meanwhile lands past the new content, where it is
    // kept; a shorter one is cut to its length with that kept after it.
    const off_t total = totalSize(pieces);
    const off_t span = std::max(oldSize, total);
    off_t end = span; // where the new content and the old tail end now
    int err = 0;
    struct stat written;
    if ((total > oldSize && ::ftruncate(fd, total) != 0) || ::lseek(fd, 0, SEEK_SET) != 0
        || !writeAll(fd, fromJournal) || ::fstat(fd, &written) != 0) {
        err = errno;
    } else if (total < oldSize) {
        QByteArray appended(qsizetype(std::max<off_t>(0, written.st_size - span)), Qt::Uninitialized);
        if ((!appended.isEmpty() && ::pread(fd, appended.data(), size_t(appended.size()), span) != appended.size())
            || ::ftruncate(fd, total) != 0)
            err = errno;
        else if ((end = total), ::pwrite(fd, appended.constData(), size_t(appended.size()), total) != appended.size())
            err = errno;
    }
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    // Renamed over while it was written: the edit belongs where the path
    // points now, and this file (another name of it, or no name at all)
    // keeps what it had. Written into by another program: the old content
    // goes back, and the edit is made again.
    struct stat atPath, now;
    const bool moved = err == 0
        && (::stat(file.target().constData(), &atPath) != 0 || ::fstat(fd, &now) != 0 || !sameInode(atPath, now)
            || (!lease.held() && !holds(fd, fromJournal)));
    if (err == 0 && !moved) {
        FileResult done;
        return done; // the journal goes now
    }
    if (!restore(fd, journal, oldSize, end)) {
        FileResult lost = fail(FileError::RestoreFailed, err != 0 ? err : errno);
        lost.journal = journal.keep();
        return lost;
    }
    return moved ? fail(FileError::Changed) : failWith(err);
}

} // namespace

FileError ClassifyError(int err, bool reading)
{
    switch (err) {
    case ENOENT: return FileError::FolderMissing;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG: return FileError::FolderUnusable;
    case EACCES:
    case EPERM: return reading ? FileError::Unreadable : FileError::FolderNotWritable;
    case EROFS: return FileError::ReadOnlyFileSystem;
    case ENOSPC:
    case EDQUOT: return FileError::DiskFull;
    case EIO:
    case ENXIO:
    case EREMOTEIO: return FileError::IoError;
    case EISDIR: return FileError::NotAFile;
    case EFBIG: return FileError::TooLarge;
    case ESTALE: return FileError::Changed;
    case EWOULDBLOCK: return FileError::Busy;
    default: return FileError::Other;
    }
}

namespace {
thread_local LockWaits *tLockWaits = nullptr;
constexpr int kLockStepMs = 10;
} // namespace

LockWaits::LockWaits(int totalMs, std::function<void()> whileWaiting)
    : m_deadline(deadlineFor(totalMs)), m_whileWaiting(std::move(whileWaiting)), m_outer(tLockWaits)
{
    tLockWaits = this;
}

LockWaits::~LockWaits()
{
    tLockWaits = m_outer;
}

QDeadlineTimer LockWaits::deadlineFor(int ms)
{
    const QDeadlineTimer own(ms);
    return tLockWaits && tLockWaits->m_deadline < own ? tLockWaits->m_deadline : own;
}

void LockWaits::waitStep()
{
    ::usleep(kLockStepMs * 1000);
    if (tLockWaits && tLockWaits->m_whileWaiting)
        tLockWaits->m_whileWaiting();
}

bool FileIdentity::operator==(const FileIdentity &other) const
{
    if (!exists || !other.exists)
        return exists == other.exists;
    return device == other.device && inode == other.inode && size == other.size
        && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

FileIdentity IdentityOf(const struct stat &st)
{
    FileIdentity id;
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified = st.st_mtim;
    return id;
}

LockedFile::~LockedFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileResult LockedFile::open(const QByteArray &path, Mode mode, int waitMs)
{
    const QDeadlineTimer deadline = LockWaits::deadlineFor(waitMs);
    m_path = path;
    for (;;) {
        m_target = resolveTarget(path);
        int fd = -1;
        m_writable = false;
        if (mode == Exclusive) {
            fd = ::open(m_target.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            m_writable = fd >= 0;
        }
        if (fd < 0)
            fd = ::open(m_target.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT ? FileResult{} : fail(ClassifyError(errno, true), errno);
        Fd opened(fd);
        if (::fstat(fd, &m_status) != 0)
            return fail(ClassifyError(errno, true), errno);
        if (!S_ISREG(m_status.st_mode))
            return fail(FileError::NotAFile); // a FIFO or a device: never read, never locked
        const bool locked = ::flock(fd, (mode == Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
        if (!locked && errno != EWOULDBLOCK)
            return failWith(errno);
        // A writer must hold the file the path names now: the lock's last
        // holder may have put a new file in its place. A reader reads whole
        // content either way, and reads without the lock once time is up.
        struct stat atPath;
        const bool current = mode == Shared
            || (resolveTarget(path) == m_target && ::stat(m_target.constData(), &atPath) == 0
                && sameInode(atPath, m_status));
        if (locked && current) {
            m_fd = opened.release();
            return FileResult{};
        }
        if (deadline.hasExpired()) {
            if (mode == Exclusive)
                return fail(locked ? FileError::Changed : FileError::Busy);
            m_fd = opened.release();
            return FileResult{};
        }
        LockWaits::waitStep();
    }
}

FileBytes ReadWholeFile(const LockedFile &file)
{
    FileBytes out;
    if (!file.exists()) {
        out.result = fail(FileError::NotFound, ENOENT);
        return out;
    }
    if (file.status().st_size > kMaxFileSize) {
        out.result = fail(FileError::TooLarge);
        return out;
    }
    out.bytes.resize(int(file.status().st_size));
    qsizetype have = 0;
    for (;;) {
        if (have == out.bytes.size()) {
            // The file grew since it was opened: read on in steps.
            if (out.bytes.size() >= kMaxFileSize) {
                out.result = fail(FileError::TooLarge);
                out.bytes.clear();
                return out;
            }
            out.bytes.resize(int(out.bytes.size() + 65536));
        }
        const ssize_t n = ::pread(file.fd(), out.bytes.data() + have, size_t(out.bytes.size() - have), off_t(have));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            out.result = fail(ClassifyError(errno, true), errno);
            out.bytes.clear();
            return out;
        }
        if (n == 0)
            break;
        have += n;
    }
    out.bytes.resize(int(have));
    return out;
}

FileResult ReplaceFile(const LockedFile &file, const std::vector<BytePiece> &pieces)
{
    const QByteArray &target = file.target();
    if (file.exists()) {
        // A rename would replace a read-only file without complaint; the user
        // made it read-only, so honour that (also for root, who may write
        // anything: a file without any write permission is read-only).
        if ((file.status().st_mode & 0222) == 0)
            return fail(FileError::ReadOnlyFile, EACCES);
        if (::access(target.constData(), W_OK) != 0)
            return fail(errno == EROFS ? FileError::ReadOnlyFileSystem : FileError::ReadOnlyFile, errno);
    }
    // What a killed in-place save left may be the only whole old content;
    // a save would hide which of the two is good.
    const QByteArray journal = JournalPathFor(target);
    struct stat st;
    if (::lstat(journal.constData(), &st) == 0) {
        FileResult refused = fail(FileError::CopyLeft);
        refused.journal = journal;
        return refused;
    }
    // Hard links would be split by a rename: the other names would keep the
    // old content.
    if (!file.exists() || file.status().st_nlink == 1) {
        Temporary temp;
        bool kept = true;
        const FileResult written = writeReplacement(file, pieces, temp, kept);
        if (!written.ok())
            return written;
        if (kept) {
            Commit how;
            const FileResult committed = commitByRename(file, temp, how);
            if (how == Commit::Done)
                return committed;
        }
    }
    return overwriteInPlace(file, pieces);
}

FileResult CreateCopyExclusively(const QByteArray &path, const QByteArray &bytes, const LockedFile *like)
{
    Temporary temp;
    if (!temp.create(path))
        return failWith(errno);
    if (like)
        shareLike(temp.fd(), *like, Sharing::Backup);
    else
        ::fchmod(temp.fd(), defaultMode());
    if (!writeBytes(temp.fd(), bytes.constData(), size_t(bytes.size())) || ::fsync(temp.fd()) != 0)
        return failWith(errno);
    if (!temp.place(path))
        return fail(errno == EEXIST ? FileError::Exists : ClassifyError(errno), errno);
    syncFolder(path);

    // Read back through the name the user is told.
    QByteArray back(bytes.size() + 1, Qt::Uninitialized);
    Fd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    qsizetype have = 0;
    ssize_t n = 0;
    while (fd.valid() && (n = ::read(fd.get(), back.data() + have, size_t(back.size() - have))) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (have += n) == back.size())
            break;
    }
    if (!fd.valid() || n < 0 || have != bytes.size() || back.left(have) != bytes) {
        const int err = fd.valid() ? (n < 0 ? errno : 0) : errno;
        ::unlink(path.constData());
        return err ? failWith(err) : fail(FileError::Mismatch);
    }
    return FileResult{};
}

} // namespace tavlo
