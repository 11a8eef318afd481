// Real failures while saving: a full file system, and write, flush or rename
// failing with the errors a disk gives (through a preloaded shim). Each time
// the failure is reported, the agenda file keeps its old bytes, no temporary
// file is left, and the next operation works again.
#include "store/agendafile.h"
#include "testsupport.h"

#include <QtTest>

#include <cerrno>
#include <sys/mount.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
const QByteArray kBefore("[tavlo]\r\n2004.01.01=old\r\n2004.01.02=keep\r\n");

bool ShimLoaded()
{
    return qEnvironmentVariable("LD_PRELOAD").contains(QStringLiteral("failing_io"));
}

// tavlo.txt holding kBefore, in a folder of its own.
struct Agenda {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("tavlo.txt"));
    bool written = writeBytes(path, kBefore);
    AgendaFile store{path, QStringLiteral("tavlo")};
};
} // namespace

#define REQUIRE_SHIM() \
    if (!ShimLoaded()) \
        QSKIP("needs the failing_io shim preloaded (the test command does that)")

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void injected_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("write");  // else delete
        QTest::addColumn<bool>("inPlace"); // a second name makes the save overwrite in place
        QTest::newRow("write: disk full") << QByteArray("TAVLO_FAIL_WRITE") << ENOSPC << int(FileError::DiskFull) << true << false;
        QTest::newRow("write: I/O error") << QByteArray("TAVLO_FAIL_WRITE") << EIO << int(FileError::Other) << true << false;
        QTest::newRow("flush: I/O error") << QByteArray("TAVLO_FAIL_FSYNC") << EIO << int(FileError::Other) << true << false;
        QTest::newRow("flush: quota") << QByteArray("TAVLO_FAIL_FSYNC") << EDQUOT << int(FileError::DiskFull) << false << false;
        QTest::newRow("rename: I/O error") << QByteArray("TAVLO_FAIL_RENAME") << EIO << int(FileError::Other) << false << false;
        QTest::newRow("in place: write I/O error, old bytes put back")
            << QByteArray("TAVLO_FAIL_WRITE") << EIO << int(FileError::Other) << true << true;
        // Not a failure: the old bytes are then copied through a buffer.
        QTest::newRow("kernel copy between these files refused") << QByteArray("TAVLO_FAIL_COPY_RANGE") << EXDEV
                                                                 << int(FileError::None) << true << true;
    }

    void injected()
    {
        QFETCH(QByteArray, variable);
        QFETCH(int, err);
        QFETCH(int, error);
        QFETCH(bool, write);
        QFETCH(bool, inPlace);
        REQUIRE_SHIM();
        const Agenda a;
        const QString link = a.dir.filePath(QStringLiteral("link.txt"));
        QVERIFY(!inPlace || ::link(QFile::encodeName(a.path).constData(), QFile::encodeName(link).constData()) == 0);
        const QStringList entries = folderEntries(a.dir.path());
        qputenv(variable.constData(), QByteArray::number(err));
        const StoreResult result = write ? a.store.WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("a longer memo"))
                                         : a.store.DeleteDate(QStringLiteral("2004.01.01"));
        qunsetenv(variable.constData());

        QCOMPARE(int(result.error), error);
        if (result.ok()) {
            QCOMPARE(readBytes(a.path), QByteArray("[tavlo]\r\n2004.01.01=a longer memo\r\n2004.01.02=keep\r\n"));
            return;
        }
        QCOMPARE(result.sysErrno, err);
        QCOMPARE(readBytes(a.path), kBefore);
        QCOMPARE(folderEntries(a.dir.path()), entries);
        QVERIFY(a.store.WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("new")).ok());
        QCOMPARE(a.store.ReadMemo(QStringLiteral("2004.01.01")).value_or(QString()), QStringLiteral("new"));
    }

    void fullFileSystem()
    {
        QTemporaryDir dir;
        const QByteArray mountPoint = QFile::encodeName(dir.path());
        if (::mount("tavlo-full", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("mounting a small file system needs root");
        struct Unmount {
            QByteArray at;
            ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
        } unmount{mountPoint};
        const QString path = dir.filePath(QStringLiteral("tavlo.txt"));
        QByteArray before("[tavlo]\r\n");
        before += "2004.01.01=" + QByteArray(25000, 'a') + "\r\n";
        before += "2004.01.03=" + QByteArray(25000, 'c') + "\r\n";
        writeBytes(path, before);
        const AgendaFile store(path, QStringLiteral("tavlo"));

        // The new file does not fit beside the old one.
        const StoreResult result = store.WriteMemo(QStringLiteral("2004.01.02"), QString(4000, QLatin1Char('b')));
        QCOMPARE(result.error, FileError::DiskFull);
        QCOMPARE(readBytes(path), before);
        QCOMPARE(folderEntries(dir.path()), QStringList{QStringLiteral("tavlo.txt")});
        // Deleting shrinks the file but still needs room for the new copy.
        QCOMPARE(store.DeleteDate(QStringLiteral("2004.01.01")).error, FileError::DiskFull);
        QCOMPARE(readBytes(path), before);
        // Once there is room again, saving works.
        writeBytes(path, "[tavlo]\r\n");
        QVERIFY(store.WriteMemo(QStringLiteral("2004.01.02"), QString(4000, QLatin1Char('b'))).ok());
    }

    void otherProgramDuringSave_data()
    {
        QTest::addColumn<QString>("command"); // run by another process while the save writes
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("appends a date") << QStringLiteral("printf '2004.01.03=other\\r\\n' >> tavlo.txt")
                                        << QByteArray("[tavlo]\r\n2004.01.01=new\r\n2004.01.02=keep\r\n2004.01.03=other\r\n");
        QTest::newRow("renames its own file over it")
            << QStringLiteral("printf '[tavlo]\\r\\n2004.01.09=theirs\\r\\n' > theirs && mv theirs tavlo.txt")
            << QByteArray("[tavlo]\r\n2004.01.09=theirs\r\n2004.01.01=new\r\n");
    }

    void otherProgramDuringSave()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, after);
        REQUIRE_SHIM();
        const Agenda a;
        QProcess other;
        other.setWorkingDirectory(a.dir.path());
        other.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sleep 0.1; ") + command});
        QVERIFY(other.waitForStarted());
        qputenv("TAVLO_SLOW_WRITE", "400"); // the other process acts while the save writes
        const StoreResult result = a.store.WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("new"));
        qunsetenv("TAVLO_SLOW_WRITE");
        QVERIFY(other.waitForFinished());
        QVERIFY(result.ok());
        QCOMPARE(readBytes(a.path), after); // the edit was made again on their content
        QCOMPARE(folderEntries(a.dir.path()), QStringList{QStringLiteral("tavlo.txt")});
    }
};

QTEST_GUILESS_MAIN(tst_Faults)
#include "tst_faults.moc"
