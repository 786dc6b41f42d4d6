#include "Velmarin/Platform/RunningInstance.h"

#include "TolvexCore/Files/DataRootLock.h"
#include "TolvexCore/Files/LocalPathEncoding.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <system_error>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tolvex {

namespace {

constexpr char request[] = "show\n";
constexpr char answer[] = "shown\n";
// Longer than any request; a peer that sends more is not one of ours.
constexpr qint64 longestLine = 64;
// Out of descriptors, the listener rests this long before it accepts again,
// rather than being woken for the same waiting peer over and over.
constexpr int acceptPauseMs = 100;

// A folder only this user may enter: a folder itself (not a link to one),
// owned by the user, with mode 0700.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & 07777) == 0700;
}

// The folder the sockets lie in: the runtime folder when it is private,
// else the program's own in the temporary folder, made when missing; none
// when that is not private either.
std::optional<QString> socketFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivateFolder(runtime))
        return QFile::decodeName(runtime);
    const QString own = QDir(QDir::tempPath()).filePath(QStringLiteral("tolvex-runtime-") + QString::number(::geteuid()));
    const QByteArray encoded = QFile::encodeName(own);
    // An existing entry is judged below like a new one: whoever made it.
    ::mkdir(encoded.constData(), 0700);
    if (isPrivateFolder(encoded))
        return own;
    return std::nullopt;
}

bool addressOf(const QByteArray& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

int newSocket()
{
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// Whether the name is free to take: nothing there, or something nobody
// listens on (a dead owner's socket, or any file that is no socket). A peer
// that accepts, or is too busy to (its queue is full), is alive.
bool nobodyListens(const sockaddr_un& address)
{
    const int probe = newSocket();
    if (probe < 0)
        return false;
    const int result = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(probe);
    return result != 0 && (error == ECONNREFUSED || error == ENOENT);
}

// A listening socket at the path, or -1.
int listenAt(const QByteArray& path)
{
    sockaddr_un address;
    if (!addressOf(path, address))
        return -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int listener = newSocket();
        if (listener < 0)
            return -1;
        if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
            && ::listen(listener, SOMAXCONN) == 0)
            return listener;
        const int error = errno;
        ::close(listener);
        if (error != EADDRINUSE || attempt > 0 || !nobodyListens(address))
            return -1;
        if (::unlink(path.constData()) != 0 && errno != ENOENT)
            return -1;
    }
    return -1;
}

} // namespace

// One accepted connection: read up to one line, answer a request, and go.
class RunningInstance::Peer final : public QObject {
public:
    Peer(int fd, RunningInstance& owner) : QObject(&owner), owner_(owner), fd_(fd), reading_(fd, QSocketNotifier::Read)
    {
        connect(&reading_, &QSocketNotifier::activated, this, &Peer::read);
        QTimer::singleShot(idlePeerMs, this, &Peer::end);
    }
    ~Peer() override { close(); }

private:
    void read()
    {
        char buffer[longestLine + 1];
        for (;;) {
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            // Hung up, failed, or more than a request holds.
            if (count <= 0 || line_.size() + count > longestLine) {
                end();
                return;
            }
            line_.append(buffer, count);
            if (line_.contains('\n'))
                break;
        }
        if (line_ == request) {
            if (owner_.onShowRequest_)
                owner_.onShowRequest_();
            // Into an empty socket buffer: never blocks, never raises SIGPIPE.
            [[maybe_unused]] const ssize_t sent
                = ::send(fd_, answer, sizeof answer - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
        }
        end();
    }

    void close()
    {
        if (fd_ < 0)
            return;
        reading_.setEnabled(false);
        ::close(fd_);
        fd_ = -1;
    }

    // The descriptor goes at once; the object with the next turn of the loop.
    void end()
    {
        if (fd_ < 0)
            return;
        close();
        deleteLater();
    }

    RunningInstance& owner_;
    int fd_;
    QSocketNotifier reading_;
    QByteArray line_;
};

RunningInstance::RunningInstance(Folder root, std::function<void()> onShowRequest)
    : onShowRequest_(std::move(onShowRequest))
{
    const std::optional<QString> path = socketPath(root);
    if (!path)
        return;
    const QByteArray encoded = QFile::encodeName(*path);
    listener_ = listenAt(encoded);
    if (listener_ < 0)
        return;
    struct stat made {};
    if (::lstat(encoded.constData(), &made) == 0) {
        path_ = encoded;
        device_ = made.st_dev;
        inode_ = made.st_ino;
    }
    accepting_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    connect(accepting_.get(), &QSocketNotifier::activated, this, &RunningInstance::acceptPending);
}

RunningInstance::~RunningInstance()
{
    if (listener_ < 0)
        return;
    accepting_.reset();
    ::close(listener_);
    struct stat now {};
    if (!path_.isEmpty() && ::lstat(path_.constData(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_)
        ::unlink(path_.constData());
}

std::optional<RunningInstance::Folder> RunningInstance::folderAt(const QString& path)
{
    QByteArray local = encodeLocalPath(path);
    // A trailing separator would make lstat follow a link at the end.
    while (local.size() > 1 && local.endsWith('/'))
        local.chop(1);
    struct stat info {};
    if (local.isEmpty() || ::lstat(local.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return Folder{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<RunningInstance::Folder> RunningInstance::folderHeldBy(const DataRootLock& claim)
{
    const std::optional<Folder> folder = folderAt(claim.path());
    try {
        if (folder && claim.isHeldFolder(claim.path()))
            return folder;
    } catch (const std::system_error&) {
    }
    return std::nullopt;
}

std::optional<QString> RunningInstance::socketPath(Folder root)
{
    const std::optional<QString> folder = socketFolder();
    if (!folder)
        return std::nullopt;
    const QString name = QStringLiteral("tolvex-%1-%2").arg(root.device, 0, 16).arg(root.inode, 0, 16);
    return QDir(*folder).filePath(name);
}

void RunningInstance::acceptPending()
{
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            new Peer(fd, *this);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            accepting_->setEnabled(false);
            QTimer::singleShot(acceptPauseMs, this, [this] { accepting_->setEnabled(true); });
        }
        return;
    }
}

RunningInstance::Reply RunningInstance::askToShow(const QString& dataRootPath, int deadlineMs)
{
    // Whoever holds the folder now at the path, whichever folder that is.
    const std::optional<Folder> root = folderAt(dataRootPath);
    if (!root)
        return Reply::nobodyListening;
    const std::optional<QString> path = socketPath(*root);
    if (!path)
        return Reply::noAnswer;
    const QDeadlineTimer deadline(deadlineMs);
    QLocalSocket socket;
    socket.connectToServer(*path);
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
        const QLocalSocket::LocalSocketError error = socket.error();
        return error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError
            ? Reply::nobodyListening
            : Reply::noAnswer;
    }
    socket.write(request);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return Reply::noAnswer;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return Reply::noAnswer;
    }
    return socket.readLine(longestLine) == answer ? Reply::shown : Reply::noAnswer;
}

} // namespace tolvex
