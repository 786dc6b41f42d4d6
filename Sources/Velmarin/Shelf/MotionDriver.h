#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

namespace tolvex {

// One frame clock for every animated shelf widget, so that thirty swaying
// cards advance and repaint in the same frame instead of thirty timers
// drifting apart. A client asks for frames while it has motion under way;
// its step answers whether it wants more.
class MotionDriver final : public QObject {
public:
    using Step = std::function<bool(double seconds)>;

    static MotionDriver& shared();

    // Calls `step` with the seconds since the last frame until it answers
    // false or `owner` is destroyed. A second request of the same owner
    // replaces its step.
    void request(QObject* owner, Step step);
    int activeCount() const;

private:
    MotionDriver();
    void frame();

    struct Client {
        QPointer<QObject> owner;
        Step step;
        // Tells a step replaced during a frame from the one that ran.
        quint64 serial = 0;
    };
    std::vector<Client> clients_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastFrame_ = 0;
    quint64 nextSerial_ = 0;
};

} // namespace tolvex
