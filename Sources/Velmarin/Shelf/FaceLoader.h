#pragma once

#include "Velmarin/Shelf/PresentationKey.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThreadPool;

namespace tolvex {

class ThumbnailDiskCache;

// Makes the pictures of cards on worker threads, the most wanted first, a
// few at a time, so that what the user looks at never waits behind the rest
// of a long shelf. A picture comes from the disk cache when it holds one for
// the key's digest, else from the maker, and is then stored there.
//
// The line says which pictures it wants for which render generation
// (want()); a job still running for a key and file it wants again carries on
// for the new generation, any other is abandoned and its picture dropped.
// Pictures reach onFace on the GUI thread, tagged with the generation that
// wanted them last. GUI thread only.
class FaceLoader final : public QObject {
public:
    // Called on worker threads, several at once.
    using Maker = std::function<std::optional<QImage>(const QUrl&)>;
    // A picture, or none when the file gave none.
    using Delivery = std::function<void(const PresentationKey&, std::uint64_t generation, std::optional<QImage>)>;

    struct Request {
        PresentationKey key;
        QUrl url;
    };

    // `pool` must outlive the loader's jobs; `disk` may be null.
    FaceLoader(Maker maker, std::shared_ptr<ThumbnailDiskCache> disk, QThreadPool& pool, QObject* parent = nullptr);
    ~FaceLoader() override;

    // The kind of picture of a file in the disk cache: its drawing depends on
    // the file's name as well as on its bytes.
    static QString diskKind(const QUrl& url);

    // The pictures wanted now, most wanted first; replaces the last list.
    void want(const QList<Request>& requests, std::uint64_t generation);
    // Abandons everything queued or running.
    void cancelAll();

    // At most this many jobs at once (the pool's thread count by default).
    void setMaxRunning(int count);
    int running() const { return static_cast<int>(running_.size()); }
    int queued() const { return static_cast<int>(queue_.size()); }

    Delivery onFace;

private:
    struct Job {
        QUrl url;
        std::uint64_t generation = 0;
        std::shared_ptr<std::atomic<bool>> abandoned;
    };
    struct Made {
        std::optional<QImage> face;
        bool fromDisk = false;
    };
    // How a worker reaches the loader: cleared, under its lock, when the
    // loader goes, so no job ever posts to a loader that is gone.
    struct Relay {
        std::mutex mutex;
        FaceLoader* loader = nullptr;
    };
    void startMore();
    void finished(const PresentationKey& key, const std::shared_ptr<std::atomic<bool>>& token, const Made& made);

    const std::shared_ptr<Relay> relay_ = std::make_shared<Relay>();
    const Maker maker_;
    const std::shared_ptr<ThumbnailDiskCache> disk_;
    QThreadPool& pool_;
    int maxRunning_;
    std::uint64_t generation_ = 0;
    QList<Request> queue_;
    QHash<PresentationKey, Job> running_;
    bool decodedSinceRelease_ = false;
};

} // namespace tolvex
