#include "store/codepage.h"

#include <QtTest>

using namespace tavlo;

class tst_CodePage : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QStringLiteral("Milk") << QByteArray("Milk");
        QTest::newRow("backslash stays a backslash") << QStringLiteral("C:\\memo") << QByteArray("C:\\memo");
        QTest::newRow("second byte 0x5C: hyou") << QStringLiteral("表") << QByteArray("\x95\x5C");
        QTest::newRow("second byte 0x5C: so") << QStringLiteral("ソ") << QByteArray("\x83\x5C");
        QTest::newRow("half-width katakana") << QStringLiteral("ｱ") << QByteArray("\xB1");
        QTest::newRow("full-width parenthesis") << QStringLiteral("（") << QByteArray("\x81\x69");
        QTest::newRow("wave dash as Windows writes it") << QStringLiteral("～") << QByteArray("\x81\x60");
        QTest::newRow("NEC special: circled one") << QStringLiteral("①") << QByteArray("\x87\x40");
        QTest::newRow("line-break marker") << QString(QChar(0x0F)) << QByteArray("\x0F");
        QTest::newRow("empty") << QString() << QByteArray();
    }

    void roundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const Cp932Encoded encoded = toCp932(text);
        QVERIFY(encoded.ok());
        QCOMPARE(encoded.bytes, bytes);
        QCOMPARE(fromCp932(bytes), text);
    }

    void unmappable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("unmappable");
        QTest::addColumn<QByteArray>("rest");
        QTest::newRow("emoji (surrogate pair)") << QStringLiteral("a😀b") << QStringLiteral("😀") << QByteArray("ab");
        QTest::newRow("hangul") << QStringLiteral("한") << QStringLiteral("한") << QByteArray();
        QTest::newRow("each listed once") << QStringLiteral("é-é-ß") << QStringLiteral("éß") << QByteArray("--");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + QStringLiteral("x")
                                        << QString(QChar(0xD800)) << QByteArray("x");
    }

    void unmappable()
    {
        QFETCH(QString, text);
        QFETCH(QString, unmappable);
        QFETCH(QByteArray, rest);
        const Cp932Encoded encoded = toCp932(text);
        QVERIFY(!encoded.ok());
        QCOMPARE(encoded.unmappable, unmappable);
        QCOMPARE(encoded.bytes, rest);
        QVERIFY(!encoded.bytes.contains('?'));
    }

    void invalidBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QString bad(QChar(0xFFFD));
        QTest::newRow("lead byte at the end") << QByteArray("a\x95") << QStringLiteral("a") + bad;
        QTest::newRow("undefined single byte 0xA0") << QByteArray("\xA0z") << bad + QStringLiteral("z");
        QTest::newRow("lead byte before a control") << QByteArray("\x81\x0Fq") << bad + QChar(0x0F) + QStringLiteral("q");
        QTest::newRow("0xFF") << QByteArray("\xFF") << bad;
    }

    void invalidBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(fromCp932(bytes), text);
    }
};

QTEST_APPLESS_MAIN(tst_CodePage)
#include "tst_codepage.moc"
