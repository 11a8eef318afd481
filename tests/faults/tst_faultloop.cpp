// The fault loop: each file operation once per system call it makes (counted
// by the preloaded failing_io.c), with a kill, a disk's failure or another
// program's change at that call, as the file's owner and as a group member;
// then the invariants in docs/testing.md. The test command tries every 13th
// call; TAVLO_FAULT_STRIDE=1 all of them, TAVLO_FAULT_TRACE=1 lists them.
#include "store/agendafile.h"
#include "store/files/filenames.h"
#include "store/files/recovery.h"
#include "store/memo.h"
#include "app/module1.h"
#include "ui/dialogs/form2.h"
#include "ui/classic/editortext.h"
#include "ui/uitestsupport.h"

#include <QLineEdit>
#include <QRegularExpression>

#include <tuple>

#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tavlo;
using namespace tavlo::test;

// Fails the case with what went wrong, and ends it.
#define CHECK(ok, what)       \
    do {                      \
        if (!check(ok, what)) \
            return r;         \
    } while (false)

namespace {

enum { FaultCount, FaultFail, FaultKill, FaultHook };

// The shim's controls, when it is preloaded.
struct Shim {
    void (*arm)(long, int, int, void (*)()) = nullptr;
    long (*disarm)() = nullptr;
    void (*always)(const char *, int) = nullptr;
    const char *(*name)(long) = nullptr;
} shim;

template <class F> bool Find(F &f, const char *symbol)
{
    return (f = reinterpret_cast<F>(dlsym(RTLD_DEFAULT, symbol))) != nullptr;
}

// Users by number, with no entry in the machine's user list.
struct User {
    uid_t uid;
    std::vector<gid_t> groups; // the first is the primary group
};
const gid_t kShared = 4240;
const User kOwner{4241, {kShared}};
const User kMember{4242, {kShared}};
const User kOutsider{4243, {4243}};

const QByteArray kOld("[tavlo]\r\n2004.01.01=old\r\n2004.01.02=keep\r\n");
const QByteArray kTheirs("[tavlo]\r\n2004.03.03=theirs\r\n");
const QByteArray kAppended("2004.02.02=appended\r\n");
const QByteArray kMissing("<missing>");
const QByteArray kTorn("[tavlo]\r\n2004.01.01=ne");
const QByteArray kAddedLine = "2004.07.07=" + QByteArray::fromHex(
    "816995b68e9a97f182f08ded8f9c82b782e982c6814192c789c182b582bd93fa957482aa8ded8f9c82b382ea82dc82b7816a") + "\r\n";
const QByteArray kBackupName("tavlo_20040606_120000.txt");
// A synchroniser's conflict copy, and what bringing it in joins between memos.
const QByteArray kCopyName("tavlo.sync-conflict-20040606-120000-ABCDEFG.txt");
const QByteArray kCopy("[tavlo]\r\n2004.01.01=mine\r\n2004.09.09=added\r\n");
const QByteArray kJoin = "\x0F" + QByteArray::fromHex(
    "817982b182b182a982e7814193af8afa82c5904882a288e182c182bd83528373815b8169323030342d30362d30362031323a30303a3030816a82cc83818382817a") + "\x0F";
const char kRunning[] = ".tavlo.txt.tavlo-temp-Running0"; // a running save's temporary
// Named like temporaries, but not this user's to remove: a running save's,
// another user's, a second name of a file, a folder.
const QStringList kStaying{QString::fromLatin1(kRunning), QStringLiteral(".tavlo.txt.tavlo-temp-Others00"),
                           QStringLiteral(".tavlo.txt.tavlo-temp-Second00"), QStringLiteral(".tavlo.txt.tavlo-temp-Folder00")};

// Files a person or another tool put beside the agenda file; the program
// must leave every one of them as it was.
const char *const kDecoys[] = {".tavlo.txt.backup", ".tavlo.txt.202401", ".tavlo.txt.Ab3dE9",
                               ".tavlo_20040101_120000.txt.before", "tavlo_20040101_000000.txt",
                               "tavlo.txt.tavlo-temp"};

bool becomes(const User &user)
{
    return ::setgroups(user.groups.size(), user.groups.data()) == 0
        && ::setresgid(user.groups[0], user.groups[0], user.groups[0]) == 0
        && ::setresuid(user.uid, user.uid, user.uid) == 0;
}

// Whether `user` may open the file for reading, tried for real.
bool canRead(const User &user, const QByteArray &path)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(becomes(user) && ::open(path.constData(), O_RDONLY | O_NONBLOCK) >= 0 ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

QByteArray bytesOf(const QByteArray &path)
{
    return readBytes(QFile::decodeName(path));
}

// A file's bytes, inode, mode and owner: what another's file must keep.
using FileState = std::tuple<QByteArray, ino_t, mode_t, uid_t>;

FileState stateOf(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return FileState{kMissing, 0, 0, 0};
    return FileState{bytesOf(path), st.st_ino, st.st_mode, st.st_uid};
}

// What the row's other program does, at one call of the operation.
QByteArray gForeignAction;
QByteArray gForeignPath;

// Someone the folder's defaults name, looking at every file beside the
// agenda whenever the operation asks (a process of its own, as that user,
// from before the operation starts): no copy of the file may be readable.
struct Peeker {
    int ask = -1, done = -1; // the operation's ends of the two pipes
    int found = -1;          // what it could open, told when asked no more
    pid_t pid = -1;

    void start(const QByteArray &dir)
    {
        int a[2], d[2], f[2];
        if (::pipe(a) != 0 || ::pipe(d) != 0 || ::pipe(f) != 0)
            return;
        if ((pid = ::fork()) == 0) {
            ::close(a[1]), ::close(d[0]), ::close(f[0]);
            QByteArray opened;
            char c;
            while (becomes(kOutsider) && ::read(a[0], &c, 1) == 1) {
                for (const QString &name : folderEntries(QFile::decodeName(dir))) {
                    const QByteArray entry = QFile::encodeName(name);
                    const int fd = ::open((dir + '/' + entry).constData(), O_RDONLY | O_NONBLOCK);
                    if (fd >= 0 && !QByteArrayList(std::begin(kDecoys), std::end(kDecoys)).contains(entry))
                        opened += entry + ' ';
                    if (fd >= 0)
                        ::close(fd);
                }
                (void)!::write(d[1], "!", 1);
            }
            (void)!::write(f[1], opened.constData(), size_t(opened.size()));
            ::_exit(0);
        }
        ::close(a[0]), ::close(d[1]), ::close(f[1]);
        ask = a[1], done = d[0], found = f[0];
    }
    QByteArray finish()
    {
        ::close(ask), ::close(done);
        QFile in;
        in.open(found, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        const QByteArray opened = in.readAll();
        ::waitpid(pid, nullptr, 0);
        *this = Peeker{};
        return opened;
    }
} gPeek;

// Runs the other program: a process of its own, which may have to wait for
// a write lease the save holds (the operation then goes on without it). It
// holds the report pipe open, so the test waits for it to end.
void RunForeignAction()
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const QByteArray &path = gForeignPath;
        const QByteArray theirs = path + ".theirs";
        if (gForeignAction == "rename over" && writeBytes(QFile::decodeName(theirs), kTheirs))
            ::rename(theirs.constData(), path.constData());
        if (gForeignAction == "append") {
            const int fd = ::open(path.constData(), O_WRONLY | O_APPEND);
            (void)!::write(fd, kAppended.constData(), size_t(kAppended.size()));
        }
        if (gForeignAction == "truncate")
            (void)!::truncate(path.constData(), 0);
        if (gForeignAction == "remove")
            ::unlink(path.constData());
        char done;
        if (gForeignAction == "peek") // and wait until the peeker has looked
            (void)!(::write(gPeek.ask, "?", 1) == 1 && ::read(gPeek.done, &done, 1) == 1);
        ::_exit(0);
    }
    for (int waited = 0; waited < 250 && ::waitpid(pid, nullptr, WNOHANG) != pid; waited += 5) // margin for a loaded machine
        ::usleep(5000);
}

// What the foreign action makes of a content.
QByteArray foreign(const QByteArray &action, const QByteArray &content)
{
    if (action == "rename over")
        return kTheirs;
    if (action == "append")
        return content == kMissing ? content : content + kAppended;
    if (action == "truncate")
        return content == kMissing ? content : QByteArray("");
    if (action == "remove")
        return kMissing;
    return content;
}

// What the operation makes of a content, as the agenda's rules say for
// these contents: an entry replaced where it is, a new one after the last.
QByteArray edited(const QByteArray &op, const QByteArray &content)
{
    const bool nothing = content == kMissing || content.isEmpty();
    if (op.startsWith("save")) {
        if (nothing)
            return "[tavlo]\r\n2004.01.01=new\r\n";
        if (content.contains("2004.01.01=old\r\n"))
            return QByteArray(content).replace("2004.01.01=old\r\n", "2004.01.01=new\r\n");
        return content + "2004.01.01=new\r\n";
    }
    if (op.startsWith("delete"))
        return QByteArray(content).replace("2004.01.01=old\r\n", "");
    if (op == "add date")
        return nothing ? "[tavlo]\r\n" + kAddedLine : content + kAddedLine;
    if (op.startsWith("merge")) // the copy's memo joined after ours, its other date added
        return content.contains("2004.01.01=old\r\n")
            ? QByteArray(content).replace("2004.01.01=old\r\n", "2004.01.01=old" + kJoin + "mine\r\n") + "2004.09.09=added\r\n"
            : (nothing ? QByteArray("[tavlo]\r\n") : content) + "2004.01.01=mine\r\n2004.09.09=added\r\n";
    return content;
}

// What a child process tells of one run of the operation.
struct Report {
    bool killed = false;
    qint64 calls = 0;
    QStringList shown; // message boxes, "title|style|text"
    QString editor;
    QStringList listed;
    bool updateEnabled = false;
    QStringList calledNames; // in order, when only counted

    bool failed() const { return !shown.filter(QRegularExpression(QStringLiteral("^異常検出\\|"))).isEmpty(); }
    // The copies the messages name (each on a line of its own): a backup
    // said to be made, and the old content's journal.
    QList<QByteArray> toldPaths() const
    {
        QList<QByteArray> paths;
        for (const QString &box : shown)
            for (const QString &line : box.section(QLatin1Char('|'), 2).split(QStringLiteral("\r\n")))
                if (line.startsWith(QLatin1Char('/')) && !line.endsWith(QLatin1String(".merged.txt"))
                    && (line.endsWith(QLatin1String(".saving")) || box.startsWith(QStringLiteral("処理完了|"))))
                    paths << QFile::encodeName(line);
        return paths;
    }
};

// The mounts this test makes are its own: made in a mount namespace of its
// process (while it still has one thread), they go with it however it ends.
const bool kPrivateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
    && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

// A real exFAT file system (a USB stick's), through FUSE on a loop device.
// Needs root and Debian's exfat-fuse and exfatprogs; ok() says whether the
// machine could provide it. The FUSE process ends with this test's, and the
// loop device, detached once in use, is freed with it.
class ExfatMount
{
public:
    ExfatMount()
    {
        const QString image = m_dir.filePath(QStringLiteral("stick.img"));
        QProcess loop;
        loop.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("truncate -s 16M \"$1\" && mkfs.exfat \"$1\" >/dev/null"
                                                                                " && losetup -f --show \"$1\""), QStringLiteral("sh"), image});
        loop.waitForFinished();
        const QString device = QString::fromLatin1(loop.readAllStandardOutput()).trimmed();
        if (!kPrivateMounts || device.isEmpty() || !QDir(m_dir.path()).mkdir(QStringLiteral("stick")))
            return;
        m_fuse.setStandardOutputFile(QProcess::nullDevice());
        m_fuse.setStandardErrorFile(QProcess::nullDevice());
        m_fuse.start(QStringLiteral("setpriv"), {QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QStringLiteral("mount.exfat-fuse"),
                                                 QStringLiteral("-d"), device, path()});
        struct statfs fs;
        m_ok = QTest::qWaitFor([this, &fs] {
            return ::statfs(QFile::encodeName(path()).constData(), &fs) == 0 && fs.f_type == 0x65735546; // FUSE
        }, 5000);
        QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), device});
    }
    ~ExfatMount()
    {
        ::umount2(QFile::encodeName(path()).constData(), MNT_DETACH);
        m_fuse.kill();
        m_fuse.waitForFinished();
    }
    bool ok() const { return m_ok; }
    QString path() const { return m_dir.filePath(QStringLiteral("stick")); }

private:
    QTemporaryDir m_dir;
    QProcess m_fuse;
    bool m_ok = false;
};

// One case's folder and what is in it.
struct Scene {
    QByteArray dir;
    QByteArray agenda; // the path the program is given
    QByteArray real;   // the file it names
    QByteArray second; // another name of that file, when it has one
    std::map<QByteArray, FileState> decoys;
    QFile busyTemporary; // a running save's temporary, held locked
    struct stat was {};  // the file as it was made
    QStringList listed;  // the folder as it was made
};

} // namespace

class tst_FaultLoop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!Find(shim.arm, "tavlo_faults_arm") || !Find(shim.disarm, "tavlo_faults_disarm")
            || !Find(shim.always, "tavlo_faults_always") || !Find(shim.name, "tavlo_faults_name"))
            QSKIP("needs the failing_io shim preloaded (the test command does that)");
        m_root = ::geteuid() == 0;
        // The whole loop takes minutes; the test command tries a sample.
        bool set = false;
        m_stride = qMax(1, qEnvironmentVariableIntValue("TAVLO_FAULT_STRIDE", &set));
        if (!set)
            m_stride = 13;
    }

    void cleanupTestCase()
    {
        qInfo("%ld cases in %d rows, %ld of them killed and started again; %ld cases in the known windows",
              m_cases, m_rows, m_restarts, m_windows);
    }

    void loop_data()
    {
        QTest::addColumn<QByteArray>("op");
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QByteArray>("who");
        const QList<QByteArray> faults{"kill", "EIO", "ENOSPC", "EACCES", "rename over", "append", "truncate", "remove"};
        // On a failing disk, every change of a file's length fails: the old
        // content cannot be put back either, and the journal is named.
        // A stick is FAT or exFAT: no unnamed files, no hard links, no
        // exchange of two names; taken away from the disk by the shim, or a
        // real exFAT image through FUSE where the machine can mount one.
        // Beside others' defaults: the folder's default access list lets a
        // user read new files who may not read the agenda.
        const QList<QByteArray> ops{"save", "save in place", "save in place without kernel copies",
                                    "save through a link", "delete", "delete in place on a failing disk",
                                    "add date", "backup", "start up", "switch date",
                                    "recover a torn save", "recover an untouched save",
                                    "save on a stick", "backup on a stick", "save on an exFAT stick",
                                    "backup on an exFAT stick", "backup beside others' defaults",
                                    "save in place beside others' defaults", "merge a conflict copy"};
        for (const QByteArray &op : ops) {
            for (const QByteArray &who : {QByteArray("owner"), QByteArray("member")}) {
                // On a stick, files have no owners: the one who mounted it;
                // only the owner's folder lets the others' defaults in.
                if ((op.contains("stick") || op.endsWith("defaults")) && who == "member")
                    continue;
                for (const QByteArray &fault : faults + QList<QByteArray>{"peek"}) {
                    // Recovery runs before anyone else may act on the file;
                    // the copies beside others' defaults are looked at.
                    const bool defaults = op.endsWith("defaults");
                    if ((op.startsWith("recover") && faults.indexOf(fault) > 3)
                        || (defaults ? fault != "kill" && fault != "EIO" && fault != "peek" : fault == "peek"))
                        continue;
                    QTest::newRow(op + ", " + fault + ", " + who) << op << fault << who;
                }
            }
        }
    }

    void loop()
    {
        QFETCH(QByteArray, op);
        QFETCH(QByteArray, fault);
        QFETCH(QByteArray, who);
        if (who == "member" && !m_root)
            QSKIP("needs root to act as two other users");
        std::unique_ptr<ExfatMount> exfat;
        if (op.contains("exFAT") && !(exfat = std::make_unique<ExfatMount>())->ok())
            QSKIP("needs root, a free loop device, FUSE, exfat-fuse and exfatprogs");
        QTemporaryDir base;
        const QByteArray folder = QFile::encodeName(exfat ? exfat->path() : base.path());
        ::chmod(folder.constData(), 0755);
        ++m_rows;
        m_readers.clear();
        // Once undisturbed, to learn the calls the operation makes; a fault
        // at one of them changes only what follows it.
        const Report plain = runCase(op, "count", who, folder + "/plain", 0, {});
        QVERIFY(!QTest::currentTestFailed() && plain.calls > 0);
        // Undisturbed, it works: a loop over an operation that always fails
        // would hold every invariant.
        QVERIFY2(op.startsWith("recover a torn") == plain.failed() || op.endsWith("failing disk"),
                 qPrintable(plain.shown.join(QLatin1String(" / "))));
        if (qEnvironmentVariableIsSet("TAVLO_FAULT_TRACE"))
            qInfo("%s", qPrintable(plain.calledNames.join(QLatin1Char(' '))));
        const long start = 1 + long(qHash(QByteArray(QTest::currentDataTag())) % uint(m_stride));
        for (qint64 n = start; n <= plain.calls; n += m_stride) {
            const QByteArray dir = folder + "/case" + QByteArray::number(n);
            runCase(op, fault, who, dir, n, plain.calledNames.value(int(n) - 1), plain.calledNames);
            if (QTest::currentTestFailed())
                return;
            ++m_cases;
        }
    }

private:
    // Builds a case's folder, as the owner would have it: the owner's own
    // folder, or one the group shares (new files take its group).
    void setUp(Scene &s, const QByteArray &op, const QByteArray &who)
    {
        const bool shared = who == "member";
        const bool recover = op.startsWith("recover");
        const bool exfat = op.contains("exFAT");
        // A folder (no bytes) or a file, given its owner where files have
        // owners.
        const auto make = [&](const QByteArray &path, const QByteArray *bytes, mode_t mode, uid_t uid) {
            QVERIFY(bytes ? writeBytes(QFile::decodeName(path), *bytes) : ::mkdir(path.constData(), 0755) == 0);
            QVERIFY(!m_root || exfat || (::chown(path.constData(), uid, kShared) == 0 && ::chmod(path.constData(), mode) == 0));
        };
        make(s.dir, nullptr, shared ? 02770 : 0755, shared ? 0 : kOwner.uid);
        s.agenda = s.real = s.dir + "/tavlo.txt";
        if (op == "save through a link") {
            make(s.dir + "/data", nullptr, shared ? 02770 : 0755, shared ? 0 : kOwner.uid);
            s.real = s.dir + "/data/agenda.txt";
            QVERIFY(::symlink("data/agenda.txt", s.agenda.constData()) == 0);
        }
        const mode_t mode = shared ? 0660 : 0640;
        make(s.real, op.startsWith("recover a torn") ? &kTorn : &kOld, mode, kOwner.uid);
        if (recover) {
            const QByteArray half("half");
            make(JournalPathFor(s.real), &kOld, mode, kOwner.uid);
            // What a killed save left (the killed user's), and a running save's file.
            const uid_t killed = shared ? kMember.uid : kOwner.uid;
            make(s.dir + "/.tavlo.txt.tavlo-temp-Killed00", &half, mode, killed);
            make(s.dir + "/.tavlo.txt.saving.tavlo-temp-Killed01", &half, mode, killed);
            make(s.dir + '/' + kRunning, &half, mode, kOwner.uid);
            if (m_root)
                make(s.dir + "/.tavlo.txt.tavlo-temp-Others00", &half, mode, kOutsider.uid);
            QVERIFY(::link(s.real.constData(), (s.dir + "/.tavlo.txt.tavlo-temp-Second00").constData()) == 0);
            QVERIFY(::mkdir((s.dir + "/.tavlo.txt.tavlo-temp-Folder00").constData(), 0755) == 0);
            s.busyTemporary.setFileName(QFile::decodeName(s.dir + '/' + kRunning));
            QVERIFY(s.busyTemporary.open(QIODevice::ReadOnly) && ::flock(s.busyTemporary.handle(), LOCK_EX) == 0);
        }
        if (op.startsWith("merge"))
            make(s.dir + '/' + kCopyName, &kCopy, mode, shared ? kMember.uid : kOwner.uid);
        if (op.contains("in place") || op == "save through a link") {
            s.second = FolderOf(s.real) + "/second.txt";
            QVERIFY(::link(s.real.constData(), s.second.constData()) == 0);
        }
        // What a save must keep: an attribute, and an access list entry for
        // someone the checks below do not try; or, beside others' defaults,
        // no list on the file and a default one on the folder that lets in
        // someone the file does not.
        const auto acl = [](const char *how, const char *entry, const QByteArray &path) {
            return QProcess::execute(QStringLiteral("setfacl"), {QLatin1String(how), QLatin1String(entry), QFile::decodeName(path)});
        };
        if (!exfat)
            QVERIFY(::setxattr(s.real.constData(), "user.tavlo", "kept", 4, 0) == 0);
        if (op.endsWith("defaults"))
            QCOMPARE(acl("-dm", "u:4243:r", s.dir), 0);
        else if (!exfat)
            QCOMPARE(acl("-m", "u:4244:r", s.real), 0);
        QVERIFY(::stat(s.real.constData(), &s.was) == 0);
        for (const char *name : kDecoys) {
            const QByteArray bytes(name);
            make(s.dir + '/' + name, &bytes, 0644, kOwner.uid);
            s.decoys[name] = stateOf(s.dir + '/' + name);
        }
        s.listed = folderEntries(QFile::decodeName(s.dir));
    }

    // Runs the operation in a child process as `user`, with `action` at
    // call `n`.
    Report runChild(const QByteArray &op, const Scene &s, const User *user, qint64 n, int action, int err)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return Report{};
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            if (user && !becomes(*user))
                ::_exit(3);
            ::_exit(childOperation(op, s, n, action, err, fds[1]));
        }
        ::close(fds[1]);
        QFile pipe; // until the child, and any other program it started, is done
        pipe.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        const QByteArray out = pipe.readAll();
        int status = 0;
        ::waitpid(pid, &status, 0);
        Report report;
        report.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        if (!report.killed && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
            report.calls = -1;
        QDataStream in(out);
        in >> report.calls >> report.shown >> report.editor >> report.listed >> report.updateEnabled >> report.calledNames;
        return report;
    }

    // The child's side: the main window over the case's file, the user's
    // edit, and the operation with the shim armed.
    static int childOperation(const QByteArray &op, const Scene &s, qint64 n, int action, int err, int out)
    {
        MsgBoxRecorder boxes(vbYes);
        Clock::setFixed(QDateTime(QDate(2004, 6, 6), QTime(12, 0)));
        const AgendaFile store(s.agenda, QByteArray("tavlo"));
        Form1 form(store);
        const bool reading = op == "start up" || op == "switch date";
        if (op != "start up")
            form.AddDateKeys(store.ListDateKeys());
        const QString typed = op.startsWith("delete") ? QString() : QStringLiteral("new");
        if (op.startsWith("save") || op.startsWith("delete")) {
            form.SelectItem(form.List1->keys().indexOf(QStringLiteral("2004.01.01")));
            SetEditorText(form.Text1, typed);
        } else if (op == "switch date") {
            form.SelectItem(0);
        } else if (!op.startsWith("recover") && !reading) {
            SetEditorText(form.Text1, typed); // unsaved, and kept
        }
        // The dialog's own work is no file operation: the count starts with
        // its answer. A start with no dates opens it: it is closed.
        std::unique_ptr<AnswerModal> answer;
        if (op.startsWith("add") || op == "start up")
            answer = std::make_unique<AnswerModal>([=](QWidget *w) {
                if (auto *d = qobject_cast<Form2 *>(w)) {
                    if (op == "start up")
                        return d->close();
                    d->Text1[0]->setText(QStringLiteral("2004"));
                    d->Text1[1]->setText(op == "add date" ? QStringLiteral("7") : QStringLiteral("8"));
                    d->Text1[2]->setText(op == "add date" ? QStringLiteral("7") : QStringLiteral("8"));
                    shim.arm(n, action, err, RunForeignAction);
                    d->Command1->click();
                }
                return true;
            });
        gForeignPath = s.agenda;
        if (op.endsWith("without kernel copies"))
            shim.always("copy_file_range", EXDEV); // the copies then go through a buffer
        if (op.endsWith("failing disk"))
            shim.always("ftruncate", EIO);
        if (op.endsWith("on a stick"))
            for (const auto &[call, lacking] : {std::pair<const char *, int>{"O_TMPFILE", EOPNOTSUPP}, {"link", EPERM},
                                                {"linkat", EPERM}, {"renameat2", EINVAL}})
                shim.always(call, lacking);
        if (!op.startsWith("add"))
            shim.arm(n, action, err, RunForeignAction);
        if (op == "start up") {
            AgendaAtStart found;
            found.dateKeys = store.ListDateKeys(&found.readFailure);
            ShowMainWindow(form, found);
        } else if (op == "switch date") {
            form.SelectItem(1);
        } else if (op.startsWith("save") || op.startsWith("delete")) {
            form.Command2_Click();
        } else if (answer) {
            form.Command1_Click();
        } else if (op.startsWith("backup")) {
            form.Command6_Click();
        } else if (op.startsWith("merge")) {
            form.OfferConflictCopies();
        } else {
            const QByteArray journal = RecoverAfterInterruptedSaves(s.agenda).journal;
            if (!journal.isEmpty())
                form.ReportInterruptedSave(journal);
        }
        const long calls = shim.disarm();
        QStringList names;
        for (long i = 1; action == FaultCount && i <= calls; ++i)
            names << QString::fromLatin1(shim.name(i));
        QByteArray report;
        QDataStream stream(&report, QIODevice::WriteOnly);
        stream << qint64(calls) << boxes.shown << EditorText(form.Text1) << form.List1->keys() << form.Command2->isEnabled()
               << names;
        return ::write(out, report.constData(), size_t(report.size())) == report.size() ? 0 : 4;
    }

    Report runCase(const QByteArray &op, const QByteArray &fault, const QByteArray &who, const QByteArray &dir, qint64 n,
                   const QString &callName, const QStringList &plainNames = {})
    {
        Scene s;
        s.dir = dir;
        setUp(s, op, who);
        if (QTest::currentTestFailed())
            return Report{};
        // On exFAT, files have no owners: it runs as the one who mounted it.
        const bool owners = m_root && !op.contains("exFAT");
        const User *user = !owners ? nullptr : who == "member" ? &kMember : &kOwner;
        const User *other = who == "member" ? &kOwner : &kMember; // who saves next
        const QByteArray atStart = bytesOf(s.real);
        // Who may read the file at the start: the same for every case of a
        // row.
        if (owners && m_readers.isEmpty())
            for (const User *u : {&kOwner, &kMember, &kOutsider})
                m_readers << (canRead(*u, s.real) ? u : nullptr);
        const QList<const User *> &readers = m_readers;
        static const QMap<QByteArray, QPair<int, int>> kActions{
            {"count", {FaultCount, 0}}, {"kill", {FaultKill, 0}}, {"EIO", {FaultFail, EIO}},
            {"ENOSPC", {FaultFail, ENOSPC}}, {"EACCES", {FaultFail, EACCES}}};
        const auto [action, err] = kActions.value(fault, {FaultHook, 0}); // else another program acts
        gForeignAction = fault;
        if (fault == "peek")
            gPeek.start(s.dir);
        const Report r = runChild(op, s, user, n, action, err);
        const QByteArray peeked = fault == "peek" ? gPeek.finish() : QByteArray();
        const QByteArray where = QByteArray(QTest::currentDataTag()) + ", call " + QByteArray::number(n) + " ("
            + callName.toLatin1() + ")";
        if (r.calls < 0) {
            QTest::qFail(("the operation's process failed: " + where).constData(), __FILE__, __LINE__);
            return r;
        }

        // Which contents the file may hold now, and which the user may be
        // told are the content before the operation.
        const QByteArray before = foreign(fault, atStart); // the other program acted first
        const QByteArray after = foreign(fault, edited(op, atStart));
        const QByteArray now = bytesOf(s.agenda);
        QList<QByteArray> told = r.toldPaths();
        Report restart;
        if (r.killed) {
            ++m_restarts;
            restart = runChild("recover", s, user, 0, FaultCount, 0);
            told += restart.toldPaths();
        }
        // Beside the file the path names; another program may have put a
        // file of its own in the place of a link.
        struct stat link;
        const QByteArray journal =
            JournalPathFor(::lstat(s.agenda.constData(), &link) == 0 && S_ISLNK(link.st_mode) ? s.real : s.agenda);
        const bool journalTold = told.contains(journal);
        auto check = [&](bool ok, const QByteArray &what) {
            if (!ok)
                QTest::qFail((what + ": " + where + "\n  file: " + now + "\n  told: "
                              + r.shown.join(QLatin1String(" / ")).toUtf8()
                              + (r.killed ? "\n  after the restart: " + restart.shown.join(QLatin1String(" / ")).toUtf8()
                                          : QByteArray()))
                                 .constData(),
                             __FILE__, __LINE__);
            return ok;
        };

        // Where the system gives no way to exclude another program's change
        // at one moment of a save, the change made at that moment may be
        // lost: counted, and left out of what is asserted.
        const bool window = inWindow(op, fault, who, callName, n, plainNames)
            && (now == edited(op, atStart) || now == edited(op, kTheirs) || now == edited(op, kMissing));
        if (window)
            ++m_windows;
        // A copy this user may not read is no copy to bring in: left alone.
        const bool unreadableCopy = op.startsWith("merge") && fault == "EACCES"
            && plainNames.indexOf(QStringLiteral("access")) == n - 1 && now == before;
        const QList<QByteArray> whole{atStart, before, edited(op, atStart), edited(op, before), after};
        CHECK(whole.contains(now) || journalTold || window, "the file is neither the old nor the new content");
        if (!r.killed && !r.failed())
            CHECK(now == edited(op, before) || now == after || window || unreadableCopy, "success was reported without the edit");
        // A copy brought in but not set aside says so: its memos are in.
        // A read that fails after a merge is said, the merge too.
        const bool inNotAside = r.shown.join(QString()).contains(QStringLiteral("取り込みましたが"))
            || !r.shown.filter(QRegularExpression(QStringLiteral("^処理完了\\|0\\|\\d+ 件の日付"))).isEmpty();
        if (!r.killed && r.failed())
            CHECK(now == atStart || now == before || journalTold || (inNotAside && (now == edited(op, before) || now == after)),
                  "a failed operation changed the file");
        if (op.startsWith("merge")) {
            const QByteArray copy = bytesOf(s.dir + '/' + kCopyName), aside = bytesOf(MergedCopyPathFor(s.dir + '/' + kCopyName));
            CHECK((copy == kCopy) != (aside == kCopy) && (copy == kMissing || aside == kMissing), "the conflict copy was lost");
        }
        if (!s.second.isEmpty())
            CHECK(whole.contains(bytesOf(s.second)) || journalTold, "another name of the file is torn");

        // A read shows what the file holds, or says that it could not read it.
        if ((op == "start up" || op == "switch date") && !r.killed) {
            CHECK(now == atStart || now == before, "a read changed the file");
            // The dates and the memo are two reads: each of either content.
            bool listed = op == "switch date", memo = false;
            const QString key = op == "switch date" ? QStringLiteral("2004.01.02") : r.listed.value(0);
            for (const QByteArray &content : {atStart, before}) {
                const AgendaFile read = agendaHolding(content, s.dir + ".expected");
                QStringList keys = read.ListDateKeys();
                std::sort(keys.begin(), keys.end());
                listed = listed || keys == r.listed;
                memo = memo || (key.isEmpty() ? QString() : DecodeMemo(read.ReadMemo(key).value_or(QString()))) == r.editor;
            }
            const bool shown = listed && memo;
            CHECK(shown || r.failed(), "a read that failed showed something else: " + r.listed.join(QLatin1Char(' ')).toUtf8()
                                           + " / " + r.editor.toUtf8());
        }
        // Every failure says, in plain words, what and why: the system's
        // own words at most on a last line of their own.
        for (const QString &box : r.shown + restart.shown) {
            if (!box.startsWith(QStringLiteral("異常検出|")))
                continue;
            const QStringList lines = box.section(QLatin1Char('|'), 2).split(QStringLiteral("\r\n"));
            CHECK(lines.size() >= 3, "a failure without its reason: " + box.toUtf8());
            for (const QString &line : lines)
                CHECK(line.startsWith(QLatin1Char('/')) || (&line == &lines.last() && line.startsWith(QStringLiteral("（")))
                          || !line.contains(QRegularExpression(QStringLiteral("[A-Za-z]{3}"))),
                      "a failure in the system's words: " + box.toUtf8());
        }
        CHECK(peeked.isEmpty(), "someone the file shuts out could read " + peeked);

        // A save keeps what the file was: owner, group, mode, other names,
        // attributes and access list.
        struct stat st;
        if (!r.killed && !r.failed() && (fault == "count" || fault.startsWith('E')) && owners && !op.endsWith("defaults"))
            CHECK(::stat(s.real.constData(), &st) == 0 && st.st_uid == s.was.st_uid && st.st_gid == s.was.st_gid
                      && st.st_mode == s.was.st_mode && st.st_nlink == s.was.st_nlink
                      && ::getxattr(s.real.constData(), "user.tavlo", nullptr, 0) == 4
                      && ::getxattr(s.real.constData(), "system.posix_acl_access", nullptr, 0) > 0,
                  "the saved file lost its owner, mode, second name or attributes");

        // Every copy the user hears of: complete, and shared as the file is.
        const QByteArray backup = s.dir + '/' + kBackupName;
        for (const QByteArray &path : told + QList<QByteArray>{backup}) {
            const QByteArray copy = bytesOf(path);
            if (path == backup && copy == kMissing)
                continue;
            CHECK(copy == kOld || copy == before, "a copy is not whole: " + path);
            CHECK(path != backup || told.contains(path) || r.killed, "a backup nobody was told of");
            // A journal is for everyone who may read the file; a copy is
            // for no one else (nor for those the other program let in).
            for (const User *u : {&kOwner, &kMember, &kOutsider}) {
                if (!owners)
                    break;
                const bool may = canRead(*u, path);
                const QByteArray who = QByteArray::number(u->uid) + ": " + path;
                CHECK(may <= (readers.contains(u) || canRead(*u, s.real)), "a copy is readable by someone else, " + who);
                CHECK(path != journal || !readers.contains(u) || may, "a journal is not readable by a reader, " + who);
            }
        }

        // Nothing that is not the program's is touched; nothing it made is
        // left behind, but what the next start clears.
        for (const auto &[name, state] : s.decoys)
            CHECK(stateOf(s.dir + '/' + name) == state, "a file the program did not make was changed: " + name);
        bool leftovers = false; // for the next start, which is tried below
        const bool agendaThere = ::lstat(s.agenda.constData(), &link) == 0;
        const auto lasting = [&](const QStringList &names) { // all but what comes and goes
            QStringList out;
            for (const QString &name : names) {
                const QByteArray path = s.dir + '/' + QFile::encodeName(name);
                const bool temporary = TemporaryTargetOf(QFile::encodeName(name)) && !kStaying.contains(name);
                leftovers = leftovers || temporary;
                const bool copy = name == QLatin1String(kCopyName) || name == QLatin1String(MergedCopyPathFor(kCopyName));
                if (path != journal && path != backup && !temporary && !copy && (agendaThere || path != s.agenda))
                    out << name;
            }
            return out;
        };
        const QStringList present = lasting(folderEntries(QFile::decodeName(s.dir)));
        CHECK(present == lasting(s.listed), "the folder holds " + present.join(QLatin1Char(' ')).toUtf8());

        // The user's text survives every failure.
        if (!r.killed && r.failed() && !op.startsWith("recover") && op != "start up" && op != "switch date")
            CHECK(r.editor == (op.startsWith("delete") ? QString() : QStringLiteral("new")), "the editor lost the text");
        if (!r.killed && r.failed() && (op.startsWith("save") || op.startsWith("delete")))
            CHECK(r.updateEnabled, "a failed save shows the memo as saved");

        // The next start clears what is left and tells of a journal; while
        // one is there, no save goes ahead, whoever makes it.
        if (r.killed || r.failed() || leftovers || ::access(journal.constData(), F_OK) == 0) {
            const Report next = runChild("recover", s, user, 0, FaultCount, 0);
            for (const QString &name : folderEntries(QFile::decodeName(s.dir)))
                CHECK(!TemporaryTargetOf(QFile::encodeName(name)) || kStaying.contains(name),
                      "the next start left " + name.toUtf8());
            if (::access(journal.constData(), F_OK) == 0) {
                CHECK(next.toldPaths().contains(journal), "a journal the next start does not tell of");
                const QByteArray kept = bytesOf(s.real);
                const Report save = runChild("add another date", s, owners ? other : nullptr, 0, FaultCount, 0);
                CHECK(bytesOf(s.real) == kept && save.failed(),
                      "a save went ahead while a journal was left: " + save.shown.join(QLatin1String(" / ")).toUtf8());
            }
        }
        return r;
    }

    // An agenda holding `content`, at `scratch`.
    static AgendaFile agendaHolding(const QByteArray &content, const QByteArray &scratch)
    {
        QFile::remove(QFile::decodeName(scratch));
        if (content != kMissing)
            writeBytes(QFile::decodeName(scratch), content);
        return AgendaFile(scratch, "tavlo");
    }

    // Where nothing the system offers keeps another program's change (see
    // docs/testing.md): no exchange of names on a stick; no write lease for a
    // user who does not own the file.
    static bool inWindow(const QByteArray &op, const QByteArray &fault, const QByteArray &who,
                         const QString &callName, qint64 n, const QStringList &plainNames)
    {
        if (op.contains("stick"))
            return callName == QLatin1String("rename") && QList<QByteArray>{"rename over", "append", "truncate", "remove"}.contains(fault);
        if (who != "member" || (fault != "append" && fault != "truncate") || op.startsWith("backup"))
            return false;
        if (fault == "append") // past the new content it shows, but for a change of length
            return callName == QLatin1String("ftruncate");
        // A truncation, from the first change of the file (after the
        // journal took its name) until the file is read back.
        const int placed = int(plainNames.lastIndexOf(QStringLiteral("linkat")));
        const int lseek = int(plainNames.indexOf(QStringLiteral("lseek"), placed));
        const int cut = int(plainNames.indexOf(QStringLiteral("ftruncate"), placed));
        const int first = cut >= 0 && cut < lseek ? cut : lseek;
        const int last = int(plainNames.lastIndexOf(QStringLiteral("pread"), plainNames.lastIndexOf(QStringLiteral("unlink"))));
        return first >= 0 && n - 1 >= first && n - 1 <= last;
    }

    bool m_root = false;
    long m_stride = 1;
    long m_cases = 0;
    long m_restarts = 0;
    long m_windows = 0;
    QList<const User *> m_readers; // of the row's file
    int m_rows = 0;
};

QTEST_MAIN(tst_FaultLoop)
#include "tst_faultloop.moc"
