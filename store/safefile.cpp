#include "store/safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavlo {
namespace {

// Files beyond this are not agenda files anyone wrote by hand or with us.
constexpr qint64 kMaxFileSize = qint64(1) << 30;

FileResult fail(FileError error, int err = 0)
{
    return FileResult{error, err};
}

FileError classify(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return FileError::FolderMissing;
    case EACCES:
    case EPERM:
    case EROFS:
        return FileError::FolderNotWritable;
    case ENOSPC:
    case EDQUOT:
        return FileError::DiskFull;
    case EISDIR:
        return FileError::NotAFile;
    case ESTALE:
        return FileError::Changed;
    default:
        return FileError::Other;
    }
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
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
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
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
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
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

// Resolves a symbolic link to the file it names, so that the link survives
// the rename. A missing target is resolved as far as its folder.
QByteArray resolveTarget(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char buffer[PATH_MAX];
    if (::realpath(path.constData(), buffer))
        return QByteArray(buffer);
    return path;
}

QByteArray folderOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    if (slash == 0)
        return QByteArray("/");
    return path.left(slash);
}

// Creates a hidden temporary file beside `target`.
int makeTemporary(const QByteArray &target, QByteArray &tempPath)
{
    const int slash = target.lastIndexOf('/');
    QByteArray name = target;
    name.insert(slash + 1, '.');
    name.append(".XXXXXX");
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        tempPath = name;
    return fd;
}

void syncFolder(const QByteArray &folder)
{
    Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

// Gives a complete, flushed unnamed file a hidden name beside `target`.
bool nameUnnamed(int fd, const QByteArray &target, QByteArray &tempPath)
{
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
    const int slash = target.lastIndexOf('/');
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = target;
        name.insert(slash + 1, '.');
        name += '.' + QByteArray::number(QRandomGenerator::global()->generate() % 0xFFFFFF, 36);
        if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
            tempPath = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

FileResult fillAndFlush(int fd, const std::vector<BytePiece> &pieces, mode_t mode)
{
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, pieces) || ::fsync(fd) != 0)
        return fail(classify(errno), errno);
    return FileResult{};
}

// Writes and flushes a new file beside `target` and returns its (hidden)
// name. The file is written without a name where the system allows, and named
// only once it is complete and on disk, so that a crash while writing leaves
// nothing behind in the user's folder.
FileResult writeTemporary(const QByteArray &target, const std::vector<BytePiece> &pieces, mode_t mode,
                          QByteArray &tempPath)
{
    Fd unnamed(::open(folderOf(target).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (unnamed.valid()) {
        const FileResult filled = fillAndFlush(unnamed.get(), pieces, mode);
        if (!filled.ok())
            return filled; // closing the unnamed file discards it
        if (nameUnnamed(unnamed.get(), target, tempPath))
            return FileResult{};
        // No /proc to name it by: write it again the ordinary way.
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return fail(classify(errno), errno);
    }

    Fd fd(makeTemporary(target, tempPath));
    if (!fd.valid())
        return fail(classify(errno), errno);
    FileResult result = fillAndFlush(fd.get(), pieces, mode);
    if (result.ok() && ::close(fd.release()) != 0)
        result = fail(classify(errno), errno);
    if (!result.ok())
        ::unlink(tempPath.constData());
    return result;
}

mode_t defaultMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

FileBytes readWholeFile(const QString &path)
{
    FileBytes out;
    Fd fd(::open(nativePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        const int err = errno;
        out.result = fail(err == ENOENT ? FileError::NotFound : classify(err), err);
        return out;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        out.result = fail(FileError::Other, errno);
        return out;
    }
    if (!S_ISREG(st.st_mode)) {
        out.result = fail(FileError::NotAFile);
        return out;
    }
    if (st.st_size > kMaxFileSize) {
        out.result = fail(FileError::TooLarge);
        return out;
    }
    out.bytes.resize(int(st.st_size));
    qsizetype have = 0;
    for (;;) {
        if (have == out.bytes.size()) {
            // The file grew since fstat: read on in steps.
            if (out.bytes.size() >= kMaxFileSize) {
                out.result = fail(FileError::TooLarge);
                out.bytes.clear();
                return out;
            }
            out.bytes.resize(int(out.bytes.size() + 65536));
        }
        const ssize_t n = ::read(fd.get(), out.bytes.data() + have, size_t(out.bytes.size() - have));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            out.result = fail(FileError::Other, errno);
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

FileResult replaceFileAtomically(const QString &path, const QByteArray &bytes)
{
    return replaceFileAtomically(path, {BytePiece{bytes.constData(), size_t(bytes.size())}});
}

FileResult replaceFileAtomically(const QString &path, const std::vector<BytePiece> &pieces)
{
    const QByteArray target = resolveTarget(nativePath(path));
    mode_t mode = defaultMode();
    struct stat st;
    if (::stat(target.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return fail(FileError::NotAFile);
        // A rename would replace a read-only file without complaint; the user
        // made it read-only, so honour that (also for root, who may write
        // anything: a file without any write permission is read-only).
        if ((st.st_mode & 0222) == 0)
            return fail(FileError::ReadOnlyFile, EACCES);
        if (::access(target.constData(), W_OK) != 0)
            return fail(errno == EROFS ? FileError::FolderNotWritable : FileError::ReadOnlyFile, errno);
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return fail(classify(errno), errno);
    }

    QByteArray temp;
    const FileResult written = writeTemporary(target, pieces, mode, temp);
    if (!written.ok())
        return written;
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(classify(err), err);
    }
    syncFolder(folderOf(target));
    return FileResult{};
}

FileResult createFileExclusively(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = nativePath(path);
    QByteArray temp;
    const FileResult written =
        writeTemporary(target, {BytePiece{bytes.constData(), size_t(bytes.size())}}, defaultMode(), temp);
    if (!written.ok())
        return written;
    // link() never replaces: two copies aimed at one name cannot both land.
    const int rc = ::link(temp.constData(), target.constData());
    const int err = errno;
    ::unlink(temp.constData());
    if (rc != 0)
        return fail(err == EEXIST ? FileError::Exists : classify(err), err);
    syncFolder(folderOf(target));

    const FileBytes back = readWholeFile(path);
    if (!back.result.ok() || back.bytes != bytes) {
        ::unlink(target.constData());
        return fail(back.result.ok() ? FileError::Mismatch : back.result.error, back.result.sysErrno);
    }
    return FileResult{};
}

} // namespace tavlo
