#include "store/profile.h"

namespace tavlo::profile {
namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
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
    const char *data = file.constData();
    LineReader reader(data, file.size());
    enum { Before, Inside, After } state = Before;
    Line line;
    while (reader.next(line)) {
        const char *text = data + line.begin;
        const qsizetype size = line.end - line.begin;
        if (!line.empty()) {
            loc.anyNonEmpty = true;
            loc.lastNonEmpty = line;
        }
        if (isSectionLine(text, size)) {
            if (state == Before && isSection(text, size, section)) {
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
        const qsizetype eq = entryFor(text, size, key);
        if (eq >= 0) {
            loc.keyFound = true;
            loc.keyLine = line;
            loc.keyEquals = line.begin + eq;
            return loc;
        }
    }
    return loc;
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

ScanStep scanLine(const char *line, qsizetype size, qsizetype *keyLength)
{
    if (size == 0)
        return ScanStep::Stop;
    if (line[0] == '[')
        return ScanStep::Skip;
    const auto *eq = static_cast<const char *>(std::memchr(line, '=', size_t(size)));
    if (!eq)
        return ScanStep::Stop;
    *keyLength = eq - line;
    return ScanStep::Key;
}

QList<QByteArray> scanKeys(const QByteArray &file)
{
    QList<QByteArray> keys;
    forEachLine(file.constData(), file.size(), true, [&keys](const char *line, qsizetype size) {
        qsizetype keyLength = 0;
        switch (scanLine(line, size, &keyLength)) {
        case ScanStep::Stop: return false;
        case ScanStep::Skip: return true;
        case ScanStep::Key: keys.append(QByteArray(line, int(keyLength))); return true;
        }
        return false;
    });
    return keys;
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

std::optional<QByteArray> readValue(const QByteArray &file, const QByteArray &section,
                                    const QByteArray &key)
{
    ValueFinder finder(section, key);
    forEachLine(file.constData(), file.size(), true,
                [&finder](const char *line, qsizetype size) { return finder.line(line, size); });
    return finder.value();
}

Splice planWrite(const QByteArray &file, const QByteArray &section, const QByteArray &key,
                 const QByteArray &value)
{
    const Location loc = locate(file, section, key);
    if (loc.keyFound) {
        const qsizetype from = loc.keyEquals + 1;
        return Splice{from, loc.keyLine.end - from, value};
    }
    if (loc.sectionFound)
        return insertAfter(loc.lastInSection, entryLine(key, value));

    QByteArray text;
    text.append('[').append(section).append("]\r\n", 3).append(entryLine(key, value));
    if (!loc.anyNonEmpty)
        return Splice{0, 0, text};
    return insertAfter(loc.lastNonEmpty, text);
}

std::optional<Splice> planRemove(const QByteArray &file, const QByteArray &section, const QByteArray &key)
{
    const Location loc = locate(file, section, key);
    if (!loc.keyFound)
        return std::nullopt;
    return Splice{loc.keyLine.begin, loc.keyLine.next - loc.keyLine.begin, QByteArray()};
}

QByteArray applySplice(const QByteArray &file, const Splice &splice)
{
    QByteArray out;
    out.reserve(file.size() - splice.remove + splice.insert.size());
    out.append(file.constData(), int(splice.at));
    out.append(splice.insert);
    const qsizetype rest = splice.at + splice.remove;
    out.append(file.constData() + rest, int(file.size() - rest));
    return out;
}

} // namespace tavlo::profile
