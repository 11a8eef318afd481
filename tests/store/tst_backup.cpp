#include "store/backup.h"
#include "testsupport.h"

#include <QtTest>

using namespace tavlo;
using namespace tavlo::test;

class tst_Backup : public QObject
{
    Q_OBJECT

private slots:
    void name_data()
    {
        QTest::addColumn<QByteArray>("dataFile");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QByteArray>("backup");
        QTest::newRow("morning") << QByteArray("/memo/agenda.txt") << QDateTime(QDate(2003, 2, 6), QTime(9, 3, 5))
                                 << QByteArray("/memo/agenda_20030206_090305.txt");
        QTest::newRow("last second of the day") << QByteArray("/a/tavlo.txt") << QDateTime(QDate(2004, 12, 31), QTime(23, 59, 59))
                                                << QByteArray("/a/tavlo_20041231_235959.txt");
        QTest::newRow("dotted program name") << QByteArray("/a/tavlo.v2.txt") << QDateTime(QDate(2010, 10, 10), QTime(10, 10, 10))
                                             << QByteArray("/a/tavlo.v2_20101010_101010.txt");
    }

    void name()
    {
        QFETCH(QByteArray, dataFile);
        QFETCH(QDateTime, when);
        QFETCH(QByteArray, backup);
        QCOMPARE(BackupPathFor(dataFile, when), backup);
    }

    void copy()
    {
        QTemporaryDir dir;
        const QByteArray src = QFile::encodeName(dir.filePath(QStringLiteral("tavlo.txt")));
        const QByteArray dst = QFile::encodeName(dir.filePath(QStringLiteral("tavlo_20040101_000000.txt")));
        QByteArray bytes("[tavlo]\r\n2004.01.01=\x95\x5C\x0F\xFF\r\n");
        bytes.append('\0').append("tail");
        writeBytes(src, bytes);
        QVERIFY(MakeBackupCopy(src, dst).ok());
        QCOMPARE(readBytes(dst), bytes);
        // A second press in the same second never replaces the first copy.
        writeBytes(src, "second");
        QCOMPARE(MakeBackupCopy(src, dst).error, FileError::Exists);
        QCOMPARE(readBytes(dst), bytes);
        QCOMPARE(folderEntries(dir.path()), (QStringList{QStringLiteral("tavlo.txt"), QStringLiteral("tavlo_20040101_000000.txt")}));
    }

    // No file to copy, or a folder that takes no copy: nothing is made.
    void refused()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("locked"));
        QCOMPARE(MakeBackupCopy(QFile::encodeName(dir.filePath(QStringLiteral("tavlo.txt"))),
                                QFile::encodeName(dir.filePath(QStringLiteral("b.txt")))).error, FileError::NotFound);
        QVERIFY(folderEntries(dir.path()).isEmpty());
        QVERIFY(QDir().mkdir(folder));
        UnwritableFolder locked(folder, QStringLiteral("tavlo.txt"), "data");
        QVERIFY(locked.ok());
        QVERIFY(!MakeBackupCopy(QFile::encodeName(folder + QStringLiteral("/tavlo.txt")), QFile::encodeName(folder + QStringLiteral("/b.txt"))).ok());
        QCOMPARE(folderEntries(folder), QStringList{QStringLiteral("tavlo.txt")});
    }
};

QTEST_GUILESS_MAIN(tst_Backup)
#include "tst_backup.moc"
