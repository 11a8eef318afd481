#pragma once
// Only one copy of the program runs for a user. The first copy holds an
// exclusive lock on a file and listens on a local socket; a later start finds
// the lock taken, asks the running copy over the socket to restore its window
// and ends. The kernel drops the lock when its holder ends, however it ends,
// so a crashed copy never blocks the next start, and taking the lock is one
// atomic step, so of two copies started at once exactly one runs.
#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace tavlo {

// How copies of the program know each other: the same for both programs, so
// that one of the two runs at a time for a user, whichever is started.
extern const char *const kRunningCopyKey;

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // `key` names the program as its copies know each other
    // (kRunningCopyKey); the user is added to it.
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and opens the socket. False when another copy has it.
    // Needs no application object, so a second copy can end before it
    // connects to the display.
    bool acquire();

    // Answers restore requests from the next pass of the event loop on;
    // needs the application object. Requests made before wait on the socket.
    void startAnswering();

    // Asks the running copy to restore its window, activating it with
    // `activationToken` where the desktop needs one; waits at most `timeoutMs`.
    bool askRunningCopyToRestore(const QByteArray &activationToken, int timeoutMs = 3000);

    // Whether `line` (up to its line end) asks for a restore, and the token
    // it carries, empty when it carries none that could be used.
    static bool parseRestoreRequest(const QByteArray &line, QByteArray *token);

    // In the runtime folder, else a private one (see privateFolder in
    // singleinstance.cpp); empty when there was no safe place for them.
    QString lockPath() const { return m_base + QStringLiteral(".lock"); }
    QString socketPath() const { return m_base + QStringLiteral(".sock"); }

signals:
    void restoreRequested(const QByteArray &activationToken);

private:
    void onNewConnection();
    void answerPeer(int peer);

    QString m_base;
    int m_lockFd = -1;
    int m_listenFd = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace tavlo
