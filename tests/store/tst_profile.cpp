// The profile format as pure functions over bytes. Every row is also fed in
// pieces, as the agenda file's streaming reads feed it.
#include "pieces.h"

#include <QTest>

using namespace tavlo;
using namespace tavlo::test;

using Keys = QList<QByteArray>;

namespace {

const QByteArray kNone("<none>");

} // namespace

class tst_Profile : public QObject
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
};

QTEST_APPLESS_MAIN(tst_Profile)
#include "tst_profile.moc"
