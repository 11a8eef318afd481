#include "store/search.h"

#include "store/codepage.h"
#include "store/memo.h"
#include "store/profile.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tavlo {
namespace {

// Half-width katakana and their marks (U+FF61 to U+FF9F) as full-width.
constexpr char16_t kFullWidthKana[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5,
    0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3,
    0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC,
    0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4,
    0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C};

// The full-width kana a half-width one and its voiced (or semi-voiced)
// mark make together, or 0.
char16_t withMark(char16_t kana, char16_t mark)
{
    const bool ka = kana >= 0x30AB && kana <= 0x30C8 && kana != 0x30C3; // カ to ト, not the small ッ
    const bool ha = kana >= 0x30CF && kana <= 0x30DB && (kana - 0x30CF) % 3 == 0; // ハヒフヘホ
    if (mark == 0xFF9E)
        return ka || ha ? char16_t(kana + 1) : kana == 0x30A6 ? char16_t(0x30F4) : 0; // ウ to ヴ
    return ha ? char16_t(kana + 2) : 0;
}

// Folds `text` as the options say into `folded`, and notes in `begins` where
// in `text` each folded character began (and, last, the text's end).
void fold(QStringView text, const FindOptions &options, std::vector<char16_t> &folded, std::vector<qsizetype> &begins)
{
    folded.clear();
    begins.clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        begins.push_back(i);
        if (!options.matchWidth) {
            if (c >= 0xFF01 && c <= 0xFF5E) {
                c = char16_t(c - 0xFEE0);
            } else if (c == 0x3000) {
                c = u' ';
            } else if (c >= 0xFF61 && c <= 0xFF9F) {
                c = kFullWidthKana[c - 0xFF61];
                const char16_t next = i + 1 < text.size() ? text[i + 1].unicode() : 0;
                if (const char16_t marked = next == 0xFF9E || next == 0xFF9F ? withMark(c, next) : 0) {
                    c = marked;
                    ++i;
                }
            }
        }
        if (!options.matchCase && c >= 0x80)
            c = QChar(c).toCaseFolded().unicode();
        else if (!options.matchCase && c >= u'A' && c <= u'Z')
            c = char16_t(c + 32);
        folded.push_back(c);
    }
    begins.push_back(text.size());
}

// The dates in the list are written "2024.05.07"; one typed "2024/05" or
// "2024-05" means the same.
QString asDate(const QString &needle)
{
    QString out = needle;
    for (QChar &c : out)
        if (c == u'/' || c == u'-' || c == u'／' || c == u'－' || c == u'．')
            c = u'.';
    return out;
}

// The agenda section's entries, to be found by name as ReadMemo finds them:
// the first of each name, without regard to ASCII letter case.
class Entries
{
public:
    Entries(const QByteArray &file, const QByteArray &section) : m_file(file)
    {
        profile::ForEachEntry(file.constData(), file.size(), section,
                              [this](const char *key, qsizetype keySize, const char *value, qsizetype valueSize) {
                                  m_entries.push_back(Entry{key - m_file.constData(), keySize,
                                                            value - m_file.constData(), valueSize});
                              });
        // A file written date by date is in order already.
        const auto before = [this](const Entry &a, const Entry &b) { return compare(a, key(b)) < 0; };
        if (!std::is_sorted(m_entries.begin(), m_entries.end(), before))
            std::stable_sort(m_entries.begin(), m_entries.end(), before);
    }

    // The stored value of `name` (a date as the list shows it), or nothing.
    bool find(const QString &name, const char *&value, qsizetype &size) const
    {
        const Cp932Encoded bytes = ToCp932(name);
        if (!bytes.ok() || bytes.bytes.isEmpty())
            return false;
        const std::string_view wanted(bytes.bytes.constData(), size_t(bytes.bytes.size()));
        const auto at = std::lower_bound(m_entries.begin(), m_entries.end(), wanted,
                                         [this](const Entry &e, std::string_view k) { return compare(e, k) < 0; });
        if (at == m_entries.end() || compare(*at, wanted) != 0)
            return false;
        value = m_file.constData() + at->value;
        size = at->valueSize;
        return true;
    }

private:
    struct Entry {
        qsizetype key, keySize, value, valueSize;
    };

    std::string_view key(const Entry &e) const { return std::string_view(m_file.constData() + e.key, size_t(e.keySize)); }

    int compare(const Entry &e, std::string_view other) const
    {
        const std::string_view mine = key(e);
        for (size_t i = 0; i < mine.size() && i < other.size(); ++i) {
            const auto lower = [](char c) { return uchar(c >= 'A' && c <= 'Z' ? c + 32 : c); };
            if (lower(mine[i]) != lower(other[i]))
                return lower(mine[i]) < lower(other[i]) ? -1 : 1;
        }
        return mine.size() == other.size() ? 0 : mine.size() < other.size() ? -1 : 1;
    }

    const QByteArray &m_file;
    std::vector<Entry> m_entries;
};

} // namespace

TextMatch FindInText(QStringView text, QStringView needle, qsizetype from, bool down, const FindOptions &options)
{
    thread_local std::vector<char16_t> foldedText, foldedNeedle;
    thread_local std::vector<qsizetype> begins, ignored;
    fold(needle, options, foldedNeedle, ignored);
    fold(text, options, foldedText, begins);
    const QStringView haystack(foldedText.data(), qsizetype(foldedText.size()));
    const QStringView wanted(foldedNeedle.data(), qsizetype(foldedNeedle.size()));
    if (wanted.isEmpty())
        return TextMatch{};
    // Where `from` falls among the folded characters.
    const qsizetype at = std::lower_bound(begins.begin(), begins.end(), from) - begins.begin();
    qsizetype found = -1;
    if (down) {
        found = haystack.indexOf(wanted, at);
    } else {
        const qsizetype last = std::min<qsizetype>(at, haystack.size()) - wanted.size();
        found = last < 0 ? -1 : haystack.lastIndexOf(wanted, last);
    }
    if (found < 0)
        return TextMatch{};
    return TextMatch{begins[size_t(found)], begins[size_t(found + wanted.size())]};
}

namespace {

// The dates and the memos the file holds now, as a search looks at them.
class Candidates
{
public:
    Candidates(const QByteArray &file, const QByteArray &section, const QStringList &keys, const QString &needle,
               const FindOptions &options)
        : m_entries(file, section), m_keys(keys), m_dateNeedle(asDate(needle)), m_options(options)
    {
    }

    bool dateMatches(int row) const { return FindInText(m_keys.at(row), m_dateNeedle, 0, true, m_options).found(); }

    // The memo the file holds now, as the editor would show it.
    QStringView storedMemo(int row)
    {
        m_memo.clear();
        const char *value = nullptr;
        qsizetype size = 0;
        if (m_entries.find(m_keys.at(row), value, size))
            AppendFromCp932(value, AgendaFile::ReadablePrefix(value, size), m_memo);
        std::replace(m_memo.begin(), m_memo.end(), char16_t(kLineBreakMarker), char16_t(u'\n'));
        return QStringView(m_memo.data(), qsizetype(m_memo.size()));
    }

private:
    const Entries m_entries;
    const QStringList &m_keys;
    const QString m_dateNeedle;
    const FindOptions &m_options;
    std::vector<char16_t> m_memo;
};

FindResult foundAt(int row, TextMatch match, bool wrapped)
{
    FindResult result;
    result.row = row;
    result.inMemo = match.found();
    result.begin = match.found() ? match.begin : 0;
    result.end = match.found() ? match.end : 0;
    result.wrapped = wrapped;
    return result;
}

} // namespace

FindResult FindNext(const AgendaFile &store, const QStringList &keys, const FindRequest &request)
{
    // A line break is never matched across: the text box gives one line.
    const QString needle = request.needle.section(QLatin1Char('\n'), 0, 0);
    if (needle.isEmpty())
        return FindResult{};
    const FileBytes file = store.ReadAll();
    if (!file.result.ok() && file.result.error != FileError::NotFound) {
        FindResult failed;
        failed.failure = file.result;
        return failed;
    }
    Candidates in(file.bytes, store.SectionBytes(), keys, needle, request.options);
    const FindOptions &options = request.options;
    const bool down = request.down;
    const int count = int(keys.size());
    const int current = request.row >= 0 && request.row < count ? request.row : -1;
    if (current >= 0) {
        // The current memo as edited, from the cursor on; going up, its
        // date comes before it.
        const TextMatch match = FindInText(request.memo, needle, request.cursor, down, options);
        if (match.found())
            return foundAt(current, match, false);
        if (!down && in.dateMatches(current))
            return foundAt(current, TextMatch{}, false);
    }
    for (int step = 1; step <= count; ++step) {
        const int row = current < 0 ? (down ? step - 1 : count - step)
                                    : (down ? (current + step) % count : (current - step + count) % count);
        const bool wrapped = current >= 0 && (down ? row <= current : row >= current);
        if (row == current) {
            // Back at the start, past the end: what lies before the cursor.
            if (down && in.dateMatches(row))
                return foundAt(row, TextMatch{}, true);
            const TextMatch match = FindInText(request.memo, needle, down ? 0 : request.memo.size(), down, options);
            if (match.found() && (down ? match.begin < request.cursor : match.end > request.cursor))
                return foundAt(row, match, true);
            break;
        }
        if (down && in.dateMatches(row))
            return foundAt(row, TextMatch{}, wrapped);
        const QStringView text = in.storedMemo(row);
        const TextMatch match = FindInText(text, needle, down ? 0 : text.size(), down, options);
        if (match.found())
            return foundAt(row, match, wrapped);
        if (!down && in.dateMatches(row))
            return foundAt(row, TextMatch{}, wrapped);
    }
    return FindResult{};
}

} // namespace tavlo
