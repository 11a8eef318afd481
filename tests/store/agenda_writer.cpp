// Saves into an agenda file once, as whichever user runs it, and prints how:
// "renamed", "in-place" or "failed".
//   agenda_writer PATH KEY MEMO
#include "store/agendafile.h"

#include <QString>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 4)
        return 2;
    const tavlo::AgendaFile store(QString::fromLocal8Bit(argv[1]), QStringLiteral("tavlo"));
    const tavlo::StoreResult r = store.WriteMemo(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    std::puts(!r.ok() ? "failed" : r.method == tavlo::SaveMethod::InPlace ? "in-place" : "renamed");
    return r.ok() ? 0 : 1;
}
