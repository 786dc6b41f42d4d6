#include "Velmarin/Shelf/FaceLoader.h"

#include "Velmarin/Platform/BackgroundPriority.h"
#include "Velmarin/Platform/FreedMemory.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/ThumbnailDiskCache.h"

#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>

namespace tolvex {

FaceLoader::FaceLoader(Maker maker, std::shared_ptr<ThumbnailDiskCache> disk, QThreadPool& pool, QObject* parent)
    : QObject(parent), maker_(std::move(maker)), disk_(std::move(disk)), pool_(pool),
      maxRunning_(std::max(1, pool.maxThreadCount()))
{
    relay_->loader = this;
}

FaceLoader::~FaceLoader()
{
    {
        const std::lock_guard lock(relay_->mutex);
        relay_->loader = nullptr;
    }
    cancelAll();
}

QString FaceLoader::diskKind(const QUrl& url)
{
    const bool pdf = QFileInfo(url.path()).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    return (pdf ? QStringLiteral("pdf-") : QStringLiteral("image-")) + QString::number(Line::shelfThumbnailPixels);
}

void FaceLoader::setMaxRunning(int count)
{
    maxRunning_ = std::max(1, count);
    startMore();
}

void FaceLoader::want(const QList<Request>& requests, std::uint64_t generation)
{
    generation_ = generation;
    QHash<PresentationKey, QUrl> wanted;
    wanted.reserve(requests.size());
    for (const Request& request : requests)
        wanted.insert(request.key, request.url);
    for (auto job = running_.begin(); job != running_.end();) {
        const auto found = wanted.constFind(job.key());
        if (found != wanted.constEnd() && *found == job->url) {
            job->generation = generation;
            ++job;
        } else {
            job->abandoned->store(true);
            job = running_.erase(job);
        }
    }
    queue_.clear();
    for (const Request& request : requests) {
        if (!running_.contains(request.key))
            queue_.append(request);
    }
    startMore();
}

void FaceLoader::cancelAll()
{
    queue_.clear();
    for (Job& job : running_)
        job.abandoned->store(true);
    running_.clear();
}

void FaceLoader::startMore()
{
    while (!queue_.isEmpty() && running_.size() < maxRunning_) {
        const Request request = queue_.takeFirst();
        auto token = std::make_shared<std::atomic<bool>>(false);
        running_.insert(request.key, Job{request.url, generation_, token});
        pool_.start([maker = maker_, disk = disk_, relay = relay_, request, token] {
            lowerCurrentThreadPriority();
            Made made;
            if (!token->load()) {
                const QString kind = diskKind(request.url);
                if (disk) {
                    if (std::optional<QImage> stored = disk->read(request.key.digest, kind))
                        made = {std::move(stored), true};
                }
                if (!made.face) {
                    try {
                        made = {maker(request.url), false};
                    } catch (...) {
                    }
                }
            }
            // The event dies with the loader if it goes before the event is handled.
            const std::lock_guard lock(relay->mutex);
            if (FaceLoader* loader = relay->loader) {
                QMetaObject::invokeMethod(
                    loader, [loader, key = request.key, token, made] { loader->finished(key, token, made); },
                    Qt::QueuedConnection);
            }
        });
    }
}

void FaceLoader::finished(const PresentationKey& key, const std::shared_ptr<std::atomic<bool>>& token, const Made& made)
{
    const auto job = running_.constFind(key);
    const bool current = job != running_.constEnd() && job->abandoned == token;
    if (made.face && !made.fromDisk && disk_ && current) {
        // Stored once shown, behind the pictures still to decode.
        pool_.start([disk = disk_, digest = key.digest, kind = diskKind(job->url), face = *made.face] {
            lowerCurrentThreadPriority();
            disk->write(digest, kind, face);
        }, -1);
    }
    decodedSinceRelease_ = decodedSinceRelease_ || (made.face && !made.fromDisk);
    if (!current)
        return; // abandoned: a later list did not want it
    const std::uint64_t generation = job->generation;
    running_.erase(job);
    startMore();
    if (running_.isEmpty() && queue_.isEmpty() && decodedSinceRelease_) {
        // The decodes' buffers are free now; the library would keep them.
        decodedSinceRelease_ = false;
        pool_.start([] { releaseFreedMemory(); }, -2);
    }
    if (onFace)
        onFace(key, generation, made.face);
}

} // namespace tolvex
