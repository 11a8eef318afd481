// Adding a date: the rules for the dialog's three boxes (a pure function),
// the dialog on its own, then from the main window (the sorted place, the
// duplicate check, the placeholder memo in the file). This year is 2004.
#include "ui/dialogs/datecheck.h"
#include "ui/dialogs/form2.h"
#include "uitestsupport.h"

#include <QLineEdit>
#include <sys/stat.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
const QByteArray kAgenda("[tavlo]\r\n2004.05.01=first\r\n2004.05.20=second\r\n");
const QString kPlaceholder = QStringLiteral("（文字列を削除すると、追加した日付が削除されます）");
const QByteArray kPlaceholderBytes = QByteArray::fromHex(
    "816995b68e9a97f182f08ded8f9c82b782e982c6814192c789c182b582bd93fa957482aa8ded8f9c82b382ea82dc82b7816a");

} // namespace

class tst_AddDate : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(10, 0)));
        m_owner.resize(600, 364);
        m_owner.show();
    }
    void cleanup() { Clock::reset(); }

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

    void dialogFocus()
    {
        QString answer;
        Form2 d(&m_owner, &answer);
        QVERIFY(d.Command1->isDefault());
        QVERIFY(d.isModal());
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(d.Text1[0]));
        QCOMPARE(d.Text1[0]->selectedText(), QStringLiteral("2004")); // today, ready to type over
        // Tabbed into (the order is tried with real keys), a box has its whole text selected.
        QTest::keyClick(d.Text1[0], Qt::Key_Tab);
        QTRY_COMPARE(d.Text1[1]->selectedText(), QStringLiteral("5"));
        QCOMPARE(d.Text1[2]->text(), QStringLiteral("7"));
        // A click places the cursor after the focus arrives; the text is selected all the same.
        QTest::mouseClick(d.Text1[2], Qt::LeftButton, Qt::NoModifier, QPoint(3, 9));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(d.Text1[2]));
        QTRY_COMPARE(d.Text1[2]->selectedText(), QStringLiteral("7"));
    }

    void dialogAnswer_data()
    {
        QTest::addColumn<QString>("date"); // year/month/day as typed
        QTest::addColumn<QString>("key");  // empty: refused
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("focus");
        const QString invalid = QStringLiteral("不正な年月日です。");
        QTest::newRow("accepted") << "2004/5/7" << "2004.05.07" << "" << -1;
        QTest::newRow("month refused") << "2004/13/7" << "" << invalid << 1;
        QTest::newRow("not in the calendar") << "2004/4/31" << "" << "年月日チェックで異常を検出しました。" << 0;
    }

    // What the dialog does with the rules' answer. 戻る and Escape are pressed
    // with real keys in the whole-program suite; here a refused dialog is
    // closed by its frame.
    void dialogAnswer()
    {
        QFETCH(QString, date);
        QFETCH(QString, key);
        QFETCH(QString, message);
        QFETCH(int, focus);
        QString answer;
        Form2 d(&m_owner, &answer);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        for (int i = 0; i < 3; ++i)
            d.Text1[i]->setText(date.section(QLatin1Char('/'), i, i));
        MsgBoxRecorder boxes;
        QTest::mouseClick(d.Command1, Qt::LeftButton);
        QCOMPARE(answer, key);
        QCOMPARE(boxes.shown, message.isEmpty() ? QStringList() : QStringList{QStringLiteral("処理中断|16|") + message});
        if (!key.isEmpty()) {
            QCOMPARE(d.result(), int(QDialog::Accepted));
            QVERIFY(!d.isVisible());
            return;
        }
        QVERIFY(d.isVisible());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(d.Text1[focus]));
        QTRY_COMPARE(d.Text1[focus]->selectedText(), d.Text1[focus]->text());
        QCOMPARE(d.Text1[1]->text(), date.section(QLatin1Char('/'), 1, 1)); // the boxes keep what was typed
        d.close();
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(answer.isEmpty());
    }

    void addDate_data()
    {
        QTest::addColumn<QByteArray>("agenda");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("date");    // month/day in 2004
        QTest::addColumn<int>("row");         // where it is listed; -1: refused
        QTest::addColumn<int>("currentAfter"); // the second date stays current
        QTest::addColumn<QString>("box");     // refused: the start of "title|style|text"
        const QString same = QStringLiteral("処理中断|0|同じ日付が存在しています。");
        QTest::newRow("earlier than all") << kAgenda << false << "4/1" << 0 << 2 << "";
        QTest::newRow("between") << kAgenda << false << "5/7" << 1 << 2 << "";
        QTest::newRow("after all") << kAgenda << false << "6/1" << 2 << 1 << "";
        QTest::newRow("listed date") << kAgenda << false << "5/20" << -1 << 1 << same;
        // The start-up scan ends at an empty line; the date is stored all the same.
        QTest::newRow("stored after an empty line")
            << QByteArray("[tavlo]\r\n2004.05.01=first\r\n\r\n2004.05.20=hidden\r\n") << false << "5/20" << -1 << 0 << same;
        QTest::newRow("stored with an empty value")
            << QByteArray("[tavlo]\r\n2004.05.01=first\r\n\r\n2004.05.20=\r\n") << false << "5/20" << -1 << 0 << same;
        QTest::newRow("read-only file") << kAgenda << true << "5/7" << -1 << 1 << "異常検出|16|<path>\r\nに日付を追加できませんでした。\r\nファイルが読み取り専用";
    }

    // A new date goes to its sorted place with the placeholder memo, the
    // unsaved edit kept; a refused one leaves list and file as they were.
    void addDate()
    {
        QFETCH(QByteArray, agenda);
        QFETCH(bool, readOnly);
        QFETCH(QString, date);
        QFETCH(int, row);
        QFETCH(int, currentAfter);
        QFETCH(QString, box);
        MainWindowFixture fx(agenda);
        Form1 &f = fx.start();
        const QStringList listed = fx.listTexts();
        if (listed.size() > 1)
            f.SelectItem(1);
        f.Text1->setPlainText(QStringLiteral("unsaved edit"));
        QVERIFY(!readOnly || ::chmod(QFile::encodeName(fx.path()).constData(), 0444) == 0);
        MsgBoxRecorder boxes;
        const AnswerModal answer = AnswerDialog(QStringLiteral("2004"), date.section(QLatin1Char('/'), 0, 0), date.section(QLatin1Char('/'), 1, 1));
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        QCOMPARE(f.CurrentIndex(), currentAfter);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("unsaved edit"));
        if (row < 0) {
            QCOMPARE(boxes.shown.size(), 1);
            QVERIFY2(boxes.shown[0].startsWith(box.replace(QStringLiteral("<path>"), fx.path())), qPrintable(boxes.shown[0]));
            QCOMPARE(fx.listTexts(), listed);
            QCOMPARE(readBytes(fx.path()), agenda);
            return;
        }
        const QString key = QDate(2004, date.section(QLatin1Char('/'), 0, 0).toInt(), date.section(QLatin1Char('/'), 1, 1).toInt()).toString(QStringLiteral("yyyy.MM.dd"));
        QCOMPARE(f.gstrAddDate, key);
        QCOMPARE(f.List1->text(row), key);
        QCOMPARE(f.List1->count(), 3);
        QVERIFY(f.Command2->isEnabled());
        QCOMPARE(readBytes(fx.path()), agenda + key.toLatin1() + '=' + kPlaceholderBytes + "\r\n");
        // Selected, the new date shows the placeholder as its saved memo.
        f.SelectItem(row);
        QCOMPARE(f.Text1->toPlainText(), kPlaceholder);
        QVERIFY(!f.Command2->isEnabled());
    }

private:
    QWidget m_owner;
};

QTEST_MAIN(tst_AddDate)
#include "tst_adddate.moc"
