// Saves into an agenda file from a process of its own.
//   agenda_writer PATH            saves memos in an endless loop, so that a
//                                 test can kill it at any moment; memo n is
//                                 "v<n>-" followed by (n % 50) * 100 "x"
//   agenda_writer PATH KEY MEMO   saves once (as whichever user runs it) and
//                                 prints how: "renamed", "in-place" or "failed"
#include "store/agendafile.h"

#include <QString>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2 && argc != 4)
        return 2;
    const tavlo::AgendaFile store(QString::fromLocal8Bit(argv[1]), QStringLiteral("tavlo"));
    if (argc == 4) {
        const tavlo::StoreResult r = store.WriteMemo(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
        std::puts(!r.ok() ? "failed" : r.method == tavlo::SaveMethod::InPlace ? "in-place" : "renamed");
        return r.ok() ? 0 : 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    for (long n = 1;; ++n) {
        const QString memo = QStringLiteral("v%1-").arg(n) + QString(int(n % 50) * 100, QLatin1Char('x'));
        if (!store.WriteMemo(QStringLiteral("2004.01.01"), memo).ok())
            return 1;
    }
}
