#include "Velmarin/Actions/MarkupEditorService.h"

#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Actions/MarkupCanvas.h"
#include "Velmarin/Actions/MarkupEditorWindow.h"
#include "Velmarin/Actions/MarkupMarks.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/BringToFront.h"
#include "Velmarin/Shelf/Line.h"

#include <QImage>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace tolvex {

// What one perform() put on screen, shared with the task that decodes.
struct MarkupEditorService::Showing {
    bool dismissed = false;
    QPointer<MarkupEditorWindow> window;
};

namespace {

struct Decoded {
    QImage image;
    QImage view;
};

Decoded decode(const QUrl& item)
{
    const std::optional<ImageSource> source = ImageSource::create(item.toLocalFile());
    Decoded decoded;
    if (source)
        decoded.image = source->decodeImage(0);
    if (decoded.image.isNull())
        return decoded;
    const QSize bound(MarkupEditorService::viewSide, MarkupEditorService::viewSide);
    decoded.view = decoded.image.width() > bound.width() || decoded.image.height() > bound.height()
        ? decoded.image.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        : decoded.image;
    return decoded;
}

QCoro::Task<void> runEditor(QUrl item, QPointer<Line> line, std::shared_ptr<MarkupEditorService::Showing> showing,
    MarkupService::DidShare didShare, MarkupService::DidFail didFail)
{
    // Reading and decoding a photo takes long: never on the GUI thread.
    QFuture<Decoded> decoding = QtConcurrent::run(QThreadPool::globalInstance(), decode, item);
    Decoded decoded;
    try {
        QCoro::Task<Decoded> waiting = awaitResult(std::move(decoding));
        decoded = co_await std::move(waiting);
    } catch (...) {
    }
    if (showing->dismissed)
        co_return;
    if (decoded.image.isNull()) {
        didFail({MarkupServiceError::editorDomain, MarkupServiceError::unreadable});
        co_return;
    }
    auto* window = new MarkupEditorWindow(std::move(decoded.image), std::move(decoded.view));
    showing->window = window;
    window->onDone = [didShare](QImage marked) { didShare({QVariant::fromValue(std::move(marked))}); };
    window->onCancel = [didFail] { didFail({MarkupServiceError::editorDomain, MarkupServiceError::userCancelled}); };
    window->resize(window->sizeHint());
    if (line)
        window->followPrivacy(*line);
    if (!line || !line->isCovered()) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

} // namespace

MarkupEditorService::MarkupEditorService(Line* line) : line_(line), showing_(std::make_shared<Showing>())
{
}

MarkupEditorService::~MarkupEditorService() = default;

bool MarkupEditorService::canPerform(const QUrl& item) const
{
    return item.isLocalFile();
}

void MarkupEditorService::perform(const QUrl& item, DidShare didShare, DidFail didFail)
{
    // The answer always comes after perform() returned.
    QTimer::singleShot(0, [item, line = line_, showing = showing_, didShare = std::move(didShare),
                              didFail = std::move(didFail)] {
        if (!showing->dismissed)
            launchTask(runEditor(item, line, showing, didShare, didFail), {});
    });
}

std::function<QImage()> MarkupEditorService::keptImage() const
{
    const MarkupEditorWindow* window = showing_->window;
    if (showing_->dismissed || !window || window->canvas()->marks().isEmpty())
        return {};
    // Copies: what is drawn from now on is not part of what is kept.
    return [image = window->canvas()->image(), marks = window->canvas()->marks()] { return renderMarks(image, marks); };
}

void MarkupEditorService::dismiss()
{
    showing_->dismissed = true;
    if (MarkupEditorWindow* window = showing_->window)
        window->dismiss();
}

bool MarkupEditorService::bringForward()
{
    MarkupEditorWindow* window = showing_->window;
    if (showing_->dismissed || !window || (line_ && line_->isCovered()))
        return false;
    bringToFront(window);
    return true;
}

} // namespace tolvex
