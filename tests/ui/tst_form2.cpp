// The add-date dialog on its own, with the clock at 7 May 2004.
#include "ui/dialogs/form2.h"
#include "ui/dialogs/numberreader.h"
#include "uitestsupport.h"

#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

using namespace tavlo;
using namespace tavlo::test;

class tst_Form2 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void layout();
    void opensWithToday();
    void press_data();
    void press();
    void lengthLimits_data();
    void lengthLimits();
    void wholeTextSelected_data();
    void wholeTextSelected();
    void goingBack_data();
    void goingBack();
    void readNumber_data();
    void readNumber();
    void dateKey_data();
    void dateKey();

private:
    QWidget m_owner;
};

void tst_Form2::initTestCase()
{
    Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(10, 0)));
    m_owner.resize(600, 364);
    m_owner.show();
}

void tst_Form2::cleanupTestCase()
{
    Clock::reset();
}

void tst_Form2::layout()
{
    QString answer;
    Form2 d(&m_owner, &answer);
    QCOMPARE(d.windowTitle(), QStringLiteral("年月日追加"));
    QCOMPARE(d.size(), QSize(167, 83));
    QCOMPARE(d.Label1->text(), QStringLiteral("日付を入力してください。"));
    QCOMPARE(d.Label1->geometry(), QRect(8, 8, 148, 16));
    const QRect boxes[3] = {QRect(8, 28, 37, 18), QRect(72, 28, 21, 18), QRect(120, 28, 21, 18)};
    const QRect units[3] = {QRect(52, 32, 13, 16), QRect(100, 32, 13, 16), QRect(148, 32, 13, 16)};
    const QString unitText[3] = {QStringLiteral("年"), QStringLiteral("月"), QStringLiteral("日")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(d.Text1[i]->geometry(), boxes[i]);
        QCOMPARE(d.Label2[i]->geometry(), units[i]);
        QCOMPARE(d.Label2[i]->text(), unitText[i]);
    }
    QCOMPARE(d.Frame1->geometry(), QRect(72, 52, 89, 29));
    QCOMPARE(d.Command1->geometry(), QRect(4, 4, 37, 21));
    QCOMPARE(d.Command2->geometry(), QRect(48, 4, 37, 21));
    QCOMPARE(d.Command1->text(), QStringLiteral("追加"));
    QCOMPARE(d.Command2->text(), QStringLiteral("戻る"));
    QVERIFY(d.Command1->isDefault());
    QVERIFY(d.isModal());
    // Focus order: the three boxes, then the two buttons.
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(d.Text1[0]));
    const QList<QWidget *> chain{d.Text1[1], d.Text1[2], d.Command1, d.Command2, d.Text1[0]};
    for (QWidget *next : chain) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void tst_Form2::opensWithToday()
{
    QString answer = QStringLiteral("untouched");
    Form2 d(&m_owner, &answer);
    QCOMPARE(d.Text1[0]->text(), QStringLiteral("2004"));
    QCOMPARE(d.Text1[1]->text(), QStringLiteral("5"));
    QCOMPARE(d.Text1[2]->text(), QStringLiteral("7"));
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QCOMPARE(d.Text1[0]->selectedText(), QStringLiteral("2004"));
    QCOMPARE(answer, QStringLiteral("untouched"));
}

void tst_Form2::press_data()
{
    QTest::addColumn<QString>("year");
    QTest::addColumn<QString>("month");
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("key");     // empty: refused
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focus");
    const QString invalid = QStringLiteral("不正な年月日です。");
    const QString calendar = QStringLiteral("年月日チェックで異常を検出しました。");
    QTest::newRow("today as shown") << "2004" << "5" << "7" << "2004.05.07" << "" << -1;
    QTest::newRow("last year accepted") << "2003" << "12" << "31" << "2003.12.31" << "" << -1;
    QTest::newRow("two years back refused") << "2002" << "5" << "7" << "" << invalid << 0;
    QTest::newRow("9999 accepted") << "9999" << "12" << "31" << "9999.12.31" << "" << -1;
    QTest::newRow("empty year") << "" << "5" << "7" << "" << invalid << 0;
    QTest::newRow("empty month") << "2004" << "" << "7" << "" << invalid << 1;
    QTest::newRow("empty day") << "2004" << "5" << "" << "" << invalid << 2;
    QTest::newRow("letters") << "2004" << "ab" << "7" << "" << invalid << 1;
    QTest::newRow("month 13") << "2004" << "13" << "7" << "" << invalid << 1;
    QTest::newRow("day 32") << "2004" << "5" << "32" << "" << invalid << 2;
    QTest::newRow("all invalid: only the year reported") << "1" << "0" << "0" << "" << invalid << 0;
    QTest::newRow("31 April") << "2004" << "4" << "31" << "" << calendar << 0;
    QTest::newRow("29 February 2005") << "2005" << "2" << "29" << "" << calendar << 0;
    QTest::newRow("29 February 2008") << "2008" << "2" << "29" << "2008.02.29" << "" << -1;
    QTest::newRow("29 February 2100") << "2100" << "2" << "29" << "" << calendar << 0;
    QTest::newRow("digits after a number ignored") << "2004" << "5x" << "7" << "2004.05.07" << "" << -1;
    QTest::newRow("decimal rounds") << "2004" << ".9" << "7" << "2004.01.07" << "" << -1;
    QTest::newRow("exponent past 16 bits") << "9e99" << "5" << "7" << "" << invalid << 0;
    QTest::newRow("year above 9999 refused") << "1e4" << "1" << "1" << "" << calendar << 0;
    QTest::newRow("leading zeros and blanks") << "2004" << " 5" << "07" << "2004.05.07" << "" << -1;
    QTest::newRow("full-width digits") << "２００４" << "５" << "７" << "2004.05.07" << "" << -1;
}

void tst_Form2::press()
{
    QFETCH(QString, year);
    QFETCH(QString, month);
    QFETCH(QString, day);
    QFETCH(QString, key);
    QFETCH(QString, message);
    QFETCH(int, focus);
    QString answer;
    Form2 d(&m_owner, &answer);
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    d.Text1[0]->setText(year);
    d.Text1[1]->setText(month);
    d.Text1[2]->setText(day);
    MsgBoxRecorder boxes;
    QTest::mouseClick(d.Command1, Qt::LeftButton);
    if (!key.isEmpty()) {
        QCOMPARE(answer, key);
        QVERIFY(boxes.calls.isEmpty());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(!d.isVisible());
        return;
    }
    QCOMPARE(boxes.calls.size(), 1);
    QCOMPARE(boxes.calls[0].text, message);
    QCOMPARE(boxes.calls[0].title, QStringLiteral("処理中断"));
    QCOMPARE(boxes.calls[0].style, 16);
    QVERIFY(d.isVisible());
    QVERIFY(answer.isEmpty());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(d.Text1[focus]));
    QTRY_COMPARE(d.Text1[focus]->selectedText(), d.Text1[focus]->text());
    QCOMPARE(d.Text1[0]->text(), year.left(4));
    QCOMPARE(d.Text1[1]->text(), month);
}

void tst_Form2::lengthLimits_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<bool>("paste");
    QTest::newRow("year typed") << 0 << "20045" << "2004" << false;
    QTest::newRow("year pasted") << 0 << "12345" << "1234" << true;
    QTest::newRow("month typed") << 1 << "123" << "12" << false;
    QTest::newRow("day pasted") << 2 << "311" << "31" << true;
}

void tst_Form2::lengthLimits()
{
    QFETCH(int, box);
    QFETCH(QString, input);
    QFETCH(QString, kept);
    QFETCH(bool, paste);
    QString answer;
    Form2 d(&m_owner, &answer);
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QLineEdit *edit = d.Text1[box];
    edit->setFocus();
    edit->selectAll();
    if (paste) {
        QApplication::clipboard()->setText(input);
        edit->paste();
    } else {
        QTest::keyClicks(edit, input);
    }
    QCOMPARE(edit->text(), kept);
}

void tst_Form2::wholeTextSelected_data()
{
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("focus by Tab") << false;
    QTest::newRow("focus by a mouse click") << true;
}

void tst_Form2::wholeTextSelected()
{
    QFETCH(bool, byMouse);
    QString answer;
    Form2 d(&m_owner, &answer);
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    if (byMouse)
        QTest::mouseClick(d.Text1[2], Qt::LeftButton, Qt::NoModifier, QPoint(3, 9));
    else
        QTest::keyClick(d.Text1[0], Qt::Key_Tab);
    QLineEdit *target = byMouse ? d.Text1[2] : d.Text1[1];
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(target));
    QTRY_COMPARE(target->selectedText(), target->text());
}

void tst_Form2::goingBack_data()
{
    QTest::addColumn<int>("how"); // 0 button, 1 Escape, 2 window close
    QTest::newRow("back button") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("window frame close") << 2;
}

void tst_Form2::goingBack()
{
    QFETCH(int, how);
    QString answer;
    Form2 d(&m_owner, &answer);
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    // An earlier failed attempt changes nothing.
    d.Text1[0]->setText(QStringLiteral("1"));
    {
        MsgBoxRecorder boxes;
        d.Command1->click();
        QCOMPARE(boxes.calls.size(), 1);
    }
    if (how == 0)
        QTest::mouseClick(d.Command2, Qt::LeftButton);
    else if (how == 1)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    else
        d.close();
    QVERIFY(!d.isVisible());
    QVERIFY(answer.isEmpty());
    QCOMPARE(d.result(), int(QDialog::Rejected));
}

void tst_Form2::readNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -99999: refused as out of range
    QTest::newRow("digits") << "2004" << 2004;
    QTest::newRow("empty reads 0") << "" << 0;
    QTest::newRow("blanks and sign") << "  -12" << -12;
    QTest::newRow("plus sign") << "+7" << 7;
    QTest::newRow("half rounds away from zero") << "2.5" << 3;
    QTest::newRow("below half") << "2.49" << 2;
    QTest::newRow("exponent") << "1e3" << 1000;
    QTest::newRow("exponent without digits ends the number") << "5e" << 5;
    QTest::newRow("trailing text") << "12abc" << 12;
    QTest::newRow("no leading digits") << "abc" << 0;
    QTest::newRow("lone dot") << "." << 0;
    QTest::newRow("top of the range") << "32767" << 32767;
    QTest::newRow("past the top") << "32768" << -99999;
    QTest::newRow("bottom of the range") << "-32768" << -32768;
    QTest::newRow("huge exponent") << "1e999" << -99999;
}

void tst_Form2::readNumber()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const std::optional<qint16> got = ReadBoxNumber(text);
    QCOMPARE(got.has_value() ? int(*got) : -99999, value);
}

void tst_Form2::dateKey_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("m");
    QTest::addColumn<int>("d");
    QTest::addColumn<QString>("key");
    QTest::newRow("padded") << 2004 << 5 << 7 << "2004.05.07";
    QTest::newRow("1900 is not a leap year") << 1900 << 2 << 29 << "";
    QTest::newRow("2000 is") << 2000 << 2 << 29 << "2000.02.29";
    QTest::newRow("30 June ok, 31 June not") << 2004 << 6 << 31 << "";
    QTest::newRow("year 10000") << 10000 << 1 << 1 << "";
}

void tst_Form2::dateKey()
{
    QFETCH(int, y);
    QFETCH(int, m);
    QFETCH(int, d);
    QFETCH(QString, key);
    QCOMPARE(FormatDateKey(y, m, d), key);
}

QTEST_MAIN(tst_Form2)
#include "tst_form2.moc"
