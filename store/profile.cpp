#include "store/profile.h"

namespace tavlo::profile {
namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

// The bytes a line must have to be worth a look inside the section: "[" first
// (a section line), or the key's first and last bytes and the "=" after it,
// each in either letter case.
struct LineStartFilter {
    char first[2];
    char last[2];
    qsizetype keySize;

    bool maybe(const char *line) const
    {
        if (line[0] == '[')
            return true;
        return (line[0] == first[0] || line[0] == first[1]) && (line[keySize - 1] == last[0] || line[keySize - 1] == last[1])
            && line[keySize] == '=';
    }
};

// The first line start in (from, size - keySize - 1] whose line passes the
// filter, or -1. A line start follows a CR or an LF; after a CR that LF
// follows, the LF is what counts, and LF passes no filter.
qsizetype nextLineStart(const char *data, qsizetype from, qsizetype size, const LineStartFilter &filter)
{
    const qsizetype k = filter.keySize;
    qsizetype i = from; // the byte before the candidate line start
#ifdef __SSE2__
    // Sixteen candidates at a time, without a branch per line: the loads
    // reach k + 16 bytes on. Blocks without a line end, most of a long
    // memo's line, cost one compare.
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i bracket = _mm_set1_epi8('[');
    const __m128i first0 = _mm_set1_epi8(filter.first[0]);
    const __m128i first1 = _mm_set1_epi8(filter.first[1]);
    const __m128i last0 = _mm_set1_epi8(filter.last[0]);
    const __m128i last1 = _mm_set1_epi8(filter.last[1]);
    const __m128i equals = _mm_set1_epi8('=');
    while (i + 16 + k + 1 <= size) {
        const auto at = [data, i](qsizetype offset) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + offset));
        };
        const __m128i here = at(0);
        const __m128i isBreak = _mm_or_si128(_mm_cmpeq_epi8(here, cr), _mm_cmpeq_epi8(here, lf));
        if (!_mm_movemask_epi8(isBreak)) {
            i += 16;
            continue;
        }
        const __m128i start = at(1);
        const __m128i lastByte = at(k);
        const __m128i afterKey = at(k + 1);
        const __m128i isKey = _mm_and_si128(
            _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(start, first0), _mm_cmpeq_epi8(start, first1)),
                          _mm_or_si128(_mm_cmpeq_epi8(lastByte, last0), _mm_cmpeq_epi8(lastByte, last1))),
            _mm_cmpeq_epi8(afterKey, equals));
        const __m128i hit = _mm_and_si128(isBreak, _mm_or_si128(isKey, _mm_cmpeq_epi8(start, bracket)));
        const int mask = _mm_movemask_epi8(hit);
        if (mask)
            return i + __builtin_ctz(unsigned(mask)) + 1;
        i += 16;
    }
#endif
    for (; i + k + 1 < size; ++i)
        if (isLineBreak(data[i]) && filter.maybe(data + i + 1))
            return i + 1;
    return -1;
}

// The last position in (from, size] known to start a line, or `from`. A CR
// at the very end may yet turn out to be the first half of CR LF.
qsizetype lastLineStart(const char *data, qsizetype from, qsizetype size)
{
    for (qsizetype j = size; j > from; --j) {
        const char before = data[j - 1];
        if (before == '\n')
            return j;
        if (before == '\r' && j < size)
            return j; // data[j] is no LF, or the loop would have stopped there
    }
    return from;
}

bool sameName(const char *a, qsizetype aLen, const QByteArray &b)
{
    if (aLen != b.size())
        return false;
    const char *bd = b.constData();
    for (qsizetype i = 0; i < aLen; ++i)
        if (asciiLower(a[i]) != asciiLower(bd[i]))
            return false;
    return true;
}

bool isSectionLine(const char *line, qsizetype size)
{
    return size > 0 && line[0] == '[';
}

// The line names the section when it begins with "[", the name and "]";
// whatever follows the "]" does not matter. (Taking the name up to the first
// "]" would never find a section whose own name holds one.)
bool isSection(const char *line, qsizetype size, const QByteArray &section)
{
    if (size < section.size() + 2 || line[1 + section.size()] != ']')
        return false;
    return sameName(line + 1, section.size(), section);
}

// Position of the "=" of an entry line for `key`, or -1.
qsizetype entryFor(const char *line, qsizetype size, const QByteArray &key)
{
    if (size <= key.size() || line[0] == ';' || line[key.size()] != '=')
        return -1;
    // The key is everything before the first "=": none may come earlier.
    if (std::memchr(line, '=', size_t(key.size())))
        return -1;
    return sameName(line, key.size(), key) ? key.size() : -1;
}

// Inserting `text` (which ends in CR LF) right after `line`, giving the line
// a CR LF first when it has no line end of its own.
Splice insertAfter(const Line &line, QByteArray text)
{
    if (!line.hasLineEnd())
        text.prepend("\r\n", 2);
    return Splice{line.next, 0, std::move(text)};
}

QByteArray entryLine(const QByteArray &key, const QByteArray &value)
{
    QByteArray text;
    text.reserve(key.size() + value.size() + 3);
    text.append(key).append('=').append(value).append("\r\n", 2);
    return text;
}

} // namespace

void ForEachEntry(const char *data, qsizetype size, const QByteArray &section,
                  const std::function<void(const char *, qsizetype, const char *, qsizetype)> &onEntry)
{
    LineReader reader(data, size);
    Line line;
    bool inside = false;
    while (reader.next(line)) {
        const char *text = data + line.begin;
        const qsizetype length = line.end - line.begin;
        if (isSectionLine(text, length)) {
            if (inside)
                return;
            inside = isSection(text, length, section);
            continue;
        }
        const auto *eq = inside && length > 0 && text[0] != ';'
            ? static_cast<const char *>(std::memchr(text, '=', size_t(length)))
            : nullptr;
        if (eq)
            onEntry(text, eq - text, eq + 1, length - (eq - text) - 1);
    }
}

ValueFinder::ValueFinder(const QByteArray &section, const QByteArray &key) : m_section(section), m_key(key)
{
    // Where the key itself could begin a line the rules reject (a comment,
    // a section line, an "=" inside, a line end), every line is looked at.
    m_skipLines = !key.isEmpty() && key[0] != ';' && key[0] != '[' && !key.contains('=') && !key.contains('\r')
        && !key.contains('\n');
}

bool ValueFinder::keyAt(const char *data, qsizetype size, qsizetype at) const
{
    const qsizetype k = m_key.size();
    return at + k < size && data[at + k] == '=' && sameName(data + at, k, m_key);
}

qsizetype ValueFinder::feed(const char *data, qsizetype size, bool atEnd)
{
    qsizetype pos = 0;
    // Up to the section line, a line at a time: it is normally the first.
    while (m_state == Before) {
        const LineFeed one = ForEachLineAt(data + pos, size - pos, atEnd, [this](const char *bytes, const Line &at) {
            line(bytes + at.begin, at.end - at.begin);
            return false;
        });
        if (one.used == 0)
            return pos;
        pos += one.used;
    }
    if (m_state == Done)
        return -1;
    const qsizetype used = feedInside(data + pos, size - pos, atEnd);
    return used < 0 ? -1 : pos + used;
}

qsizetype ValueFinder::feedInside(const char *data, qsizetype size, bool atEnd)
{
    if (!m_skipLines) {
        const LineFeed lines = ForEachLineAt(data, size, atEnd, [this](const char *bytes, const Line &at) {
            return line(bytes + at.begin, at.end - at.begin);
        });
        return lines.stopped ? -1 : lines.used;
    }
    const qsizetype k = m_key.size();
    const LineStartFilter filter{{asciiLower(m_key[0]), asciiUpper(m_key[0])},
                                 {asciiLower(m_key.at(k - 1)), asciiUpper(m_key.at(k - 1))},
                                 k};
    qsizetype start = 0; // a line start
    while (start < size) {
        if (data[start] == '[') { // the section has ended
            m_state = Done;
            return -1;
        }
        if (start + k >= size && !atEnd)
            return start; // too little of the line to tell
        if (keyAt(data, size, start)) {
            const char *value = data + start + k + 1;
            const char *end = FindLineBreak(value, data + size);
            if (end == data + size && !atEnd)
                return start; // the value may go on
            m_value = QByteArray(value, int(end - value));
            m_state = Done;
            return -1;
        }
        const qsizetype next = nextLineStart(data, start, size, filter);
        if (next < 0)
            return atEnd ? size : lastLineStart(data, start, size - (k + 1));
        start = next;
    }
    return start;
}

bool ValueFinder::line(const char *data, qsizetype size)
{
    if (isSectionLine(data, size)) {
        if (m_state == Before && isSection(data, size, m_section))
            m_state = Inside;
        else if (m_state == Inside)
            m_state = Done;
        return m_state != Done;
    }
    if (m_state != Inside || size == 0)
        return true;
    const qsizetype eq = entryFor(data, size, m_key);
    if (eq < 0)
        return true;
    m_value = QByteArray(data + eq + 1, int(size - eq - 1));
    m_state = Done;
    return false;
}

bool EditLocator::line(const char *text, const Line &at)
{
    const qsizetype size = at.end - at.begin;
    if (!at.empty()) {
        m_anyNonEmpty = true;
        m_lastNonEmpty = at;
    }
    if (isSectionLine(text, size)) {
        if (m_state == Before && isSection(text, size, m_section)) {
            m_state = Inside;
            m_sectionFound = true;
            m_lastInSection = at;
        } else if (m_state == Inside) {
            m_state = After;
        }
        return true;
    }
    if (m_state != Inside)
        return true;
    if (!at.empty())
        m_lastInSection = at;
    const qsizetype eq = entryFor(text, size, m_key);
    if (eq < 0)
        return true;
    m_keyFound = true;
    m_keyLine = at;
    m_keyEquals = at.begin + eq;
    return false;
}

Splice EditLocator::planWrite(const QByteArray &value) const
{
    if (m_keyFound) {
        const qsizetype from = m_keyEquals + 1;
        return Splice{from, m_keyLine.end - from, value};
    }
    if (m_sectionFound)
        return insertAfter(m_lastInSection, entryLine(m_key, value));

    QByteArray text;
    text.append('[').append(m_section).append("]\r\n", 3).append(entryLine(m_key, value));
    if (!m_anyNonEmpty)
        return Splice{0, 0, text};
    return insertAfter(m_lastNonEmpty, text);
}

std::optional<Splice> EditLocator::planRemove() const
{
    if (!m_keyFound)
        return std::nullopt;
    return Splice{m_keyLine.begin, m_keyLine.next - m_keyLine.begin, QByteArray()};
}

} // namespace tavlo::profile
