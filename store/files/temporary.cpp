#include "store/files/temporary.h"

#include "store/files/filenames.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace tavlo {

Temporary::~Temporary()
{
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());
}

bool Temporary::create(const QByteArray &target)
{
    m_target = target;
    m_fd.reset(::open(FolderOf(target).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (m_fd.valid())
        return ::flock(m_fd.get(), LOCK_EX) == 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return false;
    return createNamed();
}

bool Temporary::linkUnnamed(const QByteArray &path) const
{
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(m_fd.get());
    return ::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0;
}

bool Temporary::name()
{
    if (named())
        return true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray path = TemporaryPathFor(m_target);
        if (linkUnnamed(path)) {
            m_path = path;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool Temporary::place(const QByteArray &path)
{
    if (!named()) {
        if (linkUnnamed(path))
            return true;
        if (errno != ENOENT || !name()) // ENOENT: no /proc to name it by
            return false;
    }
    if (::link(m_path.constData(), path.constData()) == 0)
        return true; // the hidden name goes when this object does
    if (errno != EPERM && errno != EMLINK && !NotSupported(errno))
        return false;
    // No hard links (FAT and exFAT through FUSE): the temporary itself
    // takes the name.
    if (!MoveToNewName(m_path, path))
        return false;
    keep();
    return true;
}

bool Temporary::createNamed()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray path = TemporaryPathFor(m_target);
        m_fd.reset(::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!m_fd.valid()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        // A start-up's clean-up may have taken it for a leftover before it
        // was locked: then it has no name any more.
        struct stat st;
        if (::flock(m_fd.get(), LOCK_EX) == 0 && ::fstat(m_fd.get(), &st) == 0 && st.st_nlink > 0) {
            m_path = path;
            return true;
        }
    }
    return false;
}

} // namespace tavlo
