#pragma once
// Bringing a synchroniser's conflict copy of the agenda into it, as a pure
// function over the two files' bytes: a date only in the copy is added with
// its memo; a date whose memo differs keeps the agenda's memo, then a line
// that marks what follows, then the copy's; no date is deleted. A copy whose
// memos the agenda holds already (another machine brought it in first, or
// this one did before it was stopped) changes nothing.
#include <QByteArray>
#include <QStringList>

namespace tavlo {

struct MergeOutcome {
    QByteArray merged;   // the agenda as it is to be written
    QStringList added;   // dates only the copy had
    QStringList joined;  // dates whose memos were joined
    QStringList tooLong; // dates left as they were: joined, past the size limit
    bool changed() const { return !added.isEmpty() || !joined.isEmpty(); }
};

// `marker` is the line put between two memos, in code page 932.
MergeOutcome MergeConflictCopy(const QByteArray &agenda, const QByteArray &copy, const QByteArray &section,
                               const QByteArray &marker);

} // namespace tavlo
