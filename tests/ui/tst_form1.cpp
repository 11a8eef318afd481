// The main window: focus order, fonts, the sorted list, and the start-up
// that fills and shows it.
#include "app/module1.h"
#include "ui/dialogs/form2.h"
#include "uitestsupport.h"

#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

using namespace tavlo;
using namespace tavlo::test;

class tst_Form1 : public QObject
{
    Q_OBJECT

private slots:
    void focusChain();
    void fontsRenderJapanese();
    void sortedList_data();
    void sortedList();
    void startUp_data();
    void startUp();
    void agendaLocation_data();
    void agendaLocation();
};

void tst_Form1::focusChain()
{
    MainWindowFixture fx("[tavlo]\r\n2004.01.01=a\r\n");
    Form1 &f = fx.start();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    f.Command2->setEnabled(true); // as after an edit; a disabled button takes no focus
    f.List1->setFocus();
    const QList<QWidget *> expected{f.Text1,    f.Command1, f.Command2, f.Command3,
                                    f.Command6, f.Command4, f.Command5, f.List1};
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    // Enter in the editor is a line break: no button is pressed.
    f.Text1->setFocus();
    MsgBoxRecorder boxes;
    QTest::keyClick(f.Text1, Qt::Key_Return);
    QCOMPARE(f.Text1->toPlainText(), QStringLiteral("\na"));
    QVERIFY(boxes.calls.isEmpty());
}

void tst_Form1::fontsRenderJapanese()
{
    // The window font family is seldom installed; the windows must be drawn
    // in an installed font that has the captions' glyphs, not in boxes.
    const QFont font = WindowFont(9.0);
    const QFontInfo info(font);
    const QFontMetrics metrics(font);
    QVERIFY2(metrics.inFont(QChar(0x65E5)) && metrics.inFont(QChar(0x30B5)), qPrintable(info.family()));
    QCOMPARE(font.family(), WindowFontFamily());
    QCOMPARE(info.family(), WindowFontFamily()); // installed as asked, not matched to another
}

void tst_Form1::sortedList_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("out of order") << QStringList{"2003.12.26", "2003.12.01", "2004.01.05"}
                                  << QStringList{"2003.12.01", "2003.12.26", "2004.01.05"};
    QTest::newRow("duplicates allowed, code order not locale") << QStringList{"b", "B", "a", "a", "é"}
                                                               << QStringList{"B", "a", "a", "b", "é"};
}

// Where an added date goes is tried by the add-date tests.
void tst_Form1::sortedList()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, shown);
    MainWindowFixture fx;
    Form1 &f = fx.start();
    f.AddDateKeys(keys);
    QCOMPARE(fx.listTexts(), shown);
}

void tst_Form1::startUp_data()
{
    QTest::addColumn<QByteArray>("agenda"); // null: no file
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<bool>("dialogOpens");
    QTest::addColumn<QString>("memo");
    QTest::newRow("entries in any order: earliest selected")
        << QByteArray("[tavlo]\r\n2004.02.01=late\r\n2003.12.24=Milk\x0F" "Bread\r\n")
        << QStringList{"2003.12.24", "2004.02.01"} << false << QStringLiteral("Milk\nBread");
    QTest::newRow("no file") << QByteArray() << QStringList{} << true << QString();
    QTest::newRow("section line only") << QByteArray("[tavlo]\r\n") << QStringList{} << true << QString();
    QTest::newRow("empty line first hides entries")
        << QByteArray("\r\n[tavlo]\r\n2004.01.01=a\r\n") << QStringList{} << true << QString();
}

void tst_Form1::startUp()
{
    QFETCH(QByteArray, agenda);
    QFETCH(QStringList, shown);
    QFETCH(bool, dialogOpens);
    QFETCH(QString, memo);
    MainWindowFixture fx(agenda);
    Form1 form(fx.path(), QStringLiteral("tavlo"));
    bool opened = false;
    bool mainVisible = false;
    const AnswerModal answer1([&](QWidget *dialog) {
        opened = qobject_cast<Form2 *>(dialog) != nullptr;
        mainVisible = form.isVisible();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    ShowMainWindow(form, form.store().ListDateKeys());
    QCOMPARE(form.windowTitle(), QStringLiteral("スケジュール管理ツール"));
    QVERIFY(form.isVisible());
    QStringList texts;
    for (int i = 0; i < form.List1->count(); ++i)
        texts << form.List1->text(i);
    QCOMPARE(texts, shown);
    QCOMPARE(opened, dialogOpens);
    if (dialogOpens) {
        QVERIFY(mainVisible); // the window is shown before the dialog opens
        QVERIFY(form.Command2->isEnabled());
        QCOMPARE(form.CurrentIndex(), -1);
    } else {
        QCOMPARE(form.CurrentIndex(), 0);
        QCOMPARE(form.Text1->toPlainText(), memo);
        QVERIFY(!form.Command2->isEnabled());
    }
    QCOMPARE(test::readBytes(fx.path()), agenda.isNull() ? QByteArray("<missing>") : agenda);
}

void tst_Form1::agendaLocation_data()
{
    QTest::addColumn<QByteArray>("exe");
    QTest::addColumn<QByteArray>("dataFile");
    QTest::addColumn<QByteArray>("section");
    QTest::newRow("tavlo") << QByteArray("/opt/t/tavlo") << QByteArray("/opt/t/tavlo.txt") << QByteArray("tavlo");
    QTest::newRow("classic") << QByteArray("/opt/t/tavlo_classic") << QByteArray("/opt/t/tavlo_classic.txt")
                             << QByteArray("tavlo_classic");
    QTest::newRow("dots: complete base name") << QByteArray("/opt/t/my.tavlo.bin") << QByteArray("/opt/t/my.tavlo.txt")
                                              << QByteArray("my.tavlo");
    QTest::newRow("root folder keeps both slashes") << QByteArray("/tavlo") << QByteArray("//tavlo.txt")
                                                    << QByteArray("tavlo");
    // Folders unpacked from archives made on Windows keep their bytes.
    QTest::newRow("folder in code page 932") << QByteArray("/home/u/\x93\xfa\x96\x7b/tavlo")
                                             << QByteArray("/home/u/\x93\xfa\x96\x7b/tavlo.txt") << QByteArray("tavlo");
    QTest::newRow("folder in Latin-1") << QByteArray("/home/u/caf\xe9/tavlo") << QByteArray("/home/u/caf\xe9/tavlo.txt")
                                       << QByteArray("tavlo");
    QTest::newRow("UTF-8 name: section in code page 932")
        << QByteArray("/a/\xe6\x97\xa5\xe8\xa8\x98") << QByteArray("/a/\xe6\x97\xa5\xe8\xa8\x98.txt")
        << QByteArray("\x93\xfa\x8b\x4c");
    QTest::newRow("name in code page 932: kept as it is") << QByteArray("/a/\x93\xfa\x8b\x4c")
                                                          << QByteArray("/a/\x93\xfa\x8b\x4c.txt")
                                                          << QByteArray("\x93\xfa\x8b\x4c");
}

void tst_Form1::agendaLocation()
{
    QFETCH(QByteArray, exe);
    QFETCH(QByteArray, dataFile);
    QFETCH(QByteArray, section);
    const AgendaLocation loc = AgendaLocationFor(exe);
    QCOMPARE(loc.dataFile, dataFile);
    QCOMPARE(loc.sectionBytes, section);
}

QTEST_MAIN(tst_Form1)
#include "tst_form1.moc"
