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
};

QTEST_APPLESS_MAIN(tst_Memo)
#include "tst_memo.moc"
