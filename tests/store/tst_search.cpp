// Finding a string: what counts as alike, and the order in which the dates
// and memos are searched, read from the file as it is now. The keys are
// tried with real X input in the whole-program suite.
#include "store/codepage.h"
#include "store/search.h"
#include "testsupport.h"

#include <QTest>

using namespace tavlo;
using namespace tavlo::test;

class tst_Search : public QObject
{
    Q_OBJECT

private slots:
    void matcher_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<int>("options"); // 1: match case, 2: match width
        QTest::addColumn<int>("begin");   // -1: none
        QTest::addColumn<int>("end");
        QTest::newRow("case alike") << "Dentist at 3" << "DENTIST" << 0 << 0 << 7;
        QTest::newRow("case told apart") << "Dentist at 3" << "DENTIST" << 1 << -1 << -1;
        QTest::newRow("full-width letters and digits alike") << "ＤＥＮＴＩＳＴ at ３時" << "dentist at 3" << 0 << 0 << 12;
        QTest::newRow("widths told apart") << "ＤＥＮＴＩＳＴ" << "DENTIST" << 2 << -1 << -1;
        QTest::newRow("full-width case alike") << "ｄｅｎｔｉｓｔ" << "ＤＥＮＴＩＳＴ" << 2 << 0 << 7;
        QTest::newRow("half-width kana with voiced marks") << "予約はﾃﾞﾝﾀﾙｸﾘﾆｯｸ" << "デンタル" << 0 << 3 << 8;
        QTest::newRow("full-width kana for half-width") << "デンタルパーク" << "ﾃﾞﾝﾀﾙﾊﾟｰｸ" << 0 << 0 << 7;
        QTest::newRow("kana widths told apart") << "ﾃﾞﾝﾀﾙ" << "デンタル" << 2 << -1 << -1;
        QTest::newRow("a trail byte of 0x5C is no backslash") << "表示ソフト十能" << "\\" << 0 << -1 << -1;
        QTest::newRow("characters with a 0x5C trail byte") << "表示ソフト十能" << "ソフト十" << 0 << 2 << 6;
        QTest::newRow("not across a line break") << "歯医\n者" << "歯医者" << 0 << -1 << -1;
        QTest::newRow("the first character") << "歯医者へ" << "歯" << 0 << 0 << 1;
        QTest::newRow("the last character") << "行く歯医者" << "者" << 0 << 4 << 5;
        QTest::newRow("ideographic space as a space") << "午後　三時" << "午後 三時" << 0 << 0 << 5;
    }

    void matcher()
    {
        QFETCH(QString, text);
        QFETCH(QString, needle);
        QFETCH(int, options);
        QFETCH(int, begin);
        QFETCH(int, end);
        const FindOptions o{(options & 1) != 0, (options & 2) != 0};
        const TextMatch down = FindInText(text, needle, 0, true, o);
        QCOMPARE(int(down.begin), begin);
        QCOMPARE(int(down.end), end);
        // The same match going up from the end.
        const TextMatch up = FindInText(text, needle, text.size(), false, o);
        QCOMPARE(int(up.begin), begin);
    }

    // The table the search decodes with gives what the converter gives, for
    // every byte and every pair.
    void decoderAsConverter()
    {
        for (int lead = 0; lead < 256; ++lead) {
            for (int trail = 0; trail < 256; ++trail) {
                const QByteArray bytes = QByteArray(1, char(lead)) + char(trail) + 'z';
                std::vector<char16_t> fast;
                AppendFromCp932(bytes.constData(), bytes.size(), fast);
                QCOMPARE(QString::fromUtf16(fast.data(), int(fast.size())), FromCp932(bytes));
            }
        }
    }

    void order_data()
    {
        QTest::addColumn<QString>("needle");
        QTest::addColumn<bool>("down");
        QTest::addColumn<int>("row");     // the current date
        QTest::addColumn<int>("cursor");  // in its memo as edited
        QTest::addColumn<QString>("found"); // "row:begin-end", "row:date", "" for none; "+" when wrapped
        QTest::newRow("the current memo, after the cursor") << "ab" << true << 1 << 0 << "1:3-5";
        QTest::newRow("the next date's memo") << "ab" << true << 1 << 4 << "2:0-2";
        QTest::newRow("past the end, once") << "ab" << true << 2 << 1 << "+0:2-4";
        QTest::newRow("up: the previous match") << "ab" << false << 2 << 0 << "1:2-4";
        QTest::newRow("up, past the first date") << "ab" << false << 0 << 0 << "+2:0-2";
        QTest::newRow("a date as typed") << "2024/05/02" << true << 0 << 0 << "1:date";
        QTest::newRow("a date up: after its memo") << "2024.05" << false << 1 << 3 << "1:date";
        QTest::newRow("the edited text, not the stored") << "edited" << true << 1 << 0 << "1:0-6";
        QTest::newRow("the stored memo of another date") << "zz" << true << 0 << 0 << "2:3-5";
        QTest::newRow("nowhere") << "nothing" << true << 0 << 0 << "";
        QTest::newRow("no date selected") << "ab" << true << -1 << 0 << "0:2-4";
    }

    // Down from the cursor through the dates in the list's order, past the
    // end once; every memo read from the file as it is, but the current
    // one, as it is edited.
    void order()
    {
        QFETCH(QString, needle);
        QFETCH(bool, down);
        QFETCH(int, row);
        QFETCH(int, cursor);
        QFETCH(QString, found);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tavlo.txt"));
        // Not in order in the file; the list is; one date's memo only in another section.
        writeBytes(path, "[tavlo]\r\n2024.05.03=ab zz\r\n2024.05.01=x ab\x0Fz\r\n2024.05.02=y ab\r\n"
                         "[other]\r\n2024.05.04=ab\r\n");
        const QStringList keys{"2024.05.01", "2024.05.02", "2024.05.03", "2024.05.04"};
        FindRequest request;
        request.needle = needle;
        request.down = down;
        request.row = row;
        request.memo = row == 1 ? QStringLiteral("edited ab") : row >= 0 ? QStringLiteral("stored in the editor") : QString();
        if (row == 1 && needle == QLatin1String("ab"))
            request.memo = QStringLiteral("y  ab");
        request.cursor = cursor;
        const FindResult r = FindNext(agendaAt(path), keys, request);
        QVERIFY(r.failure.ok());
        const QString got = r.row < 0 ? QString()
                                      : (r.wrapped ? "+" : "") + QString::number(r.row) + ':'
                + (r.inMemo ? QStringLiteral("%1-%2").arg(r.begin).arg(r.end) : QStringLiteral("date"));
        QCOMPARE(got, found);
    }
};

QTEST_GUILESS_MAIN(tst_Search)
#include "tst_search.moc"
