#pragma once

#include <QElapsedTimer>
#include <QPoint>

#include <cstdint>
#include <functional>
#include <memory>

namespace tolvex {

// The pointer's position without an X round trip while it rests. Asking the
// server where the pointer is costs a round trip; polled 30 times a second
// that is most of what an idle program spends. Instead, XInput2 raw motion
// selected on the root window says when a device moved the pointer, and the
// server is asked again only then. A warp (a program placing the pointer)
// moves it without a device, so an answer older than `recheckAfter` is
// renewed as well: a fifth of a second, well inside the shelf's half-second
// away delay, so a warped pointer is never taken for one that stayed away.
// Without X11 or XInput2 every call asks. GUI thread only.
class X11PointerMotion {
public:
    using Ask = std::function<QPoint()>;

    // How old an answer may grow before it is renewed.
    static constexpr double warpRecheck = 0.2;

    // The default asker asks the server over a connection of its own (see
    // OwnQuery), in Qt's logical coordinates; without X11 it is QCursor::pos().
    explicit X11PointerMotion(Ask ask = {}, double recheckAfter = warpRecheck);
    ~X11PointerMotion();
    X11PointerMotion(const X11PointerMotion&) = delete;
    X11PointerMotion& operator=(const X11PointerMotion&) = delete;

    // The pointer, as the server last told it, or newly asked when a device
    // moved it since or the answer has grown old.
    QPoint position();
    bool isWatching() const;
    // The last answer, without asking.
    QPoint lastAnswer() const { return position_; }
    // The next position() asks the server.
    void renew() { stale_ = true; }
    // Run when a device has moved the pointer since the last answer, once
    // per answer (GUI thread, from the event filter that saw the motion).
    std::function<void()> onMoved;
    // Round trips asked by every watcher of the process so far (the
    // start-up benchmark reports them).
    static std::int64_t askedCount();

private:
    class Filter;
    class OwnQuery;
    void moved();
    void watch(bool on);

    Ask ask_;
    qint64 recheckAfterNs_;
    std::unique_ptr<Filter> filter_;
    // Only for the default asker, and only over X11.
    std::unique_ptr<OwnQuery> query_;
    // Raw motion is selected only until the first event after an answer:
    // one event is enough to know the answer is old, and a moving mouse
    // would otherwise wake the program hundreds of times a second.
    bool selected_ = false;
    bool stale_ = true;
    QPoint position_;
    QElapsedTimer answeredAt_;
};

} // namespace tolvex
