// The single running copy, with real processes: a second start ends at once
// without touching the agenda file, simultaneous starts leave exactly one
// copy, and a killed copy does not block the next start.
#include "app/singleinstance.h"
#include "testsupport.h"
#include "ui/main/form1.h"
#include "ui/windowactivation.h"

#include <QFileInfo>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>

using namespace tavlo;
using namespace tavlo::test;

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_runtime = m_dir->filePath(QStringLiteral("runtime"));
        QDir().mkpath(m_runtime);
        ::chmod(QFile::encodeName(m_runtime).constData(), 0700);
        m_tmp = m_dir->filePath(QStringLiteral("tmp"));
        QDir().mkpath(m_tmp);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
    }

    void cleanup()
    {
        for (QProcess *p : m_processes) {
            p->kill();
            p->waitForFinished(5000);
            delete p;
        }
        m_processes.clear();
        m_dir.reset();
    }

    void secondStartEnds_data()
    {
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("name");
        QTest::newRow("renamed copy") << QStringLiteral(TAVLO_PROGRAM) << QStringLiteral("diary.bin");
        if (!QString::fromUtf8(TAVLO_OTHER_PROGRAM).isEmpty())
            QTest::newRow("the other build") << QStringLiteral(TAVLO_OTHER_PROGRAM) << QStringLiteral("other");
    }

    void secondStartEnds()
    {
        QFETCH(QString, second);
        QFETCH(QString, name);
        QProcess *first = start(install(QStringLiteral(TAVLO_PROGRAM), QStringLiteral("first")));
        QVERIFY(waitUntilListening());

        const QString exe = install(second, name);
        const QString agenda = QFileInfo(exe).absolutePath() + QLatin1Char('/') + QFileInfo(exe).completeBaseName() + QStringLiteral(".txt");
        const QByteArray before = readBytes(agenda);
        const QDateTime stamp = QFileInfo(agenda).lastModified();
        QTest::qSleep(20);

        QElapsedTimer t;
        t.start();
        QProcess *again = start(exe);
        QVERIFY(again->waitForFinished(5000));
        const qint64 took = t.elapsed();
        qInfo("second start ended after %lld ms", took);
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QCOMPARE(again->exitStatus(), QProcess::NormalExit);
        QCOMPARE(again->exitCode(), 0);
        QCOMPARE(readBytes(agenda), before);
        QCOMPARE(QFileInfo(agenda).lastModified(), stamp);
        QCOMPARE(first->state(), QProcess::Running);
    }

    // Of four simultaneous starts one runs; killed, it does not block the
    // next start, which is then the running copy.
    void simultaneousStartsAndAKill()
    {
        const QString exe = install(QStringLiteral(TAVLO_PROGRAM), QStringLiteral("tavlo"));
        QList<QProcess *> copies;
        for (int i = 0; i < 4; ++i)
            copies.append(start(exe));
        QVERIFY(waitUntilListening());
        QTest::qWait(1500);
        QProcess *running = nullptr;
        for (QProcess *p : copies) {
            QVERIFY(p->state() != QProcess::Running || !running);
            if (p->state() == QProcess::Running)
                running = p;
            else
                QVERIFY(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0);
        }
        QVERIFY(running);
        ::kill(pid_t(running->processId()), SIGKILL);
        QVERIFY(running->waitForFinished(5000));
        QVERIFY(QFileInfo::exists(SingleInstance(QString::fromUtf8(kMainWindowTitle)).socketPath())); // left behind
        QProcess *next = start(exe);
        QVERIFY(!next->waitForFinished(1500));
        QProcess *third = start(exe);
        QVERIFY(third->waitForFinished(3000));
        QCOMPARE(third->exitCode(), 0);
    }

    void privateFolder_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("needsRoot"); // another real user's doing
        QTest::newRow("runtime folder too long for a socket") << "long" << false;
        QTest::newRow("runtime folder open to others") << "open" << false;
        QTest::newRow("no runtime folder") << "none" << false;
        QTest::newRow("private folder made first by another user") << "taken" << true;
        QTest::newRow("private folder planted as a link") << "link" << true;
    }

    void privateFolder()
    {
        QFETCH(QString, situation);
        QFETCH(bool, needsRoot);
        if (needsRoot && ::geteuid() != 0)
            QSKIP("needs root to act as another user");
        // Where the temporary folder is taken, the program falls back to one
        // folder every test run on this machine shares: runs take turns there.
        const int turn = ::open("/tmp/.tavlo-tests-fallback.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(turn >= 0 && ::flock(turn, LOCK_EX) == 0);
        const auto release = qScopeGuard([this, turn] {
            cleanup(); // the programs go before the next run's turn
            ::close(turn);
        });
        const QByteArray planted = QFile::encodeName(m_tmp) + "/tavlo-" + QByteArray::number(::getuid());
        const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
        if (situation == QLatin1String("long")) {
            m_runtime = m_dir->filePath(QString(100, QLatin1Char('r')));
            QDir().mkpath(m_runtime);
            ::chmod(QFile::encodeName(m_runtime).constData(), 0700);
        } else if (situation == QLatin1String("open")) {
            ::chmod(QFile::encodeName(m_runtime).constData(), 0755);
        } else {
            m_runtime.clear();
        }
        if (situation == QLatin1String("taken")) {
            QVERIFY(::mkdir(planted.constData(), 0777) == 0 && ::chmod(planted.constData(), 0777) == 0);
            QVERIFY(::chown(planted.constData(), 65534, 65534) == 0); // nobody
        } else if (situation == QLatin1String("link")) {
            QDir().mkpath(elsewhere);
            QVERIFY(::chown(QFile::encodeName(elsewhere).constData(), 65534, 65534) == 0);
            QVERIFY(QFile::link(elsewhere, QFile::decodeName(planted)));
        }
        const QString exe = install(QStringLiteral(TAVLO_PROGRAM), QStringLiteral("tavlo"));
        QProcess *first = start(exe);
        QVERIFY(!first->waitForFinished(1500)); // it runs: a planted folder does not stop it
        QProcess *again = start(exe);
        QVERIFY(again->waitForFinished(10000)); // its own wait for an answer is 3 s
        QCOMPARE(again->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);
        // Without a usable runtime folder the socket goes to a private one in
        // the temporary folder; one planted there is left alone.
        const bool planting = situation == QLatin1String("taken") || situation == QLatin1String("link");
        QCOMPARE(folderEntries(QFile::decodeName(planted)).isEmpty(), planting);
        if (situation == QLatin1String("link"))
            QVERIFY(folderEntries(elsewhere).isEmpty());
    }

    void launcherTokens_data()
    {
        QTest::addColumn<QByteArray>("given");   // XDG_ACTIVATION_TOKEN
        QTest::addColumn<QByteArray>("display"); // WAYLAND_DISPLAY
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("the launcher's token, no Wayland") << QByteArray("sway-1_a.9=") << QByteArray() << QByteArray("sway-1_a.9=");
        QTest::newRow("the launcher's token before asking") << QByteArray("t") << QByteArray("no-such-socket") << QByteArray("t");
        QTest::newRow("a launcher's token with a space") << QByteArray("a b") << QByteArray() << QByteArray();
        QTest::newRow("no token, no Wayland") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("no compositor to ask") << QByteArray() << QByteArray("no-such-socket") << QByteArray();
    }

    // What a second start passes on; the compositor's own tokens are tried
    // by the whole-program suite under sway.
    void launcherTokens()
    {
        QFETCH(QByteArray, given);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, token);
        qputenv("XDG_ACTIVATION_TOKEN", given);
        qputenv("WAYLAND_DISPLAY", display);
        const QByteArray got = ActivationTokenForAnotherCopy("org.example.tavlo", 100);
        qunsetenv("XDG_ACTIVATION_TOKEN");
        qunsetenv("WAYLAND_DISPLAY");
        QCOMPARE(got, token);
    }

    void restoreRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("restores");
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("no token") << QByteArray("restore\n") << true << QByteArray();
        QTest::newRow("a token") << QByteArray("restore sway-3f_a.9=\n") << true << QByteArray("sway-3f_a.9=");
        QTest::newRow("token with a space") << QByteArray("restore ab cd\n") << true << QByteArray();
        QTest::newRow("token with a control byte") << QByteArray("restore ab\x01\n") << true << QByteArray();
        QTest::newRow("token of 257 bytes") << "restore " + QByteArray(257, 'a') + '\n' << true << QByteArray();
        QTest::newRow("token of 256 bytes") << "restore " + QByteArray(256, 'a') + '\n' << true << QByteArray(256, 'a');
        QTest::newRow("another word") << QByteArray("restorex\n") << false << QByteArray();
        QTest::newRow("cut short") << QByteArray("restore tok") << false << QByteArray();
    }

    // What the running copy makes of a request; the socket that carries it
    // is tried by every second start above.
    void restoreRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, restores);
        QFETCH(QByteArray, token);
        QByteArray got("<unset>");
        QCOMPARE(SingleInstance::ParseRestoreRequest(request, &got), restores);
        if (restores)
            QCOMPARE(got, token);
    }

private:
    // A copy of a program in its own folder, so agenda files never collide.
    QString install(const QString &program, const QString &name)
    {
        const QString folder = m_dir->filePath(name + QStringLiteral("-dir"));
        QDir().mkpath(folder);
        const QString exe = folder + QLatin1Char('/') + name;
        QFile::copy(program, exe);
        QFile(exe).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        writeBytes(folder + QLatin1Char('/') + QFileInfo(exe).completeBaseName() + QStringLiteral(".txt"),
                   "[" + QFileInfo(exe).completeBaseName().toUtf8() + "]\r\n2004.05.07=memo\r\n");
        return exe;
    }

    QProcess *start(const QString &exe)
    {
        auto *p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (m_runtime.isEmpty())
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        else
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
        env.insert(QStringLiteral("TMPDIR"), m_tmp);
        p->setProcessEnvironment(env);
        p->setProgram(exe);
        p->start();
        p->waitForStarted(5000);
        m_processes.append(p);
        return p;
    }

    bool waitUntilListening(int ms = 10000)
    {
        const QString socket = SingleInstance(QString::fromUtf8(kMainWindowTitle)).socketPath();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (QFileInfo::exists(socket))
                return true;
            QTest::qWait(10);
        }
        return false;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_runtime;
    QString m_tmp;
    QList<QProcess *> m_processes;
};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
