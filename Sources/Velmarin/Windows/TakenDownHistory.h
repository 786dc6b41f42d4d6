#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUuid>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

class QScrollArea;
class QWidget;

namespace tolvex {

class Line;

// The taken-down history window of the selected group with its rehang
// buttons, and the 8-second undo of the latest take-down. The recovery
// controller owns it and tells it of every snapshot. GUI thread.
class TakenDownHistory final : public QObject {
public:
    static constexpr double undoSeconds = 8;
    static constexpr int titleLimit = 100;

    using Scheduler = std::function<void(std::chrono::milliseconds delay, std::function<void()> fire)>;

    explicit TakenDownHistory(Line& line);
    ~TakenDownHistory() override;

    std::function<void(std::exception_ptr)> onError;
    Scheduler schedule;

    QCoro::Task<void> show();
    // Hangs one taken-down or archived material again; anything else is
    // skipped. Throws the store's error.
    QCoro::Task<void> rehang(QUuid id);
    // Arms the undo and says how many cards went down.
    void noteTakenDown(const QList<QUuid>& ids, Date at);
    bool canUndoTakeDown(Date at) const;
    // Hangs the cards of the latest take-down again, all in one render and
    // one feedback. Past the deadline it says that the undo has expired
    // (a menu opened in time may be clicked too late).
    QCoro::Task<void> undoTakeDown(Date at);

    // A visible window follows every shown snapshot.
    void follow(const WorkspaceSnapshot& snapshot);
    // A privacy cover: the window is covered and let go, the undo dropped.
    void cover();

    static QList<MaterialRecord> records(const WorkspaceSnapshot& snapshot);

    const QList<QUuid>& undoIDs() const { return undoIDs_; }
    QWidget* window() const { return window_; }

private:
    bool guardHolds(std::uint64_t epoch) const;
    QScrollArea* content(const WorkspaceSnapshot& snapshot);
    void update(QWidget* window, const WorkspaceSnapshot& snapshot);
    // Hangs each id that is still down or archived and drops it from
    // `undoIDs_`; a failed one stays there for a retry and its error is
    // thrown. The line shows what was hung, once, also when one fails.
    QCoro::Task<int> hangAll(QList<QUuid> ids);

    QPointer<Line> line_;
    QPointer<QWidget> window_;
    std::optional<QUuid> matterID_;
    QList<QUuid> undoIDs_;
    Date undoDeadline_{-1e18};
    std::uint64_t undoToken_ = 0;
    // The feedback the latest take-down wrote, cleared only while it still shows.
    QString undoFeedback_;
};

} // namespace tolvex
