#pragma once

#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace tolvex {

// Watches one folder's list of entries through inotify and hands its owner a
// fresh listing 0.05 s after the last change, so that a burst of changes
// costs one listing. The folder's own rename, deletion, unmounting or the
// loss of the watch ends the observation and is reported once.
//
// QFileSystemWatcher does not fit: it follows links and cannot tell the
// folder's rename from a change inside it.
//
// Listings hold the folder's direct entries as file URLs, hidden entries
// left out, in the order the file system gives them. Everything runs on the
// thread that owns the observation; callbacks may stop, restart or delete it.
class DirectoryObservation final : public QObject {
public:
    using Listing = QList<QUrl>;

    static constexpr int debounceMilliseconds = 50;

    explicit DirectoryObservation(QObject* parent = nullptr);
    ~DirectoryObservation() override;

    // Stops any earlier watch, takes the baseline listing (handed to
    // `onBaseline`), runs `afterBaseline`, starts watching and hands a
    // catch-up listing to `onScan` before returning, so that nothing created
    // meanwhile is missed. Throws StoreError::invalidPath for a URL that is
    // not a local file URL or that names anything but a folder (a link to a
    // folder included), the file system's error when the folder cannot be
    // inspected or listed, and StoreError::invalidSource when it cannot be
    // watched. After a failure the observation is idle.
    void start(const QUrl& folder, const std::function<void(const Listing&)>& onBaseline,
        const std::function<void()>& afterBaseline, std::function<void(const Listing&)> onScan,
        std::function<void()> onInvalidated);
    // Ends the watch; a scheduled rescan and late events are dropped.
    void stop();

    bool isWatching() const { return source_ != nullptr; }
    std::int64_t generation() const { return generation_; }
    const std::optional<QUrl>& folder() const { return folder_; }

private:
    struct Source;

    void handleEvents(std::int64_t generation);
    void scheduleScan();
    void runScan();
    void invalidate();
    Listing list() const;

    std::unique_ptr<Source> source_;
    QTimer pending_;
    std::optional<QUrl> folder_;
    std::int64_t generation_ = 0;
    std::function<void(const Listing&)> onScan_;
    std::function<void()> onInvalidated_;
};

} // namespace tolvex
