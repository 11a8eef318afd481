#include "store/files/fileio.h"

#include "store/files/filenames.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>

namespace tavlo {

FileResult Fail(FileError error, int err)
{
    return FileResult{error, err, QByteArray()};
}

FileResult FailWith(int err)
{
    return Fail(ClassifyError(err), err);
}

bool NotSupported(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL;
}

bool WriteBytes(int fd, const char *data, size_t size)
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
bool CopyRange(int from, off_t offset, int to, size_t size)
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
        if (errno != EXDEV && !NotSupported(errno))
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
            if (!WriteBytes(to, buffer.data(), size_t(got)))
                return false;
            offset += got;
            size -= size_t(got);
        }
    }
    return true;
}

bool WriteAll(int fd, const std::vector<BytePiece> &pieces)
{
    for (const BytePiece &piece : pieces) {
        const bool ok = piece.fd >= 0 ? CopyRange(piece.fd, off_t(piece.offset), fd, piece.size)
                                      : WriteBytes(fd, piece.data, piece.size);
        if (!ok)
            return false;
    }
    return true;
}

off_t TotalSize(const std::vector<BytePiece> &pieces)
{
    off_t total = 0;
    for (const BytePiece &piece : pieces)
        total += off_t(piece.size);
    return total;
}

bool MoveToNewName(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (!NotSupported(errno))
        return false;
    struct stat st;
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

// Follows symbolic links to the file they name, which need not exist yet.
QByteArray ResolveTarget(QByteArray path)
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

void SyncFolder(const QByteArray &path)
{
    Fd dir(::open(FolderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

bool SameInode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the locked file's content is as it was when it was read.
bool UnchangedContent(const LockedFile &file)
{
    struct stat now;
    return ::fstat(file.fd(), &now) == 0 && IdentityOf(now) == file.identity();
}

// Whether the path still names the locked file (through the same links),
// unchanged since it was read.
bool Unchanged(const LockedFile &file)
{
    struct stat now, atPath;
    return ::fstat(file.fd(), &now) == 0 && IdentityOf(now) == file.identity()
        && ResolveTarget(file.path()) == file.target() && ::stat(file.target().constData(), &atPath) == 0
        && IdentityOf(atPath) == file.identity();
}

} // namespace tavlo
