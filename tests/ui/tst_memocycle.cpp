// Loading, editing, saving and deleting memos, driven by key and mouse
// events on the widgets. Which strokes act is checked with real X input in
// the whole-program suite; here, what each action leaves behind.
#include "uitestsupport.h"

#include <sys/stat.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
const QByteArray kTwoDates("[tavlo]\r\n2004.01.01=Milk\x0F" "Bread\r\n2004.01.02=second\r\n");

bool makeReadOnly(const QString &path)
{
    return ::chmod(QFile::encodeName(path).constData(), 0444) == 0;
}
} // namespace

class tst_MemoCycle : public QObject
{
    Q_OBJECT

private slots:
    void loadsOnEveryDateSwitch()
    {
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("Milk\nBread"));
        QCOMPARE(f.loadedText(), QStringLiteral("Milk\r\nBread"));
        QTest::mouseClick(f.List1->viewport(), Qt::LeftButton, Qt::NoModifier, f.List1->rowRect(1).center());
        QCOMPARE(f.CurrentIndex(), 1);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("second"));
        QTest::keyClick(f.List1, Qt::Key_Up);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("Milk\nBread"));
        QVERIFY(!f.Command2->isEnabled());
        // Another program changed the file: the next load shows its content.
        writeBytes(fx.path(), "[tavlo]\r\n2004.01.01=a\r\n2004.01.02=changed\r\n");
        QTest::keyClick(f.List1, Qt::Key_Down);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("changed"));
    }

    void dirtyCycle_data()
    {
        QTest::addColumn<QString>("typed");   // typed at the end of "second", after erasing
        QTest::addColumn<int>("backspaces");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("typed and erased again") << "" << 0 << false;
        QTest::newRow("typed and kept") << "x" << 0 << true;
        QTest::newRow("letter case counts") << "D" << 1 << true; // "seconD"
    }

    void dirtyCycle()
    {
        QFETCH(QString, typed);
        QFETCH(int, backspaces);
        QFETCH(bool, enabled);
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        f.SelectItem(1);
        f.Text1->setFocus();
        f.Text1->moveCursor(QTextCursor::End);
        QTest::keyClicks(f.Text1, QStringLiteral("x"));
        QVERIFY(f.Command2->isEnabled());
        QTest::keyClick(f.Text1, Qt::Key_Backspace);
        for (int i = 0; i < backspaces; ++i)
            QTest::keyClick(f.Text1, Qt::Key_Backspace);
        QTest::keyClicks(f.Text1, typed);
        QCOMPARE(f.Command2->isEnabled(), enabled);
    }

    // Ctrl+S is tried with real keys in the whole-program suite.
    void save()
    {
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.Text1->setFocus();
        f.Text1->moveCursor(QTextCursor::End);
        QTest::keyClick(f.Text1, Qt::Key_Return);
        CommitText(f.Text1, QStringLiteral("表ソ"));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QCOMPARE(readBytes(fx.path()), QByteArray("[tavlo]\r\n2004.01.01=Milk\x0F" "Bread\x0F\x95\x5C\x83\x5C\r\n2004.01.02=second\r\n"));
        QVERIFY(!f.Command2->isEnabled());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(f.Text1));
        QCOMPARE(f.Text1->textCursor().selectedText().size(), f.Text1->toPlainText().size());
        QCOMPARE(f.loadedText(), QStringLiteral("Milk\r\nBread\r\n表ソ"));
        // Ctrl+S with nothing changed does nothing; a full 4096-byte memo saves.
        QTest::keyClick(f.Text1, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!f.Command2->isEnabled());
        f.Text1->setPlainText(QString(2048, QChar(0x8868)));
        f.Command2->click();
        QCOMPARE(readBytes(fx.path()).size(), kTwoDates.size() - 10 + 4096);
    }

    // The Delete key in the list is tried by listKeyStrokes and with real keys.
    void emptiedMemoDeletes()
    {
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        f.Text1->setFocus();
        QTest::keyClick(f.Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f.Text1, Qt::Key_Delete);
        QVERIFY(f.Command2->isEnabled());
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QCOMPARE(fx.listTexts(), QStringList{"2004.01.02"});
        QCOMPARE(readBytes(fx.path()), QByteArray("[tavlo]\r\n2004.01.02=second\r\n"));
        QCOMPARE(f.CurrentIndex(), -1);
        QVERIFY(f.Text1->toPlainText().isEmpty());
        QVERIFY(!f.Command2->isEnabled());
    }

    void refusedSave_data()
    {
        QTest::addColumn<QString>("memo"); // empty: the save is a deletion
        QTest::addColumn<bool>("ctrlS");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("starts"); // <path> stands for the agenda file's
        QTest::addColumn<QString>("ends");
        const QString tooLong = QString(2048, QChar(0x8868)) + QStringLiteral("\n");
        const QString size = QStringLiteral("データサイズが 4096 バイトを超えています。");
        QTest::newRow("4097 bytes by the button") << tooLong << false << false << "処理中断" << 48 << size << size;
        QTest::newRow("4097 bytes by Ctrl+S") << tooLong << true << false << "処理中断" << 48 << size << size;
        QTest::newRow("characters code page 932 lacks")
            << QStringLiteral("party 🎉 and 한") << false << false << "処理中断" << 48 << "" << QStringLiteral("🎉한");
        QTest::newRow("read-only file, write")
            << "new text" << true << true << "異常検出" << 16 << "<path>\r\nへの保存が失敗しました。\r\n" << "";
        QTest::newRow("read-only file, delete")
            << "" << true << true << "異常検出" << 16 << "<path>\r\nからの削除が失敗しました。\r\n" << "";
    }

    // A save that is refused or fails says why, and keeps the edit in the
    // editor, unsaved, with the file as it was.
    void refusedSave()
    {
        QFETCH(QString, memo);
        QFETCH(bool, ctrlS);
        QFETCH(bool, readOnly);
        QFETCH(QString, title);
        QFETCH(int, style);
        QFETCH(QString, starts);
        QFETCH(QString, ends);
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        if (readOnly)
            QVERIFY(makeReadOnly(fx.path()));
        MsgBoxRecorder boxes;
        f.Text1->setPlainText(memo);
        f.Text1->setFocus();
        if (ctrlS)
            QTest::keyClick(f.Text1, Qt::Key_S, Qt::ControlModifier);
        else
            f.Command2->click();
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].title, title);
        QCOMPARE(boxes.calls[0].style, style);
        QVERIFY2(boxes.calls[0].text.startsWith(starts.replace(QStringLiteral("<path>"), fx.path())),
                 qPrintable(boxes.calls[0].text));
        QVERIFY2(boxes.calls[0].text.endsWith(ends), qPrintable(boxes.calls[0].text));
        QCOMPARE(readBytes(fx.path()), kTwoDates);
        QCOMPARE(f.Text1->toPlainText(), memo);
        QCOMPARE(f.loadedText(), QStringLiteral("Milk\r\nBread"));
        QVERIFY(f.Command2->isEnabled());
        QCOMPARE(fx.listTexts().size(), 2);
        QCOMPARE(f.CurrentIndex(), 0);
        QCOMPARE(folderEntries(fx.folder()), QStringList{"tavlo.txt"});
    }

    // A hand-edited line the scan lists but no entry name can match cannot be
    // deleted: said so, and the date stays.
    void undeletableDateStays()
    {
        const QByteArray agenda("[tavlo]\r\n2004.01.01=a\r\n;note=b\r\n");
        MainWindowFixture fx(agenda);
        Form1 &f = fx.start();
        f.SelectItem(1);
        MsgBoxRecorder boxes;
        QTest::keyClick(f.List1, Qt::Key_Delete);
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].title, QStringLiteral("異常検出"));
        QCOMPARE(boxes.calls[0].text, fx.path() + QStringLiteral("\r\nからの削除が失敗しました。\r\n")
                                          + QStringLiteral("この日付の名前は、ファイルの中で書き換えられない形をしています。"));
        QCOMPARE(fx.listTexts().size(), 2);
        QCOMPARE(f.CurrentIndex(), 1);
        QCOMPARE(readBytes(fx.path()), agenda);
    }

    void changedByAnotherProgram_data()
    {
        QTest::addColumn<QString>("edit"); // what the user does after the other program wrote
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QByteArray>("after");
        const QByteArray theirs("[tavlo]\r\n2004.01.01=theirs\r\n2004.01.02=second\r\n");
        QTest::newRow("save, Yes overwrites") << "mine" << int(vbYes) << "上書き確認"
                                              << QByteArray("[tavlo]\r\n2004.01.01=mine\r\n2004.01.02=second\r\n");
        QTest::newRow("save, No keeps theirs") << "mine" << int(vbNo) << "上書き確認" << theirs;
        QTest::newRow("emptied, Yes deletes") << "" << int(vbYes) << "削除確認"
                                              << QByteArray("[tavlo]\r\n2004.01.02=second\r\n");
        QTest::newRow("Delete key, No keeps theirs") << "<Delete>" << int(vbNo) << "削除確認" << theirs;
    }

    void changedByAnotherProgram()
    {
        QFETCH(QString, edit);
        QFETCH(int, answer);
        QFETCH(QString, title);
        QFETCH(QByteArray, after);
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        const QString other = fx.folder() + QStringLiteral("/theirs");
        writeBytes(other, "[tavlo]\r\n2004.01.01=theirs\r\n2004.01.02=second\r\n");
        QCOMPARE(QProcess::execute(QStringLiteral("cp"), {other, fx.path()}), 0);
        QFile::remove(other);
        MsgBoxRecorder boxes(answer);
        if (edit == QLatin1String("<Delete>")) {
            QTest::keyClick(f.List1, Qt::Key_Delete);
        } else {
            f.Text1->setPlainText(edit);
            f.Command2->click();
        }
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].title, title);
        QCOMPARE(boxes.calls[0].style, vbYesNo + vbExclamation);
        QVERIFY(boxes.calls[0].text.startsWith(QStringLiteral("2004.01.01\r\n")));
        QCOMPARE(readBytes(fx.path()), after);
        if (answer == vbNo) {
            QCOMPARE(fx.listTexts().size(), 2);
            QCOMPARE(f.Text1->toPlainText(), edit == QLatin1String("<Delete>") ? QStringLiteral("Milk\nBread") : edit);
        }
    }

    void listKeyStrokes()
    {
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.List1->setFocus();
        bool opened = false;
        const AnswerModal answer([&](QWidget *d) {
            opened = true;
            d->close();
        });
        // The release of an Enter or Delete pressed elsewhere (the Enter that
        // closed a dialog) is no key of the list's.
        QTest::keyRelease(f.List1, Qt::Key_Return);
        QTest::keyRelease(f.List1, Qt::Key_Delete);
        QTest::qWait(30);
        QVERIFY(!opened);
        QCOMPARE(fx.listTexts().size(), 2);
        // A held Delete repeats, and still deletes one date, at its release.
        QTest::keyPress(f.List1, Qt::Key_Delete);
        for (int i = 0; i < 5; ++i) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(), true);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(f.List1, &press);
            QApplication::sendEvent(f.List1, &release);
        }
        QCOMPARE(fx.listTexts().size(), 2);
        QTest::keyRelease(f.List1, Qt::Key_Delete);
        QCOMPARE(fx.listTexts(), QStringList{"2004.01.02"});
        QTest::keyClick(f.List1, Qt::Key_Return);
        QVERIFY(opened);
    }

    void noCurrentDate()
    {
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        f.List1->setCurrentRow(-1);
        MsgBoxRecorder boxes;
        f.Text1->setFocus();
        QTest::keyClicks(f.Text1, QStringLiteral("x"));
        f.Command2->click();
        QTest::keyClick(f.Text1, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(f.Command2->isEnabled()); // nothing saved, so still shown as unsaved
        QTest::keyClick(f.List1, Qt::Key_Delete);
        QCOMPARE(fx.listTexts().size(), 2);
        QCOMPARE(readBytes(fx.path()), kTwoDates);
        QVERIFY(boxes.calls.isEmpty());
    }

    void unreadableDateEmptiesEditor()
    {
        MainWindowFixture fx("[tavlo]\r\n2004.01.01=first\r\n2004.01.02=\r\n");
        Form1 &f = fx.start();
        f.Text1->setPlainText(QStringLiteral("edited first"));
        f.SelectItem(1);
        QVERIFY(f.Text1->toPlainText().isEmpty());
        QVERIFY(f.loadedText().isEmpty());
        QVERIFY(!f.Command2->isEnabled());
        // So no save writes the first date's memo under the second date.
        QTest::keyClick(f.Text1, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(readBytes(fx.path()), QByteArray("[tavlo]\r\n2004.01.01=first\r\n2004.01.02=\r\n"));
    }
};

QTEST_MAIN(tst_MemoCycle)
#include "tst_memocycle.moc"
