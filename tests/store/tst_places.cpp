// The agenda file where people keep it: a file shared by a group, with access
// lists, attributes and second names, a link whose target is gone, and a
// per-user copy of a file placed beside the program. Saving on a USB stick,
// and what killed saves leave, are the fault loop's. Folders named in other encodings are
// tried by the whole-program suite, with the program's own path.
#include "store/agendafile.h"
#include "store/backup.h"
#include "store/filenames.h"
#include "store/filenames.h"
#include "testsupport.h"

#include <QtTest>

#include <sys/xattr.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {

const QByteArray kBefore("[tavlo]\r\n2004.01.01=old\r\n2004.01.02=keep\r\n");
const QByteArray kAfter("[tavlo]\r\n2004.01.01=new\r\n2004.01.02=keep\r\n");

int run(const QString &command)
{
    return QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
}

} // namespace

class tst_Places : public QObject
{
    Q_OBJECT

private slots:
    void saveKeepsWhatTheFileWas_data()
    {
        QTest::addColumn<QString>("saver"); // who saves: "" for this process
        QTest::addColumn<QString>("owner"); // the file's owner
        QTest::addColumn<bool>("hardLink");
        QTest::addColumn<int>("method");
        QTest::newRow("its owner: renamed") << "" << "" << false << int(SaveMethod::Renamed);
        QTest::newRow("its owner, second name: in place") << "" << "" << true << int(SaveMethod::InPlace);
        QTest::newRow("another member of its group: in place") << "4242" << "4241" << false << int(SaveMethod::InPlace);
        QTest::newRow("root, for a user: renamed") << "" << "4241" << false << int(SaveMethod::Renamed);
    }

    void saveKeepsWhatTheFileWas()
    {
        QFETCH(QString, saver);
        QFETCH(QString, owner);
        QFETCH(bool, hardLink);
        QFETCH(int, method);
        // Users and their shared group by number: nothing is added to the
        // machine's user list.
        if ((!owner.isEmpty() || !saver.isEmpty()) && ::geteuid() != 0)
            QSKIP("needs root to act as two other users");
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
        const QString path = dir.filePath(QStringLiteral("tavlo.txt"));
        const QByteArray native = QFile::encodeName(path);
        writeBytes(path, kBefore);
        if (!owner.isEmpty())
            QCOMPARE(run(QStringLiteral("chown %1:4240 '%2'").arg(owner, path)), 0);
        QVERIFY(::chmod(native.constData(), 0660) == 0);
        if (run(QStringLiteral("setfacl -m u:nobody:r '%1'").arg(path)) != 0)
            QSKIP("the folder's file system has no access lists");
        QVERIFY(::setxattr(native.constData(), "user.tavlo", "kept", 4, 0) == 0);
        if (hardLink)
            QVERIFY(::link(native.constData(), QFile::encodeName(dir.filePath(QStringLiteral("second.txt"))).constData()) == 0);
        struct stat before;
        QVERIFY(::stat(native.constData(), &before) == 0);

        QString how;
        if (saver.isEmpty()) {
            const StoreResult r = AgendaFile(path, QStringLiteral("tavlo")).WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("new"));
            QVERIFY(r.ok());
            how = r.method == SaveMethod::InPlace ? QStringLiteral("in-place") : QStringLiteral("renamed");
        } else {
            QProcess p;
            p.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=") + saver, QStringLiteral("--regid=4240"),
                                                QStringLiteral("--groups=4240"), QStringLiteral(TAVLO_AGENDA_WRITER), path,
                                                QStringLiteral("2004.01.01"), QStringLiteral("new")});
            QVERIFY(p.waitForFinished());
            how = QString::fromLatin1(p.readAllStandardOutput()).trimmed();
        }
        QCOMPARE(how, method == int(SaveMethod::InPlace) ? QStringLiteral("in-place") : QStringLiteral("renamed"));
        QCOMPARE(readBytes(path), kAfter);
        struct stat after;
        QVERIFY(::stat(native.constData(), &after) == 0);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_nlink, before.st_nlink);
        char value[16] = {};
        QCOMPARE(::getxattr(native.constData(), "user.tavlo", value, sizeof value), ssize_t(4));
        QCOMPARE(QByteArray(value), QByteArray("kept"));
        QVERIFY(::getxattr(native.constData(), "system.posix_acl_access", nullptr, 0) > 0);
        if (hardLink)
            QCOMPARE(readBytes(dir.filePath(QStringLiteral("second.txt"))), kAfter);
        QCOMPARE(folderEntries(dir.path()).size(), hardLink ? 2 : 1);
    }

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
