#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tavlo {
namespace {

const QByteArray kRestore = "restore\n";
const QByteArray kDone = "ok\n";

// The user's runtime folder where the desktop provides one, else the
// temporary folder; the user id in the name keeps users apart there.
QString RuntimeFolder()
{
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    return QDir::tempPath();
}

} // namespace

SingleInstance::SingleInstance(const QString &key, QObject *parent) : QObject(parent)
{
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    m_base = RuntimeFolder() + QStringLiteral("/tavlo-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool SingleInstance::acquire()
{
    m_lockFd = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0)
        return true; // no place for a lock: run rather than refuse to start
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        return false;
    }
    // We hold the lock, so a socket file left here belongs to a copy that
    // ended without cleaning up.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->listen(socketPath());
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *peer = m_server->nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
            if (!peer->canReadLine())
                return;
            if (peer->readLine() == kRestore) {
                emit restoreRequested();
                peer->write(kDone);
                peer->flush();
            }
            peer->disconnectFromServer();
        });
    }
}

bool SingleInstance::askRunningCopyToRestore(int timeoutMs)
{
    // The running copy may hold the lock but not listen yet: try again
    // until the time is up.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(timeoutMs - timer.elapsed()))) {
            socket.write(kRestore);
            socket.waitForBytesWritten(int(qMax<qint64>(1, timeoutMs - timer.elapsed())));
            while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState
                   && timer.elapsed() < timeoutMs)
                socket.waitForReadyRead(int(qMax<qint64>(1, timeoutMs - timer.elapsed())));
            return socket.canReadLine() && socket.readLine() == kDone;
        }
        QThread::msleep(20);
    }
    return false;
}

} // namespace tavlo
