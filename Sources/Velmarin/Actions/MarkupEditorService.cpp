#include "Velmarin/Actions/MarkupEditorService.h"

#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Actions/MarkupEditorWindow.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Shelf/Line.h"

#include <QImage>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace tolvex {

namespace {

QCoro::Task<void> runEditor(
    QUrl item, QPointer<Line> line, MarkupService::DidShare didShare, MarkupService::DidFail didFail)
{
    QFuture<QImage> decoding = QtConcurrent::run(QThreadPool::globalInstance(), [item] {
        const std::optional<ImageSource> source = ImageSource::create(item.toLocalFile());
        return source ? source->decodeImage(0) : QImage();
    });
    QImage image;
    try {
        QCoro::Task<QImage> waiting = awaitResult(std::move(decoding));
        image = co_await std::move(waiting);
    } catch (...) {
    }
    if (image.isNull()) {
        didFail({MarkupServiceError::editorDomain, MarkupServiceError::unreadable});
        co_return;
    }
    auto* window = new MarkupEditorWindow(std::move(image));
    window->onDone = [didShare](QImage marked) { didShare({QVariant::fromValue(std::move(marked))}); };
    window->onCancel = [didFail] { didFail({MarkupServiceError::editorDomain, MarkupServiceError::userCancelled}); };
    window->resize(window->sizeHint());
    window->show();
    window->raise();
    window->activateWindow();
    if (line)
        window->followPrivacy(*line);
}

} // namespace

MarkupEditorService::MarkupEditorService(Line* line) : line_(line)
{
}

bool MarkupEditorService::canPerform(const QUrl& item) const
{
    if (!item.isLocalFile())
        return false;
    const std::optional<ImageSource> source = ImageSource::create(item.toLocalFile());
    if (!source || !source->hasImage(0))
        return false;
    const std::optional<ImageSource::PixelSize> size = source->pixelSize(0);
    return size && size->width > 0 && size->height > 0 && size->width * size->height <= editorPixelBudget;
}

void MarkupEditorService::perform(const QUrl& item, DidShare didShare, DidFail didFail)
{
    // The answer always comes after perform() returned.
    QTimer::singleShot(0, [item, line = line_, didShare = std::move(didShare), didFail = std::move(didFail)] {
        launchTask(runEditor(item, line, didShare, didFail), {});
    });
}

} // namespace tolvex
