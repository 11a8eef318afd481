#include "store/files/safefile.h"

#include "store/files/copies.h"
#include "store/files/fileio.h"
#include "store/files/filenames.h"
#include "store/files/inplace.h"
#include "store/files/temporary.h"

#include <cerrno>
#include <fcntl.h>

namespace tavlo {
namespace {

// How a save reaches the disk. A new file written beside the old one and
// renamed over it leaves the old or the new content whatever happens, but
// only where the new file can be everything the old one was: its owner,
// group, mode, access list and other names (hard links would keep the old
// content), in a folder that lets it be renamed over. Elsewhere (a group
// member saving another member's file, a file with a second name, a sticky
// folder, some file systems) the old file is overwritten where it is, its
// old content kept whole in a journal beside it until the new is on disk.
// The first is tried wherever it may hold; what the system refuses on the
// way hands over to the second before the file was touched.
enum class Strategy { RenameOver, InPlace };

// A step of the rename that either settles the save or hands over.
struct Step {
    FileResult result;
    Strategy strategy = Strategy::RenameOver;
};

Step handOver()
{
    return Step{FileResult{}, Strategy::InPlace};
}

// Writes and flushes a new file beside the target, given what the old one has.
Step writeReplacement(const LockedFile &old, const std::vector<BytePiece> &pieces, Temporary &temp)
{
    if (!temp.create(old.target()))
        return Step{FailWith(errno)};
    if (old.exists() && !TakeOver(temp.fd(), old))
        return handOver();
    if (!old.exists())
        ::fchmod(temp.fd(), DefaultMode()); // file systems without modes refuse, which is no loss
    if (!WriteAll(temp.fd(), pieces) || ::fsync(temp.fd()) != 0 || !temp.name())
        return Step{FailWith(errno)};
    return Step{};
}

// Whether the folder, or the file system, refuses to rename over the file
// where it would still let the file itself be written.
bool renameRefused(int err)
{
    return err == EXDEV || err == EPERM || err == EBUSY;
}

// Puts the written file in the target's place. Where the file system can
// exchange two names, the old file is checked after the exchange, so that a
// change made at any moment before the new content was in place is seen and
// undone; else it is checked just before the rename.
Step commitByRename(const LockedFile &old, Temporary &temp)
{
    const QByteArray &target = old.target();
    const char *from = temp.path().constData();
    if (!old.exists()) {
        if (!MoveToNewName(temp.path(), target)) // EEXIST: another program made it meanwhile
            return Step{errno == EEXIST ? Fail(FileError::Changed) : FailWith(errno)};
    } else if (::renameat2(AT_FDCWD, from, AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
        // The temporary's name now holds what was in the target's place.
        struct stat was;
        if (::lstat(from, &was) != 0 || !SameInode(was, old.status()) || !UnchangedContent(old)) {
            // Someone else's file, or ours changed: give the place back.
            if (::renameat2(AT_FDCWD, from, AT_FDCWD, target.constData(), RENAME_EXCHANGE) != 0)
                temp.keep(); // what the name holds now is not ours to remove
            return Step{Fail(FileError::Changed)};
        }
        // The old content is removed with the temporary's name.
    } else {
        const int err = errno;
        if (!NotSupported(err))
            return renameRefused(err) ? handOver() : Step{FailWith(err)};
        if (!Unchanged(old))
            return Step{Fail(FileError::Changed)};
        if (::rename(from, target.constData()) != 0)
            return renameRefused(errno) ? handOver() : Step{FailWith(errno)};
        temp.keep();
    }
    if (!old.exists())
        temp.keep();
    SyncFolder(target);
    return Step{};
}

} // namespace

FileResult ReplaceFile(const LockedFile &file, const std::vector<BytePiece> &pieces)
{
    const QByteArray &target = file.target();
    if (file.exists()) {
        // A rename would replace a read-only file without complaint; the user
        // made it read-only, so honour that (also for root, who may write
        // anything: a file without any write permission is read-only).
        if ((file.status().st_mode & 0222) == 0)
            return Fail(FileError::ReadOnlyFile, EACCES);
        if (::access(target.constData(), W_OK) != 0)
            return Fail(errno == EROFS ? FileError::ReadOnlyFileSystem : FileError::ReadOnlyFile, errno);
    }
    // What a killed in-place save left may be the only whole old content;
    // a save would hide which of the two is good.
    const QByteArray journal = JournalPathFor(target);
    struct stat st;
    if (::lstat(journal.constData(), &st) == 0) {
        FileResult refused = Fail(FileError::CopyLeft);
        refused.journal = journal;
        return refused;
    }
    // Hard links would be split by a rename: the other names would keep the
    // old content.
    if (!file.exists() || file.status().st_nlink == 1) {
        Temporary temp;
        Step step = writeReplacement(file, pieces, temp);
        if (step.result.ok() && step.strategy == Strategy::RenameOver)
            step = commitByRename(file, temp);
        if (step.strategy == Strategy::RenameOver)
            return step.result;
    }
    return OverwriteInPlace(file, pieces);
}

} // namespace tavlo
