// Loading, editing, saving and deleting memos, driven by key and mouse
// events on the widgets. Which strokes act is checked with real X input in
// the whole-program suite; here, what each action leaves behind.
#include "uitestsupport.h"

#include <QInputMethodEvent>

#include <sys/stat.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
struct Refusal {
    QByteArray agenda;
    int row; // the date selected first; -1: none
    QString memo; // then typed; empty: the save is a deletion; null: nothing typed
    QString how; // "button", "Ctrl+S", or "Delete" in the list
    bool readOnly;
    QString box; // "title|style|text" as a pattern, <path> for the file's; empty: no box
};
const QByteArray kTwoDates("[tavlo]\r\n2004.01.01=Milk\x0F" "Bread\r\n2004.01.02=second\r\n");

bool makeReadOnly(const QString &path)
{
    return ::chmod(QFile::encodeName(path).constData(), 0444) == 0;
}
} // namespace
Q_DECLARE_METATYPE(Refusal)

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
        QCOMPARE(f.LoadedText(), QStringLiteral("Milk\r\nBread"));
        QTest::mouseClick(f.List1->viewport(), Qt::LeftButton, Qt::NoModifier, f.List1->visualRect(f.List1->model()->index(1, 0)).center());
        QCOMPARE(f.CurrentIndex(), 1);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("second"));
        QTest::keyClick(f.List1, Qt::Key_Up);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("Milk\nBread"));
        QVERIFY(!f.Command2->isEnabled());
        // Another program changed the file: the next load shows its content.
        writeBytes(fx.path(), "[tavlo]\r\n2004.01.01=a\r\n2004.01.02=changed\r\n");
        QTest::keyClick(f.List1, Qt::Key_Down);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("changed"));
        // 更新 is enabled while the editor differs from what was loaded,
        // letter case included.
        f.Text1->setFocus();
        f.Text1->moveCursor(QTextCursor::End);
        for (const auto &[typed, enabled] : {std::pair("x", true), std::pair("\b", false), std::pair("\bD", true)}) {
            QTest::keyClicks(f.Text1, QString::fromLatin1(typed));
            QCOMPARE(f.Command2->isEnabled(), enabled);
        }
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
        QInputMethodEvent typed; // as an input method commits Japanese
        typed.setCommitString(QStringLiteral("表ソ"));
        QApplication::sendEvent(f.Text1, &typed);
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QCOMPARE(readBytes(fx.path()), QByteArray("[tavlo]\r\n2004.01.01=Milk\x0F" "Bread\x0F\x95\x5C\x83\x5C\r\n2004.01.02=second\r\n"));
        QVERIFY(!f.Command2->isEnabled());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(f.Text1));
        QCOMPARE(f.Text1->textCursor().selectedText().size(), f.Text1->toPlainText().size());
        QCOMPARE(f.LoadedText(), QStringLiteral("Milk\r\nBread\r\n表ソ"));
        // Ctrl+S with nothing changed does nothing; a full 4096-byte memo saves.
        QTest::keyClick(f.Text1, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!f.Command2->isEnabled());
        f.Text1->setPlainText(QString(2048, QChar(0x8868)));
        f.Command2->click();
        QCOMPARE(readBytes(fx.path()).size(), kTwoDates.size() - 10 + 4096);
        // An emptied memo deletes its date (the Delete key in the list is
        // tried by listKeyStrokes and with real keys).
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

    void refused_data()
    {
        QTest::addColumn<Refusal>("r");
        const QString tooLong = QString(2048, QChar(0x8868)) + QStringLiteral("\n");
        const QString size = QStringLiteral("処理中断|48|データサイズが 4096 バイトを超えています。");
        const QString noWrite = QStringLiteral("異常検出|16|<path>\r\nへの保存が失敗しました。\r\n.+");
        const QString noDelete = QStringLiteral("異常検出|16|<path>\r\nからの削除が失敗しました。\r\n");
        QTest::newRow("4097 bytes by the button") << Refusal{kTwoDates, 0, tooLong, "button", false, size};
        QTest::newRow("characters code page 932 lacks")
            << Refusal{kTwoDates, 0, QStringLiteral("party 🎉 and 한"), "button", false, QStringLiteral("処理中断|48|.+🎉한")};
        QTest::newRow("read-only file, write") << Refusal{kTwoDates, 0, "new text", "Ctrl+S", true, noWrite};
        QTest::newRow("read-only file, delete") << Refusal{kTwoDates, 0, "", "Ctrl+S", true, noDelete + ".+"};
        // A hand-edited line the scan lists but no entry name can match.
        QTest::newRow("a date that cannot be deleted")
            << Refusal{"[tavlo]\r\n2004.01.01=a\r\n;note=b\r\n", 1, QString(), "Delete", false,
                       noDelete + QStringLiteral("この日付の名前は、ファイルの中で書き換えられない形をしています。")};
        for (const char *how : {"button", "Ctrl+S", "Delete"})
            QTest::addRow("no date selected, %s", how) << Refusal{kTwoDates, -1, "x", how, false, QString()};
    }

    // A save or deletion that is refused or fails says why (or, with no date
    // selected, does nothing), and keeps the edit in the editor, unsaved, with
    // the file and the list as they were.
    void refused()
    {
        QFETCH(Refusal, r);
        MainWindowFixture fx(r.agenda);
        Form1 &f = fx.start();
        f.List1->setCurrentRow(r.row);
        QVERIFY(!r.readOnly || makeReadOnly(fx.path()));
        const QString loaded = f.LoadedText();
        MsgBoxRecorder boxes;
        if (!r.memo.isNull())
            f.Text1->setPlainText(r.memo);
        if (r.how == QLatin1String("Delete"))
            QTest::keyClick(f.List1, Qt::Key_Delete);
        else if (r.how == QLatin1String("Ctrl+S"))
            QTest::keyClick(f.Text1, Qt::Key_S, Qt::ControlModifier);
        else
            f.Command2->click();
        const QRegularExpression box(QRegularExpression::anchoredPattern(
            QString(r.box).replace(QLatin1Char('|'), QStringLiteral("\\|")).replace(QStringLiteral("<path>"), QRegularExpression::escape(fx.path()))),
            QRegularExpression::DotMatchesEverythingOption);
        QCOMPARE(boxes.shown.size(), r.box.isEmpty() ? 0 : 1);
        QVERIFY2(r.box.isEmpty() || box.match(boxes.shown.value(0)).hasMatch(), qPrintable(boxes.shown.value(0)));
        QCOMPARE(readBytes(fx.path()), r.agenda);
        QCOMPARE(folderEntries(fx.folder()), QStringList{"tavlo.txt"});
        QCOMPARE(fx.listTexts().size(), 2);
        QCOMPARE(f.CurrentIndex(), r.row);
        QCOMPARE(f.LoadedText(), loaded);
        if (!r.memo.isNull())
            QCOMPARE(f.Text1->toPlainText(), r.memo);
        QCOMPARE(f.Command2->isEnabled(), !r.memo.isNull());
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
        QCOMPARE(QProcess::execute(QStringLiteral("cp"), {other, fx.path()}), 0); // rewritten in place, as an editor does
        QFile::remove(other);
        MsgBoxRecorder boxes(answer);
        if (edit == QLatin1String("<Delete>")) {
            QTest::keyClick(f.List1, Qt::Key_Delete);
        } else {
            f.Text1->setPlainText(edit);
            f.Command2->click();
        }
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(readBytes(fx.path()), after);
        // Someone else's change is kept unless the user says otherwise.
        QVERIFY(boxes.shown[0].startsWith(title + QStringLiteral("|%1|2004.01.01\r\n").arg(vbYesNo + vbExclamation + vbDefaultButton2)));
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
        // Enter, and the release of an Enter pressed elsewhere, are tried
        // with real keys. A held Delete repeats, and still deletes one date, at its release.
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
    }

    void unreadableDateEmptiesEditor()
    {
        MainWindowFixture fx("[tavlo]\r\n2004.01.01=first\r\n2004.01.02=\r\n");
        Form1 &f = fx.start();
        f.Text1->setPlainText(QStringLiteral("edited first"));
        f.SelectItem(1);
        QVERIFY(f.Text1->toPlainText().isEmpty());
        QVERIFY(f.LoadedText().isEmpty());
        QVERIFY(!f.Command2->isEnabled());
        // So no save writes the first date's memo under the second date.
        QTest::keyClick(f.Text1, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(readBytes(fx.path()), QByteArray("[tavlo]\r\n2004.01.01=first\r\n2004.01.02=\r\n"));
    }
};

QTEST_MAIN(tst_MemoCycle)
#include "tst_memocycle.moc"
