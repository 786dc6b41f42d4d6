#include "Velmarin/Intake/CaptureFolderCoordinator.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Common/ChooserFolders.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/CaptureRect.h"
#include "Velmarin/Platform/Bookmark.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Presentation/PlatformErrorForm.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTimer>

#include <system_error>

namespace tolvex {

namespace {

Q_LOGGING_CATEGORY(lineLog, "local.tolvex.Tolvex.line")

// The folder command does not use the capacity; this is what such commands pass.
constexpr std::int64_t commandCapacity = PrivacyCover::privacyCapacity;

// The digest of the payload a material shows; empty when it is not found.
QString activeDigest(const WorkspaceSnapshot& snapshot, const QUuid& materialID)
{
    for (const MaterialRecord& material : snapshot.materials) {
        if (material.id != materialID)
            continue;
        for (const MaterialVersion& version : material.versions) {
            if (version.id == material.activeVersionID)
                return version.sha256;
        }
    }
    return {};
}

std::optional<QString> execPanel(QFileDialog& panel)
{
    if (panel.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = panel.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    return chosen.first();
}

// The number an error carries in the log: the store's case index; for a
// file error the file manager's code where it has one, else the errno.
long errorCode(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const StoreError& storeError) {
        return storeError.errorCode();
    } catch (const std::system_error& systemError) {
        const PlatformErrorForm form = PlatformErrorForm::of(systemError);
        return form.domain == PlatformErrorForm::Domain::fileManager ? form.code : systemError.code().value();
    } catch (...) {
        return 0;
    }
}


// On the desktop only files carrying the screen-capture mark are taken; it
// holds much else besides screenshots.
bool isDesktop(const QString& folder)
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString resolvedDesktop = QFileInfo(desktop).canonicalFilePath();
    return !resolvedDesktop.isEmpty() && QFileInfo(folder).canonicalFilePath() == resolvedDesktop;
}

} // namespace

CaptureFolderCoordinator::CaptureFolderCoordinator(MaterialStore& store, QObject* parent)
    : QObject(parent), store_(store)
{
    runPanel = &execPanel;
}

CaptureFolderCoordinator::~CaptureFolderCoordinator()
{
    ++generation_;
    monitor_.stop();
}

CaptureFolderCoordinator::PrivacyMark CaptureFolderCoordinator::privacyMark() const
{
    return PrivacyMark{!privacyLine.isNull(), privacyLine ? privacyLine->privacyEpoch() : 0};
}

bool CaptureFolderCoordinator::privacyMoved(const PrivacyMark& mark) const
{
    if (!privacyLine.isNull() != mark.hadLine)
        return true;
    return privacyLine && (privacyLine->isCovered() || privacyLine->privacyEpoch() != mark.epoch);
}

void CaptureFolderCoordinator::setStatus(MessageKey status)
{
    status_ = status;
    if (const auto callback = onStatusChanged)
        callback();
}

void CaptureFolderCoordinator::reportError(std::exception_ptr error)
{
    if (const auto callback = onError)
        callback(error);
}

void CaptureFolderCoordinator::launch(QCoro::Task<void> task)
{
    launchTask(std::move(task), [self = QPointer<CaptureFolderCoordinator>(this)](std::exception_ptr error) {
        if (self)
            self->reportError(error);
    });
}

void CaptureFolderCoordinator::start(const CaptureFolderSetting& setting)
{
    const QString path = Bookmark::resolve(setting.bookmark);
    Bookmark::requireWatchableFolder(path);
    scopedFolder_ = QUrl::fromLocalFile(path);
    const bool onlyTagged = isDesktop(path);

    QPointer<CaptureFolderCoordinator> self(this);
    const auto ready = [self](const QUrl& url) {
        if (self)
            self->enqueue(url);
    };
    const auto failed = [self](const QUrl& url) {
        if (!self)
            return;
        self->pending_.insert(url);
        self->setStatus(MessageKey::captureIncomplete);
    };
    const auto invalidated = [self] {
        if (!self)
            return;
        self->stop();
        self->setStatus(MessageKey::captureUnavailable);
    };
    // Refused in the words the clipboard and a drop use for such a picture;
    // no retry could take it, so it is not left pending.
    const auto tooLarge = [self](const QUrl& url) {
        if (!self)
            return;
        self->pending_.remove(url);
        self->setStatus(MessageKey::imagePixelLimit);
    };
    try {
        monitor_.start(*scopedFolder_, onlyTagged, ready, failed, invalidated, tooLarge);
    } catch (...) {
        stop();
        setStatus(MessageKey::captureUnavailable);
        throw;
    }
    setStatus(MessageKey::captureActive);
}

void CaptureFolderCoordinator::stop()
{
    ++generation_;
    monitor_.stop();
    queue_.clear();
    pending_.clear();
    scopedFolder_.reset();
    setStatus(MessageKey::capturePaused);
}

void CaptureFolderCoordinator::restore(const WorkspaceSnapshot& snapshot)
{
    setting_ = snapshot.captureFolder;
    if (!setting_ || !setting_->enabled)
        return;
    try {
        start(*setting_);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        stop();
        setStatus(MessageKey::captureUnavailable);
        qCInfo(lineLog, "Capture restore failed with code %ld", errorCode(error));
        reportError(error);
    }
}

void CaptureFolderCoordinator::chooseFolder()
{
    if (privacyLine && privacyLine->isCovered())
        return;
    const PrivacyMark mark = privacyMark();

    const auto panel = std::make_unique<QFileDialog>(nullptr, appLocalizer().string(MessageKey::chooseCaptureFolder));
    NameOnlyFileIconProvider::install(*panel);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setFileMode(QFileDialog::Directory);
    panel->setDirectory(ChooserFolders::pictures());
    folderPanel_ = panel.get();

    // The modal loop may delete this coordinator; the runner must outlive it.
    const PanelRunner run = runPanel;
    QPointer<CaptureFolderCoordinator> self(this);
    QFileDialog& dialog = *panel;
    const std::optional<QString> chosen = runRegisteredPanel(privacyLine, dialog, [run, &dialog] { return run(dialog); });
    if (!self)
        return;
    folderPanel_ = nullptr;
    if (!chosen || chosen->isEmpty() || privacyMoved(mark))
        return;
    launch(adoptChosenFolder(*chosen, mark));
}

QCoro::Task<void> CaptureFolderCoordinator::adoptChosenFolder(QString path, PrivacyMark mark)
{
    if (privacyMoved(mark))
        co_return;
    CaptureFolderSetting setting;
    try {
        Bookmark::requireWatchableFolder(path);
        setting = CaptureFolderSetting{Bookmark::create(path), path, true};
    } catch (...) {
        reportError(std::current_exception());
        co_return;
    }
    // Choosing a folder is the same change as switching it on.
    QCoro::Task<void> applying = applySetting(setting);
    co_await std::move(applying);
}

void CaptureFolderCoordinator::toggleEnabled()
{
    if (!setting_) {
        chooseFolder();
        return;
    }
    CaptureFolderSetting copy = *setting_;
    copy.enabled = !isEnabled();
    launch(applySetting(copy));
}

QCoro::Task<void> CaptureFolderCoordinator::applySetting(CaptureFolderSetting copy)
{
    QPointer<CaptureFolderCoordinator> self(this);
    std::exception_ptr failure;
    WorkspaceSnapshot snapshot;
    try {
        QCoro::Task<WorkspaceSnapshot> applying
            = awaitResult(store_.apply(MaterialCommand::setCaptureFolder(copy), commandCapacity));
        snapshot = co_await std::move(applying);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        reportError(failure);
        co_return;
    }
    stop();
    setting_ = copy;
    if (const auto callback = onSnapshot) {
        try {
            QCoro::Task<void> handling = callback(snapshot);
            co_await std::move(handling);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (failure)
            reportError(failure);
    }
    if (!copy.enabled)
        co_return;
    try {
        start(copy);
    } catch (...) {
        reportError(std::current_exception());
    }
}

void CaptureFolderCoordinator::retryPending()
{
    const QList<QUrl> files = pending_.values();
    for (const QUrl& url : files)
        monitor_.retry(url);
}

void CaptureFolderCoordinator::enqueue(const QUrl& url)
{
    if (queue_.contains(url))
        return;
    queue_.append(url);
    if (draining_)
        return;
    draining_ = true;
    launch(drain());
}

QCoro::Task<void> CaptureFolderCoordinator::drain()
{
    QPointer<CaptureFolderCoordinator> self(this);
    while (self && !queue_.isEmpty()) {
        const QUrl url = queue_.takeFirst();
        const std::int64_t generation = generation_;
        const std::optional<QRectF> rect = captureRect(url);
        const std::shared_ptr<const CapturePicture> picture = monitor_.takePicture(url);

        std::exception_ptr failure;
        std::optional<ImportResult> result;
        try {
            QCoro::Task<WorkspaceSnapshot> loading = awaitResult(store_.load());
            const WorkspaceSnapshot snapshot = co_await std::move(loading);
            if (self && generation == generation_) {
                QCoro::Task<ImportResult> importing
                    = awaitResult(store_.importMaterial(ImportRequest::file(url, ImportOrigin::screenshot),
                        snapshot.selectedMatterID, capacity(), false, std::nullopt, DuplicateImportPolicy::keepExisting));
                result = co_await std::move(importing);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (generation != generation_)
            continue;

        if (failure) {
            const std::optional<StoreError::Code> code = StoreError::codeOf(failure);
            if (code == StoreError::Code::operationInProgress) {
                // Another change (a clipboard import, an edit) held the store
                // for a moment: nothing failed, so the file is taken again by
                // itself shortly, without a failure status or a manual retry.
                QTimer::singleShot(busyRetryMilliseconds, this, [this, url, generation] {
                    if (generation == generation_ && isEnabled())
                        enqueue(url);
                });
                continue;
            }
            if (code == StoreError::Code::rootReplaced) {
                // Nothing but a new start can save it: no retry is offered,
                // and the user is told what mends it.
                setStatus(MessageKey::feedbackRootReplaced);
                if (const auto callback = onRootReplaced)
                    callback(failure);
                continue;
            }
            pending_.insert(url);
            setStatus(code == StoreError::Code::budgetExceeded ? MessageKey::captureStorageLimit
                                                               : MessageKey::captureImportFailed);
            continue;
        }

        const ImportDisposition& disposition = result->disposition;
        if (disposition.kind() == ImportDisposition::Case::shelfFull) {
            pending_.insert(url);
            setStatus(MessageKey::captureFull);
            continue;
        }
        monitor_.acknowledge(url, true);
        pending_.remove(url);
        if (pending_.isEmpty())
            setStatus(MessageKey::captureActive);
        if (disposition.kind() != ImportDisposition::Case::hanging)
            continue;
        if (picture && onPicture && activeDigest(result->snapshot, disposition.id()) == picture->sha256)
            onPicture(*picture);
        if (const auto callback = onImported) {
            try {
                QCoro::Task<void> handling = callback(disposition.id(), rect, result->snapshot);
                co_await std::move(handling);
            } catch (...) {
                failure = std::current_exception();
            }
            if (self && failure)
                reportError(failure);
        }
    }
    if (self)
        draining_ = false;
}

} // namespace tolvex
