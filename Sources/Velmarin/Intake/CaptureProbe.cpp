#include "Velmarin/Intake/CaptureProbe.h"

#include "Velmarin/Platform/ExtendedAttributes.h"
#include "Velmarin/Platform/PlainFile.h"

#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Files/SystemFileOperations.h"

#include <QFutureInterface>

namespace tolvex {

namespace {

std::optional<FileInfo> plainFile(const QUrl& url)
{
    try {
        const FileInfo info = SystemFileOperations::shared()->inspect(url);
        if (!info.isRegularFile || info.isSymbolicLink)
            return std::nullopt;
        return info;
    } catch (...) {
        return std::nullopt;
    }
}

bool decodes(const QByteArray& bytes)
{
    try {
        ImageAdmission::validate(bytes);
        const std::optional<ImageSource> source = ImageSource::create(bytes);
        return source && !source->thumbnail(0, CaptureProbe::testThumbnailPixels).isNull();
    } catch (...) {
        return false;
    }
}

} // namespace

CaptureProbe::CaptureProbe()
{
    executor_.setMaxThreadCount(1);
}

CaptureProbe::~CaptureProbe()
{
    executor_.waitForDone();
}

QFuture<std::optional<CaptureCandidate>> CaptureProbe::inspect(const QUrl& url, bool taggedOnly)
{
    // A plain job settling a promise, as the store does: a QtConcurrent job
    // could be taken over by a thread that waits on its future.
    QFutureInterface<std::optional<CaptureCandidate>> promise;
    promise.reportStarted();
    QFuture<std::optional<CaptureCandidate>> future = promise.future();
    executor_.start([promise, url, taggedOnly]() mutable {
        promise.reportResult(probe(url, taggedOnly));
        promise.reportFinished();
    });
    return future;
}

std::optional<CaptureCandidate> CaptureProbe::probe(const QUrl& url, bool taggedOnly)
{
    const std::optional<FileInfo> first = plainFile(url);
    if (!first || first->byteCount > maxByteCount)
        return std::nullopt;

    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    const bool marked
        = ExtendedAttributes::has(path, screenCaptureAttribute, ExtendedAttributes::Links::noFollow);
    if (taggedOnly && !marked)
        return std::nullopt;

    bool decodable = false;
    if (first->byteCount >= 1) {
        if (const std::optional<QByteArray> bytes = PlainFile::readWhole(path, first->byteCount))
            decodable = decodes(*bytes);
    }

    const std::optional<FileInfo> second = plainFile(url);
    if (!second)
        return std::nullopt;
    if (second->byteCount == first->byteCount && second->modificationDate == first->modificationDate)
        return CaptureCandidate{url, first->byteCount, first->modificationDate, decodable, marked};
    return CaptureCandidate{url, second->byteCount, second->modificationDate, false, marked};
}

} // namespace tolvex
