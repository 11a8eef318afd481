// The editor's scroll bar that skips needless repaints. Key translation and
// the real message boxes are tried with real keys in the whole-program suite.
#include "ui/quietscrollbar.h"
#include "uitestsupport.h"

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
