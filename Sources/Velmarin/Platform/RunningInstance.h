#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

class QSocketNotifier;

namespace tolvex {

class DataRootLock;

// The program that owns a data root, as a later start on the same root
// reaches it: a local socket named after the folder the program holds (its
// device and inode), not after the folder's path. A folder moved away and
// replaced by a copy, as restoring a backup does, is two folders: a start
// on the path finds the copy and reaches the program that holds the copy,
// never the one that holds the folder moved away. The later start asks it
// to show its shelf and learns from the answer that somebody is there to
// see it.
//
// The socket lies only in a folder nobody else may enter: the runtime
// folder when it is the user's own with mode 0700, else a folder of the
// program's own in the temporary folder, made 0700 and checked the same
// way. A folder another user made, opened to others or replaced by a link
// is never used; without a private folder there is no socket, and a later
// start finds nobody to ask.
//
// The owner listens without ever blocking: connections, requests and
// answers are events of its GUI thread. Every peer is let go, and its
// descriptor closed, after one line, on its first byte too many, when it
// hangs up, or after `idlePeerMs` of silence. A socket file in the owner's
// way is taken over only when a connection to it is refused (nobody
// listens there any more); a live program keeps its socket however busy it
// is, and this one then does not listen.
class RunningInstance final : public QObject {
public:
    // An owner busy for a moment on a loaded machine still answers in time.
    static constexpr int answerDeadlineMs = 5000;
    static constexpr int idlePeerMs = 5000;

    // Which folder a data root is. Two live folders never share it: a
    // folder's inode stays its own while any program holds it open, even
    // after it was moved or deleted.
    struct Folder {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        friend bool operator==(const Folder&, const Folder&) = default;
    };

    // What a start that found the root taken learnt from asking.
    enum class Reply {
        // The owner shows its shelf.
        shown,
        // Nobody listens for the folder: an owner that is still starting
        // (it claims the root before it listens) or already ending, or one
        // killed before it could remove its socket.
        nobodyListening,
        // An owner was reached but did not answer in time, or there is no
        // private folder to reach one through.
        noAnswer,
    };

    // Listens for the folder; `onShowRequest` runs on the GUI thread for
    // every request, before the answer goes out.
    RunningInstance(Folder root, std::function<void()> onShowRequest);
    ~RunningInstance() override;

    bool isListening() const { return listener_ >= 0; }

    // The folder at the path itself, from one look that follows no link at
    // its end: none for a link, for anything else that is no folder, and for
    // nothing at all.
    static std::optional<Folder> folderAt(const QString& path);
    // The folder a claim holds, while it is still the one at the claim's
    // path; none once the path names another item, whose later starts
    // could never reach this program.
    static std::optional<Folder> folderHeldBy(const DataRootLock& claim);

    // The socket's path for a folder, or none when the user has no private
    // folder for it.
    static std::optional<QString> socketPath(Folder root);

    // For a start that found the root taken, before it has any window: asks
    // the program that holds the folder now at the path to show its shelf,
    // and waits, at most the deadline, for the answer.
    static Reply askToShow(const QString& dataRootPath, int deadlineMs = answerDeadlineMs);

private:
    class Peer;

    void acceptPending();

    std::function<void()> onShowRequest_;
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> accepting_;
    // The socket file this owner made, removed at the end only while the
    // path still names it.
    QByteArray path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

} // namespace tolvex
