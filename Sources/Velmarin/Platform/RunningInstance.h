#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

namespace tolvex {

// The program that owns a data root, as a later start on the same root
// reaches it: a local socket in the user's runtime folder, named from a
// hash of the root's canonical path. The later start asks it to show its
// shelf and learns from the answer that somebody is there to see it.
//
// The owner listens without ever blocking: connections, requests and
// answers are events of its GUI thread; a peer that says nothing is let go
// after a few seconds. Only the owner of the root's lock may listen, so a
// socket file it finds in its way was left by a program that died.
class RunningInstance final : public QObject {
public:
    // An owner busy for a moment on a loaded machine still answers in time.
    static constexpr int answerDeadlineMs = 5000;
    static constexpr int idlePeerMs = 5000;

    // Listens for the data root; `onShowRequest` runs on the GUI thread for
    // every request, before the answer goes out.
    RunningInstance(const QString& dataRootPath, std::function<void()> onShowRequest);
    ~RunningInstance() override;

    bool isListening() const { return server_.isListening(); }

    // The socket's path for a data root (the same for every spelling of it).
    static QString socketPath(const QString& dataRootPath);

    // For a start that found the root taken, before it has any window: asks
    // the owner to show its shelf and waits, at most the deadline, for the
    // answer. True when the owner answered.
    static bool askToShow(const QString& dataRootPath, int deadlineMs = answerDeadlineMs);

private:
    void acceptPending();

    QLocalServer server_;
    std::function<void()> onShowRequest_;
};

} // namespace tolvex
