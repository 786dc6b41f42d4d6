#include "Velmarin/Windows/IntakeSettingsModel.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Common/ChooserFolders.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Platform/BackgroundPriority.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"

#include <QCoro/QCoroFuture>
#include <QFile>
#include <QFileDialog>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <filesystem>
#include <memory>
#include <system_error>

namespace tolvex {

namespace {

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

std::optional<QString> execPanel(QFileDialog& panel)
{
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return std::nullopt;
    return panel.selectedFiles().constFirst();
}

// Measurements only read the disk; they must never crowd out the GUI thread
// or the decoders, so they get a small pool of their own at low priority.
QThreadPool& measurementPool()
{
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool;
        created->setMaxThreadCount(2);
        return created;
    }();
    return *pool;
}

// The size of one top-level folder, or nothing when it cannot be measured.
std::optional<std::int64_t> folderSize(const std::filesystem::path& folder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::none, error);
    if (error)
        return std::nullopt;
    std::int64_t total = 0;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
        if (error)
            return std::nullopt;
        const fs::file_status status = it->symlink_status(error);
        if (error)
            return std::nullopt;
        if (fs::is_symlink(status)) {
            // Counted as itself: its target may lie anywhere, even outside the data root.
            it.disable_recursion_pending();
            continue;
        }
        if (fs::is_regular_file(status)) {
            const std::uintmax_t size = it->file_size(error);
            if (error)
                return std::nullopt;
            total += static_cast<std::int64_t>(size);
        }
    }
    if (error)
        return std::nullopt;
    return total;
}

} // namespace

QStringList IntakeSettingsModel::usageFolders()
{
    return {DataRoot::materialsFolder(), DataRoot::exportsFolder(), DataRoot::draftsFolder(),
        DataRoot::transactionsFolder(), DataRoot::cleanupRecordsFolder()};
}

IntakeSettingsModel::IntakeSettingsModel(ClipboardImportService& service, CaptureFolderCoordinator& capture,
    QUrl libraryURL, MaterialStore* store, std::function<bool()> canClean, CleanupHandler onCleanup, QObject* parent)
    : QObject(parent), runExportPanel(&execPanel), service_(service), capture_(capture),
      libraryURL_(std::move(libraryURL)), cleanupStore_(store), canClean_(std::move(canClean)),
      onCleanup_(std::move(onCleanup)), preferences_(service.preferences())
{
    if (!canClean_)
        canClean_ = [] { return true; };
    refresh();
}

IntakeSettingsModel::~IntakeSettingsModel() = default;

std::optional<StorageCleanupPlan> IntakeSettingsModel::selectedCleanupPlan() const
{
    if (!cleanupPlan_)
        return std::nullopt;
    return cleanupPlan_->selecting(selectedCleanupPaths_);
}

void IntakeSettingsModel::setPage(int page)
{
    page_ = page;
    emit changed();
}

void IntakeSettingsModel::setCleanupPathSelected(const QString& relativePath, bool selected)
{
    if (selected)
        selectedCleanupPaths_.insert(relativePath);
    else
        selectedCleanupPaths_.remove(relativePath);
    emit changed();
}

IntakeSettingsModel::PrivacyMark IntakeSettingsModel::privacyMark() const
{
    if (const Line* line = privacyLine)
        return {true, line->privacyEpoch()};
    return {};
}

void IntakeSettingsModel::refresh()
{
    // A save in flight keeps the preferences it has set until it reports.
    if (!saving_)
        preferences_ = service_.preferences();
    saving_ = service_.isSavingPreferences();
    captureEnabled_ = capture_.isEnabled();
    const auto& setting = capture_.setting();
    capturePath_ = setting ? setting->lastKnownPath : text(MessageKey::captureNoFolder);
    captureStatus_ = text(capture_.status());
    clipboardStatus_ = text(service_.stateMessage());
    emit changed();
}

QCoro::Task<void> IntakeSettingsModel::save(ClipboardPreference preference)
{
    if (saving_) {
        // The switch that wrote springs back to what is shown.
        emit changed();
        co_return;
    }
    const std::int64_t revision = ++saveRevision_;
    saving_ = true;
    preferences_ = preference;
    failed_ = false;
    emit changed();

    const TaskGuard guard(this, {});
    auto saving = service_.updatePreferences(preference);
    const bool ok = co_await std::move(saving);
    if (!guard || saveRevision_ != revision)
        co_return;
    failed_ = !ok;
    retryPreferences_ = ok ? std::nullopt : std::optional(preference);
    didSave_ = didSave_ || ok;
    // The service's view wins: a failed save shows what is still in force.
    preferences_ = service_.preferences();
    saving_ = false;
    emit changed();
}

void IntakeSettingsModel::retry()
{
    if (retryPreferences_)
        launchTask(save(*retryPreferences_), nullptr);
}

void IntakeSettingsModel::writePreference(bool ClipboardPreference::*field, bool value)
{
    ClipboardPreference copy = preferences_;
    copy.*field = value;
    launchTask(save(copy), nullptr);
}

void IntakeSettingsModel::toggleCapture()
{
    if (capture_.setting())
        capture_.toggleEnabled();
    else
        capture_.chooseFolder();
    refresh();
}

QCoro::Task<void> IntakeSettingsModel::refreshUsage()
{
    // Measurements overlap (opening the window, then a cleanup): one started
    // before a cleanup may finish after the one started after it, and its
    // sizes are the old ones. Only the latest started may report.
    const std::uint64_t generation = ++usageGeneration_;
    const QString root = libraryURL_.toLocalFile();
    const TaskGuard guard(this, {&usageGeneration_});
    auto measuring = QtConcurrent::run(&measurementPool(), [root, measure = measure] {
        lowerCurrentThreadPriority();
        return measure(root);
    });
    std::optional<Usage> measured = co_await std::move(measuring);
    if (!guard || usageGeneration_ != generation)
        co_return;
    usage_ = std::move(measured);
    usageFailed_ = !usage_.has_value();
    emit changed();
}

std::optional<IntakeSettingsModel::Usage> IntakeSettingsModel::measureUsage(const QString& root)
{
    namespace fs = std::filesystem;
    const fs::path rootPath(QFile::encodeName(root).toStdString());
    std::error_code error;
    const fs::file_status rootStatus = fs::symlink_status(rootPath, error);
    if (error || fs::is_symlink(rootStatus) || !fs::is_directory(rootStatus))
        return std::nullopt;

    // Hidden entries count: a name is present when the listing holds it.
    QSet<QString> children;
    fs::directory_iterator listing(rootPath, error);
    if (error)
        return std::nullopt;
    for (const fs::directory_iterator end; listing != end; listing.increment(error)) {
        if (error)
            return std::nullopt;
        children.insert(QFile::decodeName(listing->path().filename().c_str()));
    }
    if (error)
        return std::nullopt;

    Usage usage;
    for (const QString& name : usageFolders()) {
        if (!children.contains(name)) {
            usage.insert(name, 0);
            continue;
        }
        const fs::path child = rootPath / QFile::encodeName(name).toStdString();
        const fs::file_status status = fs::symlink_status(child, error);
        if (error || fs::is_symlink(status) || !fs::is_directory(status))
            return std::nullopt;
        const std::optional<std::int64_t> size = folderSize(child);
        if (!size)
            return std::nullopt;
        usage.insert(name, *size);
    }
    return usage;
}

void IntakeSettingsModel::beginCleanupWork()
{
    cleanupBusy_ = true;
    cleanupMessage_.reset();
    cleanupFailed_ = false;
    emit changed();
}

QCoro::Task<void> IntakeSettingsModel::previewCleanup()
{
    const PrivacyMark mark = privacyMark();
    if (!cleanupStore_ || cleanupBusy_)
        co_return;
    beginCleanupWork();

    const TaskGuard guard(this, {});
    std::optional<StorageCleanupPlan> plan;
    if (canClean_()) {
        try {
            auto previewing = awaitResult(
                cleanupStore_->previewStorageCleanup(Date::now(), heldDrafts ? heldDrafts() : QSet<QUuid>()));
            plan = co_await std::move(previewing);
        } catch (...) {
            plan.reset();
        }
    }
    if (!guard)
        co_return;
    if (plan && (privacyMark() != mark || !canClean_()))
        plan.reset();

    if (plan) {
        // Unfinished work may hold marks or a note never published: it goes
        // only when the user ticks it, and until then keeps its material.
        selectedCleanupPaths_.clear();
        for (const CleanupTarget& target : plan->targets) {
            if (target.kind != CleanupTarget::Kind::pendingDraft)
                selectedCleanupPaths_.insert(target.relativePath);
        }
        const bool empty = plan->targets.isEmpty() && plan->stagingInventory.isEmpty();
        cleanupPlan_ = std::move(plan);
        if (empty)
            cleanupMessage_ = text(MessageKey::cleanupEmpty);
        else
            showCleanup_ = true;
    } else {
        cleanupFailed_ = true;
        cleanupMessage_ = text(MessageKey::cleanupUnavailable);
    }
    cleanupBusy_ = false;
    emit changed();
}

QCoro::Task<void> IntakeSettingsModel::confirmCleanup()
{
    std::optional<StorageCleanupPlan> selected = selectedCleanupPlan();
    if (!cleanupStore_ || !selected || selected->targets.isEmpty() || !showCleanup_ || cleanupBusy_)
        co_return;
    // Work a window took up since the preview re-plans as held, which the
    // store answers as a changed library rather than trash it.
    if (heldDrafts)
        selected->heldDrafts.unite(heldDrafts());
    beginCleanupWork();

    const TaskGuard guard(this, {});
    MaterialStore* store = cleanupStore_;
    std::optional<StorageCleanupResult> result;
    bool sourceChanged = false;
    if (canClean_()) {
        try {
            auto cleaning = awaitResult(store->cleanStorage(*selected));
            result = co_await std::move(cleaning);
        } catch (const StoreError& error) {
            sourceChanged = error.code() == StoreError::Code::sourceChanged;
        } catch (...) {
        }
    }
    if (!guard)
        co_return;

    if (result) {
        // Once files have moved, the outcome is reported whatever happens meanwhile.
        if (onCleanup_) {
            auto handing = onCleanup_(result->snapshot);
            co_await std::move(handing);
            if (!guard)
                co_return;
        }
        cleanupFailed_ = result->failedCount > 0 || result->unverifiedCount > 0;
        cleanupMessage_ = MessageFormat::format(
            text(cleanupFailed_ ? MessageKey::cleanupPartial : MessageKey::cleanupDone),
            {result->movedCount, formatByteCount(result->movedBytes)});
    } else {
        cleanupFailed_ = true;
        cleanupMessage_ = text(sourceChanged ? MessageKey::cleanupChanged : MessageKey::cleanupUnavailable);
        emit changed();
        // The shelf shows whatever the store holds now; a failing load changes nothing.
        std::optional<WorkspaceSnapshot> current;
        try {
            auto loading = awaitResult(store->load());
            current = co_await std::move(loading);
        } catch (...) {
        }
        if (!guard)
            co_return;
        if (current && onCleanup_) {
            auto handing = onCleanup_(*current);
            co_await std::move(handing);
            if (!guard)
                co_return;
        }
    }
    emit changed();
    auto finishing = finishCleanup();
    co_await std::move(finishing);
}

QCoro::Task<void> IntakeSettingsModel::finishCleanup()
{
    const TaskGuard guard(this, {});
    auto measuring = refreshUsage();
    co_await std::move(measuring);
    if (!guard)
        co_return;
    cleanupBusy_ = false;
    showCleanup_ = false;
    cleanupPlan_.reset();
    emit changed();
}

void IntakeSettingsModel::cancelCleanup()
{
    if (cleanupBusy_)
        return;
    showCleanup_ = false;
    cleanupPlan_.reset();
    emit changed();
}

void IntakeSettingsModel::hideCleanup()
{
    if (exportPanel_)
        exportPanel_->reject();
    if (QFileDialog* folderPanel = capture_.folderPanel())
        folderPanel->reject();
    showCleanup_ = false;
    cleanupPlan_.reset();
    emit changed();
}

void IntakeSettingsModel::chooseStagingExport(const CleanupTarget& target)
{
    if (cleanupBusy_ || !canClean_())
        return;
    const PrivacyMark mark = privacyMark();
    const auto panel = std::make_unique<QFileDialog>();
    NameOnlyFileIconProvider::install(*panel);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setDirectory(ChooserFolders::documents());
    panel->selectFile(target.title);
    exportPanel_ = panel.get();

    // The modal loop may delete the model; the runner must outlive it.
    const PanelRunner run = runExportPanel;
    QPointer<IntakeSettingsModel> self(this);
    QFileDialog& dialog = *panel;
    const std::optional<QString> chosen = runRegisteredPanel(privacyLine, dialog, [run, &dialog] { return run(dialog); });
    if (!self)
        return;
    exportPanel_ = nullptr;
    if (!chosen || chosen->isEmpty() || !canClean_() || privacyMark() != mark)
        return;
    const QUrl destination = QUrl::fromLocalFile(*chosen);
    launchTask(
        [](QPointer<IntakeSettingsModel> model, CleanupTarget target, QUrl destination,
            PrivacyMark mark) -> QCoro::Task<void> {
            if (!model || !model->canClean_() || model->privacyMark() != mark)
                co_return;
            auto exporting = model->exportStaging(std::move(target), std::move(destination));
            co_await std::move(exporting);
        }(self, target, destination, mark),
        nullptr);
}

QCoro::Task<void> IntakeSettingsModel::exportStaging(CleanupTarget target, QUrl destination)
{
    if (!cleanupStore_ || !cleanupPlan_ || cleanupBusy_ || !canClean_())
        co_return;
    cleanupBusy_ = true;
    emit changed();
    const TaskGuard guard(this, {});
    bool ok = true;
    try {
        auto exporting = awaitResult(cleanupStore_->exportStagingCopy(target, *cleanupPlan_, destination));
        co_await std::move(exporting);
    } catch (...) {
        ok = false;
    }
    if (!guard)
        co_return;
    if (!ok) {
        cleanupFailed_ = true;
        cleanupMessage_ = text(MessageKey::stagingExportFailed);
    } else if (canClean_()) {
        cleanupFailed_ = false;
        cleanupMessage_ = text(MessageKey::stagingExportDone);
    }
    cleanupBusy_ = false;
    emit changed();
}

} // namespace tolvex
