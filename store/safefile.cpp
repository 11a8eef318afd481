#include "store/safefile.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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

off_t totalSize(const std::vector<BytePiece> &pieces)
{
    off_t total = 0;
    for (const BytePiece &piece : pieces)
        total += off_t(piece.size);
    return total;
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

// Follows symbolic links to the file they name, which need not exist yet, so
// that a save writes the target and the link survives.
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
        path = link.startsWith('/') ? link : folderOf(path) + '/' + link;
    }
    return path; // a loop of links: every call on it fails with ELOOP
}

QByteArray temporaryName(const QByteArray &target)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const int slash = target.lastIndexOf('/');
    QByteArray name = target.left(slash + 1) + '.' + target.mid(slash + 1) + '.';
    for (int i = 0; i < 6; ++i)
        name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return name;
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
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = temporaryName(target);
        if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
            tempPath = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool notSupported(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
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
    for (const QByteArray &name : wanted) {
        const ssize_t size = ::fgetxattr(from, name.constData(), nullptr, 0);
        if (size < 0)
            return false;
        std::vector<char> value(size_t(size) + 1);
        const ssize_t got = ::fgetxattr(from, name.constData(), value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, name.constData(), value.data(), size_t(got), 0) != 0)
            return false;
    }
    return true;
}

// What a new file must have to take an old one's place.
struct Original {
    bool exists = false;
    struct stat st {};
    int fd = -1; // open for reading its attributes
};

// Gives the new file the old one's owner, group, attributes and mode; false
// when it cannot have them all.
bool takeOver(int fd, const Original &old)
{
    struct stat now;
    if (::fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st.st_uid || now.st_gid != old.st.st_gid)
        && ::fchown(fd, old.st.st_uid, old.st.st_gid) != 0)
        return false;
    return copyAttributes(old.fd, fd) && ::fchmod(fd, old.st.st_mode & 07777) == 0;
}

mode_t defaultMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Fills and flushes a new file; `kept` is false when it could not take over
// the old file's attributes, and then nothing was written.
FileResult fill(int fd, const std::vector<BytePiece> &pieces, const Original &old, bool &kept)
{
    kept = !old.exists || takeOver(fd, old);
    if (!kept)
        return FileResult{};
    if (!old.exists)
        ::fchmod(fd, defaultMode()); // file systems without modes refuse, which is no loss
    if (!writeAll(fd, pieces) || ::fsync(fd) != 0)
        return fail(classify(errno), errno);
    return FileResult{};
}

// Writes and flushes a new file beside `target` and returns its (hidden)
// name. The file is written without a name where the system allows, and named
// only once it is complete and on disk, so that a crash while writing leaves
// nothing behind in the user's folder.
FileResult writeTemporary(const QByteArray &target, const std::vector<BytePiece> &pieces, const Original &old,
                          QByteArray &tempPath, bool &kept)
{
    Fd unnamed(::open(folderOf(target).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (unnamed.valid()) {
        const FileResult filled = fill(unnamed.get(), pieces, old, kept);
        if (!filled.ok() || !kept)
            return filled; // closing the unnamed file discards it
        if (nameUnnamed(unnamed.get(), target, tempPath))
            return FileResult{};
        // No /proc to name it by: write it again the ordinary way.
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return fail(classify(errno), errno);
    }

    Fd fd;
    for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
        tempPath = temporaryName(target);
        fd.reset(::open(tempPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd.valid() && errno != EEXIST)
            break;
    }
    if (!fd.valid())
        return fail(classify(errno), errno);
    FileResult result = fill(fd.get(), pieces, old, kept);
    if (result.ok() && kept && ::close(fd.release()) != 0)
        result = fail(classify(errno), errno);
    if (!result.ok() || !kept)
        ::unlink(tempPath.constData());
    return result;
}

FileIdentity identityOfPath(const QByteArray &path)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    return fd.valid() ? identityOf(fd.get()) : FileIdentity{};
}

// Overwrites the file where it is. A flushed copy of the old content stands
// beside it until the new content is on disk, so that a crash leaves a whole
// file or a whole copy; a failure puts the old content back.
FileResult overwriteInPlace(const QByteArray &target, const std::vector<BytePiece> &pieces,
                            const FileIdentity *expected)
{
    Fd file(::open(target.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid())
        return fail(errno == EACCES ? FileError::ReadOnlyFile : classify(errno), errno);
    const FileIdentity before = identityOf(file.get());
    if (expected && !(before == *expected))
        return fail(FileError::Changed);
    const QByteArray copyPath = savingCopyPath(target);
    Fd copy(::open(copyPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!copy.valid())
        return fail(errno == EEXIST ? FileError::CopyLeft : classify(errno), errno);
    if (!copyRange(file.get(), 0, copy.get(), size_t(before.size)) || ::fsync(copy.get()) != 0) {
        const int err = errno;
        ::unlink(copyPath.constData());
        return fail(classify(err), err);
    }
    syncFolder(folderOf(target));

    // The unchanged ranges now come from the copy: the file itself is about
    // to be overwritten.
    std::vector<BytePiece> fromCopy = pieces;
    for (BytePiece &piece : fromCopy)
        if (piece.fd >= 0)
            piece.fd = copy.get();
    int err = 0;
    if (::lseek(file.get(), 0, SEEK_SET) != 0 || !writeAll(file.get(), fromCopy)
        || ::ftruncate(file.get(), totalSize(pieces)) != 0 || ::fsync(file.get()) != 0)
        err = errno;
    if (err != 0) {
        const bool restored = ::lseek(file.get(), 0, SEEK_SET) == 0
            && copyRange(copy.get(), 0, file.get(), size_t(before.size))
            && ::ftruncate(file.get(), before.size) == 0 && ::fsync(file.get()) == 0;
        if (!restored)
            return fail(classify(err), err); // the copy stays: it holds the old content
    }
    ::unlink(copyPath.constData());
    syncFolder(folderOf(target));
    if (err != 0)
        return fail(classify(err), err);
    return FileResult{FileError::None, 0, SaveMethod::InPlace};
}

bool renameWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && !notSupported(errno))
        return false;
    // The file system cannot do that either (FAT and exFAT through FUSE):
    // claim the name with an empty file that only one can create, then let
    // the whole copy take its place.
    Fd claim(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!claim.valid())
        return false;
    claim.reset();
    if (::rename(from.constData(), to.constData()) == 0)
        return true;
    const int err = errno;
    ::unlink(to.constData());
    errno = err;
    return false;
}

} // namespace

bool FileIdentity::operator==(const FileIdentity &other) const
{
    if (!exists || !other.exists)
        return exists == other.exists;
    return device == other.device && inode == other.inode && size == other.size
        && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

FileIdentity identityOf(int fd)
{
    struct stat st;
    FileIdentity id;
    if (::fstat(fd, &st) != 0)
        return id;
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified = st.st_mtim;
    return id;
}

QByteArray savingCopyPath(const QByteArray &path)
{
    return path + ".saving";
}

bool isTemporaryNameFor(const QByteArray &entryName, const QByteArray &fileName)
{
    if (entryName.size() != fileName.size() + 8 || !entryName.startsWith('.')
        || entryName.mid(1, fileName.size()) != fileName || entryName.at(fileName.size() + 1) != '.')
        return false;
    for (int i = fileName.size() + 2; i < entryName.size(); ++i) {
        const char c = entryName.at(i);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

FileBytes readWholeFile(const QByteArray &path)
{
    FileBytes out;
    Fd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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

FileResult replaceFileAtomically(const QByteArray &path, const QByteArray &bytes)
{
    return replaceFileAtomically(path, {BytePiece{bytes.constData(), size_t(bytes.size())}});
}

FileResult replaceFileAtomically(const QByteArray &path, const std::vector<BytePiece> &pieces,
                                 const FileIdentity *expected)
{
    const QByteArray target = resolveTarget(path);
    Original old;
    if (::stat(target.constData(), &old.st) == 0) {
        if (!S_ISREG(old.st.st_mode))
            return fail(FileError::NotAFile);
        // A rename would replace a read-only file without complaint; the user
        // made it read-only, so honour that (also for root, who may write
        // anything: a file without any write permission is read-only).
        if ((old.st.st_mode & 0222) == 0)
            return fail(FileError::ReadOnlyFile, EACCES);
        if (::access(target.constData(), W_OK) != 0)
            return fail(errno == EROFS ? FileError::FolderNotWritable : FileError::ReadOnlyFile, errno);
        old.exists = true;
    } else if (errno != ENOENT) {
        return fail(classify(errno), errno);
    }
    Fd attributes(old.exists ? ::open(target.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1);
    old.fd = attributes.get();

    // Hard links would be split by a rename: the other names keep the old
    // content.
    if (!old.exists || old.st.st_nlink == 1) {
        QByteArray temp;
        bool kept = true;
        const FileResult written = writeTemporary(target, pieces, old, temp, kept);
        if (!written.ok())
            return written;
        if (kept) {
            if (expected && !(identityOfPath(target) == *expected)) {
                ::unlink(temp.constData());
                return fail(FileError::Changed);
            }
            if (::rename(temp.constData(), target.constData()) == 0) {
                syncFolder(folderOf(target));
                return FileResult{FileError::None, 0, SaveMethod::Renamed};
            }
            const int err = errno;
            ::unlink(temp.constData());
            // Some file systems, and folders where others' files may not be
            // renamed over (sticky), still let the file itself be written.
            if (!old.exists || !(err == EXDEV || err == EPERM || err == EBUSY || notSupported(err)))
                return fail(classify(err), err);
        }
    }
    return overwriteInPlace(target, pieces, expected);
}

FileResult createFileExclusively(const QByteArray &path, const QByteArray &bytes)
{
    QByteArray temp;
    bool kept = true;
    const FileResult written =
        writeTemporary(path, {BytePiece{bytes.constData(), size_t(bytes.size())}}, Original{}, temp, kept);
    if (!written.ok())
        return written;
    // link() never replaces: two copies aimed at one name cannot both land.
    bool placed = ::link(temp.constData(), path.constData()) == 0;
    int err = errno;
    if (!placed && (err == EPERM || err == EMLINK || notSupported(err))) {
        placed = renameWithoutReplacing(temp, path); // no hard links here
        err = errno;
    }
    ::unlink(temp.constData());
    if (!placed)
        return fail(err == EEXIST ? FileError::Exists : classify(err), err);
    syncFolder(folderOf(path));

    const FileBytes back = readWholeFile(path);
    if (!back.result.ok() || back.bytes != bytes) {
        ::unlink(path.constData());
        return fail(back.result.ok() ? FileError::Mismatch : back.result.error, back.result.sysErrno);
    }
    return FileResult{};
}

} // namespace tavlo
