// The pictures of the cards: which are wanted, when they arrive, when they
// leave memory, and the thumbnail cache on disk that outlives them.
#include "Velmarin/Shelf/Line.h"

#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Platform/BackgroundPriority.h"
#include "Velmarin/Shelf/FaceLoader.h"
#include "Velmarin/Shelf/LineGeometry.h"
#include "Velmarin/Shelf/PeggedView.h"
#include "Velmarin/Shelf/ThumbnailDiskCache.h"
#include "Velmarin/Shelf/Thumbnails.h"

#include <QCoro/QCoroFuture>
#include <QIcon>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace tolvex {

namespace {

// Before the strip is laid out its width is not known: assume a screen's,
// so that the first pictures are under way when the panel first shows.
constexpr double assumedViewportWidth = 1280;

// An offer comes with each capture and is taken by the render that follows; a few
// cover a burst, at about a megabyte a picture.
constexpr qsizetype keptOffers = 8;

// The picture of a card without a thumbnail: the theme's document icon, else
// an empty 80 x 80 image. Made once, on the GUI thread (icons are pixmaps).
QImage fallbackThumbnail()
{
    static const QImage image = [] {
        const QIcon icon = QIcon::fromTheme(QStringLiteral("x-office-document"),
            QIcon::fromTheme(QStringLiteral("text-x-generic")));
        QImage made = icon.isNull() ? QImage() : icon.pixmap(80, 80).toImage();
        if (made.isNull()) {
            made = QImage(80, 80, QImage::Format_ARGB32_Premultiplied);
            made.fill(Qt::transparent);
        }
        return made;
    }();
    return image;
}

} // namespace

QImage Line::placeholderFace(const QSize& size)
{
    // Only the proportions count (the card fits the picture into its box),
    // so the stand-in is that box's size at most, one bit a pixel, and one
    // image serves every card of the same proportions.
    const QSize box(static_cast<int>(PeggedView::photoWidth), static_cast<int>(PeggedView::photoHeight));
    const QSize fitted =
        (size.isValid() && !size.isEmpty() ? size.scaled(box, Qt::KeepAspectRatio) : box).expandedTo(QSize(1, 1));
    static QHash<quint64, QImage> made;
    const quint64 key = quint64(fitted.width()) << 32 | quint64(fitted.height());
    if (const auto found = made.constFind(key); found != made.constEnd())
        return *found;
    if (made.size() > 256)
        made.clear();
    QImage image(fitted, QImage::Format_Mono);
    const QRgb soft = qRgba(120, 120, 120, 36);
    image.setColorTable({soft, soft});
    image.fill(0);
    made.insert(key, image);
    return image;
}

QImage Line::faceOf(const Presentation& presentation) const
{
    return presentation.thumb.isNull() ? placeholderFace(presentation.size) : presentation.thumb;
}

int Line::picturesPending() const
{
    const auto offers = std::count_if(offeredFaces_.cbegin(), offeredFaces_.cend(),
        [](const OfferedFace& offered) { return offered.face.isNull(); });
    return faces_->running() + faces_->queued() + static_cast<int>(offers);
}

void Line::offerPicture(const QString& sha256, const QImage& decoded, const QString& typeIdentifier)
{
    if (isCovered() || decoded.isNull() || !Thumbnails::isMadeFromWholeDecode(typeIdentifier)
        || !ThumbnailDiskCache::isDigest(sha256) || offeredFaces_.contains(sha256))
        return;
    while (offerOrder_.size() >= keptOffers)
        offeredFaces_.remove(offerOrder_.takeFirst());
    const std::uint64_t serial = ++offerSerial_;
    offeredFaces_.insert(sha256, OfferedFace{QImage(), serial, false});
    offerOrder_.append(sha256);
    launchTask(makeOfferedFace(sha256, decoded, typeIdentifier, serial), {});
}

QCoro::Task<void> Line::makeOfferedFace(QString sha256, QImage decoded, QString typeIdentifier, std::uint64_t serial)
{
    QPointer<Line> self(this);
    QFuture<std::optional<QImage>> making = QtConcurrent::run(&presentationPool(), [decoded, typeIdentifier] {
        lowerCurrentThreadPriority();
        return Thumbnails::thumbnailOfDecode(typeIdentifier, decoded, shelfThumbnailPixels);
    });
    const std::optional<QImage> face = co_await std::move(making);
    // A cover since the offer forgot it; a later offer of the same digest is its own.
    if (!self || isCovered())
        co_return;
    const auto offered = offeredFaces_.find(sha256);
    if (offered == offeredFaces_.end() || offered->serial != serial)
        co_return;
    if (!face || face->isNull()) {
        offeredFaces_.erase(offered);
        offerOrder_.removeOne(sha256);
        // The cards of that digest wait for no offer any more.
        scheduleFaceUpdate();
        co_return;
    }
    offered->face = *face;

    // Cards published meanwhile show their placeholder: they get the picture now.
    bool changed = false;
    for (auto key = cardKeys_.cbegin(); key != cardKeys_.cend(); ++key) {
        if (key->digest != sha256)
            continue;
        const auto presentation = presentations_.find(*key);
        if (presentation == presentations_.end() || !presentation->thumb.isNull() || presentation->fallback)
            continue;
        const qsizetype index = indexOf(key.key());
        presentation->thumb = offeredFace(sha256, index >= 0 ? items()[index].url : QUrl());
        presentation->size = presentation->thumb.size();
        changed = true;
    }
    if (changed)
        publishFaces();
    scheduleFaceUpdate();
}

QImage Line::offeredFace(const QString& sha256, const QUrl& url)
{
    const auto offered = offeredFaces_.find(sha256);
    if (offered == offeredFaces_.end() || offered->face.isNull())
        return {};
    if (disk_ && !offered->stored && url.isValid()) {
        // Kept like any picture made, so that the next start reads it.
        offered->stored = true;
        presentationPool().start([disk = disk_, sha256, kind = FaceLoader::diskKind(url), face = offered->face] {
            lowerCurrentThreadPriority();
            disk->write(sha256, kind, face);
        }, -1);
    }
    return offered->face;
}

void Line::forgetOffers()
{
    offeredFaces_.clear();
    offerOrder_.clear();
}

void Line::setPictureWorkers(int count)
{
    faces_->setMaxRunning(count);
}

void Line::scheduleFaceUpdate()
{
    if (faceUpdateScheduled_)
        return;
    faceUpdateScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        faceUpdateScheduled_ = false;
        updateFaces();
    });
}

void Line::updateFaces()
{
    if (isCovered()) {
        faces_->cancelAll();
        return;
    }
    const QList<Pegged>& cards = items();
    const auto n = static_cast<int>(cards.size());
    const double width = viewportWidth() > 0 ? viewportWidth() : assumedViewportWidth;
    // The cards whose frame meets the strip, then a page either side; the
    // pictures of cards two pages out leave memory.
    int first = n;
    int last = -1;
    for (int i = 0; i < n; ++i) {
        const double x = LineGeometry::cardX(i, n, width, scrollOffset());
        if (x + LineGeometry::halfCard > 0 && x - LineGeometry::halfCard < width) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (last < first)
        first = last = std::clamp(static_cast<int>(scrollOffset() / LineGeometry::pitch), 0, std::max(n - 1, 0));
    const int page = last - first + 1;

    QList<int> order;
    for (int i = first; i <= last; ++i)
        order.append(i);
    for (int step = 1; step <= page; ++step) {
        order.append(last + step);
        order.append(first - step);
    }
    QList<FaceLoader::Request> wanted;
    for (const int i : order) {
        if (i < 0 || i >= n)
            continue;
        const auto key = cardKeys_.constFind(cards[i].id);
        if (key == cardKeys_.constEnd())
            continue;
        const auto presentation = presentations_.constFind(*key);
        if (presentation == presentations_.constEnd() || !presentation->thumb.isNull())
            continue;
        // A picture being made from an offered decode comes by itself.
        if (const auto offered = offeredFaces_.constFind(key->digest);
            offered != offeredFaces_.constEnd() && offered->face.isNull())
            continue;
        wanted.append({*key, cards[i].url});
    }

    bool dropped = false;
    for (int i = 0; i < n; ++i) {
        if (i >= first - 2 * page && i <= last + 2 * page)
            continue;
        const auto key = cardKeys_.constFind(cards[i].id);
        if (key == cardKeys_.constEnd())
            continue;
        const auto presentation = presentations_.find(*key);
        if (presentation != presentations_.end() && !presentation->thumb.isNull() && !presentation->fallback) {
            presentation->thumb = QImage();
            dropped = true;
        }
    }
    faces_->want(wanted, renderGeneration_);
    if (dropped)
        publishFaces();
}

void Line::faceArrived(const PresentationKey& key, std::uint64_t generation, std::optional<QImage> face)
{
    if (generation != renderGeneration_ || isCovered())
        return;
    const auto presentation = presentations_.find(key);
    if (presentation == presentations_.end())
        return;
    if (face && !face->isNull()) {
        presentation->thumb = *face;
        presentation->size = face->size();
        presentation->fallback = false;
    } else {
        presentation->thumb = fallbackThumbnail();
        presentation->fallback = true;
    }
    // Pictures that arrive together are published together.
    if (facePublishScheduled_)
        return;
    facePublishScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        facePublishScheduled_ = false;
        if (!isCovered())
            publishFaces();
    });
}

void Line::publishFaces()
{
    const QList<Pegged>& cards = items();
    QList<std::pair<qsizetype, QImage>> changes;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const auto key = cardKeys_.constFind(cards[i].id);
        if (key == cardKeys_.constEnd())
            continue;
        const auto presentation = presentations_.constFind(*key);
        if (presentation == presentations_.constEnd())
            continue;
        QImage face = faceOf(*presentation);
        if (face.cacheKey() != cards[i].thumb.cacheKey())
            changes.append({i, std::move(face)});
    }
    if (changes.isEmpty())
        return;
    items.modify([&changes](QList<Pegged>& changing) {
        for (auto& [index, face] : changes)
            changing[index].thumb = std::move(face);
    });
}

void Line::forgetGoneThumbnails()
{
    if (!disk_)
        return;
    QSet<QString> digests;
    for (const MaterialRecord& record : snapshot->materials) {
        for (const MaterialVersion& version : record.versions)
            digests.insert(version.sha256);
    }
    // Only when a payload may have gone: at the first render, and when a
    // digest left the workspace.
    if (keptDigests_ && std::all_of(keptDigests_->cbegin(), keptDigests_->cend(),
                            [&](const QString& digest) { return digests.contains(digest); })) {
        keptDigests_ = std::move(digests);
        return;
    }
    keptDigests_ = digests;
    QThreadPool::globalInstance()->start([disk = disk_, digests = std::move(digests)] { disk->forgetAllBut(digests); });
}

} // namespace tolvex
