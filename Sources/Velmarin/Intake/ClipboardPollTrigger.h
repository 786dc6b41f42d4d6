#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tolvex {

class ClipboardImportService;

// Turns notices that the clipboard changed into polls of the intake, so
// that a copy lands without waiting for the poll timer. Notices come in
// bursts (Qt's and the selection reader's for one new owner, an owner that
// sets the clipboard several times): those within `settleTime` make one
// poll, and those arriving while a poll runs make one more after it. A poll
// that could not look, because another intake operation held the service
// (a timer's poll that sampled the clipboard just before the change, a
// drop), is tried again `settleTime` later until it looks. GUI thread only.
class ClipboardPollTrigger final : public QObject {
public:
    static constexpr std::chrono::milliseconds settleTime{10};

    // Polls once; answers false when the intake could not look now.
    using Poll = std::function<QCoro::Task<bool>()>;

    explicit ClipboardPollTrigger(Poll poll, QObject* parent = nullptr);

    // The poll of the service that `service` answers at the time (none: nothing to poll).
    static Poll pollOf(std::function<ClipboardImportService*()> service);

    void request();

private:
    QCoro::Task<void> run();

    Poll poll_;
    QTimer settle_;
    bool polling_ = false;
    bool again_ = false;
};

} // namespace tolvex
