#include "store/leftovers.h"

#include "store/safefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavlo {
namespace {

bool allDigits(const QByteArray &text)
{
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return !text.isEmpty();
}

// A backup copy's name: the agenda name less ".txt", "_yyyyMMdd_HHmmss.txt".
bool isBackupName(const QByteArray &name, const QByteArray &stem)
{
    return name.size() == stem.size() + 20 && name.startsWith(stem) && name.endsWith(".txt")
        && name.at(stem.size()) == '_' && allDigits(name.mid(stem.size() + 1, 8))
        && name.at(stem.size() + 9) == '_' && allDigits(name.mid(stem.size() + 10, 6));
}

} // namespace

QByteArray CleanUpAfterInterruptedSaves(const QByteArray &agendaPath)
{
    const int slash = agendaPath.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? agendaPath.left(slash) : QByteArray(slash == 0 ? "/" : ".");
    const QByteArray fileName = agendaPath.mid(slash + 1);
    const QByteArray stem = fileName.left(fileName.size() - 4);
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            // "." + a backup's name + "." + six letters: the backup's name
            // ends 8 bytes before the end.
            const bool temporary = isTemporaryNameFor(name, fileName)
                || (name.size() > 8 && isBackupName(name.mid(1, name.size() - 8), stem)
                    && isTemporaryNameFor(name, name.mid(1, name.size() - 8)));
            struct stat st;
            if (temporary && ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISREG(st.st_mode))
                ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
        ::closedir(dir);
    }
    const QByteArray copy = savingCopyPath(agendaPath);
    struct stat st;
    return ::lstat(copy.constData(), &st) == 0 ? copy : QByteArray();
}

} // namespace tavlo
