// Every caption, date and box text fits its control, in every installed
// style; the test command runs it at scale factors 1, 1.5 and 2. The layout
// is fixed, so what goes inside the controls must fit it.
#include "app/module1.h"
#include "ui/dialogs/form2.h"
#include "ui/dialogs/form3.h"
#include "ui/fonts.h"
#include "uitestsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QStyleFactory>
#include <QStyleOption>

using namespace tavlo;
using namespace tavlo::test;

namespace {

// Texts that do not fit: "name: needs N, has M".
QStringList Clipped(QWidget *window, const QStringList &boxTexts)
{
    QStringList clipped;
    // `needs`: -1 for the text's width in the widget's font.
    auto check = [&clipped](const QWidget *w, const QString &text, int needs, int has) {
        if (needs < 0)
            needs = w->fontMetrics().horizontalAdvance(text);
        if (needs > has)
            clipped << QStringLiteral("%1 \"%2\": needs %3, has %4").arg(w->metaObject()->className(), text).arg(needs).arg(has);
    };
    for (QPushButton *b : window->findChildren<QPushButton *>()) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        opt.features = b->isDefault() ? QStyleOptionButton::DefaultButton : QStyleOptionButton::None;
        const QRect contents = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
        check(b, QString(b->text()).remove(QLatin1Char('&')), -1, contents.width());
    }
    for (QLabel *l : window->findChildren<QLabel *>()) {
        if (l->wordWrap()) { // it wraps: all its lines must fit below each other
            const QRect need = l->fontMetrics().boundingRect(l->contentsRect(), Qt::TextWordWrap, l->text());
            check(l, l->text().left(8), need.height(), l->contentsRect().height());
        } else {
            check(l, l->text(), -1, l->contentsRect().width());
        }
    }
    const QList<QLineEdit *> boxes = window->findChildren<QLineEdit *>();
    for (int i = 0; i < boxes.size() && i < boxTexts.size(); ++i) {
        QLineEdit *e = boxes[i];
        QStyleOptionFrame opt;
        opt.initFrom(e);
        opt.rect = e->rect();
        opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
        const QMargins margins = e->textMargins();
        const int has = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e).width() - margins.left()
            - margins.right() - 2 * 2; // QLineEdit keeps two pixels clear each side
        check(e, boxTexts[i], -1, has);
    }
    if (auto *form = qobject_cast<Form1 *>(window)) {
        // A date, and the date at the larger text size.
        const int margin = form->List1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, form->List1) + 1;
        for (int press = 0; press < 2; ++press) {
            check(form->List1, QStringLiteral("2024.12.24"), -1, form->List1->viewport()->width() - 2 * margin);
            form->Command3_Click();
        }
    }
    return clipped;
}

} // namespace

class tst_TextFit : public QObject
{
    Q_OBJECT

private slots:
    void texts_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("window");
        for (const char *style : {"Fusion", "Windows", "Adwaita", "Adwaita-Dark"})
            for (const char *window : {"main window", "add-date dialog", "About box"})
                QTest::addRow("%s, %s", style, window) << QString::fromLatin1(style) << QString::fromLatin1(window);
    }

    void texts()
    {
        QFETCH(QString, style);
        QFETCH(QString, window);
        if (!QStyleFactory::keys().contains(style, Qt::CaseInsensitive))
            QSKIP(qPrintable(style + QStringLiteral(" is not installed (adwaita-qt, adwaita-qt6)")));
        QApplication::setStyle(QStyleFactory::create(style));
        MainWindowFixture fx("[tavlo]\r\n2024.12.24=memo\r\n");
        Form1 &f = fx.start();
        QString answer;
        std::unique_ptr<QWidget> dialog;
        if (window == QLatin1String("add-date dialog"))
            dialog = std::make_unique<Form2>(&f, &answer);
        else if (window == QLatin1String("About box"))
            dialog = std::make_unique<Form3>(&f);
        QWidget *shown = dialog ? dialog.get() : &f;
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        const QStringList clipped = Clipped(shown, {QStringLiteral("2026"), QStringLiteral("12"), QStringLiteral("31")});
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));
    }
};

int main(int argc, char *argv[])
{
    EnableHighDpiScaling();
    QApplication app(argc, argv);
    QApplication::setFont(WindowFont(9.0));
    tst_TextFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_textfit.moc"
