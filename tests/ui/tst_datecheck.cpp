// The add-date dialog's rules for its three boxes, as a pure function, with
// the way it reads a number from a box: this year is 2004 throughout.
#include "ui/dialogs/datecheck.h"

#include <QtTest>

using namespace tavlo;

class tst_DateCheck : public QObject
{
    Q_OBJECT

private slots:
    void checkDate_data()
    {
        QTest::addColumn<QString>("year");
        QTest::addColumn<QString>("month");
        QTest::addColumn<QString>("day");
        QTest::addColumn<QString>("key"); // empty: refused
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("box");
        const QString invalid = QStringLiteral("不正な年月日です。");
        const QString calendar = QStringLiteral("年月日チェックで異常を検出しました。");
        QTest::newRow("today") << "2004" << "5" << "7" << "2004.05.07" << "" << 0;
        QTest::newRow("last year accepted") << "2003" << "12" << "31" << "2003.12.31" << "" << 0;
        QTest::newRow("two years back refused") << "2002" << "5" << "7" << "" << invalid << 0;
        QTest::newRow("9999 accepted") << "9999" << "12" << "31" << "9999.12.31" << "" << 0;
        QTest::newRow("year above 9999: the calendar check") << "1e4" << "1" << "1" << "" << calendar << 0;
        QTest::newRow("empty month") << "2004" << "" << "7" << "" << invalid << 1;
        QTest::newRow("empty day") << "2004" << "5" << "" << "" << invalid << 2;
        QTest::newRow("month 1 and day 1") << "2004" << "1" << "1" << "2004.01.01" << "" << 0;
        QTest::newRow("month 13") << "2004" << "13" << "7" << "" << invalid << 1;
        QTest::newRow("month 0") << "2004" << "0" << "7" << "" << invalid << 1;
        QTest::newRow("day 32") << "2004" << "5" << "32" << "" << invalid << 2;
        QTest::newRow("day 0") << "2004" << "5" << "0" << "" << invalid << 2;
        QTest::newRow("all invalid: only the year reported") << "1" << "0" << "0" << "" << invalid << 0;
        QTest::newRow("31 April") << "2004" << "4" << "31" << "" << calendar << 0;
        QTest::newRow("29 February 2005") << "2005" << "2" << "29" << "" << calendar << 0;
        QTest::newRow("29 February 2008") << "2008" << "2" << "29" << "2008.02.29" << "" << 0;
        QTest::newRow("29 February 2100") << "2100" << "2" << "29" << "" << calendar << 0;
        QTest::newRow("decimal rounds") << "2004" << ".9" << "7" << "2004.01.07" << "" << 0;
        QTest::newRow("exponent past 16 bits") << "9e99" << "5" << "7" << "" << invalid << 0;
        QTest::newRow("full-width digits") << "２００４" << "５" << "７" << "2004.05.07" << "" << 0;
        QTest::newRow("half rounds away from zero") << "2004" << "5" << "2.5" << "2004.05.03" << "" << 0;
        QTest::newRow("negative exponent") << "2004" << "5" << "25e-1" << "2004.05.03" << "" << 0;
        QTest::newRow("exponent without digits ends the number") << "2004" << "5e" << "7" << "2004.05.07" << "" << 0;
        QTest::newRow("negative month") << "2004" << "-5" << "7" << "" << invalid << 1;
        QTest::newRow("top of 16 bits: the calendar check") << "32767" << "1" << "1" << "" << calendar << 0;
        QTest::newRow("past 16 bits") << "32768" << "1" << "1" << "" << invalid << 0;
    }

    void checkDate()
    {
        QFETCH(QString, year);
        QFETCH(QString, month);
        QFETCH(QString, day);
        QFETCH(QString, key);
        QFETCH(QString, message);
        QFETCH(int, box);
        const DateCheck check = CheckDate(year, month, day, 2004);
        QCOMPARE(check.key, key);
        QCOMPARE(check.message, message);
        QCOMPARE(check.box, box);
    }
};

QTEST_GUILESS_MAIN(tst_DateCheck)
#include "tst_datecheck.moc"
