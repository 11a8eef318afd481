#include "store/files/recovery.h"

#include "store/files/filenames.h"
#include "store/files/safefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavlo {
namespace {

// Whether a temporary was made for the agenda file, its journal or one of
// its backups.
bool isOursFor(const QByteArray &entryName, const QByteArray &agendaName)
{
    const std::optional<QByteArray> target = TemporaryTargetOf(entryName);
    return target
        && (*target == agendaName || *target == FileNameOf(JournalPathFor(agendaName))
            || IsBackupNameOf(*target, agendaName));
}

// Removes a temporary a killed save left: a plain file of this user's that
// no running save holds locked. A second name of it is kept only when it is
// the file it was made for (a backup copy that took its name by a link).
void removeIfAbandoned(int folder, const char *name)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st, named;
    const std::optional<QByteArray> target = TemporaryTargetOf(QByteArray(name));
    const bool mine = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_nlink == 1
            || (st.st_nlink == 2 && ::fstatat(folder, target->constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
                && named.st_dev == st.st_dev && named.st_ino == st.st_ino));
    if (mine && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlinkat(folder, name, 0);
    ::close(fd);
}

bool sameContent(const LockedFile &file, const QByteArray &journalPath)
{
    LockedFile journal;
    if (!journal.open(journalPath, LockedFile::Shared, 0).ok() || !journal.exists())
        return false;
    const FileBytes a = ReadWholeFile(file);
    const FileBytes b = ReadWholeFile(journal);
    return a.result.ok() && b.result.ok() && a.bytes == b.bytes;
}

} // namespace

Recovery RecoverAfterInterruptedSaves(const QByteArray &agendaPath, int waitMs)
{
    // The agenda file's lock says that no save of another copy is running:
    // what is left beside the file is then left by a killed one.
    LockedFile file;
    const FileResult opened = file.open(agendaPath, LockedFile::Exclusive, waitMs);
    if (!opened.ok())
        return Recovery{QByteArray(), opened.error == FileError::Busy};
    const QByteArray target = file.target();
    const QByteArray agendaName = FileNameOf(target);
    if (DIR *dir = ::opendir(FolderOf(target).constData())) {
        while (const dirent *entry = ::readdir(dir))
            if (isOursFor(QByteArray(entry->d_name), agendaName))
                removeIfAbandoned(::dirfd(dir), entry->d_name);
        ::closedir(dir);
    }
    const QByteArray journal = JournalPathFor(target);
    struct stat st;
    if (::lstat(journal.constData(), &st) != 0)
        return Recovery{};
    // Killed before the file was touched, or after it was put back: the
    // journal holds nothing the file does not.
    if (file.exists() && sameContent(file, journal) && ::unlink(journal.constData()) == 0)
        return Recovery{};
    return Recovery{journal};
}

} // namespace tavlo
