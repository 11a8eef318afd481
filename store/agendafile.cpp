#include "store/agendafile.h"

#include "store/codepage.h"
#include "store/profile.h"

#include <QFile>

#include <cerrno>
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

// Reads in steps so that a huge file is read only as far as the scan goes.
class ChunkedScan
{
public:
    explicit ChunkedScan(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~ChunkedScan()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ChunkedScan(const ChunkedScan &) = delete;
    ChunkedScan &operator=(const ChunkedScan &) = delete;

    QList<QByteArray> run()
    {
        QList<QByteArray> keys;
        if (m_fd < 0)
            return keys;
        constexpr size_t kChunk = 1 << 20;
        std::vector<char> chunk(kChunk);
        QByteArray buffer;
        profile::KeyScanner scanner(keys);
        for (;;) {
            ssize_t n;
            do {
                n = ::read(m_fd, chunk.data(), kChunk);
            } while (n < 0 && errno == EINTR);
            const bool atEnd = n <= 0;
            if (!atEnd)
                buffer.append(chunk.data(), int(n));
            const qsizetype used = scanner.feed(buffer, atEnd);
            if (scanner.stopped() || atEnd)
                break;
            buffer.remove(0, int(used));
        }
        return keys;
    }

private:
    int m_fd = -1;
};

} // namespace

AgendaFile::AgendaFile(QString path, QString section)
    : m_path(std::move(path)), m_section(std::move(section)), m_sectionBytes(toCp932(m_section).bytes)
{
}

QStringList AgendaFile::ListDateKeys() const
{
    QStringList keys;
    const QList<QByteArray> raw = ChunkedScan(m_path).run();
    keys.reserve(raw.size());
    for (const QByteArray &key : raw)
        keys.append(fromCp932(key));
    return keys;
}

std::optional<QString> AgendaFile::ReadMemo(const QString &key) const
{
    const Cp932Encoded k = toCp932(key);
    if (!k.ok() || !isValidKey(key))
        return std::nullopt;
    const FileBytes file = readWholeFile(m_path);
    if (!file.result.ok())
        return std::nullopt;
    const std::optional<QByteArray> value = profile::readValue(file.bytes, m_sectionBytes, k.bytes);
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
    return fromFile(replaceFileAtomically(
        m_path, profile::writeValue(file.bytes, m_sectionBytes, k.bytes, v.bytes)));
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
    const std::optional<QByteArray> updated = profile::removeKey(file.bytes, m_sectionBytes, k.bytes);
    if (!updated)
        return StoreResult{};
    return fromFile(replaceFileAtomically(m_path, *updated));
}

} // namespace tavlo
