// Fuzzes the agenda reader and the edit planner over arbitrary file bytes,
// fed whole and in pieces cut anywhere, as the store's streaming reads feed
// them. Checks what must hold, not only that nothing crashes:
// - the start-up scan, the value finder and the edit planner give for the
//   file in pieces what they give for it whole;
// - the value finder's fast path (feed) answers as its rule (line) does;
// - a planned write reads back as written; planned removals, one line at a
//   time, leave the key without a value; each changes one run of bytes.
#include "store/pieces.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tavlo;
using namespace tavlo::test;

namespace {

QByteArray g_context; // the input, for the report

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n%s\n", what, g_context.toPercentEncoding().constData());
        std::abort();
    }
}

// A name or value a caller may pass: no CR, LF or NUL; a key also no "=",
// no leading "[" or ";", and not empty.
QByteArray callerMay(const std::string &s, bool key)
{
    QByteArray out;
    for (char c : s)
        if (c != '\r' && c != '\n' && c != '\0' && !(key && c == '='))
            out.append(c);
    while (key && (out.startsWith('[') || out.startsWith(';')))
        out.remove(0, 1);
    return key && out.isEmpty() ? QByteArray("k") : out;
}

// The value by the rule: the whole file, a line at a time.
std::optional<QByteArray> valueByRule(const QByteArray &file, const QByteArray &section, const QByteArray &key)
{
    profile::ValueFinder finder(section, key);
    profile::ForEachLineAt(file.constData(), file.size(), true, [&finder](const char *data, const profile::Line &line) {
        return finder.line(data + line.begin, line.end - line.begin);
    });
    return finder.value();
}

// Whether `after` is `before` with one run of bytes replaced.
bool oneRunChanged(const QByteArray &before, const QByteArray &after, const profile::Splice &splice)
{
    return after.left(splice.at) == before.left(splice.at)
        && after.mid(splice.at + splice.insert.size()) == before.mid(splice.at + splice.remove);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QByteArray section = callerMay(in.ConsumeRandomLengthString(12), true);
    const QByteArray typed = callerMay(in.ConsumeRandomLengthString(12), true);
    const QByteArray value = callerMay(in.ConsumeRandomLengthString(64), false);
    const qsizetype step = in.ConsumeIntegralInRange<qsizetype>(1, 64);
    const size_t cutAt = in.ConsumeIntegral<uint16_t>();
    const QByteArray file = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());
    const qsizetype cut = qsizetype(cutAt % size_t(file.size() + 1));
    g_context = "section=" + section + " key=" + typed + " value=" + value + " file=" + file;

    const QList<QByteArray> keys = scanInTwoPieces(file, file.size());
    check(scanInTwoPieces(file, cut) == keys, "the scan in pieces matches the whole");

    // A key the scan found (the cases that matter most), or the typed one.
    const QByteArray key = keys.isEmpty() ? typed : callerMay(keys.at(int(cutAt % size_t(keys.size()))).toStdString(), true);
    const std::optional<QByteArray> stored = valueByRule(file, section, key);
    check(readInSteps(file, section, key, file.size() + 1) == stored, "the fast path answers as the rule");
    check(readInSteps(file, section, key, step) == stored, "a read in pieces matches the whole");

    const profile::EditLocator whole = locateInTwoPieces(file, section, key, file.size());
    const profile::EditLocator pieced = locateInTwoPieces(file, section, key, cut);
    const profile::Splice write = whole.planWrite(value);
    check(pieced.planWrite(value) == write, "a write planned in pieces matches");
    const QByteArray written = applied(file, write);
    check(valueByRule(written, section, key) == value, "a write reads back");
    check(oneRunChanged(file, written, write), "a write changes one run of bytes");

    const std::optional<profile::Splice> removal = whole.planRemove();
    check(pieced.planRemove() == removal, "a removal planned in pieces matches");
    check(removal.has_value() == stored.has_value(), "a removal finds what a read finds");
    // Each removal takes one line away; the key is gone once they stop.
    QByteArray left = file;
    for (std::optional<profile::Splice> next = removal; next; next = locateInTwoPieces(left, section, key, left.size()).planRemove()) {
        const QByteArray shorter = applied(left, *next);
        check(next->remove > 0 && shorter.size() < left.size() && oneRunChanged(left, shorter, *next),
              "a removal takes one run of bytes away");
        left = shorter;
    }
    check(!valueByRule(left, section, key), "removals take the key away");
    return 0;
}
