// The agenda file where people keep it: a file shared by a group, with access
// lists, attributes and second names, a USB stick, a link whose target is
// gone, and what killed saves leave. Folders named in other encodings are
// tried by the whole-program suite, with the program's own path.
#include "store/agendafile.h"
#include "store/backup.h"
#include "store/leftovers.h"
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
        QTest::newRow("another member of its group: in place")
            << "tavlo-member" << "tavlo-owner" << false << int(SaveMethod::InPlace);
        QTest::newRow("root, for a user: renamed") << "" << "tavlo-owner" << false << int(SaveMethod::Renamed);
    }

    void saveKeepsWhatTheFileWas()
    {
        QFETCH(QString, saver);
        QFETCH(QString, owner);
        QFETCH(bool, hardLink);
        QFETCH(int, method);
        if (!owner.isEmpty() || !saver.isEmpty()) {
            // Two users sharing a group, made for the test when it runs as root.
            static const bool shared = ::geteuid() == 0
                && run(QStringLiteral("getent group tavlo-share >/dev/null || groupadd tavlo-share;"
                                      "for u in tavlo-owner tavlo-member; do id $u >/dev/null 2>&1 || "
                                      "useradd -M -N -g tavlo-share $u; done")) == 0;
            if (!shared)
                QSKIP("needs root to make a second user and a shared group");
        }
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
        const QString path = dir.filePath(QStringLiteral("tavlo.txt"));
        const QByteArray native = QFile::encodeName(path);
        writeBytes(path, kBefore);
        if (!owner.isEmpty())
            QCOMPARE(run(QStringLiteral("chown %1:tavlo-share '%2'").arg(owner, path)), 0);
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
            p.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=") + saver, QStringLiteral("--regid=tavlo-share"),
                                                QStringLiteral("--init-groups"), QStringLiteral(TAVLO_AGENDA_WRITER), path,
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
        QVERIFY(!QFile::exists(QFile::decodeName(savingCopyPath(native))));
    }

    void savesOnAStick()
    {
        const ExfatMount stick;
        if (!stick.ok())
            QSKIP("needs root, a free loop device, FUSE, exfat-fuse and exfatprogs");
        const QString path = stick.path() + QStringLiteral("/tavlo.txt");
        const AgendaFile store(path, QStringLiteral("tavlo"));
        QVERIFY(store.WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("old")).ok());
        QVERIFY(store.WriteMemo(QStringLiteral("2004.01.02"), QStringLiteral("keep")).ok());
        const StoreResult r = store.WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("new"));
        QVERIFY(r.ok());
        QCOMPARE(int(r.method), int(SaveMethod::Renamed));
        QVERIFY(store.DeleteDate(QStringLiteral("2004.01.02")).ok());
        QCOMPARE(readBytes(path), QByteArray("[tavlo]\r\n2004.01.01=new\r\n"));
        QCOMPARE(folderEntries(stick.path()), QStringList{QStringLiteral("tavlo.txt")});
        const QString backup = stick.path() + QStringLiteral("/tavlo_20040101_000000.txt");
        QVERIFY(MakeBackupCopy(QFile::encodeName(path), QFile::encodeName(backup)).ok());
        QCOMPARE(readBytes(backup), QByteArray("[tavlo]\r\n2004.01.01=new\r\n"));
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

    void leftoversOfKilledSaves()
    {
        QTemporaryDir dir;
        const QStringList removed{".tavlo.txt.Ab3dE9", ".tavlo_20040101_000000.txt.xYz123"};
        const QStringList kept{"tavlo.txt", "tavlo.txt.saving", ".tavlo.txt.Ab3dE", ".tavlo.txt.Ab3dE9x",
                               ".tavlo.txt.Ab-dE9", ".other.txt.Ab3dE9", ".tavlo_2004010_000000.txt.xYz123",
                               "tavlo.txt.Ab3dE9"};
        for (const QString &name : removed + kept)
            writeBytes(dir.filePath(name), "x");
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral(".tavlo.txt.Folder")));
        const QByteArray agenda = QFile::encodeName(dir.filePath(QStringLiteral("tavlo.txt")));
        QCOMPARE(CleanUpAfterInterruptedSaves(agenda), savingCopyPath(agenda));
        QStringList expected = kept;
        expected << QStringLiteral(".tavlo.txt.Folder");
        expected.sort();
        QCOMPARE(folderEntries(dir.path()), expected);
        QFile::remove(dir.filePath(QStringLiteral("tavlo.txt.saving")));
        QCOMPARE(CleanUpAfterInterruptedSaves(agenda), QByteArray());
    }
};

QTEST_GUILESS_MAIN(tst_Places)
#include "tst_places.moc"
