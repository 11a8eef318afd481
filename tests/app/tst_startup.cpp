// What one copy of the program passes to the running one: the activation
// token, and the request that carries it. The single running copy itself is
// tried with real processes in the whole-program suite.
#include "app/singleinstance.h"
#include "ui/windowactivation.h"

#include <QtTest>

using namespace tavlo;

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
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

    // The compositor's own tokens are tried by the whole-program suite under sway.
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
};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
