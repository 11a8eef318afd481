#include "store/memo.h"

#include <QtTest>

using namespace tavlo;

static const QString M(QChar(0x0F));

class tst_Memo : public QObject
{
    Q_OBJECT

private slots:
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

    void size_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("fits");
        const QString dbcs2048(2048, QChar(0x8868)); // 表
        QTest::newRow("2048 double-byte characters") << dbcs2048 << 4096 << true;
        QTest::newRow("plus one line break") << dbcs2048 + QStringLiteral("\r\n") << 4097 << false;
        QTest::newRow("line break counts one") << QStringLiteral("a\r\nb") << 3 << true;
        QTest::newRow("half-width katakana counts one") << QStringLiteral("ｱｲ") << 2 << true;
        QTest::newRow("empty") << QString() << 0 << true;
        QTest::newRow("4097 ascii") << QString(4097, QLatin1Char('x')) << 4097 << false;
    }

    void size()
    {
        QFETCH(QString, text);
        QFETCH(int, bytes);
        QFETCH(bool, fits);
        const MemoSize size = MeasureMemo(EncodeMemo(text));
        QCOMPARE(int(size.bytes), bytes);
        QCOMPARE(FitsMemoSizeLimit(size), fits);
    }
};

QTEST_APPLESS_MAIN(tst_Memo)
#include "tst_memo.moc"
