#include "store/files/inplace.h"

#include "store/files/copies.h"
#include "store/files/fileio.h"
#include "store/files/filenames.h"
#include "store/files/temporary.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>

namespace tavlo {
namespace {

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
        if (!m_temp.create(file.target()) || !CopyRange(file.fd(), 0, m_temp.fd(), size_t(file.status().st_size)))
            return FailWith(errno);
        if (!ShareLike(m_temp.fd(), file, Sharing::Journal))
            return FailWith(errno);
        if (::fsync(m_temp.fd()) != 0)
            return FailWith(errno);
        if (!m_temp.place(m_path)) {
            const int err = errno;
            m_path.clear();
            if (err == EEXIST)
                return Fail(FileError::CopyLeft);
            return FailWith(err);
        }
        SyncFolder(file.target());
        return FileResult{};
    }
    ~Journal()
    {
        if (!m_path.isEmpty()) {
            ::unlink(m_path.constData());
            SyncFolder(m_path);
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
    if (::fstat(fd, &st) != 0 || st.st_size < TotalSize(pieces))
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
    return ::lseek(fd, 0, SEEK_SET) == 0 && CopyRange(journal.fd(), 0, fd, size_t(size))
        && WriteBytes(fd, appended.constData(), size_t(appended.size()))
        && ::ftruncate(fd, size + off_t(appended.size())) == 0 && ::fsync(fd) == 0;
}

} // namespace

// Overwrites the file where it is. A failure puts the old content back.
FileResult OverwriteInPlace(const LockedFile &file, const std::vector<BytePiece> &pieces)
{
    if (!file.writable())
        return Fail(FileError::ReadOnlyFile, EACCES);
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
    if (!Unchanged(file))
        return Fail(FileError::Changed);

    // The unchanged ranges now come from the journal: the file itself is
    // about to be overwritten.
    std::vector<BytePiece> fromJournal = pieces;
    for (BytePiece &piece : fromJournal)
        if (piece.fd >= 0)
            piece.fd = journal.fd();
    // A longer file is made its new length first, so that whatever another
    // program appends meanwhile lands past the new content, where it is
    // kept; a shorter one is cut to its length with that kept after it.
    const off_t total = TotalSize(pieces);
    const off_t span = std::max(oldSize, total);
    off_t end = span; // where the new content and the old tail end now
    int err = 0;
    struct stat written;
    if ((total > oldSize && ::ftruncate(fd, total) != 0) || ::lseek(fd, 0, SEEK_SET) != 0
        || !WriteAll(fd, fromJournal) || ::fstat(fd, &written) != 0) {
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
        && (::stat(file.target().constData(), &atPath) != 0 || ::fstat(fd, &now) != 0 || !SameInode(atPath, now)
            || (!lease.held() && !holds(fd, fromJournal)));
    if (err == 0 && !moved) {
        FileResult done;
        return done; // the journal goes now
    }
    if (!restore(fd, journal, oldSize, end)) {
        FileResult lost = Fail(FileError::RestoreFailed, err != 0 ? err : errno);
        lost.journal = journal.keep();
        return lost;
    }
    return moved ? Fail(FileError::Changed) : FailWith(err);
}

} // namespace tavlo
