#include "Velmarin/Windows/RecoveryExport.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"
#include "Velmarin/Common/ChooserFolders.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/RecoveryLists.h"

#include <QCoro/QCoroFuture>
#include <QFileInfo>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <memory>

namespace tolvex {

RecoveryExport::RecoveryExport(Line& line, Hooks hooks) : line_(&line), hooks_(std::move(hooks))
{
}

bool RecoveryExport::guardHolds(std::uint64_t epoch) const
{
    return line_ && EditorSupport::privacyHolds(*line_, epoch);
}

void RecoveryExport::fail(std::exception_ptr error)
{
    if (hooks_.onError)
        hooks_.onError(error);
}

std::optional<QString> RecoveryExport::chooseDestination(const QString& suggestedName)
{
    if (!line_ || line_->isCovered())
        return std::nullopt;
    const QPointer<RecoveryExport> self(this);
    const auto panel = std::make_unique<QFileDialog>();
    NameOnlyFileIconProvider::install(*panel);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setDirectory(ChooserFolders::documents());
    panel->selectFile(suggestedName);
    panel_ = panel.get();
    // The modal loop may end the export; the runner must outlive it.
    const SavePanelRunner run = hooks_.runSavePanel;
    std::optional<QString> chosen;
    {
        ModalRegistration registration(*line_, panel.get());
        chosen = run(*panel);
        if (registration.cancelled())
            chosen.reset();
    }
    if (!self)
        return std::nullopt;
    panel_ = nullptr;
    return chosen;
}

std::optional<std::uint64_t> RecoveryExport::uncoveredEpoch() const
{
    if (!line_)
        return std::nullopt;
    const std::uint64_t epoch = line_->privacyEpoch();
    if (!guardHolds(epoch))
        return std::nullopt;
    return epoch;
}

QCoro::Task<void> RecoveryExport::writeExport(
    QString suggestedName, std::uint64_t epoch, std::function<QCoro::Task<void>(QUrl)> write)
{
    QPointer<RecoveryExport> self(this);
    const std::optional<QString> chosen = chooseDestination(suggestedName);
    if (!self || !chosen || chosen->isEmpty() || !guardHolds(epoch))
        co_return;
    try {
        auto writing = write(QUrl::fromLocalFile(*chosen));
        co_await std::move(writing);
    } catch (...) {
        if (self)
            self->fail(std::current_exception());
        co_return;
    }
    if (self && guardHolds(epoch))
        line_->inputFeedback = RecoveryLists::text(MessageKey::stagingExportDone);
}

QCoro::Task<void> RecoveryExport::exportSession(const EditSession& session)
{
    return exportWorkingFile(session.workingURL, session.materialID);
}

QCoro::Task<void> RecoveryExport::exportWorkingFile(QUrl file, std::optional<QUuid> materialID)
{
    const std::optional<std::uint64_t> epoch = uncoveredEpoch();
    if (!epoch)
        co_return;
    const QString suffix = QFileInfo(file.toLocalFile()).suffix();
    const MaterialRecord* record = materialID ? line_->snapshot->findMaterial(*materialID) : nullptr;
    const QString name = record ? ContentStore::suggestedExportFilename(*record, suffix)
                                : QFileInfo(file.toLocalFile()).fileName();
    auto exporting = writeExport(name, *epoch, [file](QUrl destination) {
        return awaitResult(QtConcurrent::run(QThreadPool::globalInstance(), [file, destination] {
            SystemFileOperations::shared()->writeAtomicSeparateCopy(file, destination);
        }));
    });
    co_await std::move(exporting);
}

QCoro::Task<void> RecoveryExport::exportStaging(QString relativePath)
{
    const std::optional<std::uint64_t> epoch = uncoveredEpoch();
    if (!epoch)
        co_return;
    QPointer<RecoveryExport> self(this);
    StorageCleanupPlan plan;
    try {
        auto previewing = hooks_.store().previewStorageCleanup(Date::now(), hooks_.held());
        plan = co_await std::move(previewing);
    } catch (...) {
        if (self)
            self->fail(std::current_exception());
        co_return;
    }
    if (!self)
        co_return;
    const auto target = std::find_if(plan.targets.begin(), plan.targets.end(), [&](const CleanupTarget& candidate) {
        return candidate.kind == CleanupTarget::Kind::unownedStaging && candidate.relativePath == relativePath;
    });
    if (!guardHolds(*epoch) || target == plan.targets.end()) {
        fail(std::make_exception_ptr(StoreError::sourceChanged()));
        co_return;
    }
    const CleanupTarget chosenTarget = *target;
    auto exporting = writeExport(chosenTarget.title, *epoch,
        [this, chosenTarget, plan = std::move(plan)](QUrl destination) -> QCoro::Task<void> {
            auto copying = hooks_.store().exportStagingCopy(chosenTarget, plan, destination);
            co_await std::move(copying);
        });
    co_await std::move(exporting);
}

} // namespace tolvex
