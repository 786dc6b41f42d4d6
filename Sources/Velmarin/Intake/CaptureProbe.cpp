#include "Velmarin/Intake/CaptureProbe.h"

#include "Velmarin/Platform/ExtendedAttributes.h"
#include "Velmarin/Platform/PlainFile.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Images/ImageSource.h"

#include <QFutureInterface>

#include <algorithm>
#include <vector>

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

QString localPath(const QUrl& url)
{
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

bool isMarked(const QString& path)
{
    return ExtendedAttributes::has(path, CaptureProbe::screenCaptureAttribute, ExtendedAttributes::Links::noFollow);
}

// Admission weighs the pixel count only of a structurally complete image,
// so its budget refusal names a finished file.
bool isBudgetRefusal(const ImageAdmissionError& refused)
{
    return refused.code() == ImageAdmissionError::Code::pixelBudgetExceeded;
}

// Image 0 of bytes that pass admission, decoded whole; null otherwise.
// `typeIdentifier`, when given, receives the type it was decoded as;
// `overBudget`, whether admission refused a whole image as too large.
QImage decodeAdmitted(const QByteArray& bytes, QString* typeIdentifier = nullptr, bool* overBudget = nullptr)
{
    try {
        ImageAdmission::validate(bytes);
        const std::optional<ImageSource> source = ImageSource::create(bytes);
        if (!source)
            return {};
        if (typeIdentifier)
            *typeIdentifier = source->typeIdentifier().value_or(QString());
        return source->decodeImage(0);
    } catch (const ImageAdmissionError& refused) {
        if (overBudget)
            *overBudget = isBudgetRefusal(refused);
        return {};
    } catch (...) {
        return {};
    }
}

// What admission decides from the file's structure alone: nothing decoded.
enum class Structure { whole, overBudget, notWhole };

Structure structureOf(const QUrl& url)
{
    try {
        ImageAdmission::validate(url);
        return Structure::whole;
    } catch (const ImageAdmissionError& refused) {
        return isBudgetRefusal(refused) ? Structure::overBudget : Structure::notWhole;
    } catch (...) {
        return Structure::notWhole;
    }
}

bool sameState(const FileInfo& info, std::int64_t byteCount, const Date& modificationDate)
{
    return info.byteCount == byteCount && info.modificationDate == modificationDate;
}

} // namespace

CaptureProbe::CaptureProbe()
{
    executor_.setMaxThreadCount(1);
}

CaptureProbe::~CaptureProbe()
{
    // A decode still queued is not worth its time any more.
    closing_ = true;
    executor_.waitForDone();
}

QFuture<CaptureProbe::Look> CaptureProbe::inspect(const QUrl& url, bool taggedOnly)
{
    // A plain job settling a promise, as the store does: a QtConcurrent job
    // could be taken over by a thread that waits on its future.
    QFutureInterface<Look> promise;
    promise.reportStarted();
    QFuture<Look> future = promise.future();
    executor_.start([this, promise, url, taggedOnly]() mutable {
        promise.reportResult(look(url, taggedOnly));
        promise.reportFinished();
    });
    return future;
}

void CaptureProbe::forget(const QUrl& url)
{
    executor_.start([this, url] { known_.remove(url); });
}

CaptureProbe::Look CaptureProbe::look(const QUrl& url, bool taggedOnly)
{
    const std::optional<FileInfo> first = plainFile(url);
    if (!first || first->byteCount > maxByteCount) {
        known_.remove(url);
        return {};
    }
    const bool marked = isMarked(localPath(url));
    if (taggedOnly && !marked)
        return {};

    bool decodable = false;
    bool overBudget = false;
    std::shared_ptr<const CapturePicture> picture;
    if (first->byteCount >= 1) {
        auto found = known_.find(url);
        if (found != known_.end() && sameState(*first, found->byteCount, found->modificationDate)) {
            if (!found->decoded && !found->decodeQueued) {
                // Left for this look, which may find the file ready.
                decode(url, first->byteCount, first->modificationDate);
                found = known_.find(url);
            }
            // Its decode is queued, or has answered; or it found the file
            // changed, which the second inspection below finds too.
            decodable = found == known_.end() || !found->decoded || found->decodable;
            if (found != known_.end())
                picture = found->picture;
        } else {
            const Structure structure = structureOf(url);
            decodable = structure == Structure::whole;
            // Nothing of it is kept: it is never decoded.
            overBudget = structure == Structure::overBudget;
            if (decodable) {
                // Many new files at once: the looks that may find them ready
                // decode them one by one, each file then imported while the
                // next is decoded, instead of all of them decoded first.
                const bool queue = !sinceNewState_.isValid() || sinceNewState_.nsecsElapsed() >= burstGap * 1e9;
                sinceNewState_.start();
                known_.insert(url, Known{first->byteCount, first->modificationDate, false, false, {}, ++ages_, queue});
                if (queue) {
                    executor_.start([this, url, byteCount = first->byteCount, date = first->modificationDate] {
                        decode(url, byteCount, date);
                    });
                }
            } else {
                known_.remove(url);
            }
        }
    } else {
        known_.remove(url);
    }

    const std::optional<FileInfo> second = plainFile(url);
    if (!second)
        return {};
    if (sameState(*second, first->byteCount, first->modificationDate)) {
        return {CaptureCandidate{url, first->byteCount, first->modificationDate, decodable, marked, overBudget},
            picture};
    }
    return {CaptureCandidate{url, second->byteCount, second->modificationDate, false, marked}, {}};
}

void CaptureProbe::decode(const QUrl& url, std::int64_t byteCount, const Date& modificationDate)
{
    if (closing_)
        return;
    // Forgotten or changed since the look that asked for it.
    const auto asked = known_.constFind(url);
    if (asked == known_.cend() || asked->decoded || asked->byteCount != byteCount
        || asked->modificationDate != modificationDate)
        return;

    ++decodes_;
    QImage image;
    QString digest;
    QString type;
    if (const std::optional<QByteArray> bytes = PlainFile::readWhole(localPath(url), byteCount)) {
        image = decodeAdmitted(*bytes, &type);
        if (!image.isNull())
            digest = ContentStore::digest(*bytes);
    }
    // The bytes read are those of the state looked at only if the file is
    // still in it; otherwise the next look starts again.
    const std::optional<FileInfo> after = plainFile(url);
    if (!after || !sameState(*after, byteCount, modificationDate)) {
        known_.remove(url);
        return;
    }
    Known& known = known_[url];
    known.decoded = true;
    known.decodable = !image.isNull();
    if (known.decodable)
        known.picture = std::make_shared<const CapturePicture>(CapturePicture{digest, std::move(image), type});
    keepPicturesWithinBudget();
}

void CaptureProbe::keepPicturesWithinBudget()
{
    std::vector<Known*> kept;
    std::int64_t pixels = 0;
    for (Known& known : known_) {
        if (known.picture) {
            kept.push_back(&known);
            pixels += std::int64_t(known.picture->image.width()) * known.picture->image.height();
        }
    }
    if (pixels <= keptPixels)
        return;
    std::sort(kept.begin(), kept.end(), [](const Known* a, const Known* b) { return a->age < b->age; });
    for (Known* known : kept) {
        if (pixels <= keptPixels)
            break;
        pixels -= std::int64_t(known->picture->image.width()) * known->picture->image.height();
        // The verdict stays; the card's picture is then made from its payload.
        known->picture.reset();
    }
}

std::optional<CaptureCandidate> CaptureProbe::probe(const QUrl& url, bool taggedOnly)
{
    const std::optional<FileInfo> first = plainFile(url);
    if (!first || first->byteCount > maxByteCount)
        return std::nullopt;

    const QString path = localPath(url);
    const bool marked = isMarked(path);
    if (taggedOnly && !marked)
        return std::nullopt;

    bool decodable = false;
    bool overBudget = false;
    if (first->byteCount >= 1) {
        if (const std::optional<QByteArray> bytes = PlainFile::readWhole(path, first->byteCount))
            decodable = !decodeAdmitted(*bytes, nullptr, &overBudget).isNull();
    }

    const std::optional<FileInfo> second = plainFile(url);
    if (!second)
        return std::nullopt;
    if (sameState(*second, first->byteCount, first->modificationDate))
        return CaptureCandidate{url, first->byteCount, first->modificationDate, decodable, marked, overBudget};
    return CaptureCandidate{url, second->byteCount, second->modificationDate, false, marked};
}

} // namespace tolvex
