#include "store/agendafile.h"

#include "store/codepage.h"
#include "store/profile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavlo {
namespace {

bool breaksLine(const QString &text)
{
    for (QChar c : text)
        if (c == u'\r' || c == u'\n' || c == u'\0')
            return true;
    return false;
}

bool isValidKey(const QString &key)
{
    // A key must come back from the file as the same entry: it cannot hold
    // "=", nor begin as a section line or a comment would.
    return !key.isEmpty() && !breaksLine(key) && !key.contains(u'=') && !key.startsWith(u'[')
        && !key.startsWith(u';');
}

// The longest prefix of at most `limit` bytes that does not end inside a
// double-byte character, after cutting at the first NUL.
qsizetype readablePrefix(const QByteArray &value, qsizetype limit)
{
    const qsizetype nul = value.indexOf('\0');
    const qsizetype size = nul >= 0 ? nul : value.size();
    if (size <= limit)
        return size;
    qsizetype i = 0;
    while (i < limit) {
        const qsizetype step = isCp932LeadByte(static_cast<unsigned char>(value.constData()[i])) ? 2 : 1;
        if (i + step > limit)
            break;
        i += step;
    }
    return i;
}

StoreResult fromFile(const FileResult &r)
{
    StoreResult out;
    out.error = r.error;
    out.sysErrno = r.sysErrno;
    return out;
}

// Hands the file's lines to `onLine` until it returns false, reading in
// pieces so that only as much of the file is read as the answer needs and a
// huge file never has to fit in memory at once. Anything but a regular file
// (a FIFO would block) counts as missing. Returns false when nothing was read.
template <class OnLine>
bool streamLines(const QString &path, OnLine &&onLine)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    constexpr qsizetype kMaxPiece = 1 << 20;
    std::vector<char> buffer(size_t(qBound<qsizetype>(4096, qsizetype(st.st_size) + 1, kMaxPiece)));
    size_t have = 0;
    for (;;) {
        if (have == buffer.size()) // one line longer than the buffer
            buffer.resize(buffer.size() * 2);
        ssize_t n;
        do {
            n = ::read(fd, buffer.data() + have, buffer.size() - have);
        } while (n < 0 && errno == EINTR);
        const bool atEnd = n <= 0;
        if (!atEnd)
            have += size_t(n);
        const profile::LineFeed feed = profile::forEachLine(buffer.data(), qsizetype(have), atEnd, onLine);
        if (feed.stopped || atEnd)
            break;
        std::memmove(buffer.data(), buffer.data() + feed.used, have - size_t(feed.used));
        have -= size_t(feed.used);
    }
    ::close(fd);
    return true;
}

// Writes the file as the splice makes it from the old content, without
// building the new content in memory first.
FileResult applyToFile(const QString &path, const QByteArray &old, const profile::Splice &splice)
{
    const qsizetype rest = splice.at + splice.remove;
    return replaceFileAtomically(path, {BytePiece{old.constData(), size_t(splice.at)},
                                        BytePiece{splice.insert.constData(), size_t(splice.insert.size())},
                                        BytePiece{old.constData() + rest, size_t(old.size() - rest)}});
}

} // namespace

AgendaFile::AgendaFile(QString path, QString section)
    : m_path(std::move(path)), m_section(std::move(section)), m_sectionBytes(toCp932(m_section).bytes)
{
}

QStringList AgendaFile::ListDateKeys() const
{
    QStringList keys;
    streamLines(m_path, [&keys](const char *line, qsizetype size) {
        qsizetype keyLength = 0;
        switch (profile::scanLine(line, size, &keyLength)) {
        case profile::ScanStep::Stop: return false;
        case profile::ScanStep::Skip: return true;
        case profile::ScanStep::Key: keys.append(fromCp932(line, keyLength)); return true;
        }
        return false;
    });
    return keys;
}

std::optional<QString> AgendaFile::ReadMemo(const QString &key) const
{
    const Cp932Encoded k = toCp932(key);
    if (!k.ok() || !isValidKey(key))
        return std::nullopt;
    profile::ValueFinder finder(m_sectionBytes, k.bytes);
    streamLines(m_path, [&finder](const char *line, qsizetype size) { return finder.line(line, size); });
    const std::optional<QByteArray> &value = finder.value();
    if (!value)
        return std::nullopt;
    const qsizetype size = readablePrefix(*value, kReadCapacity);
    if (size == 0)
        return std::nullopt;
    return fromCp932(value->constData(), size);
}

StoreResult AgendaFile::WriteMemo(const QString &key, const QString &value) const
{
    const Cp932Encoded k = toCp932(key);
    const Cp932Encoded v = toCp932(value);
    if (!isValidKey(key) || breaksLine(value) || !k.ok() || breaksLine(m_section)) {
        StoreResult refused;
        refused.error = FileError::Other;
        refused.sysErrno = EINVAL;
        return refused;
    }
    if (!v.ok()) {
        StoreResult refused;
        refused.error = FileError::Other;
        refused.sysErrno = EILSEQ;
        refused.unmappable = v.unmappable;
        return refused;
    }
    const FileBytes file = readWholeFile(m_path);
    if (!file.result.ok() && file.result.error != FileError::NotFound)
        return fromFile(file.result);
    return fromFile(applyToFile(m_path, file.bytes, profile::planWrite(file.bytes, m_sectionBytes, k.bytes, v.bytes)));
}

StoreResult AgendaFile::DeleteDate(const QString &key) const
{
    const Cp932Encoded k = toCp932(key);
    if (!k.ok() || !isValidKey(key))
        return StoreResult{}; // no such key can be in the file
    const FileBytes file = readWholeFile(m_path);
    if (file.result.error == FileError::NotFound)
        return StoreResult{};
    if (!file.result.ok())
        return fromFile(file.result);
    const std::optional<profile::Splice> splice = profile::planRemove(file.bytes, m_sectionBytes, k.bytes);
    if (!splice)
        return StoreResult{};
    return fromFile(applyToFile(m_path, file.bytes, *splice));
}

} // namespace tavlo
