#include "platform/singleinstance.h"

#include "platform/windowactivation.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Plain Unix sockets rather than Qt's local sockets: the network module and
// the libraries it pulls in would cost every start more than this whole file.

namespace tavlo {

// What the lock and socket of copies that ran before are named by.
const char *const kRunningCopyKey = "スケジュール管理ツール";

namespace {

// A request is "restore", a space and the activation token where there is
// one, and a line end.
const QByteArray kRestore = QByteArrayLiteral("restore");
const char kDone[] = "ok\n";
constexpr size_t kLongestRequest = 300;
constexpr int kPeerTimeoutMs = 500;

// A folder no one but this user can change: a folder (not a link to one)
// owned by the user and closed to everyone else.
bool isPrivateFolder(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
        && (st.st_mode & 077) == 0;
}

// Makes the folder and those above it that are missing, each for this user
// alone; what is there already is left as it is (and checked by the caller).
void makeFolders(const QByteArray &folder)
{
    for (int slash = folder.indexOf('/', 1); slash > 0; slash = folder.indexOf('/', slash + 1))
        ::mkdir(folder.left(slash).constData(), 0700);
    ::mkdir(folder.constData(), 0700);
}

QByteArray homeFolder()
{
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/'))
        return home;
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QByteArray(entry->pw_dir) : QByteArray();
}

// Where the lock and the socket live: the user's runtime folder where the
// desktop provides one; else a private folder of the user's in /tmp, the one
// place every start of the user's agrees on. Everyone may make names there,
// so another user may have taken that one first (a folder, a file, a link):
// then a folder in the user's own cache, which no one else can touch, named
// for this machine (a home folder shared by several machines must not let a
// copy on one stop the start on another). The socket's full name must fit
// the kernel's 108 bytes, so a long folder gives way to the next. Empty when
// there is no safe place.
QByteArray privateFolder(int nameLength)
{
    QByteArray cache = qgetenv("XDG_CACHE_HOME");
    if (!cache.startsWith('/'))
        cache = homeFolder() + "/.cache";
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const QByteArray candidates[] = {qgetenv("XDG_RUNTIME_DIR"), "/tmp/tavlo-" + QByteArray::number(::getuid()),
                                     cache + "/tavlo/" + QByteArray(host).replace('/', '_')};
    for (const QByteArray &folder : candidates) {
        if (!folder.startsWith('/') || size_t(folder.size() + 1 + nameLength) >= sizeof(sockaddr_un::sun_path))
            continue;
        if (&folder != &candidates[0])
            makeFolders(folder); // may be there already, or someone else's: checked next
        if (isPrivateFolder(folder))
            return folder;
    }
    return QByteArray();
}

// Whether the other end of a connected socket runs as this user: restore
// requests, and the tokens they carry, never cross to another.
bool peerIsThisUser(int fd)
{
    ucred cred{};
    socklen_t size = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == ::getuid();
}

bool makeAddress(const QString &path, sockaddr_un &address)
{
    const QByteArray native = QFile::encodeName(path);
    if (size_t(native.size()) >= sizeof(address.sun_path))
        return false;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    return true;
}

void setTimeouts(int fd, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

// Reads up to a line end (or `size - 1` bytes); the socket's timeout bounds it.
QByteArray readLine(int fd, size_t size)
{
    QByteArray line;
    char c;
    while (size_t(line.size()) + 1 < size) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(c);
        if (c == '\n')
            break;
    }
    return line;
}

bool writeAll(int fd, const QByteArray &text)
{
    return ::send(fd, text.constData(), size_t(text.size()), MSG_NOSIGNAL) == ssize_t(text.size());
}

} // namespace

bool SingleInstance::parseRestoreRequest(const QByteArray &line, QByteArray *token)
{
    if (!line.endsWith('\n'))
        return false; // cut short: the sender gave up
    const QByteArray request = line.left(line.size() - 1);
    const int space = request.indexOf(' ');
    if (request.left(space < 0 ? request.size() : space) != kRestore)
        return false;
    // A token the compositor could not have issued is dropped; the window
    // still comes back where the desktop allows it.
    const QByteArray given = space < 0 ? QByteArray() : request.mid(space + 1);
    *token = IsUsableToken(given) ? given : QByteArray();
    return true;
}

SingleInstance::SingleInstance(const QString &key, QObject *parent) : QObject(parent)
{
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    const QByteArray name = "tavlo-" + QByteArray::number(::getuid()) + '-' + hash;
    const QByteArray folder = privateFolder(name.size() + 5); // and ".sock"
    if (!folder.isEmpty())
        m_base = QFile::decodeName(folder + '/' + name);
}

SingleInstance::~SingleInstance()
{
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(QFile::encodeName(socketPath()).constData());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool SingleInstance::acquire()
{
    if (m_base.isEmpty())
        return true; // no safe place for a lock: run rather than refuse to start
    m_lockFd = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0)
        return true;
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        return false;
    }
    // We hold the lock, so a socket file left here belongs to a copy that
    // ended without cleaning up.
    sockaddr_un address;
    if (!makeAddress(socketPath(), address))
        return true;
    ::unlink(address.sun_path);
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0)
        return true;
    const mode_t mask = ::umask(0077); // only this user may connect
    const bool listening = ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0
        && ::listen(m_listenFd, 8) == 0;
    ::umask(mask);
    if (!listening) {
        ::close(m_listenFd);
        m_listenFd = -1;
        return true;
    }
    return true;
}

void SingleInstance::startAnswering()
{
    if (m_listenFd < 0 || m_notifier)
        return;
    m_notifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SingleInstance::onNewConnection);
}

void SingleInstance::onNewConnection()
{
    for (;;) {
        const int peer = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (peer < 0)
            return; // nothing more waiting (the listening socket does not block)
        answerPeer(peer);
    }
}

// A request is read as its bytes arrive, never waiting for them: a peer that
// sends slowly, or not at all, must not keep the window from answering. It
// has a moment in all to send its line.
void SingleInstance::answerPeer(int peer)
{
    if (!peerIsThisUser(peer)) {
        ::close(peer);
        return;
    }
    auto *notifier = new QSocketNotifier(peer, QSocketNotifier::Read, this);
    auto *deadline = new QTimer(notifier);
    auto request = std::make_shared<QByteArray>();
    const auto finish = [notifier, deadline, peer] {
        deadline->stop();
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(peer);
    };
    connect(deadline, &QTimer::timeout, notifier, finish);
    connect(notifier, &QSocketNotifier::activated, notifier, [this, peer, request, finish] {
        char chunk[256];
        ssize_t n;
        while ((n = ::read(peer, chunk, sizeof chunk)) > 0 && size_t(request->size()) < kLongestRequest)
            request->append(chunk, int(n));
        const int end = request->indexOf('\n');
        if (end < 0 && n < 0 && (errno == EAGAIN || errno == EINTR) && size_t(request->size()) < kLongestRequest)
            return; // more to come
        QByteArray token;
        if (end >= 0 && parseRestoreRequest(request->left(end + 1), &token)) {
            emit restoreRequested(token);
            writeAll(peer, kDone);
        }
        finish();
    });
    deadline->setSingleShot(true);
    deadline->start(kPeerTimeoutMs);
}

bool SingleInstance::askRunningCopyToRestore(const QByteArray &activationToken, int timeoutMs)
{
    if (m_base.isEmpty())
        return false;
    sockaddr_un address;
    if (!makeAddress(socketPath(), address))
        return false;
    // The running copy may hold the lock but not listen yet: try again
    // until the time is up.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        setTimeouts(fd, int(qBound<qint64>(1, timeoutMs - timer.elapsed(), qint64(timeoutMs))));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0) {
            if (!peerIsThisUser(fd)) {
                ::close(fd);
                return false;
            }
            const QByteArray request =
                kRestore + (activationToken.isEmpty() ? QByteArray() : ' ' + activationToken) + '\n';
            const bool done = writeAll(fd, request) && readLine(fd, sizeof(kDone) + 1) == kDone;
            ::close(fd);
            return done;
        }
        ::close(fd);
        ::usleep(20 * 1000);
    }
    return false;
}

} // namespace tavlo
