#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

class QSocketNotifier;

namespace tolvex {

// The program that owns a data root, as a later start on the same root
// reaches it: a local socket named from a hash of the root's canonical
// path. The later start asks it to show its shelf and learns from the
// answer that somebody is there to see it.
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

    // Listens for the data root; `onShowRequest` runs on the GUI thread for
    // every request, before the answer goes out.
    RunningInstance(const QString& dataRootPath, std::function<void()> onShowRequest);
    ~RunningInstance() override;

    bool isListening() const { return listener_ >= 0; }

    // The socket's path for a data root (the same for every spelling of it),
    // or none when the user has no private folder for it.
    static std::optional<QString> socketPath(const QString& dataRootPath);

    // For a start that found the root taken, before it has any window: asks
    // the owner to show its shelf and waits, at most the deadline, for the
    // answer. True when the owner answered.
    static bool askToShow(const QString& dataRootPath, int deadlineMs = answerDeadlineMs);

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
