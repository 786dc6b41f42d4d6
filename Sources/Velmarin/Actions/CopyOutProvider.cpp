#include "Velmarin/Actions/CopyOutProvider.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Actions/CopyOutMimeData.h"
#include "Velmarin/Actions/ExportedCopy.h"
#include "Velmarin/Actions/FirstFrame.h"
#include "Velmarin/Actions/OwnedCopyMarker.h"
#include "Velmarin/Common/MainTask.h"

#include <QFileInfo>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace tolvex {

CopyOutProvider::CopyOutProvider(
    MaterialStore& store, QUuid id, QUuid versionID, QString suffix, std::function<bool()> canExport)
    : store_(store), id_(id), versionID_(versionID), suffix_(std::move(suffix)), canExport_(std::move(canExport))
{
}

QCoro::Task<std::shared_ptr<CopyOutMimeData>> CopyOutProvider::prepareProvider(
    QUrl exportRoot, CancellationToken cancellation)
{
    // The caller may drop its reference while this runs.
    const std::shared_ptr<CopyOutProvider> self = shared_from_this();
    if (!canExport_())
        throw StoreError::invalidSource();

    QCoro::Task<WorkspaceSnapshot> loading = awaitResult(store_.load());
    const WorkspaceSnapshot snapshot = co_await std::move(loading);
    const MaterialRecord* found = snapshot.findMaterial(id_);
    if (!found || snapshot.privacyHidden)
        throw StoreError::invalidSource();
    const MaterialRecord record = *found;

    QCoro::Task<QUrl> locating = awaitResult(store_.payloadURL(id_, versionID_));
    const QUrl payload = co_await std::move(locating);
    if (!canExport_())
        throw StoreError::invalidSource();

    const QString extension = QFileInfo(payload.toLocalFile()).suffix();
    const QUrl destination = exportDestination(exportRoot, record, extension);
    QCoro::Task<QUrl> exporting = awaitResult(store_.exportCopy(id_, versionID_, destination));
    const QUrl copy = co_await std::move(exporting);
    QCoro::Task<void> clearing = clearExecuteBits(copy);
    co_await std::move(clearing);
    cancellation.check();
    if (!canExport_())
        throw StoreError::invalidSource();

    auto data = std::make_shared<CopyOutMimeData>();
    data->representations[ownedCopyMimeType] = ownedCopyValue;
    const QByteArray copyURL = copy.toEncoded() + "\r\n";
    switch (record.kind) {
    case MaterialKind::image: {
        QFuture<FirstFrameRepresentations> encoding
            = QtConcurrent::run(QThreadPool::globalInstance(), [copy] { return firstFrameRepresentations(copy); });
        QCoro::Task<FirstFrameRepresentations> waiting = awaitResult(std::move(encoding));
        const FirstFrameRepresentations frame = co_await std::move(waiting);
        data->representations[QStringLiteral("image/png")] = frame.png;
        data->representations[QStringLiteral("image/tiff")] = frame.tiff;
        data->representations[QStringLiteral("text/uri-list")] = copyURL;
        break;
    }
    case MaterialKind::text: {
        QCoro::Task<QString> reading = readUtf8(copy);
        const QString text = co_await std::move(reading);
        data->representations[QStringLiteral("text/plain")] = text.toUtf8();
        break;
    }
    case MaterialKind::pdf:
    case MaterialKind::file:
        data->representations[QStringLiteral("text/uri-list")] = copyURL;
        break;
    }
    if (!canExport_())
        throw StoreError::invalidSource();

    data->suggestedFilename = QFileInfo(destination.toLocalFile()).fileName();
    data->canExport = canExport_;
    data->userInfo = self;
    co_return data;
}

QString CopyOutProvider::fileName(const CopyOutMimeData* provider) const
{
    if (provider && provider->suggestedFilename)
        return *provider->suggestedFilename;
    return QStringLiteral("Tolvex-") + id_.toString(QUuid::WithoutBraces).toUpper().left(8) + u'.' + suffix_;
}

void CopyOutProvider::writePromiseTo(QUrl destination, std::function<void(std::exception_ptr)> completion)
{
    launchTask(writePromise(std::move(destination), std::move(completion)), {});
}

QCoro::Task<void> CopyOutProvider::writePromise(QUrl destination, std::function<void(std::exception_ptr)> completion)
{
    const std::shared_ptr<CopyOutProvider> self = shared_from_this();
    if (!canExport_()) {
        completion(std::make_exception_ptr(StoreError::invalidSource()));
        co_return;
    }
    std::exception_ptr failure;
    try {
        QCoro::Task<QUrl> exporting = awaitResult(store_.exportCopy(id_, versionID_, destination));
        const QUrl written = co_await std::move(exporting);
        QCoro::Task<void> clearing = clearExecuteBits(written);
        co_await std::move(clearing);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure && !canExport_())
        failure = std::make_exception_ptr(StoreError::invalidSource());
    completion(failure);
}

} // namespace tolvex
