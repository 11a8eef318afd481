#include "store/files/copies.h"

#include "store/files/fileio.h"
#include "store/files/temporary.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>

namespace tavlo {
namespace {

std::vector<QByteArray> attributeNames(int fd, bool &ok)
{
    std::vector<QByteArray> names;
    ok = true;
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size <= 0) {
        ok = size == 0 || NotSupported(errno);
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

} // namespace

bool CopyAttributes(int from, int to)
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

bool TakeOver(int fd, const LockedFile &old)
{
    struct stat now;
    if (::fstat(fd, &now) != 0)
        return false;
    const struct stat &st = old.status();
    if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) && ::fchown(fd, st.st_uid, st.st_gid) != 0)
        return false;
    return CopyAttributes(old.fd(), fd) && ::fchmod(fd, st.st_mode & 07777) == 0;
}

// A copy of a file is readable by the file's readers: its owner and group
// where they can be given, its access list, its permissions. In doubt (the
// list cannot be copied, the group cannot be seen), a backup narrows to its
// owner (it must be no more readable than the file), and a journal keeps the
// file's permissions (the file's readers must be able to take the old
// content back). Never by anyone else: without the file's list the copy has
// none, since a folder's default list would let in whoever it names. False
// for a journal that cannot be made so.
bool ShareLike(int fd, const LockedFile &source, Sharing sharing)
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
    if (!copied && ::fremovexattr(fd, acl) != 0 && errno != ENODATA && !NotSupported(errno)) {
        if (sharing == Sharing::Journal)
            return false;
        mode &= 0600; // no group rights: every named entry is masked out
    }
    ::fchmod(fd, mode);
    return true;
}

mode_t DefaultMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

FileResult CreateCopyExclusively(const QByteArray &path, const QByteArray &bytes, const LockedFile *like)
{
    Temporary temp;
    if (!temp.create(path))
        return FailWith(errno);
    if (like)
        ShareLike(temp.fd(), *like, Sharing::Backup);
    else
        ::fchmod(temp.fd(), DefaultMode());
    if (!WriteBytes(temp.fd(), bytes.constData(), size_t(bytes.size())) || ::fsync(temp.fd()) != 0)
        return FailWith(errno);
    if (!temp.place(path))
        return Fail(errno == EEXIST ? FileError::Exists : ClassifyError(errno), errno);
    SyncFolder(path);

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
        return err ? FailWith(err) : Fail(FileError::Mismatch);
    }
    return FileResult{};
}

} // namespace tavlo
