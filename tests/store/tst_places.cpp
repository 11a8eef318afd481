// The agenda file where people keep it: a link whose target is gone, and a
// per-user copy of a file placed beside the program. Owners, groups, modes,
// attributes and second names kept by a save, saving on a USB stick, and
// what killed saves leave, are the fault loop's; folders named in other
// encodings, the whole-program suite's.
#include "store/agendafile.h"
#include "store/backup.h"
#include "store/filenames.h"
#include "testsupport.h"

#include <QtTest>

using namespace tavlo;
using namespace tavlo::test;

class tst_Places : public QObject
{
    Q_OBJECT

private slots:
    void danglingLink()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("tavlo.txt"));
        const QString target = dir.filePath(QStringLiteral("data/agenda.txt"));
        QVERIFY(QFile::link(target, link));
        const AgendaFile store(link, QStringLiteral("tavlo"));
        // Its folder missing: reported, the link left alone.
        QCOMPARE(store.WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("new")).error, FileError::FolderMissing);
        QVERIFY(QFileInfo(link).isSymLink());
        // Its folder there: the target is created, the link kept.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("data")));
        QVERIFY(store.WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("new")).ok());
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readBytes(target), QByteArray("[tavlo]\r\n2004.01.01=new\r\n"));
    }

    void perUserCopy_data()
    {
        QTest::addColumn<bool>("placed"); // a file placed beside the program
        QTest::addColumn<bool>("backupFirst");
        QTest::newRow("placed file, then a save") << true << false;
        QTest::newRow("placed file, then a backup") << true << true;
        QTest::newRow("nothing placed") << false << false;
    }

    // A program whose folder is not the user's: the file beside it is read
    // until the first write, which starts the user's own copy from it, in
    // folders of the user's alone; the placed file is never written.
    void perUserCopy()
    {
        QFETCH(bool, placed);
        QFETCH(bool, backupFirst);
        QTemporaryDir dir;
        const QString seed = dir.filePath(QStringLiteral("usr/bin/tavlo.txt"));
        QVERIFY(QDir().mkpath(QFileInfo(seed).path()));
        const QByteArray admin("[tavlo]\r\n2004.01.01=admin\r\n");
        if (placed)
            writeBytes(seed, admin);
        const QString own = dir.filePath(QStringLiteral("home/.local/share/tavlo/usr/bin/tavlo.txt"));
        const AgendaFile store(QFile::encodeName(own), "tavlo", QByteArray(), QFile::encodeName(seed));
        QCOMPARE(store.ListDateKeys(), placed ? QStringList{QStringLiteral("2004.01.01")} : QStringList{});
        QCOMPARE(store.ReadMemo(QStringLiteral("2004.01.01")).value_or(QString()), placed ? QStringLiteral("admin") : QString());
        QVERIFY(!QFile::exists(own));
        if (backupFirst) {
            const QByteArray backup = BackupPathFor(QFile::encodeName(own), QDateTime(QDate(2004, 1, 2), QTime(3, 4, 5)));
            QVERIFY(store.Backup(backup).ok());
            QCOMPARE(readBytes(QFile::decodeName(backup)), admin);
        }
        QVERIFY(store.WriteMemo(QStringLiteral("2004.01.02"), QStringLiteral("mine")).ok());
        QCOMPARE(readBytes(own), (placed ? admin : QByteArray("[tavlo]\r\n")) + "2004.01.02=mine\r\n");
        QCOMPARE(readBytes(seed), placed ? admin : QByteArray("<missing>"));
        QCOMPARE(QFileInfo(QFileInfo(own).path()).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    }
};

QTEST_GUILESS_MAIN(tst_Places)
#include "tst_places.moc"
