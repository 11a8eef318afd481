// The small UI helpers: key translation, the real message box behind the
// seam, and the editor's scroll bar that skips needless repaints.
#include "ui/keycodes.h"
#include "ui/quietscrollbar.h"
#include "uitestsupport.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QMessageBox>

using namespace tavlo;
using namespace tavlo::test;

namespace {

// Counts the paints a widget gets.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Whether `change` makes `widget` paint again.
bool Repaints(QWidget *widget, const std::function<void()> &change)
{
    PaintCounter counter(widget);
    QTest::qWait(20); // let earlier paints pass
    counter.paints = 0;
    change();
    QTest::qWait(50);
    return counter.paints > 0;
}

} // namespace

class tst_Helpers : public QObject
{
    Q_OBJECT

private slots:
    void keyCodes_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("mask");
        QTest::newRow("Delete") << int(Qt::Key_Delete) << int(Qt::NoModifier) << 46 << 0;
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << 13 << 0;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << 27 << 0;
        QTest::newRow("keypad Enter, keypad flag ignored") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 13 << 0;
        QTest::newRow("Ctrl+A") << int(Qt::Key_A) << int(Qt::ControlModifier) << 65 << 2;
        QTest::newRow("Ctrl+Shift+S") << int(Qt::Key_S) << int(Qt::ControlModifier | Qt::ShiftModifier) << 83 << 3;
        QTest::newRow("Ctrl+Alt+S") << int(Qt::Key_S) << int(Qt::ControlModifier | Qt::AltModifier) << 83 << 6;
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << 46 << 1;
        QTest::newRow("Meta does not count") << int(Qt::Key_S) << int(Qt::MetaModifier) << 83 << 0;
        QTest::newRow("digit") << int(Qt::Key_7) << int(Qt::NoModifier) << 55 << 0;
        QTest::newRow("F1") << int(Qt::Key_F1) << int(Qt::NoModifier) << 112 << 0;
        QTest::newRow("no code") << int(Qt::Key_Eacute) << int(Qt::NoModifier) << 0 << 0;
    }

    void keyCodes()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, code);
        QFETCH(int, mask);
        const QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(VirtualKeyCode(&event), code);
        QCOMPARE(ShiftState(&event), mask);
    }

    void realMessageBox_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("key");      // pressed to answer
        QTest::addColumn<int>("expected"); // answer
        QTest::newRow("0: OK, no icon") << 0 << int(QMessageBox::NoIcon) << 1 << int(Qt::Key_Return) << int(vbOK);
        QTest::newRow("16: OK, error icon") << 16 << int(QMessageBox::Critical) << 1 << int(Qt::Key_Return) << int(vbOK);
        QTest::newRow("48: OK, warning icon") << 48 << int(QMessageBox::Warning) << 1 << int(Qt::Key_Escape) << int(vbOK);
        QTest::newRow("4: Enter answers Yes") << 4 << int(QMessageBox::NoIcon) << 2 << int(Qt::Key_Return) << int(vbYes);
        QTest::newRow("4: Escape answers No") << 4 << int(QMessageBox::NoIcon) << 2 << int(Qt::Key_Escape) << int(vbNo);
    }

    void realMessageBox()
    {
        QFETCH(int, style);
        QFETCH(int, icon);
        QFETCH(int, buttons);
        QFETCH(int, key);
        QFETCH(int, expected);
        QWidget owner;
        owner.show();
        QString title, text;
        int seenIcon = -1, seenButtons = -1;
        const AnswerModal reply([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            seenIcon = box->icon();
            seenButtons = box->buttons().size();
            QTest::keyClick(box, Qt::Key(key));
        });
        const int answer = MsgBox(&owner, QStringLiteral("一行目\r\n二行目"), style, QStringLiteral("処理中断"));
        QCOMPARE(answer, expected);
        QCOMPARE(title, QStringLiteral("処理中断"));
        QCOMPARE(text, QStringLiteral("一行目\n二行目"));
        QCOMPARE(seenIcon, icon);
        QCOMPARE(seenButtons, buttons);
    }

    void editorScrollBarRepaints_data()
    {
        const QString shortMemo = QStringLiteral("会議\n資料提出");
        const QString longMemo = QStringLiteral("行\n").repeated(60);
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("repaints");
        QTest::newRow("short memo after a short one") << shortMemo << QStringLiteral("買い物") << false;
        QTest::newRow("long memo after a short one") << shortMemo << longMemo << true;
        QTest::newRow("short memo after a long one") << longMemo << shortMemo << true;
        QTest::newRow("longer memo after a long one") << longMemo << longMemo + longMemo << true;
    }

    void editorScrollBarRepaints()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(bool, repaints);
        QPlainTextEdit editor, plain;
        auto *bar = new QuietScrollBar(Qt::Vertical, &editor);
        editor.setVerticalScrollBar(bar);
        editor.setPlainText(before);
        for (QPlainTextEdit *e : {&editor, &plain}) {
            e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            e->resize(300, 200);
            e->show();
            QVERIFY(QTest::qWaitForWindowExposed(e));
        }
        QCOMPARE(Repaints(bar, [&] { editor.setPlainText(after); }), repaints);
        // What the bar shows matches a plain editor's, repainted or not.
        plain.setPlainText(after);
        QCOMPARE(bar->maximum(), plain.verticalScrollBar()->maximum());
        if (bar->maximum() > 0)
            QCOMPARE(bar->pageStep(), plain.verticalScrollBar()->pageStep());
    }

    // The handle's length shows only while there is something to scroll.
    void pageStepRepaints()
    {
        QuietScrollBar bar(Qt::Vertical);
        bar.resize(20, 200);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        for (const int maximum : {0, 100}) {
            bar.setRange(0, maximum);
            QCOMPARE(Repaints(&bar, [&] { bar.setPageStep(bar.pageStep() + 7); }), maximum > 0);
        }
    }
};

QTEST_MAIN(tst_Helpers)
#include "tst_helpers.moc"
