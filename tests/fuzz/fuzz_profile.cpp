// Fuzzes the profile format: arbitrary file bytes, then a sequence of reads,
// writes and deletes. Checks what must hold, not only that nothing crashes:
// - the scan agrees with a plain line-by-line reference and never returns a
//   key from past its stop, also when the file arrives in two pieces;
// - a write is read back as written; a delete leaves nothing to read;
// - every byte an operation does not own keeps its value (the file changes
//   in one place only: the value replaced, the line inserted or removed).
#include "store/profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>

#include <cstdlib>
#include <string>

using namespace tavlo;

namespace {

QByteArray g_context; // what the current operation works on, for the report

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n%s\n", what, g_context.toPercentEncoding().constData());
        std::abort();
    }
}

QList<QByteArray> lines(const QByteArray &file)
{
    QList<QByteArray> out;
    qsizetype i = 0;
    while (i < file.size()) {
        qsizetype end = i;
        while (end < file.size() && file[end] != '\r' && file[end] != '\n')
            ++end;
        out.append(file.mid(i, end - i));
        i = end;
        if (i < file.size() && file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
            i += 2;
        else if (i < file.size())
            i += 1;
    }
    return out;
}

// The scan, written as plainly as possible.
QList<QByteArray> referenceScan(const QByteArray &file)
{
    QList<QByteArray> keys;
    for (const QByteArray &line : lines(file)) {
        if (line.isEmpty())
            break;
        if (line.startsWith('['))
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            break;
        keys.append(line.left(eq));
    }
    return keys;
}

// Entry lines for `key` in the first section named `section`.
int referenceCount(const QByteArray &file, const QByteArray &section, const QByteArray &key)
{
    int state = 0; // 0 before, 1 inside, 2 after
    int count = 0;
    for (const QByteArray &line : lines(file)) {
        if (line.startsWith('[')) {
            const QByteArray head = line.left(section.size() + 2).toLower();
            if (state == 0 && head == "[" + section.toLower() + "]")
                state = 1;
            else if (state == 1)
                state = 2;
            continue;
        }
        if (state != 1 || line.startsWith(';'))
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq >= 0 && line.left(eq).toLower() == key.toLower())
            ++count;
    }
    return count;
}

// A name or value that a caller may pass: no CR, LF or NUL; keys also no
// "=" and no leading "[" or ";".
QByteArray sanitize(std::string s, bool key)
{
    QByteArray out;
    for (char c : s) {
        if (c == '\r' || c == '\n' || c == '\0' || (key && c == '='))
            continue;
        out.append(c);
    }
    while (key && (out.startsWith('[') || out.startsWith(';')))
        out.remove(0, 1);
    if (key && out.isEmpty())
        out = "k";
    return out;
}

qsizetype commonPrefix(const QByteArray &a, const QByteArray &b)
{
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return n;
}

qsizetype commonSuffix(const QByteArray &a, const QByteArray &b, qsizetype prefix)
{
    qsizetype n = 0;
    while (n < a.size() - prefix && n < b.size() - prefix && a[a.size() - 1 - n] == b[b.size() - 1 - n])
        ++n;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QByteArray section = sanitize(in.ConsumeRandomLengthString(12), true);
    QByteArray file = QByteArray::fromStdString(in.ConsumeRandomLengthString(2048));

    const int ops = in.ConsumeIntegralInRange(0, 8);
    for (int op = 0; op < ops; ++op) {
        // The scan, whole and in two pieces.
        const QList<QByteArray> keys = profile::scanKeys(file);
        check(keys == referenceScan(file), "scan matches the reference");
        const qsizetype cut = in.ConsumeIntegralInRange<qsizetype>(0, file.size());
        QList<QByteArray> pieced;
        const auto onLine = [&pieced](const char *line, qsizetype size) {
            return profile::scanLine(line, size, [&pieced](const char *key, qsizetype length) {
                pieced.append(QByteArray(key, int(length)));
            });
        };
        const QByteArray first = file.left(cut);
        const profile::LineFeed feed = profile::forEachLine(first.constData(), first.size(), false, onLine);
        check(feed.used <= cut, "a piece is not overrun");
        if (!feed.stopped) {
            const QByteArray rest = file.mid(feed.used);
            profile::forEachLine(rest.constData(), rest.size(), true, onLine);
        }
        // Reading a value in two pieces finds the same as the whole file.
        {
            // A fixed key, or one the file holds (more often found).
            const qsizetype pick = in.ConsumeIntegralInRange<qsizetype>(0, keys.size());
            const QByteArray probe = pick < keys.size() ? keys.at(pick) : sanitize(std::string("k"), true);
            profile::ValueFinder finder(section, probe);
            const auto take = [&finder](const char *line, qsizetype size) { return finder.line(line, size); };
            const profile::LineFeed f = profile::forEachLine(first.constData(), first.size(), false, take);
            if (!f.stopped) {
                const QByteArray rest = file.mid(f.used);
                profile::forEachLine(rest.constData(), rest.size(), true, take);
            }
            check(finder.value() == profile::readValue(file, section, probe), "a read in pieces matches the whole");
            // The reader that skips lines, fed as a streaming reader feeds it.
            profile::ValueFinder skipping(section, probe);
            const qsizetype step = in.ConsumeIntegralInRange<qsizetype>(1, 64);
            qsizetype from = 0;
            qsizetype have = 0;
            for (;;) {
                have = std::min(have + step, file.size() - from);
                const bool atEnd = from + have == file.size();
                const qsizetype used = skipping.feed(file.constData() + from, have, atEnd);
                if (used < 0 || atEnd)
                    break;
                check(used <= have, "a piece is not overrun");
                from += used;
                have -= used;
            }
            check(skipping.value() == finder.value(), "skipping lines finds what the line rule finds");
        }
        check(pieced == keys, "scan in pieces matches the whole");

        const QByteArray key = sanitize(in.ConsumeRandomLengthString(12), true);
        const std::optional<QByteArray> before = profile::readValue(file, section, key);
        check(before.has_value() == (referenceCount(file, section, key) > 0), "read agrees with the reference");
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: { // write
            const QByteArray value = sanitize(in.ConsumeRandomLengthString(64), false);
            g_context = "section=" + section + " key=" + key + " value=" + value + " file=" + file;
            const QByteArray next = profile::writeValue(file, section, key, value);
            check(profile::readValue(next, section, key) == value, "a write reads back");
            const qsizetype p = commonPrefix(file, next);
            const qsizetype s = commonSuffix(file, next, p);
            const qsizetype owned = before ? before->size() : 0;
            check(p + s >= file.size() - owned, "a write changes one place only");
            if (!before)
                check(next.size() > file.size(), "a new key adds bytes");
            file = next;
            break;
        }
        case 1: { // delete
            const std::optional<QByteArray> next = profile::removeKey(file, section, key);
            check(next.has_value() == before.has_value(), "delete finds what read finds");
            if (next) {
                check(next->size() < file.size(), "a delete removes bytes");
                const qsizetype p = commonPrefix(file, *next);
                const qsizetype s = commonSuffix(file, *next, p);
                check(p + s == next->size(), "a delete removes one run of bytes");
                // Only the first matching line goes; a later duplicate is found next.
                check(referenceCount(*next, section, key) == referenceCount(file, section, key) - 1,
                      "a delete removes one entry");
                check(profile::readValue(*next, section, key).has_value() == (referenceCount(*next, section, key) > 0),
                      "after a delete, a read finds only a remaining duplicate");
                file = *next;
            }
            break;
        }
        default: // read only
            break;
        }
    }
    return 0;
}
