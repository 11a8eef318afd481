#include "store/backup.h"
#include "testsupport.h"

#include <QtTest>

using namespace tavlo;
using namespace tavlo::test;

class tst_Backup : public QObject
{
    Q_OBJECT

private slots:
    void name_data();
    void name();
    void copyIsExact();
    void noSourceCreatesNothing();
    void sameSecondNeverOverwrites();
    void unwritableFolder();
};

void tst_Backup::name_data()
{
    QTest::addColumn<QString>("dataFile");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("backup");
    QTest::newRow("morning") << QStringLiteral("/memo/agenda.txt") << QDateTime(QDate(2003, 12, 26), QTime(9, 30, 5))
                             << QStringLiteral("/memo/agenda_20031226_093005.txt");
    QTest::newRow("just after midnight") << QStringLiteral("/a/tavlo.txt") << QDateTime(QDate(2004, 1, 2), QTime(0, 0, 7))
                                         << QStringLiteral("/a/tavlo_20040102_000007.txt");
    QTest::newRow("last second of the day") << QStringLiteral("/a/tavlo.txt") << QDateTime(QDate(2004, 1, 2), QTime(23, 59, 59))
                                            << QStringLiteral("/a/tavlo_20040102_235959.txt");
    QTest::newRow("dotted program name") << QStringLiteral("/a/tavlo.v2.txt") << QDateTime(QDate(2010, 10, 10), QTime(10, 10, 10))
                                         << QStringLiteral("/a/tavlo.v2_20101010_101010.txt");
}

void tst_Backup::name()
{
    QFETCH(QString, dataFile);
    QFETCH(QDateTime, when);
    QFETCH(QString, backup);
    QCOMPARE(BackupPathFor(dataFile, when), backup);
}

void tst_Backup::copyIsExact()
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("tavlo.txt"));
    QByteArray bytes("[tavlo]\r\n2004.01.01=\x95\x5C\x0F\xFF\r\n");
    bytes.append('\0').append("tail");
    writeBytes(src, bytes);
    const QString dst = dir.filePath(QStringLiteral("tavlo_20040101_000000.txt"));
    QVERIFY(MakeBackupCopy(src, dst).ok());
    QCOMPARE(readBytes(dst), bytes);
    QCOMPARE(folderEntries(dir.path()).size(), 2);
}

void tst_Backup::noSourceCreatesNothing()
{
    QTemporaryDir dir;
    const FileResult r = MakeBackupCopy(dir.filePath(QStringLiteral("tavlo.txt")), dir.filePath(QStringLiteral("b.txt")));
    QCOMPARE(r.error, FileError::NotFound);
    QVERIFY(folderEntries(dir.path()).isEmpty());
}

void tst_Backup::sameSecondNeverOverwrites()
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("tavlo.txt"));
    const QString dst = dir.filePath(QStringLiteral("tavlo_20040101_000000.txt"));
    writeBytes(src, "first");
    QVERIFY(MakeBackupCopy(src, dst).ok());
    writeBytes(src, "second");
    QCOMPARE(MakeBackupCopy(src, dst).error, FileError::Exists);
    QCOMPARE(readBytes(dst), QByteArray("first"));
    QCOMPARE(folderEntries(dir.path()).size(), 2);
}

void tst_Backup::unwritableFolder()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    UnwritableFolder locked(folder, QStringLiteral("tavlo.txt"), "data");
    QVERIFY(locked.ok());
    QVERIFY(!MakeBackupCopy(folder + QStringLiteral("/tavlo.txt"), folder + QStringLiteral("/b.txt")).ok());
    QCOMPARE(folderEntries(folder), QStringList{QStringLiteral("tavlo.txt")});
}

QTEST_GUILESS_MAIN(tst_Backup)
#include "tst_backup.moc"
