// The main window: the start-up that fills and shows it,
// the list's order, focus, fonts, and the text size, About and backup
// commands.
#include "app/module1.h"
#include "ui/dialogs/form2.h"
#include "ui/dialogs/form3.h"
#include "ui/classic/messagebox.h"
#include "ui/style/focusstyle.h"
#include "uitestsupport.h"

#include <QFontInfo>
#include <QStyleFactory>

using namespace tavlo;
using namespace tavlo::test;

namespace {
const QByteArray kAgenda("[tavlo]\r\n2004.05.01=first\r\n2004.05.20=second\r\n");
} // namespace

class tst_Form1 : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::reset(); }

    void startUp_data()
    {
        QTest::addColumn<QByteArray>("agenda"); // null: no file
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("memo");      // null: the add-date dialog opens
        QTest::newRow("entries in any order: earliest selected")
            << QByteArray("[tavlo]\r\n2004.02.01=late\r\n2003.12.24=Milk\x0F" "Bread\r\n")
            << QStringList{"2003.12.24", "2004.02.01"} << QStringLiteral("Milk\nBread");
        QTest::newRow("no file") << QByteArray() << QStringList{} << QString();
        QTest::newRow("empty line first hides entries")
            << QByteArray("\r\n[tavlo]\r\n2004.01.01=a\r\n") << QStringList{} << QString();
    }

    void startUp()
    {
        QFETCH(QByteArray, agenda);
        QFETCH(QStringList, shown);
        QFETCH(QString, memo);
        MainWindowFixture fx(agenda);
        Form1 form(agendaAt(fx.path()));
        bool opened = false;
        bool mainVisible = false;
        const AnswerModal answer1([&](QWidget *dialog) {
            opened = qobject_cast<Form2 *>(dialog) != nullptr;
            mainVisible = form.isVisible();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        ShowMainWindow(form, AgendaAtStart{agendaAt(fx.path()).ListDateKeys()});
        QCOMPARE(form.windowTitle(), QStringLiteral("スケジュール管理ツール"));
        QVERIFY(form.isVisible());
        QStringList texts;
        for (int i = 0; i < form.List1->count(); ++i)
            texts << form.List1->text(i);
        QCOMPARE(texts, shown);
        QCOMPARE(opened, memo.isNull());
        if (opened) {
            QVERIFY(mainVisible); // the window is shown before the dialog opens
            QVERIFY(form.Command2->isEnabled());
            QCOMPARE(form.CurrentIndex(), -1);
        } else {
            QCOMPARE(form.CurrentIndex(), 0);
            QCOMPARE(form.Text1->toPlainText(), memo);
            QVERIFY(!form.Command2->isEnabled());
        }
        QCOMPARE(readBytes(fx.path()), agenda.isNull() ? QByteArray("<missing>") : agenda);
    }

    void focusAndFonts()
    {
        MainWindowFixture fx("[tavlo]\r\n2004.01.01=a\r\n");
        Form1 &f = fx.start();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        // The tab order is tried with real keys in the whole-program suite.
        // Enter in the editor is a line break: no button is pressed.
        f.Text1->setFocus();
        MsgBoxRecorder boxes;
        QTest::keyClick(f.Text1, Qt::Key_Return);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("\na"));
        QVERIFY(boxes.shown.isEmpty());
        // The window font family is seldom installed; the window must be drawn
        // in an installed font that has the captions' glyphs, not in boxes.
        const QFontInfo info(f.font());
        QVERIFY2(QFontMetrics(f.font()).inFont(QChar(0x65E5)) && QFontMetrics(f.font()).inFont(QChar(0x30B5)),
                 qPrintable(info.family()));
        QCOMPARE(info.family(), WindowFontFamily()); // installed as asked, not matched to another
    }

    void focusIsDrawn_data()
    {
        QTest::addColumn<QString>("style");
        for (const char *style : {"Fusion", "Windows", "Adwaita-Dark"})
            QTest::newRow(style) << style;
    }

    // Focus shows, in the styles desktops give: a dotted frame on the list's
    // current date, a frame round the editor, a frame on a button (the
    // add-date dialog's default button does not look focused until it is).
    void focusIsDrawn()
    {
        QFETCH(QString, style);
        QStyle *base = QStyleFactory::create(style);
        QVERIFY2(base, "the set-up installs Adwaita for both Qt versions");
        QApplication::setStyle(new FocusStyle(base));
        MainWindowFixture fx(kAgenda);
        Form1 &f = fx.start();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QString answer;
        Form2 d(&f, &answer);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        for (QWidget *w : std::initializer_list<QWidget *>{f.List1, f.Text1, f.Command1, d.Command1}) {
            QWidget *other = w == f.List1 ? static_cast<QWidget *>(f.Text1) : w == d.Command1 ? static_cast<QWidget *>(d.Text1[0]) : f.List1;
            QApplication::setActiveWindow(w->window());
            w->setFocus();
            QTRY_VERIFY(w->hasFocus());
            // The editor's frame, not its blinking cursor.
            const QRect part = w == f.Text1 ? QRect(0, 0, w->width(), 2) : w->rect();
            const QImage focused = w->grab(part).toImage();
            other->setFocus();
            QTRY_VERIFY(other->hasFocus());
            QVERIFY2(w->grab(part).toImage() != focused, w->metaObject()->className());
        }
    }

    void textSize()
    {
        MainWindowFixture fx(kAgenda);
        Form1 &f = fx.start();
        // Only the editor's size decides: at 12 points both go back to 9.
        QFont font = f.Text1->font();
        font.setPointSizeF(12.0);
        f.Text1->setFont(font);
        f.SelectItem(1);
        f.Text1->setPlainText(QStringLiteral("edited text"));
        QTextCursor cursor = f.Text1->textCursor();
        cursor.setPosition(2);
        cursor.setPosition(6, QTextCursor::KeepAnchor);
        f.Text1->setTextCursor(cursor);
        for (const qreal size : {9.0, 12.0, 9.0}) {
            QTest::mouseClick(f.Command3, Qt::LeftButton);
            QCOMPARE(f.Text1->font().pointSizeF(), size);
            QCOMPARE(f.List1->font().pointSizeF(), size);
            QCOMPARE(f.Text1->textCursor().selectedText(), QStringLiteral("ited"));
            QCOMPARE(f.CurrentIndex(), 1);
            QVERIFY(f.Command2->isEnabled());
        }
    }

    void backup()
    {
        MainWindowFixture fx(kAgenda);
        Form1 &f = fx.start();
        f.Text1->setPlainText(QStringLiteral("unsaved"));
        Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(0, 0, 7)));
        MsgBoxRecorder boxes;
        QTest::mouseClick(f.Command6, Qt::LeftButton);
        const QString backup = fx.folder() + QStringLiteral("/tavlo_20040507_000007.txt");
        QCOMPARE(boxes.shown, QStringList{QStringLiteral("処理完了|0|") + backup + QStringLiteral("\r\nという名前で保存しました。")});
        QCOMPARE(readBytes(backup), kAgenda); // the unsaved edit is not in it
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("unsaved"));
        QVERIFY(f.Command2->isEnabled());
        // Pressed again in the same second: the first copy is never replaced.
        writeBytes(fx.path(), "[tavlo]\r\n2004.05.01=changed\r\n");
        f.Command6_Click();
        QVERIFY(boxes.shown[1].startsWith(QStringLiteral("異常検出|16|")));
        QCOMPARE(readBytes(backup), kAgenda);
        Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(0, 0, 8)));
        f.Command6_Click();
        QVERIFY(boxes.shown[2].startsWith(QStringLiteral("処理完了|0|")));
        // With no file to copy, nothing is made.
        QFile::remove(fx.path());
        Clock::setFixed(QDateTime(QDate(2004, 5, 7), QTime(9, 30, 5)));
        f.Command6_Click();
        QCOMPARE(boxes.shown[3], QStringLiteral("異常検出|16|") + fx.folder()
                                     + QStringLiteral("/tavlo_20040507_093005.txt\r\nという名前の保存が失敗しました。\r\n"
                                                      "ファイルがまだありません。日付を追加すると作られます。"));
        QCOMPARE(folderEntries(fx.folder()).size(), 2);
    }

    // The About box opens modal over the window with its OK button focused,
    // so Space closes it.
    void aboutBox()
    {
        MainWindowFixture fx(kAgenda);
        Form1 &f = fx.start();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        bool modal = false, okFocused = false;
        const AnswerModal answer([&](QWidget *w) {
            auto *about = qobject_cast<Form3 *>(w);
            modal = about && about->isModal();
            // Space only once OK has the focus: sent to the main window's
            // button it would open a second box.
            okFocused = about && QTest::qWaitFor([about] { return about->Command1->hasFocus(); }, 2000);
            if (okFocused)
                QTest::keyClick(about->Command1, Qt::Key_Space);
            w->close();
        });
        QTest::mouseClick(f.Command4, Qt::LeftButton);
        QVERIFY(modal);
        QVERIFY(okFocused);
    }
};

QTEST_MAIN(tst_Form1)
#include "tst_form1.moc"
