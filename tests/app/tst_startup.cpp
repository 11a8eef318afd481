// The request one copy of the program sends the running one, with the
// activation token that lets Wayland bring its window forward. The single
// running copy itself, and the tokens, are tried with real processes in the
// whole-program suite (on X11, and on Wayland under sway).
#include "app/singleinstance.h"

#include <QtTest>

using namespace tavlo;

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
