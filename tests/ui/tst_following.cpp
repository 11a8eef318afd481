// The window follows the file as other programs change it: how the change
// is made, what the window keeps, and a file gone for good. Two machines
// through a real Syncthing are the whole-program suite's.
#include "uitestsupport.h"

#include <QSignalSpy>

#include <unistd.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
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
} // namespace

class tst_Following : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_MAIN(tst_Following)
#include "tst_following.moc"
