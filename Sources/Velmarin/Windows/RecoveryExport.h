#pragma once

#include "TolvexCore/Model/EditSession.h"
#include "Velmarin/Windows/HeldDrafts.h"

#include <QCoro/QCoroTask>
#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

namespace tolvex {

class Line;
class MaterialStore;

// The recovery window's copies out: of a session's working file that its
// editor cannot open, and of a staging file that nobody owns, each written
// where the user chooses in a save panel of our own, which a privacy cover
// can end. A copy says so on the line only while the line is shown and its
// privacy epoch has not moved since the copy began; a failed copy is
// reported whatever the cover. GUI thread.
class RecoveryExport final : public QObject {
public:
    // Runs a save dialog; returns the chosen path, or nothing when cancelled.
    using SavePanelRunner = std::function<std::optional<QString>(QFileDialog&)>;

    struct Hooks {
        // The library's store; throws when the line has none.
        std::function<MaterialStore&()> store;
        // What open windows hold, which a staging file's cleanup leaves alone.
        HeldDrafts::Source held;
        SavePanelRunner runSavePanel;
        std::function<void(std::exception_ptr)> onError;
    };

    // `line` is held weakly.
    RecoveryExport(Line& line, Hooks hooks);

    // Nothing while the line is covered.
    QCoro::Task<void> exportSession(const EditSession& session);
    // A working file of the data root, named after its material when the
    // line holds that material.
    QCoro::Task<void> exportWorkingFile(QUrl file, std::optional<QUuid> materialID);
    QCoro::Task<void> exportStaging(QString relativePath);

    // The save panel while it runs.
    QFileDialog* panel() const { return panel_; }

private:
    bool guardHolds(std::uint64_t epoch) const;
    // The privacy epoch an export begins under; none without a line or while covered.
    std::optional<std::uint64_t> uncoveredEpoch() const;
    // Runs the save panel as a modal of the line; nothing while covered or
    // when a cover came while it ran.
    std::optional<QString> chooseDestination(const QString& suggestedName);
    // Asks where (the panel offers `suggestedName`), then copies there with
    // `write` and says so on the line while the guard of `epoch` holds; a
    // failed copy is reported whatever the cover.
    QCoro::Task<void> writeExport(
        QString suggestedName, std::uint64_t epoch, std::function<QCoro::Task<void>(QUrl)> write);
    void fail(std::exception_ptr error);

    QPointer<Line> line_;
    Hooks hooks_;
    QPointer<QFileDialog> panel_;
};

} // namespace tolvex
