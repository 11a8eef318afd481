#include "store/merge.h"

#include "store/codepage.h"
#include "store/memo.h"
#include "store/profile.h"

#include <algorithm>
#include <map>
#include <vector>

namespace tavlo {
namespace {

QByteArray lowered(const char *data, qsizetype size)
{
    QByteArray out(data, int(size));
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    return out;
}

// Where each entry of the section is, by its name without regard to ASCII
// letter case: the first of each, as a read finds it.
struct Entry {
    QByteArray key;
    qsizetype value;
    qsizetype size;
};

std::vector<Entry> entriesOf(const QByteArray &file, const QByteArray &section)
{
    std::vector<Entry> entries;
    std::map<QByteArray, bool> seen;
    profile::ForEachEntry(file.constData(), file.size(), section,
                          [&](const char *key, qsizetype keySize, const char *value, qsizetype valueSize) {
                              if (keySize > 0 && seen.emplace(lowered(key, keySize), true).second)
                                  entries.push_back(Entry{QByteArray(key, int(keySize)), value - file.constData(), valueSize});
                          });
    return entries;
}

} // namespace

MergeOutcome MergeConflictCopy(const QByteArray &agenda, const QByteArray &copy, const QByteArray &section,
                               const QByteArray &marker)
{
    MergeOutcome out;
    std::map<QByteArray, Entry> ours;
    for (const Entry &e : entriesOf(agenda, section))
        ours.emplace(lowered(e.key.constData(), e.key.size()), e);
    std::vector<profile::Splice> edits;
    QByteArray newLines;
    for (const Entry &theirs : entriesOf(copy, section)) {
        const QByteArray value = copy.mid(theirs.value, theirs.size);
        const QString date = FromCp932(theirs.key);
        const auto mine = ours.find(lowered(theirs.key.constData(), theirs.key.size()));
        if (value.isEmpty() || theirs.key.startsWith('[') || theirs.key.startsWith(';'))
            continue;
        if (mine == ours.end()) {
            newLines += theirs.key + '=' + value + "\r\n";
            out.added << date;
            continue;
        }
        const QByteArray held = agenda.mid(mine->second.value, mine->second.size);
        if (held.contains(value))
            continue; // the same memo, or brought in before
        const char breakMarker = char(kLineBreakMarker);
        const QByteArray joined = held + breakMarker + marker + breakMarker + value;
        if (!FitsMemoSizeLimit(MeasureMemo(FromCp932(joined)))) {
            out.tooLong << date;
            continue;
        }
        edits.push_back(profile::Splice{mine->second.value, mine->second.size, joined});
        out.joined << date;
    }
    if (!newLines.isEmpty()) {
        // Where a write of a date the section lacks would put it (making the
        // section where there is none); the others follow on.
        profile::EditLocator locator(section, QByteArray("\x01"));
        profile::ForEachLineAt(agenda.constData(), agenda.size(), true, [&locator](const char *data, const profile::Line &line) {
            return locator.line(data + line.begin, line);
        });
        profile::Splice place = locator.planWrite(QByteArray());
        place.insert.replace("\x01=\r\n", newLines);
        edits.push_back(place);
    }
    // From the end, so that each edit's place is still where it was read.
    std::sort(edits.begin(), edits.end(), [](const profile::Splice &a, const profile::Splice &b) { return a.at > b.at; });
    out.merged = agenda;
    for (const profile::Splice &e : edits)
        out.merged.replace(int(e.at), int(e.remove), e.insert);
    return out;
}

} // namespace tavlo
