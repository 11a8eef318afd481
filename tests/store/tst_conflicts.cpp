// Conflict copies a synchroniser leaves beside the agenda: which names are
// one, what bringing one in makes of the agenda, and what is never touched.
// Two real Syncthing instances are the whole-program suite's.
#include "store/agendafile.h"
#include "store/codepage.h"
#include "store/files/filenames.h"
#include "store/merge.h"
#include "testsupport.h"

#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
const QByteArray kMarker("--");
} // namespace

class tst_Conflicts : public QObject
{
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("time"); // null: no conflict copy of tavlo.txt
        QTest::newRow("Syncthing") << QByteArray("tavlo.sync-conflict-20261209-101010-ABCDEFG.txt") << "2026-12-09 10:10:10";
        QTest::newRow("Nextcloud and ownCloud") << QByteArray("tavlo (conflicted copy 2026-12-09 101010).txt") << "2026-12-09 10:10:10";
        QTest::newRow("Nextcloud, numbered") << QByteArray("tavlo (conflicted copy 2026-12-09 101010) (2).txt") << "2026-12-09 10:10:10";
        QTest::newRow("Dropbox") << QByteArray("tavlo (Taro's conflicted copy 2026-12-09).txt") << "2026-12-09";
        QTest::newRow("Dropbox, numbered") << QByteArray("tavlo (Taro's conflicted copy 2026-12-09) (1).txt") << "2026-12-09";
        QTest::newRow("another stem") << QByteArray("tavlo_classic.sync-conflict-20261209-101010-ABCDEFG.txt") << QString();
        QTest::newRow("another extension") << QByteArray("tavlo.sync-conflict-20261209-101010-ABCDEFG.bak") << QString();
        QTest::newRow("a short device id") << QByteArray("tavlo.sync-conflict-20261209-101010-ABCDEF.txt") << QString();
        QTest::newRow("one brought in already") << QByteArray("tavlo.sync-conflict-20261209-101010-ABCDEFG.merged.txt") << QString();
        QTest::newRow("a backup") << QByteArray("tavlo_20261209_101010.txt") << QString();
        QTest::newRow("the agenda") << QByteArray("tavlo.txt") << QString();
    }

    void names()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, time);
        QCOMPARE(ConflictCopyTime(name, "tavlo.txt").value_or(QString()), time);
    }

    void merge_data()
    {
        QTest::addColumn<QByteArray>("agenda");
        QTest::addColumn<QByteArray>("copy");
        QTest::addColumn<QByteArray>("merged");
        QTest::addColumn<QString>("report"); // added / joined / too long
        const QByteArray ours("[tavlo]\r\n2024.05.01=a\r\n2024.05.02=b\r\n");
        QTest::newRow("a date only in the copy, at the section's end")
            << ours << QByteArray("[tavlo]\r\n2024.04.30=z\r\n") << ours + "2024.04.30=z\r\n" << "2024.04.30//";
        QTest::newRow("a differing memo joined, line breaks kept")
            << ours << QByteArray("[tavlo]\r\n2024.05.02=c\x0F" "d\r\n")
            << QByteArray("[tavlo]\r\n2024.05.01=a\r\n2024.05.02=b\x0F--\x0F" "c\x0F" "d\r\n") << "/2024.05.02/";
        QTest::newRow("a date the copy lacks stays") << ours << QByteArray("[tavlo]\r\n2024.05.01=a\r\n") << ours << "//";
        QTest::newRow("brought in before: nothing twice")
            << QByteArray("[tavlo]\r\n2024.05.02=b\x0F--\x0F" "c\r\n") << QByteArray("[tavlo]\r\n2024.05.02=c\r\n2024.05.01=\r\n")
            << QByteArray("[tavlo]\r\n2024.05.02=b\x0F--\x0F" "c\r\n") << "//";
        QTest::newRow("joined, past 4096 bytes: left as it is")
            << "[tavlo]\r\n2024.05.01=" + QByteArray(4000, 'a') + "\r\n" << "[tavlo]\r\n2024.05.01=" + QByteArray(100, 'b') + "\r\n"
            << "[tavlo]\r\n2024.05.01=" + QByteArray(4000, 'a') + "\r\n" << "//2024.05.01";
        QTest::newRow("no agenda yet") << QByteArray() << QByteArray("[tavlo]\r\n2024.05.01=a\r\n")
                                       << QByteArray("[tavlo]\r\n2024.05.01=a\r\n") << "2024.05.01//";
        QTest::newRow("another section is no date") << ours << QByteArray("[other]\r\n2024.05.03=x\r\n") << ours << "//";
    }

    // Nothing is lost: the agenda's memos stay, the copy's join them; a
    // copy merged twice changes nothing the second time.
    void merge()
    {
        QFETCH(QByteArray, agenda);
        QFETCH(QByteArray, copy);
        QFETCH(QByteArray, merged);
        QFETCH(QString, report);
        const MergeOutcome once = MergeConflictCopy(agenda, copy, "tavlo", kMarker);
        QCOMPARE(once.merged, merged);
        QCOMPARE(once.added.join(u',') + u'/' + once.joined.join(u',') + u'/' + once.tooLong.join(u','), report);
        const MergeOutcome twice = MergeConflictCopy(once.merged, copy, "tavlo", kMarker);
        QVERIFY(!twice.changed());
        QCOMPARE(twice.merged, merged);
    }

    // Brought in through the store, the copy is set aside under a name no
    // synchroniser's pattern matches; what only looks like a copy (a folder,
    // a link, another user's file) is never offered nor touched.
    void bringIn()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tavlo.txt"));
        writeBytes(path, "[tavlo]\r\n2024.05.01=a\r\n");
        const QString copy = dir.filePath(QStringLiteral("tavlo (conflicted copy 2026-12-09 101010).txt"));
        const QString older = dir.filePath(QStringLiteral("tavlo.sync-conflict-20251209-101010-ABCDEFG.txt"));
        writeBytes(copy, "[tavlo]\r\n2024.05.02=b\r\n");
        writeBytes(older, "[tavlo]\r\n2024.05.01=c\r\n");
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("tavlo (Taro's conflicted copy 2026-12-01).txt")));
        QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), dir.filePath(QStringLiteral("tavlo (Ken's conflicted copy 2026-12-02).txt"))));
        const QString others = dir.filePath(QStringLiteral("tavlo (Aki's conflicted copy 2026-12-03).txt"));
        if (::geteuid() == 0) // a file of another user's
            QVERIFY(writeBytes(others, "[tavlo]\r\n2024.05.09=theirs\r\n") && ::chown(QFile::encodeName(others).constData(), 4271, 4271) == 0);
        const QStringList before = folderEntries(dir.path());
        const AgendaFile store = agendaAt(path);
        std::vector<AgendaFile::ConflictCopy> copies = store.ConflictCopies();
        QCOMPARE(int(copies.size()), 2);
        QCOMPARE(copies[0].path, QFile::encodeName(older)); // oldest first
        for (int i = 0; i < 2; ++i) {
            const AgendaFile::MergeResult r = store.MergeCopy(copies[size_t(i)], QStringLiteral("--"));
            QVERIFY(r.store.ok());
            QCOMPARE(r.keptAs, MergedCopyPathFor(copies[size_t(i)].path));
        }
        QCOMPARE(readBytes(path), QByteArray("[tavlo]\r\n2024.05.01=a\x0F--\x0F" "c\r\n2024.05.02=b\r\n"));
        QCOMPARE(readBytes(QFile::decodeName(MergedCopyPathFor(QFile::encodeName(copy)))), QByteArray("[tavlo]\r\n2024.05.02=b\r\n"));
        QVERIFY(store.ConflictCopies().empty());
        QCOMPARE(folderEntries(dir.path()).size(), before.size());
        for (const QString &name : before.filter(QStringLiteral("'s conflicted")))
            QVERIFY2(QFileInfo(dir.filePath(name)).isSymLink() || QFileInfo::exists(dir.filePath(name)), qPrintable(name));
        QVERIFY(::geteuid() != 0 || readBytes(others) == "[tavlo]\r\n2024.05.09=theirs\r\n");
    }
};

QTEST_GUILESS_MAIN(tst_Conflicts)
#include "tst_conflicts.moc"
