// The backup copy and the text size toggle.
#include "uitestsupport.h"

#include <QSignalSpy>

using namespace tavlo;
using namespace tavlo::test;

namespace {
const QByteArray kAgenda("[tavlo]\r\n2004.05.01=first\r\n2004.05.20=second\r\n");
}

class tst_Commands : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::reset(); }
    void backup();
    void backupWithoutAgendaFile();
    void backupSameSecond();
    void textSize_data();
    void textSize();
};

// The name's every field is tried in tst_backup; here what the command says.
void tst_Commands::backup()
{
    MainWindowFixture fx(kAgenda);
    Form1 &f = fx.start();
    f.Text1->setPlainText(QStringLiteral("unsaved"));
    Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(0, 0, 7)));
    MsgBoxRecorder boxes;
    QTest::mouseClick(f.Command6, Qt::LeftButton);
    const QString backup = fx.folder() + QStringLiteral("/tavlo_20040507_000007.txt");
    QCOMPARE(boxes.calls.size(), 1);
    QCOMPARE(boxes.calls[0].text, backup + QStringLiteral("\r\nという名前で保存しました。"));
    QCOMPARE(boxes.calls[0].title, QStringLiteral("処理完了"));
    QCOMPARE(boxes.calls[0].style, 0);
    QCOMPARE(readBytes(backup), kAgenda); // the unsaved edit is not in it
    QCOMPARE(f.Text1->toPlainText(), QStringLiteral("unsaved"));
    QVERIFY(f.Command2->isEnabled());
    QCOMPARE(folderEntries(fx.folder()).size(), 2);
}

void tst_Commands::backupWithoutAgendaFile()
{
    MainWindowFixture fx;
    Form1 f(fx.path(), QStringLiteral("tavlo"));
    Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(9, 30, 5)));
    MsgBoxRecorder boxes;
    f.Command6_Click();
    QCOMPARE(boxes.calls.size(), 1);
    QCOMPARE(boxes.calls[0].text, fx.folder() + QStringLiteral("/tavlo_20040507_093005.txt\r\nという名前の保存が失敗しました。"));
    QCOMPARE(boxes.calls[0].title, QStringLiteral("異常検出"));
    QCOMPARE(boxes.calls[0].style, 16);
    QVERIFY(folderEntries(fx.folder()).isEmpty());
}

void tst_Commands::backupSameSecond()
{
    MainWindowFixture fx(kAgenda);
    Form1 &f = fx.start();
    Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(9, 30, 5)));
    MsgBoxRecorder boxes;
    f.Command6_Click();
    writeBytes(fx.path(), "[tavlo]\r\n2004.05.01=changed\r\n");
    f.Command6_Click();
    QCOMPARE(boxes.calls.size(), 2);
    QCOMPARE(boxes.calls[0].title, QStringLiteral("処理完了"));
    QCOMPARE(boxes.calls[1].title, QStringLiteral("異常検出"));
    QCOMPARE(readBytes(fx.folder() + QStringLiteral("/tavlo_20040507_093005.txt")), kAgenda);
    // A second later it works again.
    Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(9, 30, 6)));
    f.Command6_Click();
    QCOMPARE(boxes.calls[2].title, QStringLiteral("処理完了"));
    QCOMPARE(folderEntries(fx.folder()).size(), 3);
}

void tst_Commands::textSize_data()
{
    QTest::addColumn<qreal>("editorStart");
    QTest::addColumn<qreal>("listStart");
    QTest::addColumn<QList<qreal>>("sequence"); // editor, list after each press
    QTest::newRow("from start-up") << 9.0 << 9.0 << QList<qreal>{12, 12, 9, 9, 12, 12};
    QTest::newRow("only the editor decides") << 10.0 << 9.0 << QList<qreal>{13, 12, 9, 9, 12, 12};
}

void tst_Commands::textSize()
{
    QFETCH(qreal, editorStart);
    QFETCH(qreal, listStart);
    QFETCH(QList<qreal>, sequence);
    MainWindowFixture fx(kAgenda);
    Form1 &f = fx.start();
    QFont font = f.Text1->font();
    font.setPointSizeF(editorStart);
    f.Text1->setFont(font);
    font.setPointSizeF(listStart);
    f.List1->setFont(font);
    f.SelectItem(1);
    f.Text1->setPlainText(QStringLiteral("edited text"));
    QTextCursor cursor = f.Text1->textCursor();
    cursor.setPosition(2);
    cursor.setPosition(6, QTextCursor::KeepAnchor);
    f.Text1->setTextCursor(cursor);
    for (int i = 0; i < sequence.size(); i += 2) {
        QTest::mouseClick(f.Command3, Qt::LeftButton);
        QCOMPARE(f.Text1->font().pointSizeF(), sequence[i]);
        QCOMPARE(f.List1->font().pointSizeF(), sequence[i + 1]);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("edited text"));
        QCOMPARE(f.Text1->textCursor().selectedText(), QStringLiteral("ited"));
        QCOMPARE(f.CurrentIndex(), 1);
        QVERIFY(f.Command2->isEnabled());
    }
    QCOMPARE(f.Text1->font().family(), WindowFontFamily());
}

QTEST_MAIN(tst_Commands)
#include "tst_commands.moc"
