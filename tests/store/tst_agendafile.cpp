// The agenda file: reads of any length and across read pieces, refused
// values and writes, a link whose target is gone; the conflict copies a
// synchroniser leaves beside it (which names are one, what bringing one in
// makes of the agenda, what is never touched). Failures at every system
// call, and what a save keeps, are the fault loop's (tests/faults); two real
// Syncthing instances are the whole-program suite's.
#include "store/agendafile.h"
#include "store/files/backup.h"
#include "store/files/filenames.h"
#include "store/loadedmemo.h"
#include "store/merge.h"
#include "store/codepage.h"
#include "store/memo.h"
#include "testsupport.h"

#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
const QByteArray kBefore("[tavlo]\r\n2004.01.01=old\r\n2004.01.02=keep\r\n");
const QByteArray kMarker("--");
} // namespace

class tst_AgendaFile : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // Values and names that would break the file's lines are refused, the
    // file left as it was; so is every write to a file that is the program
    // itself (a program named like its agenda).
    void refusedValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("refusal");
        QTest::newRow("lone CR") << QStringLiteral("2004.01.01") << QStringLiteral("a\rb") << int(StoreRefusal::LineBreak);
        QTest::newRow("NUL") << QStringLiteral("2004.01.01") << QStringLiteral("a") + QChar(0) << int(StoreRefusal::LineBreak);
        QTest::newRow("key with =") << QStringLiteral("a=b") << QStringLiteral("x") << int(StoreRefusal::InvalidKey);
        QTest::newRow("the program's own file") << QStringLiteral("2004.01.01") << QStringLiteral("x") << int(StoreRefusal::IsProgram);
    }

    void refusedValues()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(int, refusal);
        const QByteArray before("[tavlo]\r\n2004.01.01=old\r\n");
        writeBytes(path(), before);
        // The program's own path as the system gives it need not be spelled as the agenda's.
        const QByteArray program = refusal == int(StoreRefusal::IsProgram) ? QFile::encodeName(m_dir->path()) + "/./tavlo.txt" : QByteArray();
        const AgendaFile s(QFile::encodeName(path()), "tavlo", program);
        QCOMPARE(int(s.WriteMemo(key, value).refusal), refusal);
        if (refusal != int(StoreRefusal::LineBreak))
            QCOMPARE(int(s.DeleteDate(key).refusal), refusal);
        QCOMPARE(readBytes(path()), before);
    }

    void ownCopyOfAPlacedFile_data()
    {
        QTest::addColumn<QByteArray>("dataHome"); // what stands where the user's data folder is
        QTest::newRow("a folder of the user's") << QByteArray("folder");
        QTest::newRow("a file") << QByteArray("file");
        QTest::newRow("a loop of links") << QByteArray("loop");
    }

    // A user's own copy of a file placed beside an installed program: the
    // placed file is read until a backup (or a write) copies it into the
    // user's folders, made for the user alone; it is never written. Where
    // those folders cannot be, the placed file is still read, and a write
    // says why it cannot be kept.
    void ownCopyOfAPlacedFile()
    {
        QFETCH(QByteArray, dataHome);
        const QByteArray placed("[tavlo]\r\n2004.05.07=placed\r\n"), top = QFile::encodeName(m_dir->path());
        QVERIFY(writeBytes(path(), placed));
        const QByteArray home = top + "/home";
        QVERIFY(dataHome != "file" || writeBytes(QFile::decodeName(home), "x"));
        QVERIFY(dataHome != "loop" || ::symlink("home", home.constData()) == 0);
        const AgendaFile s(home + "/tavlo/tavlo.txt", "tavlo", QByteArray(), QFile::encodeName(path()));
        FileResult read;
        QCOMPARE(s.ReadMemo(QStringLiteral("2004.05.07"), nullptr, &read), std::optional<QString>(QStringLiteral("placed")));
        QVERIFY(read.ok());
        const FileResult backup = s.Backup(home + "/tavlo/backup.txt");
        const StoreResult written = s.WriteMemo(QStringLiteral("2004.05.07"), "!");
        QCOMPARE(readBytes(path()), placed);
        if (dataHome != "folder") {
            QCOMPARE(int(backup.error), int(FileError::FolderUnusable));
            QCOMPARE(int(written.file.error), int(FileError::FolderUnusable));
            return;
        }
        QVERIFY(backup.ok() && written.ok());
        QCOMPARE(readBytes(QFile::decodeName(home + "/tavlo/backup.txt")), placed);
        QCOMPARE(readBytes(QFile::decodeName(home + "/tavlo/tavlo.txt")), QByteArray("[tavlo]\r\n2004.05.07=!\r\n"));
        struct stat st;
        QVERIFY(::stat(home + "/tavlo", &st) == 0 && (st.st_mode & 0777) == 0700);
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("length"); // characters returned; -1: none at all; -2: only whole characters
        QTest::newRow("16383 ascii bytes whole") << QByteArray(16383, 'a') << 16383;
        QTest::newRow("longer ascii cut to 16383") << QByteArray(20000, 'a') << 16383;
        // 16382 single bytes and a double-byte character across the cut: the
        // half character is left out.
        QTest::newRow("no half character at the cut") << QByteArray(16382, 'a') + "\x95\x5C" + "bbb" << 16382;
        QTest::newRow("double-byte characters only") << QByteArray("\x88\x9F").repeated(10000) << -2;
        QTest::newRow("cut at the first NUL") << QByteArray("ab\0cd", 5) << 2;
        QTest::newRow("empty value") << QByteArray() << -1;
    }

    void read()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, length);
        writeBytes(path(), "[tavlo]\r\nk=" + value + "\r\n");
        const std::optional<QString> got = store().ReadMemo(QStringLiteral("k"));
        QCOMPARE(got.has_value(), length != -1);
        if (length >= 0)
            QCOMPARE(int(got->size()), length);
        if (got)
            QVERIFY(!got->contains(QChar(0xFFFD)) && ToCp932(*got).bytes.size() <= AgendaFile::kReadCapacity);
    }

    void entriesAcrossReadPieces_data()
    {
        // The file is read 64 KiB first, then in pieces that double up to 1 MiB:
        // the reads end at these offsets.
        QTest::addColumn<qint64>("lineStart");
        for (const qint64 end : {qint64(64) << 10, qint64(192) << 10, qint64(960) << 10}) {
            const QByteArray kib = QByteArray::number(end >> 10) + " KiB";
            QTest::newRow(kib + ": key cut") << end - 5;
            QTest::newRow(kib + ": = at the last byte") << end - 11;
            QTest::newRow(kib + ": line starts the next piece") << end;
            QTest::newRow(kib + ": CR LF cut") << end + 1;
        }
    }

    // A date whose line a read of the file cuts anywhere is read, listed,
    // rewritten and deleted like any other.
    void entriesAcrossReadPieces()
    {
        QFETCH(qint64, lineStart);
        const QByteArray header("[tavlo]\r\n");
        QByteArray before = header;
        for (int n = 0; before.size() + 600 < lineStart; ++n)
            before += "F" + QByteArray::number(n).rightJustified(6, '0') + "=" + QByteArray(200 + n % 50, 'x') + "\r\n";
        before += "P=" + QByteArray(int(lineStart - before.size() - 4), 'p') + "\r\n";
        QCOMPARE(before.size(), lineStart);
        const QByteArray line = QByteArray("2004.05.07=") + ToCp932(QStringLiteral("表示\\ソフト")).bytes + "\x0F" "2\r\n";
        const QByteArray after("G1=after\r\n[other]\r\n2004.05.07=other section\r\n");
        writeBytes(path(), before + line + after);

        const QString key = QStringLiteral("2004.05.07");
        QCOMPARE(store().ReadMemo(key).value_or(QStringLiteral("<none>")), QStringLiteral("表示\\ソフト") + QChar(0x0F) + "2");
        const QStringList keys = store().ListDateKeys();
        QCOMPARE(keys.count(key), 2);
        QCOMPARE(keys.at(keys.indexOf(key) - 1), QStringLiteral("P"));
        QVERIFY(store().WriteMemo(key, QStringLiteral("new")).ok());
        QCOMPARE(readBytes(path()), before + "2004.05.07=new\r\n" + after);
        QVERIFY(store().DeleteDate(key).ok());
        QCOMPARE(readBytes(path()), before + after);
    }

    void refusedWrites_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<int>("error");
        QTest::newRow("read-only file") << "read-only" << int(FileError::ReadOnlyFile);
        QTest::newRow("unwritable folder") << "locked" << int(FileError::FolderNotWritable);
        QTest::newRow("missing folder") << "gone" << int(FileError::FolderMissing);
        QTest::newRow("link into a missing folder, left alone") << "link" << int(FileError::FolderMissing);
        QTest::newRow("folder in place of the file") << "folder" << int(FileError::NotAFile);
        // Opened without waiting for a writer: never hangs.
        QTest::newRow("FIFO in place of the file") << "fifo" << int(FileError::NotAFile);
    }

    // Writes, deletions and backup copies that cannot be done say why, and
    // leave the folder as it was: no temporary file, no changed byte.
    void refusedWrites()
    {
        QFETCH(QString, place);
        QFETCH(int, error);
        const QByteArray before("[tavlo]\r\n2004.01.01=a\r\n");
        QString file = path();
        std::unique_ptr<UnwritableFolder> locked;
        if (place == QLatin1String("read-only")) {
            writeBytes(file, before);
            QVERIFY(::chmod(QFile::encodeName(file).constData(), 0444) == 0);
        } else if (place == QLatin1String("locked")) {
            QVERIFY(QDir().mkdir(m_dir->filePath(place)));
            locked = std::make_unique<UnwritableFolder>(m_dir->filePath(place), QStringLiteral("tavlo.txt"), before);
            QVERIFY(locked->ok());
            file = m_dir->filePath(QStringLiteral("locked/tavlo.txt"));
        } else if (place == QLatin1String("gone")) {
            file = m_dir->filePath(QStringLiteral("gone/tavlo.txt"));
        } else if (place == QLatin1String("link")) {
            QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("data/agenda.txt")), file));
        } else if (place == QLatin1String("fifo")) {
            QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0644) == 0);
        } else {
            QVERIFY(QDir().mkdir(file));
        }
        // A missing folder must not be made: its parent is watched.
        const QString folder = place == QLatin1String("gone") ? m_dir->path() : QFileInfo(file).path();
        const QStringList entries = folderEntries(folder);
        const QByteArray stored = place == QLatin1String("fifo") ? QByteArray() : readBytes(file);
        const AgendaFile s = agendaAt(file);
        if (error == int(FileError::FolderNotWritable) && ::geteuid() == 0)
            error = int(FileError::ReadOnlyFileSystem); // root is kept out by a read-only mount
        QCOMPARE(int(s.WriteMemo(QStringLiteral("2004.01.01"), QStringLiteral("b")).file.error), error);
        if (place != QLatin1String("gone") && place != QLatin1String("link")) // nothing to delete there
            QCOMPARE(int(s.DeleteDate(QStringLiteral("2004.01.01")).file.error), error);
        const QByteArray native = QFile::encodeName(file);
        if (place != QLatin1String("read-only")) // a read-only file can be copied
            QVERIFY(!MakeBackupCopy(native, BackupPathFor(native, QDateTime(QDate(2004, 1, 1), QTime(0, 0)))).ok());
        QCOMPARE(place == QLatin1String("fifo") ? QByteArray() : readBytes(file), stored);
        QVERIFY(s.ListDateKeys().isEmpty() == (place != QLatin1String("locked") && place != QLatin1String("read-only")));
        QCOMPARE(folderEntries(folder), entries);
        if (locked)
            QCOMPARE(s.ReadMemo(QStringLiteral("2004.01.01")).value_or(QString()), QStringLiteral("a"));
    }

    // When a save must ask first: only when the stored memo is no longer
    // what the window read, and the file can be read to tell.
    void changedElsewhere_data()
    {
        QTest::addColumn<QByteArray>("now"); // the file when the save comes
        QTest::addColumn<QString>("key");    // the date being saved
        QTest::addColumn<bool>("changed");
        QTest::newRow("untouched") << kBefore << "2004.01.01" << false;
        QTest::newRow("rewritten alike") << QByteArray(kBefore).replace("keep", "kept") << "2004.01.01" << false;
        QTest::newRow("its memo changed") << QByteArray(kBefore).replace("old", "odd") << "2004.01.01" << true;
        QTest::newRow("its memo removed") << QByteArray("[tavlo]\r\n2004.01.02=keep\r\n") << "2004.01.01" << true;
        QTest::newRow("another date, there") << kBefore << "2004.01.02" << true;
        QTest::newRow("another date, not there") << kBefore << "2004.01.03" << false;
        QTest::newRow("a folder in its place: no answer") << QByteArray("-") << "2004.01.01" << false;
        QTest::newRow("folder gone") << QByteArray() << "2004.01.01" << false;
    }

    void changedElsewhere()
    {
        QFETCH(QByteArray, now);
        QFETCH(QString, key);
        QFETCH(bool, changed);
        QVERIFY(writeBytes(path(), kBefore));
        LoadedMemo loaded;
        QCOMPARE(loaded.Load(store(), QStringLiteral("2004.01.01")), std::optional<QString>(QStringLiteral("old")));
        const timespec later[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 60, 0}}; // as a later write has
        if (now.isEmpty())
            QVERIFY(m_dir->remove());
        else if (now == "-")
            QVERIFY(QFile::remove(path()) && QDir(m_dir->path()).mkdir(QStringLiteral("tavlo.txt")));
        else
            QVERIFY(writeBytes(path(), now) && ::utimensat(AT_FDCWD, QFile::encodeName(path()).constData(), later, 0) == 0);
        FileResult unread;
        QCOMPARE(loaded.ChangedElsewhere(store(), key, &unread), changed);
        QCOMPARE(unread.ok(), now != "-");
    }

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

private:
    QString path() const { return m_dir->filePath(QStringLiteral("tavlo.txt")); }
    AgendaFile store() const { return agendaAt(path()); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(tst_AgendaFile)
#include "tst_agendafile.moc"
