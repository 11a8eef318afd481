// The small UI helpers: key translation, and the editor's scroll bar that
// skips needless repaints. The real message boxes are answered with real keys
// in the whole-program suite.
#include "ui/keycodes.h"
#include "ui/quietscrollbar.h"
#include "uitestsupport.h"

#include <QKeyEvent>
#include <QScrollBar>

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
    // Only what real keys in the whole-program suite cannot show.
    void keyCodes_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("mask");
        QTest::newRow("keypad Enter, keypad flag ignored") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 13 << 0;
        QTest::newRow("Ctrl+Alt+S") << int(Qt::Key_S) << int(Qt::ControlModifier | Qt::AltModifier) << 83 << 6;
        QTest::newRow("Meta does not count") << int(Qt::Key_S) << int(Qt::MetaModifier) << 83 << 0;
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

    // The scroll bar skips the repaint a plain-text editor asks for with every
    // new text; the handle's length shows only while there is something to scroll.
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
