// Times each agenda file operation beside its floor, measured in the same run:
// reading the file into memory (for the scan and ReadMemo), and writing the
// same bytes to a temporary file with flush and rename (for WriteMemo and
// DeleteDate). Usage: bench_store [folder]   (default: a temporary folder)
#include "store/agendafile.h"
#include "store/codepage.h"
#include "store/memo.h"
#include "store/search.h"
#include "store/files/safefile.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace tavlo;

namespace {

QString TypicalMemo(QRandomGenerator &rng)
{
    static const QString kana = QStringLiteral("会議打合せ資料提出買い物病院歯医者誕生日予定確認連絡");
    QString memo;
    const int target = int(rng.bounded(50, 400));
    while (ToCp932(memo).bytes.size() < target) {
        switch (rng.bounded(4)) {
        case 0: memo += kana.mid(int(rng.bounded(kana.size() - 4)), 4); break;
        case 1: memo += QStringLiteral("Meeting at 10:00 "); break;
        case 2: memo += QStringLiteral("\r\n"); break;
        default: memo += QStringLiteral("メモ"); break;
        }
    }
    return memo;
}

QByteArray MakeAgenda(int years, bool worstCase)
{
    QRandomGenerator rng(years * 7 + worstCase);
    QByteArray out("[bench]\r\n");
    const QDate last = QDate::currentDate();
    const QString big(2048, QChar(0x8868));
    for (QDate d = last.addYears(-years).addDays(1); d <= last; d = d.addDays(1)) {
        out += d.toString(QStringLiteral("yyyy.MM.dd")).toLatin1() + '=';
        out += ToCp932(EncodeMemo(worstCase ? big : TypicalMemo(rng))).bytes + "\r\n";
    }
    return out;
}

double MedianMs(int rounds, const std::function<void()> &op)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        op();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const QString path = folder + QStringLiteral("/bench.txt");

    std::printf("| data set | file size | scan ms (floor) | ReadMemo ms (floor) | WriteMemo ms (floor) | DeleteDate ms (floor) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const bool worst : {false, true}) {
        for (const int years : {1, 10, 100}) {
            const QByteArray bytes = MakeAgenda(years, worst);
            {
                QFile f(path);
                if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                    return 1;
            }
            const AgendaFile store(QFile::encodeName(path), "bench");
            const QStringList keys = store.ListDateKeys();
            const QString middle = keys.at(keys.size() / 2);
            const QString memo = *store.ReadMemo(middle);
            const int rounds = years >= 100 ? 9 : 21;

            const double readFloor = MedianMs(rounds, [&] { 
                LockedFile file;
                file.open(store.NativePath(), LockedFile::Shared, 0);
                (void)ReadWholeFile(file);
            });
            const double scan = MedianMs(rounds, [&] { (void)store.ListDateKeys(); });
            const double read = MedianMs(rounds, [&] { (void)store.ReadMemo(middle); });
            const QByteArray floorPath = QFile::encodeName(folder + QStringLiteral("/floor.txt"));
            const double writeFloor = MedianMs(rounds, [&] { 
                LockedFile file;
                file.open(floorPath, LockedFile::Exclusive, 0);
                (void)ReplaceFile(file, {BytePiece{bytes.constData(), size_t(bytes.size())}});
            });
            const double write = MedianMs(rounds, [&] { (void)store.WriteMemo(middle, memo); });
            // Each delete timed on its own; putting the date back is not.
            std::vector<double> deletes;
            for (int i = 0; i < rounds; ++i) {
                QElapsedTimer t;
                t.start();
                (void)store.DeleteDate(middle);
                deletes.push_back(double(t.nsecsElapsed()) / 1e6);
                (void)store.WriteMemo(middle, memo);
            }
            std::sort(deletes.begin(), deletes.end());
            const double del = deletes[deletes.size() / 2];
            QFile::remove(floorPath);
            std::printf("| %d years %s | %.1f MB | %.2f (%.2f) | %.2f (%.2f) | %.2f (%.2f) | %.2f (%.2f) |\n", years,
                        worst ? "of 4096-byte memos" : "typical", bytes.size() / 1e6, scan, readFloor, read,
                        readFloor, write, writeFloor, del, writeFloor);
            std::fflush(stdout);
        }
    }

    // Finding, beside the read a date switch makes (the latest date's memo,
    // at the end of the file): the next "歯医者" from dates spread over the
    // agenda, and a string found nowhere, which reads every memo.
    std::printf("\n| data set | file size | date switch's read ms | find next ms | find, no match ms |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const int years : {30, 0}) {
        QByteArray bytes = years ? MakeAgenda(years, false) : QByteArray("[bench]\r\n");
        QStringList keys;
        if (!years) { // a million dates of short memos: about 20 MB
            for (QDate d(1000, 1, 1); keys.size() < 1000000; d = d.addDays(1)) {
                keys << d.toString(QStringLiteral("yyyy.MM.dd"));
                bytes += keys.last().toLatin1() + "=" + ToCp932(QStringLiteral("メモ%1").arg(keys.size() % 1000)).bytes + "\r\n";
            }
        }
        {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                return 1;
        }
        const AgendaFile store(QFile::encodeName(path), "bench");
        if (years)
            keys = store.ListDateKeys();
        const double read = MedianMs(15, [&] { (void)store.ReadMemo(keys.last()); });
        FindRequest next;
        next.needle = QStringLiteral("歯医者");
        int from = 0;
        const double found = !years ? 0.0 : MedianMs(15, [&] {
            next.row = from;
            from = (from + int(keys.size()) / 15) % int(keys.size());
            (void)FindNext(store, keys, next);
        });
        FindRequest nowhere;
        nowhere.needle = QStringLiteral("どこにもない");
        const double none = MedianMs(years ? 9 : 3, [&] { (void)FindNext(store, keys, nowhere); });
        std::printf("| %s | %.1f MB | %.2f | %s | %.1f |\n", years ? "30 years typical" : "10^6 dates, short memos",
                    bytes.size() / 1e6, read, years ? qPrintable(QString::number(found, 'f', 2)) : "–", none);
        std::fflush(stdout);
    }
    QFile::remove(path);
    return 0;
}
