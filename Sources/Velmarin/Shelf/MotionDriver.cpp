#include "Velmarin/Shelf/MotionDriver.h"

#include "Velmarin/Shelf/QtFrameClock.h"

#include <algorithm>

namespace tolvex {

MotionDriver& MotionDriver::shared()
{
    static MotionDriver* driver = new MotionDriver();
    return *driver;
}

MotionDriver::MotionDriver() : clock_(std::make_shared<QtFrameClock>()) {}

void MotionDriver::useClock(std::shared_ptr<FrameClock> clock)
{
    clock_->stopFrames();
    clients_.clear();
    clock_ = std::move(clock);
}

void MotionDriver::request(QObject* owner, Step step)
{
    const quint64 serial = ++nextSerial_;
    for (Client& client : clients_) {
        if (client.owner == owner) {
            client.step = std::move(step);
            client.serial = serial;
            return;
        }
    }
    clients_.push_back({owner, std::move(step), serial});
    if (!clock_->framesRunning()) {
        lastFrame_ = clock_->now();
        clock_->startFrames([this] { frame(); });
    }
}

int MotionDriver::activeCount() const
{
    return static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](const Client& c) { return !c.owner.isNull(); }));
}

void MotionDriver::after(double seconds, QObject* owner, std::function<void()> step)
{
    clock_->after(seconds, owner, std::move(step));
}

void MotionDriver::frame()
{
    ++frames_;
    const double now = clock_->now();
    // A stalled frame (a modal loop, a suspended process) must not fling
    // springs: never step more than a tenth of a second at once.
    const double seconds = std::clamp(now - lastFrame_, 0.0, 0.1);
    lastFrame_ = now;
    const std::vector<Client> round = clients_;
    std::vector<quint64> finished;
    for (const Client& client : round) {
        if (!client.owner || !client.step(seconds))
            finished.push_back(client.serial);
    }
    // A step asked for again while the frame ran has not finished.
    std::erase_if(clients_, [&](const Client& client) {
        return !client.owner || std::find(finished.begin(), finished.end(), client.serial) != finished.end();
    });
    if (clients_.empty())
        clock_->stopFrames();
}

} // namespace tolvex
