#include "store/files/safefile.h"

#include "store/files/fileio.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tavlo {
namespace {

// Files beyond this are not agenda files anyone wrote by hand or with us.
constexpr qint64 kMaxFileSize = qint64(1) << 30;

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
        m_target = ResolveTarget(path);
        int fd = -1;
        m_writable = false;
        if (mode == Exclusive) {
            fd = ::open(m_target.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            m_writable = fd >= 0;
        }
        if (fd < 0)
            fd = ::open(m_target.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT ? FileResult{} : Fail(ClassifyError(errno, true), errno);
        Fd opened(fd);
        if (::fstat(fd, &m_status) != 0)
            return Fail(ClassifyError(errno, true), errno);
        if (!S_ISREG(m_status.st_mode))
            return Fail(FileError::NotAFile); // a FIFO or a device: never read, never locked
        const bool locked = ::flock(fd, (mode == Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
        if (!locked && errno != EWOULDBLOCK)
            return FailWith(errno);
        // A writer must hold the file the path names now: the lock's last
        // holder may have put a new file in its place. A reader reads whole
        // content either way, and reads without the lock once time is up.
        struct stat atPath;
        const bool current = mode == Shared
            || (ResolveTarget(path) == m_target && ::stat(m_target.constData(), &atPath) == 0
                && SameInode(atPath, m_status));
        if (locked && current) {
            m_fd = opened.release();
            return FileResult{};
        }
        if (deadline.hasExpired()) {
            if (mode == Exclusive)
                return Fail(locked ? FileError::Changed : FileError::Busy);
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
        out.result = Fail(FileError::NotFound, ENOENT);
        return out;
    }
    if (file.status().st_size > kMaxFileSize) {
        out.result = Fail(FileError::TooLarge);
        return out;
    }
    out.bytes.resize(int(file.status().st_size));
    qsizetype have = 0;
    for (;;) {
        if (have == out.bytes.size()) {
            // The file grew since it was opened: read on in steps.
            if (out.bytes.size() >= kMaxFileSize) {
                out.result = Fail(FileError::TooLarge);
                out.bytes.clear();
                return out;
            }
            out.bytes.resize(int(out.bytes.size() + 65536));
        }
        const ssize_t n = ::pread(file.fd(), out.bytes.data() + have, size_t(out.bytes.size() - have), off_t(have));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            out.result = Fail(ClassifyError(errno, true), errno);
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

} // namespace tavlo
