#pragma once
// The system calls the file layer's parts share: whole writes, copies the
// kernel makes, links followed, and whether a locked file is still the one
// that was read.
#include "store/files/safefile.h"

#include <QByteArray>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavlo {

FileResult Fail(FileError error, int err = 0);
// The error a system call's errno means for a write.
FileResult FailWith(int err);
// Whether an errno says the file system lacks what was asked of it.
bool NotSupported(int err);

// A descriptor closed when it goes.
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

// Writes all of it, or false with errno set.
bool WriteBytes(int fd, const char *data, size_t size);
// Copies a range of one file to the current position of another.
bool CopyRange(int from, off_t offset, int to, size_t size);
bool WriteAll(int fd, const std::vector<BytePiece> &pieces);
off_t TotalSize(const std::vector<BytePiece> &pieces);
// Gives `from` the name `to`, which must not exist yet: false with errno
// EEXIST when it does. Where the file system cannot rename exclusively (FAT,
// exFAT through FUSE) the name is checked just before: enough where every
// program that could aim at the name holds the agenda's lock, or none would.
bool MoveToNewName(const QByteArray &from, const QByteArray &to);
// The file a path names through its links; it need not exist yet.
QByteArray ResolveTarget(QByteArray path);
// Flushes the folder of `path`, so that a name made or moved there lasts.
void SyncFolder(const QByteArray &path);
bool SameInode(const struct stat &a, const struct stat &b);
// Whether the locked file's content is as it was when it was read.
bool UnchangedContent(const LockedFile &file);
// ... and the path still names it, through the same links.
bool Unchanged(const LockedFile &file);

} // namespace tavlo
