// The single running copy where the desktop gives no runtime folder, and
// whatever another local user plants in /tmp; the launcher's token a second
// start passes on, and the request that carries it. The copies themselves,
// on X11, sway, GNOME Shell and KWin, are the whole-program suites'.
#include "platform/singleinstance.h"
#include "platform/windowactivation.h"
#include "testsupport.h"

#include <QScopeGuard>
#include <QTest>

#include <cstring>
#include <future>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tavlo;
using namespace tavlo::test;

namespace {
// Whose copies these are, and another local user; each build's own, so that
// both builds' tests may run at once.
const uid_t kUser = 4250 + QT_VERSION_MAJOR;
const uid_t kOther = 4260 + QT_VERSION_MAJOR;
const QByteArray kShared = "/tmp/tavlo-" + QByteArray::number(kUser);

// Runs `body` in a process of its own as `uid`; its exit status.
int runAs(uid_t uid, const std::function<int()> &body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(::setgroups(0, nullptr) == 0 && ::setresgid(uid, uid, uid) == 0 && ::setresuid(uid, uid, uid) == 0
                    ? body()
                    : 99);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}
// A socket bound at `path`, left there when its process ends; 0 when made.
int listenAt(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    return ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
}
} // namespace

class tst_SingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void lockFolder_data()
    {
        QTest::addColumn<QByteArray>("runtime"); // the runtime folder: "private", "open", "long" or none
        QTest::addColumn<QByteArray>("planted"); // what the other user made at /tmp/tavlo-<uid> first
        QTest::addColumn<QByteArray>("folder");  // where the lock goes: "runtime", "tmp" or "cache"
        QTest::newRow("the runtime folder") << QByteArray("private") << QByteArray() << QByteArray("runtime");
        QTest::newRow("none: /tmp") << QByteArray() << QByteArray() << QByteArray("tmp");
        QTest::newRow("open to others: /tmp") << QByteArray("open") << QByteArray() << QByteArray("tmp");
        QTest::newRow("too long for a socket: /tmp") << QByteArray("long") << QByteArray() << QByteArray("tmp");
        for (const char *planted : {"a folder", "a folder open to all", "a file", "a link to its folder", "a socket"})
            QTest::newRow(QByteArray("/tmp taken, ") + planted + ": the cache") << QByteArray() << QByteArray(planted)
                                                                          << QByteArray("cache");
    }

    // Where the lock and the socket go: of two copies started one after the
    // other, one runs and the other reaches it, whatever another user left
    // in /tmp, which stays as it was.
    void lockFolder()
    {
        QFETCH(QByteArray, runtime);
        QFETCH(QByteArray, planted);
        QFETCH(QByteArray, folder);
        if (::geteuid() != 0)
            QSKIP("needs root to act as two other users");
        QTemporaryDir top;
        const QByteArray base = QFile::encodeName(top.path());
        const QByteArray home = base + "/home", run = base + (runtime == "long" ? "/" + QByteArray(100, 'r') : "/run");
        QVERIFY(::chmod(base.constData(), 01777) == 0 && ::mkdir(home.constData(), 0700) == 0 && ::mkdir(run.constData(), runtime == "open" ? 0755 : 0700) == 0
                && ::chown(home.constData(), kUser, kUser) == 0 && ::chown(run.constData(), kUser, kUser) == 0);
        QVERIFY(!QFileInfo::exists(QFile::decodeName(kShared)));
        // Gone afterwards, however the row ends, as the machine was.
        const auto removeShared = qScopeGuard([] {
            QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), QFile::decodeName(kShared)});
            qunsetenv("XDG_RUNTIME_DIR");
        });
        const QByteArray elsewhere = base + "/elsewhere";
        QCOMPARE(runAs(kOther, [&] {
                     if (planted.startsWith("a folder") || planted == "a link to its folder")
                         ::mkdir((planted == "a link to its folder" ? elsewhere : kShared).constData(), 0700);
                     ::chmod(planted == "a folder open to all" ? kShared.constData() : elsewhere.constData(), 0777);
                     return planted == "a link to its folder" ? ::symlink(elsewhere.constData(), kShared.constData())
                         : planted == "a file" ? int(!writeBytes(QFile::decodeName(kShared), "x"))
                         : planted == "a socket" ? listenAt(kShared) : 0;
                 }), 0);
        const QStringList left = QFileInfo(QFile::decodeName(kShared)).isDir() ? folderEntries(QFile::decodeName(kShared)) : QStringList();
        qputenv("HOME", home);
        qunsetenv("XDG_CACHE_HOME");
        qputenv("XDG_RUNTIME_DIR", runtime.isEmpty() ? QByteArray() : run);
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        const QByteArray expected = folder == "runtime" ? run : folder == "tmp" ? kShared : home + "/.cache/tavlo/" + QByteArray(host);
        const int status = runAs(kUser, [&] {
            SingleInstance first(QStringLiteral("key")), second(QStringLiteral("key"));
            if (QFile::encodeName(QFileInfo(first.lockPath()).path()) != expected)
                return 1;
            if (!first.acquire() || second.acquire())
                return 2;
            first.startAnswering();
            bool restored = false;
            QObject::connect(&first, &SingleInstance::restoreRequested, [&restored] { restored = true; });
            std::future<bool> asked = std::async(std::launch::async, [&second] { return second.askRunningCopyToRestore("t1"); });
            while (asked.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
                QCoreApplication::processEvents();
            return asked.get() && restored ? 0 : 3;
        });
        QCOMPARE(status, 0);
        // What another user made is as that user left it.
        const QFileInfo shared(QFile::decodeName(kShared));
        QVERIFY(planted.isEmpty() || (shared.ownerId() == kOther && (!shared.isDir() || folderEntries(shared.filePath()) == left)));
    }

    // The token a second start passes on: its launcher's, in either variable.
    void launcherToken_data()
    {
        QTest::addColumn<QByteArray>("activation"); // XDG_ACTIVATION_TOKEN
        QTest::addColumn<QByteArray>("startup");    // DESKTOP_STARTUP_ID
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("none") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("activation token") << QByteArray("a1") << QByteArray() << QByteArray("a1");
        QTest::newRow("GNOME's startup id") << QByteArray() << QByteArray("gnome-shell/tavlo/1_TIME5") << QByteArray("gnome-shell/tavlo/1_TIME5");
        QTest::newRow("both: the activation token") << QByteArray("a1") << QByteArray("s1") << QByteArray("a1");
        QTest::newRow("unusable: none") << QByteArray("a 1") << QByteArray("s1") << QByteArray();
    }

    void launcherToken()
    {
        QFETCH(QByteArray, activation);
        QFETCH(QByteArray, startup);
        QFETCH(QByteArray, token);
        qunsetenv("WAYLAND_DISPLAY"); // no compositor to ask for one
        qputenv("XDG_ACTIVATION_TOKEN", activation);
        qputenv("DESKTOP_STARTUP_ID", startup);
        QCOMPARE(ActivationTokenForAnotherCopy("org.example.tavlo"), token);
        qunsetenv("XDG_ACTIVATION_TOKEN");
        qunsetenv("DESKTOP_STARTUP_ID");
    }

    // What the running copy takes from a second start's line.
    void restoreRequest_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("restores");
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("plain") << QByteArray("restore\n") << true << QByteArray();
        QTest::newRow("with a token") << QByteArray("restore gnome-shell/t/1_TIME5\n") << true << QByteArray("gnome-shell/t/1_TIME5");
        QTest::newRow("a token it could not be given") << QByteArray("restore a\x01z\n") << true << QByteArray();
        QTest::newRow("a token too long") << "restore " + QByteArray(300, 't') + "\n" << true << QByteArray();
        QTest::newRow("cut short") << QByteArray("restore t1") << false << QByteArray();
        QTest::newRow("another word") << QByteArray("restored\n") << false << QByteArray();
    }

    void restoreRequest()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, restores);
        QFETCH(QByteArray, token);
        QByteArray got("unset");
        QCOMPARE(SingleInstance::parseRestoreRequest(line, &got), restores);
        QCOMPARE(restores ? got : QByteArray(), token);
    }
};

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
