// Saves memos into an agenda file in an endless loop, so that a test can kill
// it at any moment. Memo n is "v<n>-" followed by (n % 50) * 100 "x".
#include "store/agendafile.h"

#include <QString>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const tavlo::AgendaFile store(QString::fromLocal8Bit(argv[1]), QStringLiteral("tavlo"));
    std::puts("ready");
    std::fflush(stdout);
    for (long n = 1;; ++n) {
        const QString memo = QStringLiteral("v%1-").arg(n) + QString(int(n % 50) * 100, QLatin1Char('x'));
        if (!store.WriteMemo(QStringLiteral("2004.01.01"), memo).ok())
            return 1;
    }
}
