#include "Files/FilesTesting.h"
#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/RunningInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tolvex {
namespace {

using testing::ScopedEnvironment;

// Asks from a worker thread, as a second process would, while the GUI
// thread goes on serving events; answers whether the owner showed its shelf.
bool askWhileServing(const QString& root)
{
    QFuture<RunningInstance::Reply> asking = QtConcurrent::run([root] { return RunningInstance::askToShow(root); });
    testing::waitUntil([&] { return asking.isFinished(); });
    return asking.result() == RunningInstance::Reply::shown;
}

RunningInstance::Folder folderOf(const QString& path)
{
    const std::optional<RunningInstance::Folder> folder = RunningInstance::folderAt(path);
    EXPECT_TRUE(folder) << path.toStdString();
    return folder.value_or(RunningInstance::Folder{});
}

std::optional<QString> socketFor(const QString& root)
{
    return RunningInstance::socketPath(folderOf(root));
}

// The runtime folder of a session: the user's own, mode 0700.
class PrivateRuntime {
public:
    PrivateRuntime() : runtime_("XDG_RUNTIME_DIR", QFile::encodeName(folder_.path())) {}
    QString path() const { return folder_.path(); }

private:
    QTemporaryDir folder_;
    ScopedEnvironment runtime_;
};

sockaddr_un addressOf(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), std::min<std::size_t>(name.size(), sizeof address.sun_path - 1));
    return address;
}

// Another program's socket at `path`, taking at most `backlog` waiting peers.
int listenAt(const QString& path, int backlog = SOMAXCONN)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path.toStdString();
    EXPECT_EQ(::listen(fd, backlog), 0);
    return fd;
}

// A peer's end of a connection, made while the GUI thread serves; -1 when
// nobody listens. With `once`, a full queue is an answer too (-1).
int connectTo(const QString& path, bool once = false)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    int error = EAGAIN;
    testing::waitUntil([&] {
        error = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
        return error != EAGAIN || once;
    });
    if (error != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the other end has let this peer go.
bool letGo(int fd)
{
    char byte;
    const ssize_t count = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// Whether anybody has connected to a listening socket of the test.
bool wasAsked(int listener)
{
    const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0)
        return false;
    ::close(peer);
    return true;
}

ino_t inodeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

int openDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(RunningInstance, ALaterStartReachesTheOwnerOfItsDataRootOnly)
{
    const PrivateRuntime runtime;
    QTemporaryDir home;
    const QString root = home.filePath(QStringLiteral("Tolvex"));
    const QString other = home.filePath(QStringLiteral("Other"));
    const QString link = home.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QDir().mkpath(root) && QDir().mkpath(other) && QFile::link(root, link));
    // Another spelling of the folder is the folder; a link to it is not.
    EXPECT_EQ(RunningInstance::folderAt(root + QStringLiteral("/")), RunningInstance::folderAt(root));
    EXPECT_EQ(RunningInstance::folderAt(home.path() + QStringLiteral("/./Tolvex")), RunningInstance::folderAt(root));
    EXPECT_FALSE(RunningInstance::folderAt(link));
    EXPECT_FALSE(RunningInstance::folderAt(link + QStringLiteral("/")));
    EXPECT_FALSE(RunningInstance::folderAt(home.filePath(QStringLiteral("missing"))));
    EXPECT_NE(socketFor(other), socketFor(root));
    ASSERT_TRUE(socketFor(root));
    EXPECT_EQ(QFileInfo(*socketFor(root)).path(), runtime.path());

    // Nobody owns the root yet: nobody answers.
    EXPECT_EQ(RunningInstance::askToShow(root), RunningInstance::Reply::nobodyListening);

    int shown = 0;
    RunningInstance owner(folderOf(root), [&] { ++shown; });
    ASSERT_TRUE(owner.isListening());

    // A peer that connects and says nothing holds up nobody.
    const int silent = connectTo(*socketFor(root));
    ASSERT_GE(silent, 0);

    EXPECT_TRUE(askWhileServing(root));
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(askWhileServing(other));
    EXPECT_FALSE(askWhileServing(link));
    EXPECT_EQ(shown, 1);
    ::close(silent);
}

// A root moved away and replaced by a copy (a backup put back) is two
// folders: a start on the path reaches the program that holds the copy,
// while the first program still runs on the folder it holds and after it
// is gone; the folder moved away is reached only where it lies now.
TEST(RunningInstance, AStartReachesTheProgramThatHoldsTheFolderNowAtThePath)
{
    const PrivateRuntime runtime;
    QTemporaryDir home;
    const QString root = home.filePath(QStringLiteral("Tolvex"));
    const QString moved = home.filePath(QStringLiteral("Tolvex moved"));
    ASSERT_TRUE(QDir().mkpath(root));

    int firstShown = 0;
    auto first = std::make_unique<RunningInstance>(folderOf(root), [&] { ++firstShown; });
    ASSERT_TRUE(first->isListening());
    ASSERT_TRUE(QDir().rename(root, moved) && QDir().mkpath(root));

    int secondShown = 0;
    RunningInstance second(folderOf(root), [&] { ++secondShown; });
    ASSERT_TRUE(second.isListening()) << "the first one's socket is in the way";
    EXPECT_TRUE(askWhileServing(root));
    EXPECT_EQ(secondShown, 1);
    EXPECT_EQ(firstShown, 0);
    EXPECT_TRUE(askWhileServing(moved));
    EXPECT_EQ(firstShown, 1);

    first.reset();
    EXPECT_TRUE(askWhileServing(root));
    EXPECT_EQ(secondShown, 2);
    EXPECT_EQ(RunningInstance::askToShow(moved), RunningInstance::Reply::nobodyListening);
}

// What lies at the socket's path is taken over only when a connection to it
// is refused; a live program keeps its socket, busy or not, and stays the
// one a later start reaches.
TEST(RunningInstance, ASocketInTheWayIsTakenOverOnlyWhenNobodyListensOnIt)
{
    const PrivateRuntime runtime;
    QTemporaryDir home;
    enum class InTheWay { file, deadSocket, liveOwner, busyProgram };
    const std::pair<const char*, InTheWay> cases[] = {{"a file", InTheWay::file},
        {"a killed owner's socket", InTheWay::deadSocket}, {"a running owner", InTheWay::liveOwner},
        {"a program too busy to accept", InTheWay::busyProgram}};
    for (const auto& [name, inTheWay] : cases) {
        SCOPED_TRACE(name);
        const QString root = home.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(QDir().mkpath(root));
        const QString path = *socketFor(root);

        int firstShown = 0;
        std::unique_ptr<RunningInstance> first;
        std::vector<int> held;
        switch (inTheWay) {
        case InTheWay::file: {
            QFile leftover(path);
            ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
            break;
        }
        case InTheWay::deadSocket:
            ::close(listenAt(path));
            break;
        case InTheWay::liveOwner:
            first = std::make_unique<RunningInstance>(folderOf(root), [&] { ++firstShown; });
            ASSERT_TRUE(first->isListening());
            break;
        case InTheWay::busyProgram: {
            held.push_back(listenAt(path, 0));
            for (int peer = connectTo(path, true); peer >= 0; peer = connectTo(path, true))
                held.push_back(peer);
            break;
        }
        }
        const ino_t before = inodeOf(path);
        ASSERT_NE(before, 0u);

        int shown = 0;
        {
            RunningInstance second(folderOf(root), [&] { ++shown; });
            const bool takesOver = inTheWay == InTheWay::file || inTheWay == InTheWay::deadSocket;
            EXPECT_EQ(second.isListening(), takesOver);
            if (!takesOver) {
                EXPECT_EQ(inodeOf(path), before);
            }
            if (inTheWay != InTheWay::busyProgram) {
                EXPECT_TRUE(askWhileServing(root));
                EXPECT_EQ(shown, takesOver ? 1 : 0);
                EXPECT_EQ(firstShown, takesOver ? 0 : 1);
            }
        }
        // Going, an owner that never listened leaves the other's socket alone.
        if (!(inTheWay == InTheWay::file || inTheWay == InTheWay::deadSocket)) {
            EXPECT_EQ(inodeOf(path), before);
        }
        for (const int fd : held)
            ::close(fd);
    }
}

// Without a private runtime folder the socket goes into a folder of the
// program's own, and only while that one is the user's alone: never into a
// folder another user made first, one open to others, or a link, where a
// squatter would answer a later start.
TEST(RunningInstance, ASocketLiesOnlyInAFolderNobodyElseMayEnter)
{
    QTemporaryDir home;
    const QString root = home.filePath(QStringLiteral("Tolvex"));
    const QString temporary = home.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(root) && QDir().mkpath(temporary));
    const ScopedEnvironment temporaryFolder("TMPDIR", QFile::encodeName(temporary));
    QString socketName;
    {
        const PrivateRuntime runtime;
        socketName = QFileInfo(*socketFor(root)).fileName();
    }
    const QString userName = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    const QString ownFolder = temporary + QStringLiteral("/tolvex-runtime-") + QString::number(::geteuid());

    enum class Hostile { openToOthers, link, anotherUsers };
    std::vector<std::pair<const char*, Hostile>> forms{{"open to others", Hostile::openToOthers}, {"a link", Hostile::link}};
    // Only root can give a folder to somebody else, and only where that
    // somebody exists.
    const QByteArray probe = QFile::encodeName(home.filePath(QStringLiteral("probe")));
    if (::geteuid() == 0 && ::mkdir(probe.constData(), 0700) == 0 && ::chown(probe.constData(), 65534, 65534) == 0)
        forms.emplace_back("another user's", Hostile::anotherUsers);
    int made = 0;
    // A folder in that form at `path`, with a squatter listening where the
    // socket would go.
    const auto makeHostile = [&](Hostile form, const QString& path) {
        QString folder = path;
        if (form == Hostile::link) {
            folder = home.filePath(QStringLiteral("target-") + QString::number(made++));
            EXPECT_TRUE(QFile::link(folder, path));
        }
        EXPECT_TRUE(QDir().mkpath(folder));
        const QByteArray encoded = QFile::encodeName(folder);
        EXPECT_EQ(::chmod(encoded.constData(), form == Hostile::openToOthers ? 0755 : 0700), 0);
        if (form == Hostile::anotherUsers) {
            EXPECT_EQ(::chown(encoded.constData(), 65534, 65534), 0);
        }
        return listenAt(folder + u'/' + socketName);
    };

    for (const auto& [name, form] : forms) {
        SCOPED_TRACE(name);
        for (const bool runtimeGiven : {false, true}) {
            SCOPED_TRACE(runtimeGiven ? "runtime folder in that form" : "no runtime folder");
            QDir(temporary).removeRecursively();
            ASSERT_TRUE(QDir().mkpath(temporary));
            const QString runtimePath = home.filePath(QStringLiteral("runtime"));
            QFile::remove(runtimePath);
            QDir(runtimePath).removeRecursively();

            // Squatters wherever a start without a private folder might look.
            std::vector<int> squatters{listenAt(temporary + u'/' + socketName),
                makeHostile(form, temporary + QStringLiteral("/runtime-") + userName)};
            std::optional<ScopedEnvironment> runtime;
            if (runtimeGiven) {
                squatters.push_back(makeHostile(form, runtimePath));
                runtime.emplace("XDG_RUNTIME_DIR", QFile::encodeName(runtimePath));
            } else {
                squatters.push_back(makeHostile(form, ownFolder));
                runtime.emplace("XDG_RUNTIME_DIR", std::nullopt);
            }

            {
                int shown = 0;
                RunningInstance owner(folderOf(root), [&] { ++shown; });
                if (runtimeGiven) {
                    // The program's own folder stands in, made private.
                    ASSERT_TRUE(owner.isListening());
                    EXPECT_EQ(socketFor(root), ownFolder + u'/' + socketName);
                    struct stat folder {};
                    ASSERT_EQ(::lstat(QFile::encodeName(ownFolder).constData(), &folder), 0);
                    EXPECT_TRUE(S_ISDIR(folder.st_mode));
                    EXPECT_EQ(folder.st_mode & 07777, 0700u);
                    EXPECT_TRUE(askWhileServing(root));
                    EXPECT_EQ(shown, 1);
                } else {
                    EXPECT_FALSE(socketFor(root));
                    EXPECT_FALSE(owner.isListening());
                    EXPECT_FALSE(askWhileServing(root));
                }
            }
            for (const int squatter : squatters) {
                EXPECT_FALSE(wasAsked(squatter));
                ::close(squatter);
            }
        }
    }
}

// Silent peers, peers that hang up, send junk or half a line, and a stream
// of requests: each is let go within a bounded time, silent ones included,
// and the owner keeps no descriptor of any of them.
TEST(RunningInstance, EveryPeerIsLetGoAndKeepsNoDescriptor)
{
    const PrivateRuntime runtime;
    QTemporaryDir home;
    const QString root = home.filePath(QStringLiteral("Tolvex"));
    ASSERT_TRUE(QDir().mkpath(root));
    int shown = 0;
    RunningInstance owner(folderOf(root), [&] { ++shown; });
    ASSERT_TRUE(owner.isListening());
    const QString path = *socketFor(root);
    const int before = openDescriptors();

    std::vector<int> peers;
    for (int index = 0; index < 120; ++index) {
        const int peer = connectTo(path);
        ASSERT_GE(peer, 0);
        // A third hang up at once; the rest stay silent.
        if (index % 3 == 0)
            ::close(peer);
        else
            peers.push_back(peer);
    }
    const auto sending = [&](const QByteArray& bytes) {
        const int peer = connectTo(path);
        EXPECT_EQ(::send(peer, bytes.constData(), bytes.size(), MSG_NOSIGNAL), bytes.size());
        peers.push_back(peer);
    };
    sending("sh");
    sending("hello\n");
    const int junk = connectTo(path);
    peers.push_back(junk);
    const QByteArray megabyte(1 << 20, 'x');
    qsizetype junkSent = 0;

    const int requests = 100;
    for (int index = 0; index < requests; ++index) {
        const int asker = connectTo(path);
        ASSERT_EQ(::send(asker, "show\n", 5, MSG_NOSIGNAL), 5);
        QByteArray answer;
        ASSERT_TRUE(testing::waitUntil([&] {
            char bytes[16];
            const ssize_t count = ::recv(asker, bytes, sizeof bytes, MSG_DONTWAIT);
            if (count > 0)
                answer.append(bytes, count);
            return count == 0;
        }));
        EXPECT_EQ(answer, "shown\n");
        ::close(asker);
    }
    EXPECT_EQ(shown, requests);

    EXPECT_TRUE(testing::waitUntil([&] {
        if (junkSent < megabyte.size()) {
            const ssize_t sent = ::send(junk, megabyte.constData() + junkSent, megabyte.size() - junkSent,
                MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0)
                junkSent += sent;
        }
        return std::all_of(peers.begin(), peers.end(), letGo);
    }, 4 * RunningInstance::idlePeerMs)) << "a peer was held on to";
    for (const int peer : peers)
        ::close(peer);
    EXPECT_TRUE(testing::waitUntil([&] { return openDescriptors() == before; }))
        << openDescriptors() << " descriptors open, " << before << " before the peers";
}

} // namespace
} // namespace tolvex
