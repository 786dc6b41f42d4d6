#include "Velmarin/Actions/Markup.h"

#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Actions/MarkupEditorService.h"
#include "Velmarin/Actions/MarkupPngEncoder.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Common/RetryWhileBusy.h"
#include "Velmarin/Platform/QtDesktopOpener.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/Line.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace tolvex {

namespace {

DesktopOpener& defaultOpener()
{
    static QtDesktopOpener opener;
    return opener;
}

void checkCount(qint64 count)
{
    if (count > Markup::maximumResultBytes)
        throw StoreError::invalidEdit();
}

// A returned file: its size is checked before a byte is read.
QByteArray readReturnedFile(const QUrl& url)
{
    const QFileInfo info(url.toLocalFile());
    if (!info.exists())
        throw StoreError::invalidEdit();
    checkCount(info.size());
    ImageAdmission::validate(url);
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        throw std::system_error(std::make_error_code(std::errc::io_error));
    QByteArray bytes = file.read(Markup::maximumResultBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw std::system_error(std::make_error_code(std::errc::io_error));
    checkCount(bytes.size());
    return bytes;
}

QByteArray encodeReturnedImage(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(image) || bytes.isEmpty())
        throw StoreError::invalidEdit();
    ImageAdmission::validate(bytes);
    checkCount(bytes.size());
    return bytes;
}

// The marks drawn in, for a termination, which allows a few seconds: in the
// working file's format where Qt writes it quickly (JPEG, TIFF, BMP), else as
// a PNG of our own quick encoder (Qt's PNG and WebP writers take seconds on
// a large photo). PNG is also what a finished markup writes where the
// working file's format has no writer; readers go by the content.
QByteArray encodeKeptImage(
    const std::function<QImage()>& draw, const QString& workingPath, QDeadlineTimer compressUntil)
{
    const QImage image = draw();
    if (image.isNull())
        throw StoreError::invalidEdit();
    static const QList<QByteArray> quick{"jpg", "jpeg", "tif", "tiff", "bmp"};
    const QByteArray format = QFileInfo(workingPath).suffix().toLower().toLatin1();
    QByteArray bytes;
    if (quick.contains(format) && QImageWriter::supportedImageFormats().contains(format)) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (format == "jpg" || format == "jpeg")
            writer.setQuality(95);
        if (!writer.write(image))
            bytes.clear();
    } else {
        bytes = MarkupPngEncoder::encode(image, compressUntil);
    }
    if (bytes.isEmpty())
        throw StoreError::invalidEdit();
    checkCount(bytes.size());
    return bytes;
}

// The keep's own threads: a termination's keep never waits behind the
// shared pool's work (a decode, a thumbnail, an import's staging).
QThreadPool& keepPool()
{
    static QThreadPool* pool = new QThreadPool;
    return *pool;
}

QByteArray admitReturnedBytes(const QByteArray& bytes)
{
    ImageAdmission::validate(bytes);
    checkCount(bytes.size());
    return bytes;
}

} // namespace

Markup& Markup::shared()
{
    static Markup* session = new Markup;
    return *session;
}

Markup::PersistResult Markup::defaultPersist()
{
    return [](EditSession session, MaterialStore& store, QByteArray data) -> QCoro::Task<void> {
        QCoro::Task<void> writing = awaitResult(store.writeEditingResult(session, data));
        co_await std::move(writing);
    };
}

Markup::Markup(Launcher launchEditor, FailureReporter reportFailure, PersistResult persistResult,
    ServiceLookup lookupService, DesktopOpener* fallbackOpener, AlertRunner runAlert)
    : launchEditor_(std::move(launchEditor)), reportFailure_(std::move(reportFailure)),
      persistResult_(std::move(persistResult)), lookupService_(std::move(lookupService)),
      fallbackOpener_(fallbackOpener ? fallbackOpener : &defaultOpener()), runAlert_(std::move(runAlert))
{
    if (!lookupService_)
        lookupService_ = [this] { return std::make_shared<MarkupEditorService>(privacyLine.data()); };
}

Markup::~Markup() = default;

bool Markup::canRetrySaving() const
{
    return editing_ && !editorActive_ && loadingResults_ == 0 && !saving_ && (hasPendingResult() || failed_);
}

void Markup::edit(const EditSession& session, MaterialStore& store, std::function<void(EditResult)> onResult)
{
    if (editing_) {
        // Another session never reached an editor: nothing of it is kept.
        onResult(session_->id == session.id ? EditResult::cancel() : EditResult::discard());
        return;
    }
    session_ = session;
    store_ = &store;
    editing_ = session.workingURL;
    completion_ = std::move(onResult);
    openEditor();
}

void Markup::openEditor()
{
    if (privacyLine && privacyLine->isCovered()) {
        // Kept on offer, so the editor opens from a retry once the shelf shows.
        if (editing_)
            failed_ = true;
        return;
    }
    if (!editing_)
        return;
    if (editorActive_ || loadingResults_ != 0 || saving_)
        return;
    // Busy from now on: a second opening or a retry waits for this one.
    editorActive_ = true;
    failed_ = false;
    launchTask(openChecked(++opening_, *editing_), {});
}

QCoro::Task<void> Markup::openChecked(std::uint64_t opening, QUrl url)
{
    const QPointer<Markup> self(this);
    std::exception_ptr refused;
    try {
        QFuture<void> checking
            = QtConcurrent::run(QThreadPool::globalInstance(), [url] { ImageAdmission::validate(url); });
        QCoro::Task<void> waiting = awaitResult(std::move(checking));
        co_await std::move(waiting);
    } catch (...) {
        refused = std::current_exception();
    }
    // The session ended or another opening began meanwhile.
    if (!self || opening_ != opening || !editing_)
        co_return;
    if (refused) {
        editorActive_ = false;
        failed_ = true;
        showSaveError(refused);
        co_return;
    }
    if (privacyLine && privacyLine->isCovered()) {
        editorActive_ = false;
        failed_ = true;
        co_return;
    }
    launch(opening, url);
}

void Markup::launch(std::uint64_t opening, const QUrl& url)
{
    if (launchEditor_) {
        launchEditor_(url);
        return;
    }
    std::shared_ptr<MarkupService> service = lookupService_();
    if (service && service->canPerform(url)) {
        activeService_ = service;
        const QPointer<Markup> self(this);
        service->perform(
            url,
            [self, opening](QVariantList items) {
                if (self)
                    self->serviceDidShare(opening, std::move(items));
            },
            [self, opening](MarkupServiceError error) {
                if (self)
                    self->serviceDidFail(opening, std::move(error));
            });
        return;
    }
    openFallback(url);
}

void Markup::openFallback(const QUrl& url)
{
    if (!fallbackOpener_->open(url)) {
        finish(EditResult::cancel());
        return;
    }
    const Localizer localizer = appLocalizer();
    Alert alert(QMessageBox::Information);
    alert.setTitle(localizer.string(MessageKey::markupFallbackTitle));
    alert.setMessage(localizer.string(MessageKey::markupFallbackMessage));
    alert.addButton(localizer.string(MessageKey::saveCopy));
    alert.addButton(localizer.string(MessageKey::cancel));
    // A line set or released during the alert counts as a change too.
    const QPointer<Line> lineBefore = privacyLine;
    const bool hadLine = !lineBefore.isNull();
    const std::uint64_t epoch = hadLine ? lineBefore->privacyEpoch() : 0;
    const int response = runAlert(alert);
    editorActive_ = false;
    const Line* lineAfter = privacyLine.data();
    const bool changed = hadLine != (lineAfter != nullptr) || (hadLine && lineAfter != lineBefore.data())
        || (lineAfter && (lineAfter->isCovered() || lineAfter->privacyEpoch() != epoch));
    if (changed) {
        failed_ = true;
        return;
    }
    if (response != Alert::firstButtonResponse) {
        finish(EditResult::cancel());
        return;
    }
    // The user edited the working file itself; it becomes the result.
    launchTask(receive({QVariant::fromValue(url)}), {});
}

void Markup::serviceDidShare(std::uint64_t opening, QVariantList items)
{
    const QPointer<Markup> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, opening, items = std::move(items)] {
            if (!self || !self->activeService_ || self->opening_ != opening)
                return;
            launchTask(self->receive(items), {});
        },
        Qt::QueuedConnection);
}

void Markup::serviceDidFail(std::uint64_t opening, MarkupServiceError error)
{
    const QPointer<Markup> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, opening, error = std::move(error)] {
            if (!self || !self->activeService_ || self->opening_ != opening)
                return;
            self->activeService_.reset();
            self->editorActive_ = false;
            if (error.domain == MarkupServiceError::editorDomain && error.code == MarkupServiceError::userCancelled) {
                // Nothing was drawn, or the user threw the marks away.
                self->finish(EditResult::discard());
                return;
            }
            self->failed_ = true;
            self->showSaveError(nullptr);
        },
        Qt::QueuedConnection);
}

QCoro::Task<void> Markup::receive(QVariantList items)
{
    if (!editing_ || !session_)
        co_return;
    const QUrl url = *editing_;
    const QUuid sessionID = session_->id;
    // The editor has answered: an opening still being checked is void.
    ++opening_;
    editorActive_ = false;
    activeService_.reset();
    if (items.isEmpty()) {
        if (!saving_ && loadingResults_ == 0 && !hasPendingResult())
            finish(EditResult::cancel());
        co_return;
    }

    const QPointer<Markup> self(this);
    ++loadingResults_;
    QByteArray data;
    std::exception_ptr failure;
    try {
        QCoro::Task<QByteArray> loading = returnedData(items.first());
        data = co_await std::move(loading);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    --loadingResults_;

    const bool sameSession = session_ && session_->id == sessionID;
    if (failure) {
        if (sameSession) {
            failed_ = true;
            showSaveError(failure);
        }
        co_return;
    }
    if (!sameSession || editing_ != url)
        co_return;
    try {
        resultBuffer_.enqueue(data);
    } catch (...) {
        failed_ = true;
        showSaveError(nullptr);
        co_return;
    }
    failed_ = false;
    QCoro::Task<void> saving = retrySaving();
    co_await std::move(saving);
}

QCoro::Task<QByteArray> Markup::returnedData(QVariant item)
{
    // Reading, encoding and admission run on a worker thread: a returned
    // image may be hundreds of megabytes.
    if (item.metaType() == QMetaType::fromType<QUrl>()) {
        const QUrl url = item.toUrl();
        if (!url.isLocalFile())
            throw StoreError::invalidEdit();
        QFuture<QByteArray> reading = QtConcurrent::run(QThreadPool::globalInstance(), readReturnedFile, url);
        QCoro::Task<QByteArray> waiting = awaitResult(std::move(reading));
        co_return co_await std::move(waiting);
    }
    if (item.metaType() == QMetaType::fromType<QImage>()) {
        const QImage image = item.value<QImage>();
        ImageAdmission::validate(image.width(), image.height());
        QFuture<QByteArray> encoding = QtConcurrent::run(QThreadPool::globalInstance(), encodeReturnedImage, image);
        QCoro::Task<QByteArray> waiting = awaitResult(std::move(encoding));
        co_return co_await std::move(waiting);
    }
    if (item.metaType() == QMetaType::fromType<QMimeData*>()) {
        const QMimeData* offered = item.value<QMimeData*>();
        if (!offered)
            throw StoreError::invalidEdit();
        for (const QString& format : offered->formats()) {
            if (!format.startsWith(QLatin1String("image/")))
                continue;
            const QByteArray bytes = offered->data(format);
            if (bytes.isEmpty())
                throw StoreError::invalidEdit();
            QFuture<QByteArray> admitting
                = QtConcurrent::run(QThreadPool::globalInstance(), admitReturnedBytes, bytes);
            QCoro::Task<QByteArray> waiting = awaitResult(std::move(admitting));
            co_return co_await std::move(waiting);
        }
    }
    throw StoreError::invalidEdit();
}

QCoro::Task<void> Markup::retrySaving()
{
    if (!session_ || !store_ || editorActive_ || loadingResults_ != 0 || saving_)
        co_return;
    if (!hasPendingResult()) {
        if (failed_)
            openEditor();
        co_return;
    }
    saving_ = true;
    failed_ = false;
    const EditSession session = *session_;
    MaterialStore* store = store_;
    const PersistResult persist = persistResult_;
    const QPointer<Markup> self(this);
    while (hasPendingResult()) {
        const std::function<QCoro::Task<void>(QByteArray)> save
            = [persist, session, store](QByteArray data) { return persist(session, *store, std::move(data)); };
        bool saved = true;
        try {
            QCoro::Task<void> persisting = resultBuffer_.persist(save);
            co_await std::move(persisting);
        } catch (...) {
            saved = false;
        }
        if (!self)
            co_return;
        if (!saved) {
            failed_ = true;
            showSaveError(nullptr);
            saving_ = false;
            co_return;
        }
        if (!session_ || session_->id != session.id) {
            saving_ = false;
            co_return;
        }
    }
    if (loadingResults_ == 0 && !failed_ && !editorActive_)
        finish(EditResult::save(session.workingURL));
    saving_ = false;
}

void Markup::abandon()
{
    if (!editing_)
        return;
    if (const auto& pending = resultBuffer_.pending())
        resultBuffer_.acknowledge(pending->id);
    finish(EditResult::cancel());
}

bool Markup::bringEditorForward()
{
    if (!editing_)
        return false;
    if (activeService_ && activeService_->bringForward())
        return true;
    if (canRetrySaving())
        launchTask(retrySaving(), {});
    return true;
}

QCoro::Task<void> Markup::keepForTermination(QDeadlineTimer deadline)
{
    if (!session_ || !store_)
        co_return;
    const EditSession session = *session_;
    MaterialStore* store = store_;
    const PersistResult persist = persistResult_;
    QByteArray data;
    if (const std::optional<PendingEditResult>& pending = resultBuffer_.pending()) {
        data = pending->data;
    } else {
        const std::function<QImage()> draw = activeService_ ? activeService_->keptImage() : nullptr;
        if (!draw)
            co_return;
        // Drawing and encoding a photo takes long: never on the GUI thread.
        // Compressing takes at most half the time left, so the write still
        // fits; what is left over then is stored as it is.
        const QDeadlineTimer compressUntil(deadline.isForever() ? -1 : deadline.remainingTime() / 2);
        QFuture<QByteArray> encoding = QtConcurrent::run(
            &keepPool(), encodeKeptImage, draw, session.workingURL.toLocalFile(), compressUntil);
        QCoro::Task<QByteArray> waiting = awaitResult(std::move(encoding));
        data = co_await std::move(waiting);
    }
    std::function<QCoro::Task<void>()> write
        = [persist, session, store, data] { return persist(session, *store, data); };
    auto writing = retryWhileBusy(std::move(write), deadline);
    co_await std::move(writing);
}

void Markup::showSaveError(std::exception_ptr error)
{
    if (privacyLine && privacyLine->isCovered())
        return;
    if (reportFailure_) {
        reportFailure_();
        return;
    }
    const Localizer localizer = appLocalizer();
    QString detail = localizer.string(MessageKey::markupSaveRetained);
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const ImageAdmissionError& refused) {
            detail += QStringLiteral("\n\n") + refused.errorDescription();
        } catch (...) {
        }
    }
    Alert alert;
    alert.setTitle(localizer.string(MessageKey::markupSaveFailed));
    alert.setMessage(detail);
    alert.addButton(localizer.string(MessageKey::retryMarkup));
    alert.addButton(localizer.string(MessageKey::retryLater));
    if (runAlert(alert) == Alert::firstButtonResponse)
        launchTask(retrySaving(), {});
}

int Markup::runAlert(Alert& alert)
{
    if (runAlert_)
        return runAlert_(alert);
    if (privacyLine)
        return privacyLine->runAlert(alert);
    return alert.run();
}

void Markup::finish(EditResult result)
{
    std::function<void(EditResult)> completion = std::move(completion_);
    completion_ = nullptr;
    editing_.reset();
    session_.reset();
    store_ = nullptr;
    editorActive_ = false;
    failed_ = false;
    ++opening_;
    // An editor still showing belongs to the session that just ended.
    if (const std::shared_ptr<MarkupService> service = std::exchange(activeService_, {}))
        service->dismiss();
    if (completion)
        completion(std::move(result));
}

} // namespace tolvex
