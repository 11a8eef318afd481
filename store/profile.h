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
#include <QList>
#include <optional>

namespace tavlo::profile {

// The start-up scan: keys in file order, up to the first empty line or the
// first line without "=" (lines beginning with "[" are skipped), whatever
// section they stand in.
QList<QByteArray> scanKeys(const QByteArray &file);

// The same scan over a file read in pieces, so that a huge file is read only
// as far as the scan goes.
class KeyScanner
{
public:
    explicit KeyScanner(QList<QByteArray> &keys) : m_keys(keys) {}
    // Scans the complete lines of `bytes` (all of it when `atEnd`) and returns
    // how many bytes were used; the caller keeps the rest for the next piece.
    qsizetype feed(const QByteArray &bytes, bool atEnd);
    bool stopped() const { return m_stopped; }

private:
    QList<QByteArray> &m_keys;
    bool m_stopped = false;
};

// The value of `key` in `section`, or nothing when the section or key is
// missing. An empty value is returned as an empty array.
std::optional<QByteArray> readValue(const QByteArray &file, const QByteArray &section,
                                    const QByteArray &key);

// The file after setting `key` to `value`. An existing key keeps its line and
// its spelling; a new key goes right after the section's last non-empty line;
// a new section goes after the file's last non-empty line. Lines we add end
// in CR LF. The caller makes sure no name or value holds CR, LF or NUL.
QByteArray writeValue(const QByteArray &file, const QByteArray &section, const QByteArray &key,
                      const QByteArray &value);

// The file without the key's line, or nothing when there is no such key (the
// section line stays even when its last entry goes).
std::optional<QByteArray> removeKey(const QByteArray &file, const QByteArray &section,
                                    const QByteArray &key);

} // namespace tavlo::profile
