// Loading, editing, saving and deleting memos, driven by key and mouse
// events on the widgets, and the window following the file as other
// programs change it. Which strokes act is checked with real X input in the
// whole-program suite, and two machines through a real Syncthing; here, what
// each action leaves behind.
#include "uitestsupport.h"

#include <QInputMethodEvent>
#include <QSignalSpy>

#include "store/files/recovery.h"

#include <QElapsedTimer>

#include <sys/file.h>
#include <sys/inotify.h>
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

// Dates from the `first` of 2004 on, a day apart.
QByteArray agendaOf(int first, int count, const QByteArray &firstMemo)
{
    QByteArray out("[tavlo]\r\n");
    for (int i = 0; i < count; ++i)
        out += QDate(2004, 1, 1).addDays(first + i - 1).toString(QStringLiteral("yyyy.MM.dd")).toLatin1() + '='
            + (i == 0 ? firstMemo : QByteArray("m")) + "\r\n";
    return out;
}

QString dateOf(int day)
{
    return QDate(2004, 1, 1).addDays(day - 1).toString(QStringLiteral("yyyy.MM.dd"));
}

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

    void dateWithoutReadableMemo_data()
    {
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("an empty value") << false;
        QTest::newRow("a folder in the file's place") << true;
    }

    // A date whose memo cannot be shown empties the editor, so that no save
    // writes the previous date's memo under it; one whose file could not be
    // read says so, and nothing typed there can be saved over what the file
    // may hold.
    void dateWithoutReadableMemo()
    {
        QFETCH(bool, unreadable);
        const QByteArray agenda("[tavlo]\r\n2004.01.01=first\r\n2004.01.02=\r\n");
        MainWindowFixture fx(agenda);
        Form1 &f = fx.start();
        f.Text1->setPlainText(QStringLiteral("edited first"));
        const QString moved = fx.path() + QStringLiteral(".away");
        QVERIFY(!unreadable || (QFile::rename(fx.path(), moved) && QDir().mkdir(fx.path())));
        MsgBoxRecorder boxes;
        f.SelectItem(1);
        QVERIFY(f.Text1->toPlainText().isEmpty());
        QVERIFY(f.LoadedText().isEmpty());
        QVERIFY(!f.Command2->isEnabled());
        QCOMPARE(boxes.shown.size(), int(unreadable));
        QVERIFY(!unreadable || boxes.shown[0].startsWith(QStringLiteral("異常検出|16|") + fx.path() + QStringLiteral("\r\nを読み込めませんでした。")));
        QVERIFY(!unreadable || (QDir().rmdir(fx.path()) && QFile::rename(moved, fx.path())));
        f.Text1->setFocus();
        QTest::keyClicks(f.Text1, QStringLiteral("typed"));
        QTest::keyClick(f.Text1, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(readBytes(fx.path()), unreadable ? agenda : QByteArray("[tavlo]\r\n2004.01.01=first\r\n2004.01.02=typed\r\n"));
    }

    void waitsForAnotherProgramsLock_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("boxes"); // the busy file's, then any the action shows
        for (const char *action : {"save", "Delete after a date switch", "add date", "backup"})
            QTest::newRow(action) << action << 1;
        QTest::newRow("start-up's look for an interrupted save") << "start-up" << 0;
    }

    // While another program holds the file's lock, the window keeps
    // painting and answering; the action says within 3 seconds that the
    // file is busy (naming no program: it may be any), and nothing changes.
    // Start-up's look for what an interrupted save left comes back later.
    void waitsForAnotherProgramsLock()
    {
        QFETCH(QString, action);
        QFETCH(int, boxes);
        MainWindowFixture fx(kTwoDates);
        Form1 &f = fx.start();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        const QByteArray journal = QFile::encodeName(fx.path()) + ".saving";
        QVERIFY(action != QLatin1String("start-up") || writeBytes(QFile::decodeName(journal), "[tavlo]\r\n"));
        QFile holder(fx.path());
        QVERIFY(holder.open(QIODevice::ReadOnly) && ::flock(holder.handle(), LOCK_EX) == 0);
        int ticks = 0;
        QTimer clock;
        QObject::connect(&clock, &QTimer::timeout, [&ticks] { ++ticks; });
        clock.start(50);
        MsgBoxRecorder shown;
        const AnswerModal answer = AnswerDialog(QString::number(QDate::currentDate().year()), QStringLiteral("1"), QStringLiteral("3"));
        f.Text1->setPlainText(QStringLiteral("mine"));
        QElapsedTimer waited;
        if (action == QLatin1String("save")) {
            waited.start();
            f.Command2->click();
        } else if (action == QLatin1String("add date")) {
            waited.start();
            f.Command1_Click();
        } else if (action == QLatin1String("backup")) {
            waited.start();
            f.Command6_Click();
        } else if (action == QLatin1String("start-up")) {
            QVERIFY(RecoverAfterInterruptedSaves(QFile::encodeName(fx.path()), 0).busy);
            f.CheckForInterruptedSaveLater();
            waited.start();
            QTest::qWait(2200); // one look, while the lock is held
        } else {
            f.SelectItem(1); // read without the lock once the wait is up
            QCOMPARE(f.Text1->toPlainText(), QStringLiteral("second"));
            waited.start();
            QTest::keyClick(f.List1, Qt::Key_Delete);
        }
        QVERIFY2(waited.elapsed() < 3000, qPrintable(QString::number(waited.elapsed())));
        QVERIFY2(ticks * 50 >= waited.elapsed() / 2, qPrintable(QString::number(ticks))); // the event loop ran meanwhile
        QCOMPARE(shown.shown.size(), boxes);
        for (const QString &box : shown.shown) {
            QVERIFY2(box.contains(QStringLiteral("ほかのプログラムがこのファイルを使用中です。")), qPrintable(box));
            QVERIFY(!box.contains(QStringLiteral("スケジュール管理ツール")));
        }
        QCOMPARE(readBytes(fx.path()), kTwoDates);
        QCOMPARE(fx.listTexts().size(), 2);
        QVERIFY(action == QLatin1String("Delete after a date switch") || f.Text1->toPlainText() == QLatin1String("mine"));
        holder.close();
        // Free now: the interrupted save's copy is told of.
        QTRY_COMPARE_WITH_TIMEOUT(shown.shown.size(), boxes + int(action == QLatin1String("start-up")), 3000);
    }

    void changeElsewhere_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("edited");
        for (const char *how : {"renamed over", "written in place", "removed, then made again"})
            QTest::newRow(how) << how << false;
        QTest::newRow("renamed over, the memo being edited") << "renamed over" << true;
    }

    // Within a moment the list shows the file's dates, the selected date
    // stays selected, the list keeps its scroll position and the keyboard
    // stays where it was; the memo shows its new stored text unless it is
    // being edited.
    void changeElsewhere()
    {
        QFETCH(QString, how);
        QFETCH(bool, edited);
        MainWindowFixture fx(agendaOf(2, 200, "old"));
        Form1 &f = fx.start();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.FollowTheFile(agendaAt(fx.path()).Identity());
        f.SelectItem(20);
        f.List1->scrollTo(f.List1->model()->index(18, 0), QAbstractItemView::PositionAtTop);
        f.List1->setFocus();
        const QString top = f.List1->indexAt(QPoint(0, 0)).data().toString();
        if (edited)
            f.Text1->setPlainText(QStringLiteral("mine"));
        // One date more above, one less below; the selected date's memo new.
        QByteArray now = agendaOf(1, 201, "x").replace(dateOf(150).toLatin1() + "=m\r\n", "").replace(dateOf(22).toLatin1() + "=m", dateOf(22).toLatin1() + "=new");
        const QString other = fx.folder() + QStringLiteral("/other");
        if (how == QLatin1String("renamed over")) {
            QVERIFY(writeBytes(other, now) && ::rename(QFile::encodeName(other).constData(), QFile::encodeName(fx.path()).constData()) == 0);
        } else if (how == QLatin1String("written in place")) {
            QVERIFY(writeBytes(fx.path(), now));
        } else {
            QVERIFY(QFile::remove(fx.path()));
            QTest::qWait(400);
            QVERIFY(writeBytes(fx.path(), now));
        }
        QTRY_COMPARE_WITH_TIMEOUT(f.List1->text(0), QStringLiteral("2004.01.01"), 1000);
        QCOMPARE(f.List1->count(), 200);
        QCOMPARE(f.List1->text(f.CurrentIndex()), dateOf(22));
        QCOMPARE(f.List1->indexAt(QPoint(0, 0)).data().toString(), top);
        QVERIFY(f.List1->hasFocus());
        QCOMPARE(f.Text1->toPlainText(), edited ? QStringLiteral("mine") : QStringLiteral("new"));
        QCOMPARE(f.Command2->isEnabled(), edited);
        // Shown once: nothing opens the file again while nothing changes.
        const int opens = ::inotify_init1(IN_NONBLOCK);
        QVERIFY(::inotify_add_watch(opens, QFile::encodeName(fx.path()).constData(), IN_OPEN) >= 0);
        QTest::qWait(300);
        char event[256];
        QCOMPARE(::read(opens, event, sizeof event), ssize_t(-1));
        ::close(opens);
    }

    // The window's own saves change nothing it shows.
    void ownSavesChangeNothing()
    {
        MainWindowFixture fx(agendaOf(1, 3, "a"));
        Form1 &f = fx.start();
        f.FollowTheFile(agendaAt(fx.path()).Identity());
        QSignalSpy reset(f.List1->model(), &QAbstractItemModel::modelReset);
        f.Text1->setPlainText(QStringLiteral("saved"));
        f.Command2->click();
        f.Text1->setPlainText(QStringLiteral("typed after"));
        QTest::qWait(600);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("typed after"));
    }

    void gone_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("the file removed") << "file";
        QTest::newRow("the folder renamed") << "folder";
    }

    // A file gone for good is said once, and the list is not emptied.
    void gone()
    {
        QFETCH(QString, how);
        QTemporaryDir top;
        const QString folder = top.filePath(QStringLiteral("data")), path = folder + QStringLiteral("/tavlo.txt");
        QVERIFY(QDir(top.path()).mkdir(QStringLiteral("data")) && writeBytes(path, agendaOf(1, 3, "a")));
        Form1 f(agendaAt(path));
        f.AddDateKeys(agendaAt(path).ListDateKeys());
        f.show();
        f.FollowTheFile(agendaAt(path).Identity());
        MsgBoxRecorder boxes;
        QVERIFY(how == QLatin1String("file") ? QFile::remove(path) : QDir(top.path()).rename(QStringLiteral("data"), QStringLiteral("moved")));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.shown.size(), 1, 3000);
        QVERIFY(boxes.shown[0].contains(QStringLiteral("が見つかりません。")));
        QTest::qWait(2000);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(f.List1->count(), 3);
    }
};

QTEST_MAIN(tst_MemoCycle)
#include "tst_memocycle.moc"
