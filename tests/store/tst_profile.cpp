#include "store/profile.h"

#include <QtTest>

using namespace tavlo;

class tst_Profile : public QObject
{
    Q_OBJECT

private slots:
    void scan_data();
    void scan();
    void scanInPieces_data();
    void scanInPieces();
    void read_data();
    void read();
    void readInPieces_data();
    void readInPieces();
    void write_data();
    void write();
    void remove_data();
    void remove();
    void sectionNameWithBracket();
    void editInPieces_data();
    void editInPieces();
};

using Keys = QList<QByteArray>;

void tst_Profile::scan_data()
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
    QTest::newRow("lone CR line ends") << QByteArray("[t]\r1=a\r2=b\r") << Keys{"1", "2"};
    QTest::newRow("lone CR as the very last byte") << QByteArray("1=a\r") << Keys{"1"};
    QTest::newRow("empty line made of LF after CR LF") << QByteArray("1=a\r\n\n2=b\r\n") << Keys{"1"};
    QTest::newRow("section line without ]") << QByteArray("[broken\r\n1=a\r\n") << Keys{"1"};
}

void tst_Profile::scan()
{
    QFETCH(QByteArray, file);
    QFETCH(Keys, keys);
    QCOMPARE(profile::scanKeys(file), keys);
}

void tst_Profile::scanInPieces_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("CR LF split between pieces") << QByteArray("[t]\r\n1=a\r\n2=b\r\n\r\n3=c\r\n");
    QTest::newRow("lone CRs") << QByteArray("[t]\r1=a\r2=b\r\r3=c");
    QTest::newRow("stop in the middle") << QByteArray("[t]\n1=a\nxx\n2=b\n");
    QTest::newRow("no line end at all") << QByteArray("1=abcdef");
}

// Every way of cutting the file into two pieces gives the whole-file result.
void tst_Profile::scanInPieces()
{
    QFETCH(QByteArray, file);
    const Keys whole = profile::scanKeys(file);
    for (int cut = 0; cut <= file.size(); ++cut) {
        Keys keys;
        const auto onLine = [&keys](const char *line, qsizetype size) {
            return profile::scanLine(line, size, [&keys](const char *key, qsizetype length) {
                keys.append(QByteArray(key, int(length)));
            });
        };
        const QByteArray first = file.left(cut);
        const profile::LineFeed feed = profile::forEachLine(first.constData(), first.size(), false, onLine);
        QVERIFY(feed.used <= cut);
        if (!feed.stopped) {
            const QByteArray rest = file.mid(feed.used);
            profile::forEachLine(rest.constData(), rest.size(), true, onLine);
        }
        QVERIFY2(keys == whole, qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
}

void tst_Profile::read_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("value");
    const QByteArray f("[other]\r\n1=wrong\r\n[Tavlo]\r\n;1=comment\r\n1= blanks and \"quotes\" ;[=\x0F \r\nX=up\r\n2=\r\n");
    QTest::newRow("value exactly as written") << f << QByteArray("1") << true
                                              << QByteArray(" blanks and \"quotes\" ;[=\x0F ");
    QTest::newRow("key case-insensitive") << f << QByteArray("x") << true << QByteArray("up");
    QTest::newRow("empty value") << f << QByteArray("2") << true << QByteArray();
    QTest::newRow("missing key") << f << QByteArray("3") << false << QByteArray();
    QTest::newRow("missing section") << QByteArray("[other]\r\n1=a\r\n") << QByteArray("1") << false << QByteArray();
    QTest::newRow("section after an empty line still read") << QByteArray("\r\n[tavlo]\r\n1=a\r\n") << QByteArray("1") << true << QByteArray("a");
    QTest::newRow("first of two keys") << QByteArray("[tavlo]\r\n1=a\r\n1=b\r\n") << QByteArray("1") << true << QByteArray("a");
    QTest::newRow("first of two sections") << QByteArray("[tavlo]\r\n1=a\r\n[tavlo]\r\n1=b\r\n") << QByteArray("1") << true << QByteArray("a");
    QTest::newRow("text after the section's ]") << QByteArray("[tavlo] ; note\r\n1=a\r\n") << QByteArray("1") << true << QByteArray("a");
    QTest::newRow("section line without ] is no match") << QByteArray("[tavlo\r\n1=a\r\n") << QByteArray("1") << false << QByteArray();
    QTest::newRow("untrimmed key must match as spelled") << QByteArray("[tavlo]\r\n1 =a\r\n") << QByteArray("1") << false << QByteArray();
}

void tst_Profile::read()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, key);
    QFETCH(bool, found);
    QFETCH(QByteArray, value);
    const std::optional<QByteArray> got = profile::readValue(file, "tavlo", key);
    QCOMPARE(got.has_value(), found);
    if (found)
        QCOMPARE(*got, value);
}

namespace {

// The rule: every line handed to ValueFinder::line.
std::optional<QByteArray> readLineByLine(const QByteArray &file, const QByteArray &key)
{
    profile::ValueFinder finder("tavlo", key);
    profile::forEachLine(file.constData(), file.size(), true,
                         [&finder](const char *line, qsizetype size) { return finder.line(line, size); });
    return finder.value();
}

// As a reader streaming the file does it: each call gets what the last one
// left unused and up to `step` more bytes.
std::optional<QByteArray> readInSteps(const QByteArray &file, const QByteArray &key, qsizetype step)
{
    profile::ValueFinder finder("tavlo", key);
    qsizetype from = 0;
    qsizetype have = 0;
    for (;;) {
        have = qMin(have + step, file.size() - from);
        const bool atEnd = from + have == file.size();
        const qsizetype used = finder.feed(file.constData() + from, have, atEnd);
        if (used < 0 || atEnd)
            break;
        if (used > have)
            return QByteArray("<overrun>");
        from += used;
        have -= used;
    }
    return finder.value();
}

// Many lines of many lengths and every kind of line end, the key near the end.
QByteArray longFile(const char *lineEnd)
{
    QByteArray file = QByteArray("[tavlo]") + lineEnd;
    for (int i = 0; i < 300; ++i) {
        file += QByteArray::number(2000 + i % 7) + ".01." + QByteArray::number(10 + i % 89) + "=";
        file += QByteArray(i * 37 % 101, 'x') + (i % 5 == 0 ? "\x0F[not a section" : "") + lineEnd;
        if (i % 41 == 0)
            file += QByteArray(";2006.01.70=comment") + lineEnd + lineEnd;
    }
    return file + "2006.01.70=found" + lineEnd + "[next]" + lineEnd + "2006.01.71=other" + lineEnd;
}

} // namespace

void tst_Profile::readInPieces_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("key");
    const QByteArray dates("[tavlo]\r\n2004.01.01=a\r\n2004.01.11=b\r\n2004.11.01=c\r\n2004.01.011=d\r\n");
    QTest::newRow("date, CR LF") << dates << QByteArray("2004.11.01");
    QTest::newRow("date sharing first and last bytes") << dates << QByteArray("2004.01.11");
    QTest::newRow("missing date") << dates << QByteArray("2004.01.02");
    QTest::newRow("LF only") << QByteArray("[tavlo]\n1=a\n22=b\n") << QByteArray("22");
    QTest::newRow("lone CR") << QByteArray("[tavlo]\r1=a\r22=b\r") << QByteArray("22");
    QTest::newRow("mixed line ends") << QByteArray("[tavlo]\r\n1=a\n\r2=b\r3=c\n") << QByteArray("3");
    QTest::newRow("section ends after lone CR") << QByteArray("[tavlo]\r1=a\r[x]\r2=b\r") << QByteArray("2");
    QTest::newRow("section ends after LF") << QByteArray("[tavlo]\n1=a\n[x]\n2=b\n") << QByteArray("2");
    QTest::newRow("comment and empty lines skipped") << QByteArray("[tavlo]\r\n\r\n;22=x\r\n\r\n22=y\r\n") << QByteArray("22");
    QTest::newRow("letter key in any case") << QByteArray("[tavlo]\r\nabx=1\r\nABC=2\r\n") << QByteArray("aBc");
    QTest::newRow("last line without line end") << QByteArray("[tavlo]\r\n1=a\r\n22=last") << QByteArray("22");
    QTest::newRow("value ends at a CR that ends the file") << QByteArray("[tavlo]\r\n22=v\r") << QByteArray("22");
    QTest::newRow("key longer in the file") << QByteArray("[tavlo]\r\n22x=1\r\n") << QByteArray("22");
    QTest::newRow("only the first section") << QByteArray("[tavlo]\r\n1=a\r\n[tavlo]\r\n2=b\r\n") << QByteArray("2");
    QTest::newRow("key before the section") << QByteArray("2=x\r\n[tavlo]\r\n2=y\r\n") << QByteArray("2");
    QTest::newRow("key holding =") << QByteArray("[tavlo]\r\na=b=c\r\n") << QByteArray("a=b");
    QTest::newRow("key beginning with ;") << QByteArray("[tavlo]\r\n;k=c\r\n") << QByteArray(";k");
    QTest::newRow("long file, CR LF") << longFile("\r\n") << QByteArray("2006.01.70");
    QTest::newRow("long file, LF") << longFile("\n") << QByteArray("2006.01.70");
    QTest::newRow("long file, lone CR") << longFile("\r") << QByteArray("2006.01.70");
    QTest::newRow("long file, after the section") << longFile("\r\n") << QByteArray("2006.01.71");
    QTest::newRow("long file, early key") << longFile("\r\n") << QByteArray("2000.01.10");
}

// Fed in pieces of any size, the reader finds what the line rule finds.
void tst_Profile::readInPieces()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, key);
    const std::optional<QByteArray> expected = readLineByLine(file, key);
    QCOMPARE(profile::readValue(file, "tavlo", key), expected);
    for (qsizetype step : {1, 2, 3, 5, 7, 13, 16, 17, 31, 64, 1000}) {
        const std::optional<QByteArray> got = readInSteps(file, key, step);
        QVERIFY2(got == expected, qPrintable(QStringLiteral("%1 bytes at a time: %2").arg(step).arg(QString::fromLatin1(got.value_or("<none>")))));
    }
}

void tst_Profile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("creates section and entry") << QByteArray() << QByteArray("1") << QByteArray("a")
                                               << QByteArray("[tavlo]\r\n1=a\r\n");
    QTest::newRow("replaces in place, keeps spelling and line end")
        << QByteArray("[TAVLO]\n; note\nAb=old\nz=1\n") << QByteArray("aB") << QByteArray("new")
        << QByteArray("[TAVLO]\n; note\nAb=new\nz=1\n");
    QTest::newRow("new key after the last entry, before empty lines")
        << QByteArray("[tavlo]\r\n1=a\r\n\r\n[x]\r\ny=1\r\n") << QByteArray("2") << QByteArray("b")
        << QByteArray("[tavlo]\r\n1=a\r\n2=b\r\n\r\n[x]\r\ny=1\r\n");
    QTest::newRow("new key after a last line without line end")
        << QByteArray("[tavlo]\r\n1=a") << QByteArray("2") << QByteArray("b")
        << QByteArray("[tavlo]\r\n1=a\r\n2=b\r\n");
    QTest::newRow("new key into an empty section") << QByteArray("[tavlo]\n[x]\n") << QByteArray("1") << QByteArray("a")
                                                   << QByteArray("[tavlo]\n1=a\r\n[x]\n");
    QTest::newRow("missing section appended, not behind trailing empty lines")
        << QByteArray("[x]\r\ny=1\r\n\r\n\r\n") << QByteArray("1") << QByteArray("a")
        << QByteArray("[x]\r\ny=1\r\n[tavlo]\r\n1=a\r\n\r\n\r\n");
    QTest::newRow("missing section after a line without line end")
        << QByteArray("[x]\ny=1") << QByteArray("1") << QByteArray("a")
        << QByteArray("[x]\ny=1\r\n[tavlo]\r\n1=a\r\n");
    QTest::newRow("file of empty lines: section goes first")
        << QByteArray("\r\n\r\n") << QByteArray("1") << QByteArray("a")
        << QByteArray("[tavlo]\r\n1=a\r\n\r\n\r\n");
    QTest::newRow("value with blanks, quotes, marker")
        << QByteArray("[tavlo]\r\n") << QByteArray("1") << QByteArray(" \"q\" =;\x0F ")
        << QByteArray("[tavlo]\r\n1= \"q\" =;\x0F \r\n");
    QTest::newRow("only the first of duplicate keys")
        << QByteArray("[tavlo]\r\n1=a\r\n1=b\r\n") << QByteArray("1") << QByteArray("c")
        << QByteArray("[tavlo]\r\n1=c\r\n1=b\r\n");
    QTest::newRow("new key after a lone CR at the end")
        << QByteArray("[tavlo]\r1=a\r") << QByteArray("2") << QByteArray("b")
        << QByteArray("[tavlo]\r1=a\r2=b\r\n");
    QTest::newRow("mixed line ends untouched")
        << QByteArray("[tavlo]\r1=a\n2=b\r\n") << QByteArray("2") << QByteArray("B")
        << QByteArray("[tavlo]\r1=a\n2=B\r\n");
}

void tst_Profile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, after);
    const QByteArray written = profile::writeValue(before, "tavlo", key, value);
    QCOMPARE(written, after);
    QCOMPARE(profile::readValue(written, "tavlo", key).value_or("<none>"), value);
}

void tst_Profile::remove_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("after"); // empty: nothing changes
    QTest::newRow("removes the line, keeps the section line")
        << QByteArray("[tavlo]\r\n1=a\r\n") << QByteArray("1") << QByteArray("[tavlo]\r\n");
    QTest::newRow("middle line with LF") << QByteArray("[tavlo]\n1=a\n2=b\n3=c\n") << QByteArray("2")
                                         << QByteArray("[tavlo]\n1=a\n3=c\n");
    QTest::newRow("last line without line end") << QByteArray("[tavlo]\r\n1=a\r\n2=b") << QByteArray("2")
                                                << QByteArray("[tavlo]\r\n1=a\r\n");
    QTest::newRow("key in another section is not ours")
        << QByteArray("[x]\r\n1=a\r\n[tavlo]\r\n") << QByteArray("1") << QByteArray();
    QTest::newRow("missing key") << QByteArray("[tavlo]\r\n1=a\r\n") << QByteArray("2") << QByteArray();
    QTest::newRow("missing section") << QByteArray("[x]\r\n") << QByteArray("1") << QByteArray();
}

void tst_Profile::remove()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, after);
    const std::optional<QByteArray> removed = profile::removeKey(before, "tavlo", key);
    QCOMPARE(removed.has_value(), !after.isEmpty());
    if (removed) {
        QCOMPARE(*removed, after);
        QVERIFY(!profile::readValue(*removed, "tavlo", key).has_value());
    }
}

// Found by fuzzing: a program named "a]b" keeps the section [a]b], which must
// be found again.
void tst_Profile::sectionNameWithBracket()
{
    const QByteArray file = profile::writeValue("o]", "\x08]", "ol;", "");
    QCOMPARE(file, QByteArray("o]\r\n[\x08]]\r\nol;=\r\n"));
    QCOMPARE(profile::readValue(file, "\x08]", "ol;").value_or("<none>"), QByteArray());
    const QByteArray twice = profile::writeValue(file, "\x08]", "ol;", "v");
    QCOMPARE(twice, QByteArray("o]\r\n[\x08]]\r\nol;=v\r\n"));
}

void tst_Profile::editInPieces_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("key");
    QTest::newRow("replace") << QByteArray("[x]\r\n1=a\r\n[tavlo]\r\n1=a\r\n2=bb\r\n[y]\r\n") << QByteArray("2");
    QTest::newRow("insert after the section's entries") << QByteArray("[tavlo]\r\n1=a\r\n\r\n[y]\r\n") << QByteArray("3");
    QTest::newRow("new section after lone CRs") << QByteArray("[x]\r1=a\r\r") << QByteArray("3");
    QTest::newRow("last line without line end") << QByteArray("[tavlo]\n1=a\n2=b") << QByteArray("2");
}

// A file read in two pieces of every size plans the same edit as the whole.
void tst_Profile::editInPieces()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, key);
    const profile::Splice write = profile::planWrite(file, "tavlo", key, "new");
    const std::optional<profile::Splice> remove = profile::planRemove(file, "tavlo", key);
    for (int cut = 0; cut <= file.size(); ++cut) {
        profile::EditLocator locator("tavlo", key);
        qsizetype base = 0;
        const auto onLine = [&locator, &base](const char *data, profile::Line line) {
            const char *text = data + line.begin;
            line.begin += base;
            line.end += base;
            line.next += base;
            return locator.line(text, line);
        };
        const QByteArray first = file.left(cut);
        const profile::LineFeed feed = profile::forEachLineAt(first.constData(), first.size(), false, onLine);
        if (!feed.stopped) {
            base = feed.used;
            const QByteArray rest = file.mid(feed.used);
            profile::forEachLineAt(rest.constData(), rest.size(), true, onLine);
        }
        const profile::Splice pieced = locator.planWrite("new");
        QVERIFY2(pieced.at == write.at && pieced.remove == write.remove && pieced.insert == write.insert,
                 qPrintable(QStringLiteral("write, cut at %1").arg(cut)));
        QCOMPARE(locator.planRemove().has_value(), remove.has_value());
        if (remove)
            QCOMPARE(locator.planRemove()->at, remove->at);
    }
}

QTEST_APPLESS_MAIN(tst_Profile)
#include "tst_profile.moc"
