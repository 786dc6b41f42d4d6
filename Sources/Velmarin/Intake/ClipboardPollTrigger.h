#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tolvex {

// Turns notices that the clipboard changed into polls of the intake, so
// that a copy lands without waiting for the poll timer. Notices come in
// bursts (Qt's and the selection reader's for one new owner, an owner that
// sets the clipboard several times): those within `settleTime` make one
// poll, and those arriving while a poll runs make one more after it.
// GUI thread only.
class ClipboardPollTrigger final : public QObject {
public:
    static constexpr std::chrono::milliseconds settleTime{10};

    explicit ClipboardPollTrigger(std::function<QCoro::Task<void>()> poll, QObject* parent = nullptr);

    void request();

private:
    QCoro::Task<void> run();

    std::function<QCoro::Task<void>()> poll_;
    QTimer settle_;
    bool polling_ = false;
    bool again_ = false;
};

} // namespace tolvex
