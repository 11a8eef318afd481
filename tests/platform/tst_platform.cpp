// The launcher's token a second start passes on, and where the lock and the
// socket live. The single running copy itself, its requests and the choice
// of display server are tried with real processes in the whole-program
// suites (X11, sway, GNOME Shell and KWin).
#include "platform/singleinstance.h"
#include "platform/windowactivation.h"
#include "testsupport.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace tavlo;
using namespace tavlo::test;

class tst_Platform : public QObject
{
    Q_OBJECT

private slots:
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

    // Where the lock and the socket go when the runtime folder will not do:
    // a private folder of the user's in the temporary folder; one planted
    // there by another user, or as a link, is left alone for /tmp's.
    void privateFolder_data()
    {
        QTest::addColumn<QByteArray>("situation");
        QTest::addColumn<QByteArray>("folder"); // "runtime", "tmp" or "/tmp"
        QTest::newRow("usable runtime folder") << QByteArray("fine") << QByteArray("runtime");
        QTest::newRow("too long for a socket") << QByteArray("long") << QByteArray("tmp");
        QTest::newRow("open to others") << QByteArray("open") << QByteArray("tmp");
        QTest::newRow("none") << QByteArray("none") << QByteArray("tmp");
        QTest::newRow("made first by another user") << QByteArray("planted") << QByteArray("/tmp");
        QTest::newRow("planted as a link") << QByteArray("link") << QByteArray("/tmp");
    }

    void privateFolder()
    {
        QFETCH(QByteArray, situation);
        QFETCH(QByteArray, folder);
        const bool planting = situation == "planted" || situation == "link";
        if (planting && ::getuid() != 0)
            QSKIP("needs root to act as another user");
        QTemporaryDir top;
        const QByteArray base = QFile::encodeName(top.path());
        const QByteArray tmp = base + "/tmp", runtime = base + (situation == "long" ? "/" + QByteArray(100, 'r') : "/run");
        const QByteArray planted = tmp + "/tavlo-" + QByteArray::number(::getuid()), elsewhere = base + "/elsewhere";
        QVERIFY(::mkdir(tmp.constData(), 0755) == 0 && ::mkdir(runtime.constData(), situation == "open" ? 0755 : 0700) == 0);
        if (situation == "planted")
            QVERIFY(::mkdir(planted.constData(), 0777) == 0 && ::chown(planted.constData(), 65534, 65534) == 0);
        if (situation == "link")
            QVERIFY(::mkdir(elsewhere.constData(), 0755) == 0 && ::chown(elsewhere.constData(), 65534, 65534) == 0
                    && ::symlink(elsewhere.constData(), planted.constData()) == 0);
        qputenv("TMPDIR", tmp);
        qputenv("XDG_RUNTIME_DIR", situation == "none" || planting ? QByteArray() : runtime);
        const QByteArray shared = "/tmp/tavlo-" + QByteArray::number(::getuid());
        const QByteArray expected = folder == "runtime" ? runtime : folder == "tmp" ? planted : shared;
        const bool sharedThere = QFileInfo::exists(QFile::decodeName(shared));
        QString lock;
        {
            const QString key = QStringLiteral("private folder %1").arg(::getpid()); // runs share /tmp
            SingleInstance first(key), second(key);
            lock = first.lockPath();
            QCOMPARE(QFile::encodeName(QFileInfo(lock).path()), expected);
            QVERIFY(first.acquire());
            QVERIFY(!second.acquire());
        }
        QFile::remove(lock);
        if (!sharedThere)
            ::rmdir(shared.constData()); // as the machine was
        qunsetenv("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
        if (planting)
            QVERIFY(folderEntries(QFile::decodeName(situation == "link" ? elsewhere : planted)).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
