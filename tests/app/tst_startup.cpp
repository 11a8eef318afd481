// Where the agenda file is: beside the program, or per user where the
// program's folder is not the user's. The request one copy of the program
// sends the running one, with the
// activation token that lets Wayland bring its window forward, and how the
// running one reads it without ever waiting on its window's thread. The single
// running copy itself, and the tokens, are tried with real processes in the
// whole-program suite (on X11, and on Wayland under sway).
#include "app/module1.h"
#include "app/singleinstance.h"
#include "testsupport.h"

#include <QtTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace tavlo;
using namespace tavlo::test;

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void agendaLocation_data()
    {
        QTest::addColumn<QByteArray>("exe");
        QTest::addColumn<QByteArray>("dataFile");
        QTest::addColumn<QByteArray>("section");
        QTest::newRow("classic") << QByteArray("/opt/t/tavlo_classic") << QByteArray("/opt/t/tavlo_classic.txt")
                                 << QByteArray("tavlo_classic");
        QTest::newRow("dots: complete base name") << QByteArray("/opt/t/my.tavlo.bin") << QByteArray("/opt/t/my.tavlo.txt")
                                                  << QByteArray("my.tavlo");
        // Folders unpacked from archives made on Windows keep their bytes.
        QTest::newRow("folder in code page 932") << QByteArray("/home/u/\x93\xfa\x96\x7b/tavlo")
                                                 << QByteArray("/home/u/\x93\xfa\x96\x7b/tavlo.txt") << QByteArray("tavlo");
        QTest::newRow("UTF-8 name: section in code page 932")
            << QByteArray("/a/\xe6\x97\xa5\xe8\xa8\x98") << QByteArray("/a/\xe6\x97\xa5\xe8\xa8\x98.txt")
            << QByteArray("\x93\xfa\x8b\x4c");
        QTest::newRow("name in code page 932: kept as it is") << QByteArray("/a/\x93\xfa\x8b\x4c")
                                                              << QByteArray("/a/\x93\xfa\x8b\x4c.txt")
                                                              << QByteArray("\x93\xfa\x8b\x4c");
    }

    void agendaLocation()
    {
        QFETCH(QByteArray, exe);
        QFETCH(QByteArray, dataFile);
        QFETCH(QByteArray, section);
        const AgendaLocation loc = AgendaLocationFor(exe);
        QCOMPARE(loc.dataFile, dataFile);
        QCOMPARE(loc.sectionBytes, section);
    }

    void placeForUser_data()
    {
        QTest::addColumn<QByteArray>("beside");
        QTest::addColumn<bool>("mayWrite");
        QTest::addColumn<QByteArray>("dataFile");
        QTest::addColumn<QByteArray>("seed");
        QTest::newRow("a folder of the user's: beside, as ever")
            << QByteArray("/home/u/apps/tavlo.txt") << true << QByteArray("/home/u/apps/tavlo.txt") << QByteArray();
        QTest::newRow("a system folder: mirrored under the user's data")
            << QByteArray("/usr/bin/tavlo.txt") << false << QByteArray("/home/u/.data/tavlo/usr/bin/tavlo.txt")
            << QByteArray("/usr/bin/tavlo.txt");
        QTest::newRow("a folder named in code page 932 keeps its bytes")
            << QByteArray("/opt/\x93\xfa\x8b\x4c/tavlo_classic.txt") << false
            << QByteArray("/home/u/.data/tavlo/opt/\x93\xfa\x8b\x4c/tavlo_classic.txt")
            << QByteArray("/opt/\x93\xfa\x8b\x4c/tavlo_classic.txt");
        QTest::newRow("the root folder's double slash") << QByteArray("//tavlo.txt") << false
                                                        << QByteArray("/home/u/.data/tavlo/tavlo.txt") << QByteArray("//tavlo.txt");
    }

    void placeForUser()
    {
        QFETCH(QByteArray, beside);
        QFETCH(bool, mayWrite);
        QFETCH(QByteArray, dataFile);
        QFETCH(QByteArray, seed);
        const AgendaLocation place =
            PlaceForUser(AgendaLocation{beside, QByteArray("tavlo"), QByteArray()}, mayWrite, "/home/u/.data");
        QCOMPARE(place.dataFile, dataFile);
        QCOMPARE(place.seedFile, seed);
        QCOMPARE(place.sectionBytes, QByteArray("tavlo"));
    }

    void mayWriteBeside_data()
    {
        QTest::addColumn<QString>("folder"); // "temporary", "unwritable", or a path
        QTest::addColumn<bool>("may");
        QTest::newRow("a temporary folder") << "temporary" << true;
        QTest::newRow("a folder the user may not write") << "unwritable" << false;
        // Nothing under these changes at run time, even where root could write.
        for (const char *system : {"/usr/bin", "/usr/local/bin", "/opt/tavlo", "/bin"})
            QTest::newRow(system) << system << false;
    }

    void mayWriteBeside()
    {
        QFETCH(QString, folder);
        QFETCH(bool, may);
        QTemporaryDir dir;
        std::unique_ptr<UnwritableFolder> locked;
        if (folder == QLatin1String("unwritable")) {
            locked = std::make_unique<UnwritableFolder>(dir.path(), QStringLiteral("tavlo.txt"), "x");
            QVERIFY(locked->ok());
        }
        const QString path = folder.startsWith(QLatin1Char('/')) ? folder : dir.path();
        QCOMPARE(MayWriteBeside(QFile::encodeName(path + QStringLiteral("/tavlo.txt"))), may);
    }

    void restoreRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("restores");
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("no token") << QByteArray("restore\n") << true << QByteArray();
        QTest::newRow("a token") << QByteArray("restore sway-3f_a.9=\n") << true << QByteArray("sway-3f_a.9=");
        QTest::newRow("token with a space") << QByteArray("restore ab cd\n") << true << QByteArray();
        QTest::newRow("token of 257 bytes") << "restore " + QByteArray(257, 'a') + '\n' << true << QByteArray();
        QTest::newRow("token of 256 bytes") << "restore " + QByteArray(256, 'a') + '\n' << true << QByteArray(256, 'a');
        QTest::newRow("another word") << QByteArray("restorex\n") << false << QByteArray();
        QTest::newRow("cut short") << QByteArray("restore tok") << false << QByteArray();
    }

    // What the running copy makes of a request.
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

    // A peer that sends one byte at a time, slowly, while a second start
    // asks for the window: the running copy's event loop never stalls, and
    // the second start is answered.
    void slowPeersDoNotStallTheWindow()
    {
        QTemporaryDir runtime;
        QVERIFY(::chmod(QFile::encodeName(runtime.path()).constData(), 0700) == 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        SingleInstance running(QStringLiteral("slow peers"));
        QVERIFY(running.acquire());
        running.startAnswering();
        QSignalSpy restored(&running, &SingleInstance::restoreRequested);

        const QByteArray socket = QFile::encodeName(running.socketPath());
        std::thread slow([socket] {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, socket.constData(), size_t(socket.size()));
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
                for (int i = 0; i < 8; ++i) {
                    (void)!::send(fd, "r", 1, MSG_NOSIGNAL);
                    ::usleep(150 * 1000);
                }
            ::close(fd);
        });
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 longestGap = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = qMax(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        tick.start(10);
        bool answered = false;
        std::thread second;
        QTimer::singleShot(300, [&] {
            second = std::thread([&answered] {
                SingleInstance copy(QStringLiteral("slow peers"));
                answered = !copy.acquire() && copy.askRunningCopyToRestore(QByteArray(), 1000);
            });
        });
        QTest::qWait(1300);
        slow.join();
        second.join();
        qunsetenv("XDG_RUNTIME_DIR");
        QVERIFY2(longestGap < 150, QByteArray::number(longestGap) + " ms without events");
        QVERIFY(answered);
        QCOMPARE(restored.count(), 1); // the second start's; the slow peer's bytes are none
    }
};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
