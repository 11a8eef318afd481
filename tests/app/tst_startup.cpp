// Where the agenda file is: beside the program, or per user where the
// program's folder is not the user's.
#include "app/module1.h"
#include "testsupport.h"

#include <QTest>

#include <cstring>
#include <sys/stat.h>
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
        QTest::addColumn<bool>("mayWrite"); // beside the program
        QTest::addColumn<QByteArray>("dataFile");
        QTest::addColumn<QByteArray>("section");
        const QByteArray home("/home/u/.data/tavlo"); // the user's data, per user
        QTest::newRow("classic") << QByteArray("/opt/t/tavlo_classic") << true << QByteArray("/opt/t/tavlo_classic.txt")
                                 << QByteArray("tavlo_classic");
        QTest::newRow("dots: complete base name") << QByteArray("/h/t/my.tavlo.bin") << true << QByteArray("/h/t/my.tavlo.txt")
                                                  << QByteArray("my.tavlo");
        // Folders unpacked from archives made on Windows keep their bytes.
        QTest::newRow("folder in code page 932, per user") << QByteArray("/opt/\x93\xfa\x96\x7b/tavlo") << false
                                                           << home + "/opt/\x93\xfa\x96\x7b/tavlo.txt" << QByteArray("tavlo");
        QTest::newRow("UTF-8 name: section in code page 932")
            << QByteArray("/a/\xe6\x97\xa5\xe8\xa8\x98") << true << QByteArray("/a/\xe6\x97\xa5\xe8\xa8\x98.txt")
            << QByteArray("\x93\xfa\x8b\x4c");
        QTest::newRow("name in code page 932: kept as it is") << QByteArray("/a/\x93\xfa\x8b\x4c") << true
                                                              << QByteArray("/a/\x93\xfa\x8b\x4c.txt")
                                                              << QByteArray("\x93\xfa\x8b\x4c");
        QTest::newRow("a system folder, per user") << QByteArray("/usr/bin/tavlo") << false
                                                   << home + "/usr/bin/tavlo.txt" << QByteArray("tavlo");
        QTest::newRow("the root folder's double slash, per user") << QByteArray("/tavlo") << false
                                                                  << home + "/tavlo.txt" << QByteArray("tavlo");
    }

    // Where the agenda is: beside the program, or per user, mirroring the
    // program's folder and read from the file beside it until the first write.
    void agendaLocation()
    {
        QFETCH(QByteArray, exe);
        QFETCH(bool, mayWrite);
        QFETCH(QByteArray, dataFile);
        QFETCH(QByteArray, section);
        const AgendaLocation beside = AgendaLocationFor(exe);
        const AgendaLocation loc = PlaceForUser(beside, mayWrite, "/home/u/.data");
        QCOMPARE(loc.dataFile, dataFile);
        QCOMPARE(loc.sectionBytes, section);
        QCOMPARE(loc.seedFile, mayWrite ? QByteArray() : beside.dataFile);
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

};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
