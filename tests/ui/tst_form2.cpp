// The add-date dialog on its own, with the clock at 7 May 2004.
#include "ui/dialogs/form2.h"
#include "uitestsupport.h"

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
    void press_data();
    void press();
    void wholeTextSelected_data();
    void wholeTextSelected();
    void goingBack_data();
    void goingBack();

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

void tst_Form2::press_data()
{
    QTest::addColumn<QString>("year");
    QTest::addColumn<QString>("month");
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("key");     // empty: refused
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focus");
    QTest::newRow("accepted") << "2004" << "5" << "7" << "2004.05.07" << "" << -1;
    QTest::newRow("month refused") << "2004" << "13" << "7" << "" << "不正な年月日です。" << 1;
    QTest::newRow("day refused") << "2004" << "5" << "" << "" << "不正な年月日です。" << 2;
    QTest::newRow("not in the calendar") << "2004" << "4" << "31" << "" << "年月日チェックで異常を検出しました。" << 0;
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

QTEST_MAIN(tst_Form2)
#include "tst_form2.moc"
