#pragma once
// The INI profile format of the agenda file, as pure functions over the
// file's bytes: every rule here can be tested without touching a disk.
//
// Rules:
// - Lines end in CR LF, LF or a lone CR; a last line without an end counts.
// - A line whose first byte is "[" is a section line; it opens the section
//   whose name stands between that "[" and a "]" (anything after is ignored).
// - In a section, a line holding "=" is an entry; its key is every byte before
//   the first "=", its value every byte after it, both taken as they are
//   (no trimming, no quote stripping). A line beginning with ";" is a comment.
// - Section and key names match without regard to ASCII letter case; the
//   first matching section and, inside it, the first matching key count.
// - An edit changes only the bytes it must; everything else stays as it was.
#include <QByteArray>

#include <cstring>
#include <functional>
#include <optional>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tavlo::profile {

// --- Lines -------------------------------------------------------------------

struct Line {
    qsizetype begin = 0;
    qsizetype end = 0;  // end of the content, before the line end
    qsizetype next = 0; // first byte of the next line
    bool empty() const { return end == begin; }
    bool hasLineEnd() const { return next > end; }
};

// The first CR or LF in [p, end), or end. One pass over the bytes, sixteen
// at a time where the processor allows: every read of the file runs through
// here, and most lines are long memos.
inline const char *FindLineBreak(const char *p, const char *end)
{
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
        if (mask)
            return p + __builtin_ctz(unsigned(mask));
        p += 16;
    }
#endif
    for (; p < end; ++p)
        if (*p == '\r' || *p == '\n')
            return p;
    return end;
}

// Walks the lines of a byte range without copying them.
class LineReader
{
public:
    LineReader(const char *data, qsizetype size) : m_data(data), m_size(size) {}

    bool next(Line &line)
    {
        if (m_pos >= m_size)
            return false;
        const char *end = m_data + m_size;
        const char *brk = FindLineBreak(m_data + m_pos, end);
        line.begin = m_pos;
        line.end = brk - m_data;
        if (brk == end)
            line.next = m_size;
        else if (*brk == '\r' && brk + 1 < end && brk[1] == '\n')
            line.next = line.end + 2;
        else
            line.next = line.end + 1;
        m_pos = line.next;
        return true;
    }

private:
    const char *m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
};

struct LineFeed {
    qsizetype used = 0;   // bytes up to the end of the last line handed over
    bool stopped = false; // the callback asked to stop
};

// Hands each complete line of a piece of a file to `onLine(data, line)`,
// with the line's offsets within `data`; the last line counts as complete
// only `atEnd` (a CR at the very end of a piece may be the first half of
// CR LF). Stops when `onLine` returns false. The caller keeps the unused rest
// for the next piece.
template <class OnLine>
LineFeed ForEachLineAt(const char *data, qsizetype size, bool atEnd, OnLine &&onLine)
{
    LineFeed feed;
    LineReader reader(data, size);
    Line line;
    while (reader.next(line)) {
        const bool whole = atEnd || (line.hasLineEnd() && !(line.next == size && data[line.end] == '\r'));
        if (!whole)
            break;
        feed.used = line.next;
        if (!onLine(data, line)) {
            feed.stopped = true;
            break;
        }
    }
    return feed;
}

// --- The start-up scan ---------------------------------------------------------

// One line of the start-up scan: the scan ends at the first empty line and at
// the first line without "="; lines beginning with "[" are skipped, whatever
// section they open; otherwise `onKey(line, keyLength)` gets the key, every
// byte before the first "=". Returns false where the scan ends.
template <class OnKey>
bool ScanLine(const char *line, qsizetype size, OnKey &&onKey)
{
    if (size == 0)
        return false;
    if (line[0] == '[')
        return true;
    const auto *eq = static_cast<const char *>(std::memchr(line, '=', size_t(size)));
    if (!eq)
        return false;
    onKey(line, qsizetype(eq - line));
    return true;
}

// --- Reading -----------------------------------------------------------------

// Every entry of the first section named `section` (the lines a value is
// read from), in file order: `onEntry(key, keySize, value, valueSize)`. A
// comment, an empty line and one without "=" are no entry.
void ForEachEntry(const char *data, qsizetype size, const QByteArray &section,
                  const std::function<void(const char *, qsizetype, const char *, qsizetype)> &onEntry);

// Looks for a value in a file read in pieces, so that the reading can stop as
// soon as the answer is known.
class ValueFinder
{
public:
    ValueFinder(const QByteArray &section, const QByteArray &key);

    // Takes the next line; false once the answer is known (found, or the
    // section has ended). This is the rule; feed() gives the same answers.
    bool line(const char *data, qsizetype size);

    // Takes the next bytes of the file, which begin at a line start; `atEnd`
    // when they reach the end of the file. Returns how many bytes it is done
    // with (they end at a line start; the rest must come again, with more
    // behind it), or -1 once the answer is known. Inside the section it does
    // not split lines: it looks only at the bytes after each line end, since
    // only a line that starts as the key or as a section line matters there.
    // A date switch reads a whole year's worth of memos this way.
    qsizetype feed(const char *data, qsizetype size, bool atEnd);

    const std::optional<QByteArray> &value() const { return m_value; }

private:
    qsizetype feedInside(const char *data, qsizetype size, bool atEnd);
    bool keyAt(const char *data, qsizetype size, qsizetype at) const;

    QByteArray m_section;
    QByteArray m_key;
    bool m_skipLines = false; // the key can be recognised from a line's first bytes alone
    enum { Before, Inside, Done } m_state = Before;
    std::optional<QByteArray> m_value;
};

// --- Editing -----------------------------------------------------------------

// An edit of a file: `remove` bytes at `at` give way to `insert`. Every edit
// is one such run, so everything else keeps its bytes, and the new file can
// be written from the old one's pieces without building it first.
struct Splice {
    qsizetype at = 0;
    qsizetype remove = 0;
    QByteArray insert;
};

// Finds where an edit of `key` in `section` goes, line by line, so that a
// file can be read in pieces: the first matching section and, in it, the first
// matching key; without the key, the places where a new line would go.
class EditLocator
{
public:
    EditLocator(const QByteArray &section, const QByteArray &key) : m_section(section), m_key(key) {}
    // The next line: its text and its offsets in the whole file. False once
    // the key is found (nothing after it matters).
    bool line(const char *text, const Line &at);

    // Setting the key to `value`. An existing key keeps its line and its
    // spelling; a new key goes right after the section's last non-empty line;
    // a new section goes after the file's last non-empty line. Lines we add
    // end in CR LF. The caller makes sure no name or value holds CR, LF or NUL.
    Splice planWrite(const QByteArray &value) const;
    // Removing the key's line, or nothing when there is no such key (the
    // section line stays even when its last entry goes).
    std::optional<Splice> planRemove() const;

private:
    QByteArray m_section;
    QByteArray m_key;
    enum { Before, Inside, After } m_state = Before;
    bool m_sectionFound = false;
    Line m_lastInSection; // last non-empty line of the section (the section line at least)
    bool m_keyFound = false;
    Line m_keyLine;
    qsizetype m_keyEquals = -1;
    bool m_anyNonEmpty = false;
    Line m_lastNonEmpty; // last non-empty line of the file so far
};

} // namespace tavlo::profile
