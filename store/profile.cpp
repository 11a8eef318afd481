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

QList<QByteArray> scanKeys(const QByteArray &file)
{
    QList<QByteArray> keys;
    forEachLine(file.constData(), file.size(), true, [&keys](const char *line, qsizetype size) {
        return scanLine(line, size, [&keys](const char *key, qsizetype length) {
            keys.append(QByteArray(key, int(length)));
        });
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

namespace {
EditLocator locateIn(const QByteArray &file, const QByteArray &section, const QByteArray &key)
{
    EditLocator locator(section, key);
    forEachLineAt(file.constData(), file.size(), true, [&locator](const char *data, const Line &line) {
        return locator.line(data + line.begin, line);
    });
    return locator;
}
} // namespace

Splice planWrite(const QByteArray &file, const QByteArray &section, const QByteArray &key,
                 const QByteArray &value)
{
    return locateIn(file, section, key).planWrite(value);
}

std::optional<Splice> planRemove(const QByteArray &file, const QByteArray &section, const QByteArray &key)
{
    return locateIn(file, section, key).planRemove();
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
