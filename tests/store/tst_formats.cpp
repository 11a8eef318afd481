// The file's text as pure functions: the profile format over bytes (every
// row also fed in pieces, as the agenda file's streaming reads feed it),
// code page 932 as Windows writes it, memos' line breaks as the marker byte,
// paths in messages, and finding a string in the dates and memos as the file
// holds them now. The find keys are tried with real X input in the
// whole-program suite.
#include "pieces.h"
#include "store/codepage.h"
#include "store/memo.h"
#include "store/search.h"
#include "testsupport.h"

#include <QTest>

using namespace tavlo;
using namespace tavlo::test;

using Keys = QList<QByteArray>;

namespace {
const QByteArray kNone("<none>");
const QString M(QChar(0x0F)); // the line-break marker
} // namespace

class tst_Formats : public QObject
{
    Q_OBJECT

private slots:
    void scan_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Keys>("keys");
        QTest::newRow("empty file") << QByteArray() << Keys{};
        QTest::newRow("section line only") << QByteArray("[tavlo]\r\n") << Keys{};
        QTest::newRow("two entries") << QByteArray("[tavlo]\r\n2003.12.24=a\r\n2003.12.25=b\r\n")
                                     << Keys{"2003.12.24", "2003.12.25"};
        QTest::newRow("starts with an empty line") << QByteArray("\r\n[tavlo]\r\n2003.12.24=a\r\n") << Keys{};
        QTest::newRow("stops at an empty line") << QByteArray("[t]\r\n1=a\r\n\r\n2=b\r\n") << Keys{"1"};
        QTest::newRow("stops at a line without =") << QByteArray("[t]\r\n1=a\r\nnoise\r\n2=b\r\n") << Keys{"1"};
        QTest::newRow("line beginning with = gives an empty key") << QByteArray("=x\r\n") << Keys{""};
        QTest::newRow("other sections' keys too") << QByteArray("[a]\r\n1=x\r\n[b]\r\n2=y\r\n") << Keys{"1", "2"};
        QTest::newRow("duplicate key twice") << QByteArray("1=a\r\n1=b\r\n") << Keys{"1", "1"};
        QTest::newRow("last line without line end") << QByteArray("[t]\r\n1=a\r\n2=b") << Keys{"1", "2"};
        QTest::newRow("keys untrimmed, first = splits") << QByteArray(" 1 = a=b\r\n") << Keys{" 1 "};
        QTest::newRow("LF line ends") << QByteArray("[t]\n1=a\n2=b\n") << Keys{"1", "2"};
        QTest::newRow("lone CR line ends, stop at an empty line") << QByteArray("[t]\r1=a\r2=b\r\r3=c") << Keys{"1", "2"};
        QTest::newRow("empty line made of LF after CR LF") << QByteArray("1=a\r\n\n2=b\r\n") << Keys{"1"};
        QTest::newRow("section line without ]") << QByteArray("[broken\r\n1=a\r\n") << Keys{"1"};
    }

    void scan()
    {
        QFETCH(QByteArray, file);
        QFETCH(Keys, keys);
        for (int cut = 0; cut <= file.size(); ++cut)
            QVERIFY2(scanInTwoPieces(file, cut) == keys, qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value"); // kNone: not found
        const QByteArray f("[other]\r\n1=wrong\r\n[Tavlo]\r\n;1=comment\r\n1= blanks and \"quotes\" ;[=\x0F \r\nX=up\r\n2=\r\n");
        QTest::newRow("value exactly as written") << f << QByteArray("1") << QByteArray(" blanks and \"quotes\" ;[=\x0F ");
        QTest::newRow("key case-insensitive") << f << QByteArray("x") << QByteArray("up");
        QTest::newRow("empty value") << f << QByteArray("2") << QByteArray();
        QTest::newRow("missing key") << f << QByteArray("3") << kNone;
        QTest::newRow("missing section") << QByteArray("[other]\r\n1=a\r\n") << QByteArray("1") << kNone;
        QTest::newRow("section after an empty line still read") << QByteArray("\r\n[tavlo]\r\n1=a\r\n") << QByteArray("1") << QByteArray("a");
        QTest::newRow("only the first section") << QByteArray("[tavlo]\r\n1=a\r\n[tavlo]\r\n2=b\r\n") << QByteArray("2") << kNone;
        QTest::newRow("text after the section's ]") << QByteArray("[tavlo] ; note\r\n1=a\r\n") << QByteArray("1") << QByteArray("a");
        QTest::newRow("section line without ] is no match") << QByteArray("[tavlo\r\n1=a\r\n") << QByteArray("1") << kNone;
        QTest::newRow("untrimmed key must match as spelled") << QByteArray("[tavlo]\r\n1 =a\r\n") << QByteArray("1") << kNone;
        const QByteArray dates("[tavlo]\r\n2004.01.01=a\r\n2004.01.11=b\r\n2004.11.01=c\r\n2004.01.011=d\r\n");
        QTest::newRow("date sharing first and last bytes") << dates << QByteArray("2004.01.11") << QByteArray("b");
        QTest::newRow("mixed line ends") << QByteArray("[tavlo]\r\n1=a\n\r2=b\r3=c\n") << QByteArray("3") << QByteArray("c");
        QTest::newRow("section ends after lone CR") << QByteArray("[tavlo]\r1=a\r[x]\r2=b\r") << QByteArray("2") << kNone;
        QTest::newRow("section ends after LF") << QByteArray("[tavlo]\n1=a\n[x]\n2=b\n") << QByteArray("2") << kNone;
        QTest::newRow("comment and empty lines skipped") << QByteArray("[tavlo]\r\n\r\n;22=x\r\n\r\n22=y\r\n") << QByteArray("22") << QByteArray("y");
        QTest::newRow("letter key in any case") << QByteArray("[tavlo]\r\nabx=1\r\nABC=2\r\n") << QByteArray("aBc") << QByteArray("2");
        QTest::newRow("last line without line end") << QByteArray("[tavlo]\r\n1=a\r\n22=last") << QByteArray("22") << QByteArray("last");
        QTest::newRow("key longer in the file") << QByteArray("[tavlo]\r\n22x=1\r\n") << QByteArray("22") << kNone;
        QTest::newRow("key before the section") << QByteArray("2=x\r\n[tavlo]\r\n2=y\r\n") << QByteArray("2") << QByteArray("y");
        QTest::newRow("key holding =") << QByteArray("[tavlo]\r\na=b=c\r\n") << QByteArray("a=b") << kNone;
        QTest::newRow("key beginning with ;") << QByteArray("[tavlo]\r\n;k=c\r\n") << QByteArray(";k") << kNone;
        // Lines are found sixteen bytes at a time: a line end at any place in such a block.
        for (const char *end : {"\n", "\r"})
            for (int n = 16; n < 48; ++n)
                QTest::addRow("line end after %d bytes (%s)", n, *end == '\n' ? "LF" : "CR")
                    << "[tavlo]" + QByteArray(end) + "1=" + QByteArray(n, 'x') + end + "22=" + QByteArray(n, 'y') + end + "3=z" + end
                    << QByteArray("22") << QByteArray(n, 'y');
    }

    // Fed any number of bytes at a time, the reader finds the same.
    void read()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        for (qsizetype step : {1, 2, 3, 5, 7, 13, 16, 17, 31, 64, 1000}) {
            const QByteArray got = readInSteps(file, "tavlo", key, step).value_or(kNone);
            QVERIFY2(got == value, qPrintable(QStringLiteral("%1 bytes at a time: %2").arg(step).arg(QString::fromLatin1(got))));
        }
    }

    void edit_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value"); // kNone: the key is removed
        QTest::addColumn<QByteArray>("after"); // removing, empty: nothing changes
        QTest::newRow("creates section and entry") << QByteArray() << QByteArray("1") << QByteArray("a")
                                                   << QByteArray("[tavlo]\r\n1=a\r\n");
        QTest::newRow("replaces in place, keeps spelling and line end")
            << QByteArray("[x]\n1=a\n[TAVLO]\n; note\nAb=old\nz=1\n") << QByteArray("aB") << QByteArray("new")
            << QByteArray("[x]\n1=a\n[TAVLO]\n; note\nAb=new\nz=1\n");
        QTest::newRow("new key after the last entry, before empty lines")
            << QByteArray("[tavlo]\r\n1=a\r\n\r\n[x]\r\ny=1\r\n") << QByteArray("2") << QByteArray("b")
            << QByteArray("[tavlo]\r\n1=a\r\n2=b\r\n\r\n[x]\r\ny=1\r\n");
        QTest::newRow("new key after a last line without line end")
            << QByteArray("[tavlo]\r\n1=a") << QByteArray("2") << QByteArray("b") << QByteArray("[tavlo]\r\n1=a\r\n2=b\r\n");
        QTest::newRow("new key into an empty section") << QByteArray("[tavlo]\n[x]\n") << QByteArray("1") << QByteArray("a")
                                                       << QByteArray("[tavlo]\n1=a\r\n[x]\n");
        QTest::newRow("missing section appended, not behind trailing empty lines")
            << QByteArray("[x]\r\ny=1\r\n\r\n\r\n") << QByteArray("1") << QByteArray("a")
            << QByteArray("[x]\r\ny=1\r\n[tavlo]\r\n1=a\r\n\r\n\r\n");
        QTest::newRow("missing section after lone CRs")
            << QByteArray("[x]\ry=1\r\r") << QByteArray("1") << QByteArray("a") << QByteArray("[x]\ry=1\r[tavlo]\r\n1=a\r\n\r");
        QTest::newRow("missing section after a line without line end")
            << QByteArray("[x]\ny=1") << QByteArray("1") << QByteArray("a") << QByteArray("[x]\ny=1\r\n[tavlo]\r\n1=a\r\n");
        QTest::newRow("file of empty lines: section goes first")
            << QByteArray("\r\n\r\n") << QByteArray("1") << QByteArray("a") << QByteArray("[tavlo]\r\n1=a\r\n\r\n\r\n");
        QTest::newRow("value with blanks, quotes, marker")
            << QByteArray("[tavlo]\r\n") << QByteArray("1") << QByteArray(" \"q\" =;\x0F ")
            << QByteArray("[tavlo]\r\n1= \"q\" =;\x0F \r\n");
        QTest::newRow("only the first of duplicate keys")
            << QByteArray("[tavlo]\r\n1=a\r\n1=b\r\n") << QByteArray("1") << QByteArray("c")
            << QByteArray("[tavlo]\r\n1=c\r\n1=b\r\n");
        QTest::newRow("new key after a lone CR at the end")
            << QByteArray("[tavlo]\r1=a\r") << QByteArray("2") << QByteArray("b") << QByteArray("[tavlo]\r1=a\r2=b\r\n");
        QTest::newRow("mixed line ends untouched")
            << QByteArray("[tavlo]\r1=a\n2=b\r\n") << QByteArray("2") << QByteArray("B") << QByteArray("[tavlo]\r1=a\n2=B\r\n");
        QTest::newRow("remove: removes the line, keeps the section line")
            << QByteArray("[tavlo]\r\n1=a\r\n") << QByteArray("1") << kNone << QByteArray("[tavlo]\r\n");
        QTest::newRow("remove: middle line with LF, first section only")
            << QByteArray("[x]\n2=a\n[tavlo]\n1=a\n2=b\n3=c\n") << QByteArray("2") << kNone << QByteArray("[x]\n2=a\n[tavlo]\n1=a\n3=c\n");
        QTest::newRow("remove: last line without line end") << QByteArray("[tavlo]\r\n1=a\r\n2=b") << QByteArray("2")
                                                    << kNone << QByteArray("[tavlo]\r\n1=a\r\n");
        QTest::newRow("remove: first of duplicate keys") << QByteArray("[tavlo]\r1=a\r1=b\r") << QByteArray("1")
                                                 << kNone << QByteArray("[tavlo]\r1=b\r");
        QTest::newRow("remove: key in another section is not ours")
            << QByteArray("[x]\r\n1=a\r\n[tavlo]\r\n") << QByteArray("1") << kNone << QByteArray();
        QTest::newRow("remove: missing key") << QByteArray("[tavlo]\r\n1=a\r\n") << QByteArray("2") << kNone << QByteArray();
        QTest::newRow("remove: missing section") << QByteArray("[x]\r\n") << QByteArray("1") << kNone << QByteArray();
    }

    // The edit planned from a file read in two pieces of every size is the
    // edit planned from the whole.
    void edit()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, after);
        const profile::EditLocator whole = locateInTwoPieces(before, "tavlo", key, before.size());
        if (value == kNone) {
            const std::optional<profile::Splice> splice = whole.planRemove();
            QCOMPARE(splice ? applied(before, *splice) : QByteArray(), after);
            for (int cut = 0; cut < before.size(); ++cut)
                QVERIFY2(locateInTwoPieces(before, "tavlo", key, cut).planRemove() == splice, qPrintable(QString::number(cut)));
            return;
        }
        const profile::Splice splice = whole.planWrite(value);
        const QByteArray written = applied(before, splice);
        QCOMPARE(written, after);
        QCOMPARE(readInSteps(written, "tavlo", key, written.size()).value_or(kNone), value);
        for (int cut = 0; cut < before.size(); ++cut)
            QVERIFY2(locateInTwoPieces(before, "tavlo", key, cut).planWrite(value) == splice, qPrintable(QString::number(cut)));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");      // what can be written
        QTest::addColumn<QString>("unmappable");    // each character without a form, once
        QTest::newRow("backslash stays a backslash") << QStringLiteral("C:\\memo") << QByteArray("C:\\memo") << QString();
        QTest::newRow("second byte 0x5C: hyou") << QStringLiteral("表") << QByteArray("\x95\x5C") << QString();
        QTest::newRow("wave dash as Windows writes it") << QStringLiteral("～") << QByteArray("\x81\x60") << QString();
        QTest::newRow("NEC special: circled one") << QStringLiteral("①") << QByteArray("\x87\x40") << QString();
        QTest::newRow("line-break marker") << QString(QChar(0x0F)) << QByteArray("\x0F") << QString();
        QTest::newRow("empty") << QString() << QByteArray() << QString();
        QTest::newRow("emoji (surrogate pair)") << QStringLiteral("a😀b") << QByteArray("ab") << QStringLiteral("😀");
        QTest::newRow("hangul") << QStringLiteral("한") << QByteArray() << QStringLiteral("한");
        QTest::newRow("each listed once") << QStringLiteral("é-é-ß") << QByteArray("--") << QStringLiteral("éß");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + QStringLiteral("x") << QByteArray("x") << QString(QChar(0xD800));
    }

    // Written byte for byte and read back; what has no form is named, never
    // written as "?".
    void roundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, unmappable);
        const Cp932Encoded encoded = ToCp932(text);
        QCOMPARE(encoded.ok(), unmappable.isEmpty());
        QCOMPARE(encoded.unmappable, unmappable);
        QCOMPARE(encoded.bytes, bytes);
        if (unmappable.isEmpty())
            QCOMPARE(FromCp932(bytes), text);
    }

    void encode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value");
        QTest::newRow("two lines") << QStringLiteral("a\r\nb") << QStringLiteral("a") + M + QStringLiteral("b");
        QTest::newRow("empty lines kept") << QStringLiteral("\r\n\r\n") << M + M;
        QTest::newRow("lone CR and LF left") << QStringLiteral("a\rb\nc") << QStringLiteral("a\rb\nc");
        QTest::newRow("CR CR LF") << QStringLiteral("\r\r\n") << QStringLiteral("\r") + M;
        QTest::newRow("no line break") << QStringLiteral("Milk") << QStringLiteral("Milk");
    }

    void encode()
    {
        QFETCH(QString, text);
        QFETCH(QString, value);
        QCOMPARE(EncodeMemo(text), value);
        QCOMPARE(DecodeMemo(value), text);
        // A marker typed into the memo comes back as a line break.
        QCOMPARE(DecodeMemo(EncodeMemo(text + M)), text + QStringLiteral("\r\n"));
    }

    // Paths in messages: each part as UTF-8, else as code page 932 (a folder
    // unpacked from an archive made on Windows), a byte that is neither by
    // its value.
    void pathsShown_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("shown");
        QTest::newRow("UTF-8") << QByteArray("/home/u/\xe6\x97\xa5\xe8\xa8\x98/tavlo.txt") << QStringLiteral("/home/u/日記/tavlo.txt");
        QTest::newRow("a folder in code page 932") << QByteArray("/home/u/\x93\xfa\x8b\x4c/tavlo.txt")
                                                   << QStringLiteral("/home/u/日記/tavlo.txt");
        QTest::newRow("both in one path") << QByteArray("/\xe6\x97\xa5/\x93\xfa/a.txt") << QStringLiteral("/日/日/a.txt");
        QTest::newRow("neither: every byte readable") << QByteArray("/a/\xff\x93\xfa\x80/b") << QStringLiteral("/a/\\xFF日\\x80/b");
    }

    void pathsShown()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, shown);
        QCOMPARE(PathForDisplay(path), shown);
    }

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

QTEST_GUILESS_MAIN(tst_Formats)
#include "tst_formats.moc"
