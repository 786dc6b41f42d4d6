#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/NoteDraft.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QPointer>
#include <QUuid>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tolvex {

class Line;
class Markup;
class MaterialActions;

// The recovery window (pending edits and drafts, staging files, materials to
// review, the taken-down history) and the 8-second undo of a take-down.
// This shell's version keeps the undo and shows no window yet.
class WorkflowRecoveryController {
public:
    static constexpr double undoSeconds = 8;

    // Without a markup session the shared one is used.
    WorkflowRecoveryController(Line& line, MaterialActions& actions, Markup* markup = nullptr);
    virtual ~WorkflowRecoveryController() = default;

    std::function<void(std::exception_ptr)> onError;
    std::function<void(const EditSession&)> onResumeText;
    std::function<void(const NoteDraft&)> onResumeNote;

    virtual QCoro::Task<void> refresh(bool showIfNeeded);
    virtual QCoro::Task<void> show(std::optional<std::uint64_t> privacyEpoch);
    virtual QCoro::Task<void> showTakenDown();

    // Opens the undo window for the cards just taken down; nothing while
    // the line is covered or when no card went down.
    void noteTakenDown(const QList<QUuid>& ids, Date at);
    bool canUndoTakeDown(Date at) const;
    // Hangs the cards of the latest take-down again. Throws the store's error.
    QCoro::Task<void> undoTakeDown(Date at);

    const QList<QUuid>& takenDownIDs() const { return undoIDs_; }

protected:
    QPointer<Line> line_;
    MaterialActions& actions_;
    Markup& markup_;
    QList<QUuid> undoIDs_;
    std::optional<Date> undoDeadline_;
    std::uint64_t undoToken_ = 0;
    // Lets a running undo tell that the controller is gone.
    std::shared_ptr<int> life_ = std::make_shared<int>(0);
};

} // namespace tolvex
