#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFuture>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

struct xcb_connection_t;

namespace tolvex {

// Reads the CLIPBOARD selection of another program over a connection and a
// thread of its own, so that the owner, however it behaves, never holds the
// GUI thread: that thread starts a read and awaits its future.
//
// Every wait is bounded twice: an owner gets `answerTime` to start each
// answer and as long again between the parts of a long (INCR) one, and the
// whole read ends by `transferTime`, however steadily the parts come. A
// change of owner ends a read at once. Each transfer gets a window of its
// own, destroyed when the transfer ends or is abandoned, so that an owner
// that goes on writing an abandoned answer never writes into a later one.
// An answer is never read past the length the caller accepts, and TARGETS
// are bounded and de-duplicated before any atom's name is asked.
//
// A read fails with StoreError::invalidSource when the owner does not
// answer in time, offers too many targets or the connection fails, and with
// StoreError::sourceChanged when the owner changes. It must not be asked
// about a selection this process owns: Qt answers those on the GUI thread.
//
// Between reads the thread listens on the same connection for the server's
// notice (XFixes) that the clipboard has a new owner, so that a copy in
// another program is known at once rather than at the next poll.
class X11SelectionReader {
public:
    static constexpr std::chrono::milliseconds answerTime{1000};
    static constexpr std::chrono::milliseconds transferTime{5000};
    // No program offers this many kinds of one content; an owner that
    // claims more is refused before a single name is asked.
    static constexpr qsizetype maximumTargets = 1024;

    // What one read may ask of the owner; used on the reader's thread only.
    class Session {
    public:
        // The offered types as MIME types: UTF8_STRING, STRING, TEXT and
        // text/plain;charset=utf-8 read as text/plain. Empty without an
        // owner. Fixes the owner that the following data() calls must still find.
        QStringList formats();
        // At most `maximum` bytes for a MIME type from formats(); nothing
        // when the owner refuses. A longer answer is cut at `maximum` and
        // the rest of it is never asked for.
        std::optional<QByteArray> data(const QString& mimeType, qsizetype maximum);

    private:
        friend class X11SelectionReader;
        explicit Session(X11SelectionReader& reader);

        X11SelectionReader& reader_;
        const QDeadlineTimer whole_;
        std::uint32_t owner_ = 0;
        // For each MIME type, the target that provides it.
        QHash<QString, std::uint32_t> targets_;
    };
    using Read = std::function<void(Session& session)>;
    // Called on the reader's thread, once for every new owner of the
    // clipboard (ours included), and when an owner goes away.
    using OwnerChanged = std::function<void()>;

    // Nothing without an X display. Without the XFixes extension owners are
    // not reported; reads work all the same.
    static std::shared_ptr<X11SelectionReader> connect(OwnerChanged onOwnerChanged = {});
    // Ends a read under way at once, also one waiting on a server that
    // another client has grabbed, and waits for it.
    ~X11SelectionReader();

    X11SelectionReader(const X11SelectionReader&) = delete;
    X11SelectionReader& operator=(const X11SelectionReader&) = delete;

    // Runs `read` on the reader's thread, after any read before it, and
    // ends the future when it has returned: with its exception when it threw.
    QFuture<void> read(Read read);

private:
    struct Answer {
        QByteArray bytes;
        std::uint32_t type = 0;
    };

    X11SelectionReader(xcb_connection_t* connection, std::uint32_t root, OwnerChanged onOwnerChanged);

    // The thread: runs the reads in order and, while none is queued, waits
    // for a notice of a new owner.
    void run();
    // Asks the server for notices of new clipboard owners; nothing without XFixes.
    void watchOwners();
    // Reports `event` when it is a notice of a new owner. Every event read
    // from the connection passes here, also those a read sets aside.
    void noteOwnerChange(const void* event);

    std::uint32_t atom(const QString& name);
    std::uint32_t currentOwner();
    // The names of atoms, asked together and remembered; an unknown atom has none.
    QHash<std::uint32_t, QString> names(const QList<std::uint32_t>& atoms);
    // One transfer of `target` into a window of its own: at most `maximum`
    // bytes and their type, or nothing when the owner refused.
    std::optional<Answer> convert(const Session& session, std::uint32_t target, qsizetype maximum);
    // Takes up to `maximum` bytes of the transfer's property; deletes it,
    // which asks an INCR owner for the next part, only when it was taken whole.
    Answer take(std::uint32_t window, std::uint32_t property, qsizetype maximum);
    // The next event that `matches` accepts, by `deadline` or the read's
    // end; checks the owner meanwhile.
    std::shared_ptr<void> waitFor(const Session& session, const std::function<bool(const void* event)>& matches,
        QDeadlineTimer deadline);

    xcb_connection_t* connection_;
    std::uint32_t root_;
    // Touched on the reader's thread only.
    QHash<QString, std::uint32_t> atoms_;
    QHash<std::uint32_t, QString> names_;
    std::atomic<bool> closing_ = false;
    const OwnerChanged onOwnerChanged_;
    // The first event number of XFixes on this connection; 0 while owners
    // are not watched.
    std::uint8_t fixesEvent_ = 0;
    // Wakes the thread from its wait when a read is queued or the reader closes.
    int wake_ = -1;
    std::mutex queueLock_;
    std::deque<std::function<void()>> queue_;
    std::thread thread_;
};

} // namespace tolvex
