#include "store/profile.h"

#include <cstring>

namespace tavlo::profile {
namespace {

struct Line {
    qsizetype begin = 0;
    qsizetype end = 0;  // end of the content, before the line end
    qsizetype next = 0; // first byte of the next line
    bool empty() const { return end == begin; }
    bool hasLineEnd() const { return next > end; }
};

// Walks the lines of a byte array; one memchr per line end, no copies.
class LineReader
{
public:
    explicit LineReader(const QByteArray &bytes) : m_data(bytes.constData()), m_size(bytes.size()) {}

    bool next(Line &line)
    {
        if (m_pos >= m_size)
            return false;
        line.begin = m_pos;
        const char *start = m_data + m_pos;
        const qsizetype rest = m_size - m_pos;
        const auto *lf = static_cast<const char *>(std::memchr(start, '\n', size_t(rest)));
        const qsizetype lfAt = lf ? lf - m_data : m_size;
        const auto *cr = static_cast<const char *>(std::memchr(start, '\r', size_t(lfAt - m_pos)));
        if (cr) {
            line.end = cr - m_data;
            line.next = (lf && line.end + 1 == lfAt) ? lfAt + 1 : line.end + 1;
        } else {
            line.end = lfAt;
            line.next = lf ? lfAt + 1 : m_size;
        }
        m_pos = line.next;
        return true;
    }

    const char *data() const { return m_data; }

private:
    const char *m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
};

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool sameName(const char *a, qsizetype aLen, const QByteArray &b)
{
    if (aLen != b.size())
        return false;
    for (qsizetype i = 0; i < aLen; ++i)
        if (asciiLower(a[i]) != asciiLower(b.constData()[i]))
            return false;
    return true;
}

bool isSectionLine(const char *data, const Line &line)
{
    return !line.empty() && data[line.begin] == '[';
}

// The line names the section when it begins with "[", the name and "]";
// whatever follows the "]" does not matter. (Taking the name up to the first
// "]" would never find a section whose own name holds one.)
bool isSection(const char *data, const Line &line, const QByteArray &section)
{
    const qsizetype len = line.end - line.begin;
    if (len < section.size() + 2 || data[line.begin + 1 + section.size()] != ']')
        return false;
    return sameName(data + line.begin + 1, section.size(), section);
}

// Position of the "=" of an entry line for `key`, or -1.
qsizetype entryFor(const char *data, const Line &line, const QByteArray &key)
{
    if (line.empty() || data[line.begin] == ';')
        return -1;
    const auto *eq = static_cast<const char *>(
        std::memchr(data + line.begin, '=', size_t(line.end - line.begin)));
    if (!eq)
        return -1;
    const qsizetype keyLen = eq - (data + line.begin);
    return sameName(data + line.begin, keyLen, key) ? eq - data : -1;
}

struct Location {
    bool sectionFound = false;
    Line lastInSection;      // last non-empty line of the section (the section line at least)
    bool keyFound = false;
    Line keyLine;
    qsizetype keyEquals = -1;
    bool anyNonEmpty = false;
    Line lastNonEmpty;       // last non-empty line of the file
};

// One pass: finds the first matching section and, in it, the first matching
// key. Stops at the key; otherwise reads on to know the file's last line.
Location locate(const QByteArray &file, const QByteArray &section, const QByteArray &key)
{
    Location loc;
    LineReader reader(file);
    const char *data = reader.data();
    enum { Before, Inside, After } state = Before;
    Line line;
    while (reader.next(line)) {
        if (!line.empty()) {
            loc.anyNonEmpty = true;
            loc.lastNonEmpty = line;
        }
        if (isSectionLine(data, line)) {
            if (state == Before && isSection(data, line, section)) {
                state = Inside;
                loc.sectionFound = true;
                loc.lastInSection = line;
            } else if (state == Inside) {
                state = After;
            }
            continue;
        }
        if (state != Inside)
            continue;
        if (!line.empty())
            loc.lastInSection = line;
        const qsizetype eq = entryFor(data, line, key);
        if (eq >= 0) {
            loc.keyFound = true;
            loc.keyLine = line;
            loc.keyEquals = eq;
            return loc;
        }
    }
    return loc;
}

// Inserts `text` (which ends in CR LF) right after `line`, giving the line a
// CR LF first when it has no line end of its own.
QByteArray insertAfter(const QByteArray &file, const Line &line, const QByteArray &text)
{
    QByteArray out;
    out.reserve(file.size() + text.size() + 2);
    out.append(file.constData(), int(line.next));
    if (!line.hasLineEnd())
        out.append("\r\n", 2);
    out.append(text);
    out.append(file.constData() + line.next, int(file.size() - line.next));
    return out;
}

QByteArray entryLine(const QByteArray &key, const QByteArray &value)
{
    QByteArray text;
    text.reserve(key.size() + value.size() + 3);
    text.append(key).append('=').append(value).append("\r\n", 2);
    return text;
}

} // namespace

qsizetype KeyScanner::feed(const QByteArray &bytes, bool atEnd)
{
    LineReader reader(bytes);
    const char *data = reader.data();
    Line line;
    qsizetype used = 0;
    while (!m_stopped && reader.next(line)) {
        // A line is only whole once its end is seen; a CR at the very end of
        // a piece may be the first half of CR LF.
        const bool whole = atEnd || (line.hasLineEnd() && !(line.next == bytes.size() && data[line.end] == '\r'));
        if (!whole)
            break;
        used = line.next;
        if (line.empty()) {
            m_stopped = true;
            break;
        }
        if (data[line.begin] == '[')
            continue;
        const auto *eq = static_cast<const char *>(
            std::memchr(data + line.begin, '=', size_t(line.end - line.begin)));
        if (!eq) {
            m_stopped = true;
            break;
        }
        m_keys.append(QByteArray(data + line.begin, int(eq - (data + line.begin))));
    }
    return used;
}

QList<QByteArray> scanKeys(const QByteArray &file)
{
    QList<QByteArray> keys;
    KeyScanner(keys).feed(file, true);
    return keys;
}

std::optional<QByteArray> readValue(const QByteArray &file, const QByteArray &section,
                                    const QByteArray &key)
{
    const Location loc = locate(file, section, key);
    if (!loc.keyFound)
        return std::nullopt;
    const qsizetype from = loc.keyEquals + 1;
    return file.mid(from, loc.keyLine.end - from);
}

QByteArray writeValue(const QByteArray &file, const QByteArray &section, const QByteArray &key,
                      const QByteArray &value)
{
    const Location loc = locate(file, section, key);
    if (loc.keyFound) {
        const qsizetype from = loc.keyEquals + 1;
        QByteArray out = file;
        out.replace(int(from), int(loc.keyLine.end - from), value);
        return out;
    }
    if (loc.sectionFound)
        return insertAfter(file, loc.lastInSection, entryLine(key, value));

    QByteArray text;
    text.append('[').append(section).append("]\r\n", 3).append(entryLine(key, value));
    if (!loc.anyNonEmpty)
        return text + file;
    return insertAfter(file, loc.lastNonEmpty, text);
}

std::optional<QByteArray> removeKey(const QByteArray &file, const QByteArray &section,
                                    const QByteArray &key)
{
    const Location loc = locate(file, section, key);
    if (!loc.keyFound)
        return std::nullopt;
    QByteArray out = file;
    out.remove(int(loc.keyLine.begin), int(loc.keyLine.next - loc.keyLine.begin));
    return out;
}

} // namespace tavlo::profile
