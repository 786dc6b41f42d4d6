#include "Velmarin/Shelf/MotionDriver.h"

#include <algorithm>

namespace tolvex {

MotionDriver& MotionDriver::shared()
{
    static MotionDriver* driver = new MotionDriver();
    return *driver;
}

MotionDriver::MotionDriver()
{
    timer_.setTimerType(Qt::PreciseTimer);
    // One step per frame of a 60 Hz display; painting faster only loads
    // the machine.
    timer_.setInterval(16);
    connect(&timer_, &QTimer::timeout, this, [this] { frame(); });
    clock_.start();
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
    if (!timer_.isActive()) {
        lastFrame_ = clock_.nsecsElapsed();
        timer_.start();
    }
}

int MotionDriver::activeCount() const
{
    return static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](const Client& c) { return !c.owner.isNull(); }));
}

void MotionDriver::frame()
{
    const qint64 now = clock_.nsecsElapsed();
    // A stalled frame (a modal loop, a suspended process) must not fling
    // springs: never step more than a tenth of a second at once.
    const double seconds = std::min((now - lastFrame_) / 1e9, 0.1);
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
        timer_.stop();
}

} // namespace tolvex
