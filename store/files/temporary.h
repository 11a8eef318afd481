#pragma once
// A new file beside a target, written before it takes a name there. It is
// made without a name where the system allows, so that a crash leaves
// nothing behind; else under a marked hidden name (TemporaryPathFor). It is
// locked for as long as it exists, so that a start-up's clean-up can tell it
// from one a killed save left. Removed when destroyed, unless kept.
#include "store/files/fileio.h"

#include <QByteArray>

namespace tavlo {

class Temporary
{
public:
    Temporary() = default;
    ~Temporary();
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;

    // Opens one beside `target`; false with errno set when none can be made.
    bool create(const QByteArray &target);
    int fd() const { return m_fd.get(); }
    bool named() const { return !m_path.isEmpty(); }
    const QByteArray &path() const { return m_path; }
    // It took its place: nothing to remove.
    void keep() { m_path.clear(); }
    // Gives the complete file a hidden name of its own.
    bool name();
    // Gives the complete file the name `path`, which must not exist: a file
    // already there is never replaced (EEXIST).
    bool place(const QByteArray &path);

private:
    bool createNamed();
    // Gives the unnamed file the name `path`; false with errno set.
    bool linkUnnamed(const QByteArray &path) const;

    Fd m_fd;
    QByteArray m_target;
    QByteArray m_path;
};

} // namespace tavlo
