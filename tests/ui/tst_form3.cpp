// The About box: layout, texts character for character, ways of closing.
#include "ui/dialogs/form3.h"
#include "uitestsupport.h"

#include <QGroupBox>
#include <QLabel>

using namespace tavlo;
using namespace tavlo::test;

class tst_Form3 : public QObject
{
    Q_OBJECT

private slots:
    void layout();
    void texts();
    void closes_data();
    void closes();
    void openedFromMainWindow();
};

void tst_Form3::layout()
{
    QWidget owner;
    Form3 d(&owner);
    QCOMPARE(d.windowTitle(), QStringLiteral("バージョン情報"));
    QCOMPARE(d.size(), QSize(305, 270));
    QCOMPARE(d.Frame1->geometry(), QRect(16, 28, 273, 133));
    QCOMPARE(d.Label1->geometry(), QRect(8, 8, 289, 17));
    QCOMPARE(d.Command1->geometry(), QRect(20, 104, 233, 21));
    QCOMPARE(d.Command1->parentWidget(), static_cast<QWidget *>(d.Frame1));
    QCOMPARE(d.Label4->geometry(), QRect(12, 16, 249, 81));
    QCOMPARE(d.Frame2->geometry(), QRect(8, 164, 289, 101));
    QCOMPARE(d.Text1->geometry(), QRect(8, 12, 273, 81));
    QCOMPARE(d.Label1->font().pointSizeF(), 9.75);
    QVERIFY(d.Label1->alignment() & Qt::AlignHCenter);
    QVERIFY(d.Text1->isReadOnly());
    QCOMPARE(d.Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(d.Command1->isDefault());
}

void tst_Form3::texts()
{
    QWidget owner;
    for (int opening = 0; opening < 2; ++opening) {
        Form3 d(&owner);
        QCOMPARE(d.Label1->text(), QStringLiteral("Tavlo.exe\u3000Ver 1.00 (2003.12.26)"));
        QCOMPARE(d.Label4->text(),
                 QStringLiteral("このプログラムは。\n\n\u3000日付ごとにメモ書き\uFF08スケジュール\uFF09を残すためのプログラムです。\n"
                                "\u3000詳しくは「読んで☆.txt」をご覧下さい。"));
        const QStringList credits = d.Text1->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(credits.size(), 5);
        QCOMPARE(credits[0], BuildToolLine());
        QVERIFY(credits[0].contains(QString::fromLatin1(qVersion())));
        QVERIFY(credits[1].contains(QStringLiteral("2003")));
        QVERIFY(credits[2].isEmpty());
        QVERIFY(credits[3].startsWith(QStringLiteral("E -mail: ")));
        QVERIFY(credits[3].endsWith(QStringLiteral("example.org")));
        QVERIFY(credits[4].startsWith(QStringLiteral("URL : ")));
        QVERIFY(credits[4].contains(QStringLiteral("example.org")));
    }
}

void tst_Form3::closes_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("back button") << 0;
}

void tst_Form3::closes()
{
    QFETCH(int, key);
    QWidget owner;
    owner.show();
    Form3 d(&owner);
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(d.Command1));
    if (key)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    else
        QTest::mouseClick(d.Command1, Qt::LeftButton);
    QVERIFY(!d.isVisible());
}

void tst_Form3::openedFromMainWindow()
{
    MainWindowFixture fx("[tavlo]\r\n2004.05.01=first\r\n");
    Form1 &f = fx.start();
    f.Text1->setPlainText(QStringLiteral("unsaved"));
    bool seen = false;
    const AnswerModal answer([&](QWidget *w) {
        seen = qobject_cast<Form3 *>(w) != nullptr;
        QTest::keyClick(w, Qt::Key_Escape);
    });
    QTest::mouseClick(f.Command4, Qt::LeftButton);
    QVERIFY(seen);
    QCOMPARE(f.Text1->toPlainText(), QStringLiteral("unsaved"));
    QVERIFY(f.Command2->isEnabled());
}

QTEST_MAIN(tst_Form3)
#include "tst_form3.moc"
