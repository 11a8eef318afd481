// Fuzzes the profile format: arbitrary file bytes, then a sequence of reads,
// writes and deletes. Checks what must hold, not only that nothing crashes:
// - the file read in pieces gives what the whole file gives;
// - a write is read back as written; a delete removes what a read finds;
// - every byte an operation does not own keeps its value (the file changes
//   in one place only: the value replaced, the line inserted or removed).
#include "store/pieces.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

using namespace tavlo;
using namespace tavlo::test;

namespace {

QByteArray g_context; // what the current operation works on, for the report

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n%s\n", what, g_context.toPercentEncoding().constData());
        std::abort();
    }
}

// A name or value that a caller may pass: no CR, LF or NUL; keys also no
// "=" and no leading "[" or ";".
QByteArray sanitize(const std::string &s, bool key)
{
    QByteArray out;
    for (char c : s)
        if (c != '\r' && c != '\n' && c != '\0' && !(key && c == '='))
            out.append(c);
    while (key && (out.startsWith('[') || out.startsWith(';')))
        out.remove(0, 1);
    return key && out.isEmpty() ? QByteArray("k") : out;
}

// Whether `after` is `before` with one run of at most `owned` bytes replaced.
bool changedInOnePlace(const QByteArray &before, const QByteArray &after, qsizetype owned)
{
    qsizetype p = 0;
    while (p < before.size() && p < after.size() && before[p] == after[p])
        ++p;
    qsizetype s = 0;
    while (s < before.size() - p && s < after.size() - p && before[before.size() - 1 - s] == after[after.size() - 1 - s])
        ++s;
    return p + s >= before.size() - owned;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QByteArray section = sanitize(in.ConsumeRandomLengthString(12), true);
    QByteArray file = QByteArray::fromStdString(in.ConsumeRandomLengthString(2048));

    const int ops = in.ConsumeIntegralInRange(0, 8);
    for (int op = 0; op < ops; ++op) {
        g_context = "section=" + section + " file=" + file;
        const QList<QByteArray> keys = profile::scanKeys(file);
        check(scanInTwoPieces(file, in.ConsumeIntegralInRange<qsizetype>(0, file.size())) == keys,
              "scan in pieces matches the whole");
        // A key the file holds (more often found), or one of the fuzzer's.
        const qsizetype pick = in.ConsumeIntegralInRange<qsizetype>(0, keys.size());
        const QByteArray key = sanitize(pick < keys.size() ? keys.at(pick).toStdString() : in.ConsumeRandomLengthString(12), true);
        const std::optional<QByteArray> before = profile::readValue(file, section, key);
        check(readInSteps(file, section, key, in.ConsumeIntegralInRange<qsizetype>(1, 64)) == before,
              "a read in pieces matches the whole");
        const qsizetype cut = in.ConsumeIntegralInRange<qsizetype>(0, file.size());
        const profile::EditLocator pieced = locateInTwoPieces(file, section, key, cut);
        check(pieced.planRemove() == profile::planRemove(file, section, key), "a delete planned in pieces matches");

        g_context += " key=" + key;
        if (in.ConsumeBool()) {
            const QByteArray value = sanitize(in.ConsumeRandomLengthString(64), false);
            g_context += " value=" + value;
            check(pieced.planWrite(value) == profile::planWrite(file, section, key, value), "a write planned in pieces matches");
            const QByteArray next = profile::writeValue(file, section, key, value);
            check(profile::readValue(next, section, key) == value, "a write reads back");
            check(changedInOnePlace(file, next, before ? before->size() : 0), "a write changes one place only");
            file = next;
        } else {
            const std::optional<QByteArray> next = profile::removeKey(file, section, key);
            check(next.has_value() == before.has_value(), "delete finds what read finds");
            if (next) {
                check(changedInOnePlace(file, *next, file.size() - next->size()), "a delete removes one run of bytes");
                file = *next;
            }
        }
    }
    return 0;
}
