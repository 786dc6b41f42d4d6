#include "Velmarin/Platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tolvex::TerminationSignals {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    // Only async-signal-safe work here: one byte down the pipe.
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

} // namespace

void route(std::function<void()> onTermination)
{
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onTermination = std::move(onTermination)] {
        char buffer[16];
        while (::read(signalPipe[1], buffer, sizeof buffer) > 0) {
        }
        if (onTermination)
            onTermination();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
}

void endWithin(std::chrono::milliseconds bound)
{
    static std::atomic<bool> armed = false;
    if (armed.exchange(true))
        return;
    std::thread([bound] {
        std::this_thread::sleep_for(bound);
        std::_Exit(0);
    }).detach();
}

} // namespace tolvex::TerminationSignals
