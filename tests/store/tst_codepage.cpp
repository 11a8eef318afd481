// The file's text: code page 932 as Windows writes it, and memos' line
// breaks stored as the marker byte. Plain characters and the 0x5C second
// bytes are also checked byte for byte by the save tests.
#include "store/codepage.h"
#include "store/memo.h"

#include <QTest>

using namespace tavlo;

static const QString M(QChar(0x0F));

class tst_CodePage : public QObject
{
    Q_OBJECT

private slots:
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
};

QTEST_APPLESS_MAIN(tst_CodePage)
#include "tst_codepage.moc"
