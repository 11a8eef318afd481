// Adding a date from the main window: the dialog, the duplicate check, the
// sorted place and the placeholder memo in the file.
#include "ui/dialogs/form2.h"
#include "uitestsupport.h"

#include <QLineEdit>
#include <sys/stat.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
const QByteArray kAgenda("[tavlo]\r\n2004.05.01=first\r\n2004.05.20=second\r\n");
const QByteArray kPlaceholder = QByteArray::fromHex(
    "816995b68e9a97f182f08ded8f9c82b782e982c6814192c789c182b582bd93fa957482aa8ded8f9c82b382ea82dc82b7816a");

// Answers the add-date dialog with the given date, or goes back when empty.
AnswerModal AnswerDialog(const QString &year, const QString &month, const QString &day)
{
    return AnswerModal([=](QWidget *w) {
        auto *d = qobject_cast<Form2 *>(w);
        if (!d)
            return;
        if (year.isEmpty()) {
            QTest::mouseClick(d->Command2, Qt::LeftButton);
            return;
        }
        d->Text1[0]->setText(year);
        d->Text1[1]->setText(month);
        d->Text1[2]->setText(day);
        QTest::keyClick(d->Text1[2], Qt::Key_Return);
    });
}
} // namespace

class tst_AddDate : public QObject
{
    Q_OBJECT

private slots:
    void init() { Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(10, 0))); }
    void cleanup() { Clock::reset(); }
    void addsInSortedPlace_data();
    void addsInSortedPlace();
    void duplicateRefused_data();
    void duplicateRefused();
    void goingBackChangesNothing();
    void placeholderShowsWhenSelected();
    void failedWriteNotListed();
};

void tst_AddDate::addsInSortedPlace_data()
{
    QTest::addColumn<QString>("month");
    QTest::addColumn<QString>("day");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("currentAfter"); // the second date stays current
    QTest::newRow("earlier than all") << "4" << "1" << 0 << 2;
    QTest::newRow("between") << "5" << "7" << 1 << 2;
    QTest::newRow("after all") << "6" << "1" << 2 << 1;
}

void tst_AddDate::addsInSortedPlace()
{
    QFETCH(QString, month);
    QFETCH(QString, day);
    QFETCH(int, row);
    QFETCH(int, currentAfter);
    MainWindowFixture fx(kAgenda);
    Form1 &f = fx.start();
    f.SelectItem(1);
    f.Text1->setPlainText(QStringLiteral("unsaved edit"));
    QVERIFY(f.Command2->isEnabled());
    const AnswerModal answer = AnswerDialog(QStringLiteral("2004"), month, day);
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    const QString key = QStringLiteral("2004.%1.%2").arg(month.toInt(), 2, 10, QLatin1Char('0')).arg(day.toInt(), 2, 10, QLatin1Char('0'));
    QCOMPARE(f.gstrAddDate, key);
    QCOMPARE(f.List1->text(row), key);
    QCOMPARE(f.List1->count(), 3);
    QCOMPARE(f.CurrentIndex(), currentAfter);
    QCOMPARE(f.List1->text(currentAfter), QStringLiteral("2004.05.20"));
    QCOMPARE(f.Text1->toPlainText(), QStringLiteral("unsaved edit"));
    QVERIFY(f.Command2->isEnabled());
    QCOMPARE(readBytes(fx.path()), kAgenda + key.toLatin1() + '=' + kPlaceholder + "\r\n");
}

void tst_AddDate::duplicateRefused_data()
{
    QTest::addColumn<QByteArray>("agenda");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("listed") << kAgenda << QStringList({"2004.05.01", "2004.05.20"});
    // The start-up scan ends at an empty line; the date is stored all the same.
    QTest::newRow("stored after an empty line")
        << QByteArray("[tavlo]\r\n2004.05.01=first\r\n\r\n2004.05.20=hidden\r\n") << QStringList({"2004.05.01"});
    QTest::newRow("stored with an empty value")
        << QByteArray("[tavlo]\r\n2004.05.01=first\r\n\r\n2004.05.20=\r\n") << QStringList({"2004.05.01"});
}

void tst_AddDate::duplicateRefused()
{
    QFETCH(QByteArray, agenda);
    QFETCH(QStringList, listed);
    MainWindowFixture fx(agenda);
    Form1 &f = fx.start();
    MsgBoxRecorder boxes;
    const AnswerModal answer = AnswerDialog(QStringLiteral("2004"), QStringLiteral("5"), QStringLiteral("20"));
    f.Command1_Click();
    QCOMPARE(boxes.calls.size(), 1);
    QCOMPARE(boxes.calls[0].text, QStringLiteral("同じ日付が存在しています。"));
    QCOMPARE(boxes.calls[0].title, QStringLiteral("処理中断"));
    QCOMPARE(boxes.calls[0].style, 0);
    QCOMPARE(fx.listTexts(), listed);
    QCOMPARE(readBytes(fx.path()), agenda);
}

void tst_AddDate::goingBackChangesNothing()
{
    MainWindowFixture fx(kAgenda);
    Form1 &f = fx.start();
    f.gstrAddDate = QStringLiteral("stale");
    const AnswerModal answer = AnswerDialog(QString(), QString(), QString());
    f.Command1_Click();
    QVERIFY(f.gstrAddDate.isEmpty());
    QCOMPARE(f.List1->count(), 2);
    QCOMPARE(readBytes(fx.path()), kAgenda);
    // The frame's close counts as going back too.
    const AnswerModal answer1([](QWidget *d) { d->close(); });
    f.Command1_Click();
    QCOMPARE(f.List1->count(), 2);
}

void tst_AddDate::placeholderShowsWhenSelected()
{
    MainWindowFixture fx(kAgenda);
    Form1 &f = fx.start();
    const AnswerModal answer = AnswerDialog(QStringLiteral("2004"), QStringLiteral("5"), QStringLiteral("7"));
    f.Command1_Click();
    f.SelectItem(1);
    QCOMPARE(f.Text1->toPlainText(), QStringLiteral("（文字列を削除すると、追加した日付が削除されます）"));
    QVERIFY(!f.Command2->isEnabled());
}

void tst_AddDate::failedWriteNotListed()
{
    MainWindowFixture fx(kAgenda);
    Form1 &f = fx.start();
    QVERIFY(::chmod(QFile::encodeName(fx.path()).constData(), 0444) == 0);
    MsgBoxRecorder boxes;
    const AnswerModal answer = AnswerDialog(QStringLiteral("2004"), QStringLiteral("5"), QStringLiteral("7"));
    f.Command1_Click();
    QCOMPARE(boxes.calls.size(), 1);
    QCOMPARE(boxes.calls[0].title, QStringLiteral("異常検出"));
    QCOMPARE(boxes.calls[0].style, 16);
    QCOMPARE(f.List1->count(), 2);
    QCOMPARE(readBytes(fx.path()), kAgenda);
}

QTEST_MAIN(tst_AddDate)
#include "tst_adddate.moc"
