#include "Velmarin/Windows/IntakeSettingsController.h"

#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Shelf/PrivacyPlaceholder.h"
#include "Velmarin/Windows/IntakeSettingsView.h"

#include <QApplication>
#include <QDialog>
#include <QScreen>
#include <QStackedLayout>

#include <QCoro/QCoroFuture>

namespace tolvex {

namespace {

// A free function, not a lambda: its frame owns the line pointer, so it
// stays sound however long the store takes and whoever goes meanwhile.
QCoro::Task<void> showAfterCleanup(QPointer<Line> line, WorkspaceSnapshot given)
{
    if (!line)
        co_return;
    WorkspaceSnapshot shown = std::move(given);
    try {
        auto loading = awaitResult(line->store().load());
        shown = co_await std::move(loading);
    } catch (...) {
        // The snapshot the cleanup returned still tells the truth about what moved.
    }
    if (!line)
        co_return;
    shown.privacyHidden = line->isCovered();
    auto rendering = line->render(std::move(shown));
    co_await std::move(rendering);
}

} // namespace

IntakeSettingsController::IntakeSettingsController(ClipboardImportService& service, CaptureFolderCoordinator& capture,
    QUrl libraryURL, MaterialStore* store, Line* line, HotKey* hotKey, QObject* parent)
    : QObject(parent)
{
    QPointer<Line> weakLine(line);
    model_ = std::make_unique<IntakeSettingsModel>(service, capture, std::move(libraryURL), store,
        [weakLine] { return !weakLine || !weakLine->isCovered(); },
        [weakLine](WorkspaceSnapshot given) { return showAfterCleanup(weakLine, std::move(given)); });

    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle(appLocalizer().string(MessageKey::intakeSettings));
    window_->resize(576, 730);
    QPalette paper = window_->palette();
    paper.setColor(QPalette::Window, PanelAppearance::paper(paper));
    window_->setPalette(paper);
    window_->setAutoFillBackground(true);
    stack_ = new QStackedLayout(window_.get());
    stack_->setContentsMargins(0, 0, 0, 0);
    content_ = new IntakeSettingsView(*model_, hotKey, 22);
    placeholder_ = privacyPlaceholder(window_.get());
    placeholder_->setMinimumSize(500, 480);
    stack_->addWidget(content_);
    stack_->addWidget(placeholder_);

    model_->privacyLine = line;
    if (line) {
        privacySubscription_ = line->snapshot.subscribe([this](const WorkspaceSnapshot& snapshot) {
            if (shownHidden_ != snapshot.privacyHidden)
                applyPrivacy(snapshot.privacyHidden);
        });
    }

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window_->move(screen->availableGeometry().center() - window_->rect().center());
}

IntakeSettingsController::~IntakeSettingsController()
{
    privacySubscription_.reset();
    // The window's content reads the model; it goes first.
    window_.reset();
}

void IntakeSettingsController::applyPrivacy(bool hidden)
{
    shownHidden_ = hidden;
    if (hidden) {
        model_->hideCleanup();
        if (QWidget* focused = window_->focusWidget())
            focused->clearFocus();
        // Any other sheet on the window ends too, answering nothing.
        for (QDialog* sheet : window_->findChildren<QDialog*>()) {
            if (sheet->isVisible())
                sheet->done(0);
        }
    }
    window_->setWindowTitle(appLocalizer().string(hidden ? MessageKey::contentHidden : MessageKey::intakeSettings));
    window_->setWindowFilePath(QString());
    stack_->setCurrentWidget(hidden ? placeholder_ : static_cast<QWidget*>(content_));
}

void IntakeSettingsController::present(int page)
{
    model_->setPage(page);
    model_->refresh();
    window_->show();
    window_->raise();
    window_->activateWindow();
    launchTask(model_->refreshUsage(), nullptr);
}

void IntakeSettingsController::presentCleanupPreview()
{
    present(1);
    launchTask(model_->previewCleanup(), nullptr);
}

} // namespace tolvex
