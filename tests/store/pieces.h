#pragma once
// The profile format fed as the agenda file's streaming reads feed it: in
// pieces, each read handing over what the last one left unused and more.
// Whatever the cut, the result must be that of the whole file.
#include "store/profile.h"

#include <QList>

namespace tavlo::test {

// The keys a scan finds when the file arrives in two pieces cut at `cut`
// ("<overrun>" if the first piece claims bytes it did not get).
inline QList<QByteArray> scanInTwoPieces(const QByteArray &file, qsizetype cut)
{
    QList<QByteArray> keys;
    const auto onLine = [&keys](const char *data, const profile::Line &line) {
        return profile::ScanLine(data + line.begin, line.end - line.begin, [&keys](const char *key, qsizetype length) {
            keys.append(QByteArray(key, int(length)));
        });
    };
    const QByteArray first = file.left(cut);
    const profile::LineFeed feed = profile::ForEachLineAt(first.constData(), first.size(), false, onLine);
    if (feed.used > cut)
        return {"<overrun>"};
    if (!feed.stopped) {
        const QByteArray rest = file.mid(feed.used);
        profile::ForEachLineAt(rest.constData(), rest.size(), true, onLine);
    }
    return keys;
}

// The value of `key`, each call of the reader getting up to `step` new bytes.
inline std::optional<QByteArray> readInSteps(const QByteArray &file, const QByteArray &section,
                                             const QByteArray &key, qsizetype step)
{
    profile::ValueFinder finder(section, key);
    qsizetype from = 0;
    qsizetype have = 0;
    for (;;) {
        have = qMin(have + step, file.size() - from);
        const bool atEnd = from + have == file.size();
        const qsizetype used = finder.feed(file.constData() + from, have, atEnd);
        if (used < 0 || atEnd)
            break;
        if (used > have)
            return QByteArray("<overrun>");
        from += used;
        have -= used;
    }
    return finder.value();
}

// The edits planned from a file read in two pieces cut at `cut`.
inline profile::EditLocator locateInTwoPieces(const QByteArray &file, const QByteArray &section,
                                              const QByteArray &key, qsizetype cut)
{
    profile::EditLocator locator(section, key);
    qsizetype base = 0;
    const auto onLine = [&locator, &base](const char *data, profile::Line line) {
        const char *text = data + line.begin;
        line.begin += base;
        line.end += base;
        line.next += base;
        return locator.line(text, line);
    };
    const QByteArray first = file.left(cut);
    const profile::LineFeed feed = profile::ForEachLineAt(first.constData(), first.size(), false, onLine);
    if (!feed.stopped) {
        base = feed.used;
        const QByteArray rest = file.mid(feed.used);
        profile::ForEachLineAt(rest.constData(), rest.size(), true, onLine);
    }
    return locator;
}

// The file an edit leaves.
inline QByteArray applied(const QByteArray &file, const profile::Splice &splice)
{
    return file.left(splice.at) + splice.insert + file.mid(splice.at + splice.remove);
}

} // namespace tavlo::test

namespace tavlo::profile {
inline bool operator==(const Splice &a, const Splice &b)
{
    return a.at == b.at && a.remove == b.remove && a.insert == b.insert;
}
} // namespace tavlo::profile
