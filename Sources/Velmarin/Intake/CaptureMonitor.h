#pragma once

#include "TolvexCore/Model/Date.h"
#include "Velmarin/Intake/CaptureIntake.h"
#include "Velmarin/Intake/CaptureProbe.h"
#include "Velmarin/Platform/DirectoryObservation.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>

namespace tolvex {

// Watches the screenshot folder and reports each new image file once it is
// whole: it filters the folder's listings, probes new files on the probe's
// executor, applies the intake's stability rule and re-probes waiting files
// every 0.2 s. Files present when watching starts are never reported. It
// knows nothing of the store: the owner acknowledges every ready file.
// Lives on the GUI thread.
class CaptureMonitor final : public QObject {
public:
    using Clock = std::function<Date()>;

    static constexpr int retryMilliseconds = 200;
    // Lower-case file-name extensions of the images a screenshot can be.
    static const QSet<QString>& extensions();
    // The monotonic clock as a date; only differences count.
    static Date uptime();

    explicit CaptureMonitor(Clock clock = &CaptureMonitor::uptime, QObject* parent = nullptr);
    ~CaptureMonitor() override;

    // Starts, or restarts, watching the folder. Passes on the folder watch's
    // errors after stopping. `onFailed`: a file did not become a whole image
    // in time; `onTooLarge`: a whole image over the pixel budget.
    void start(const QUrl& folder, bool onlyTagged, std::function<void(const QUrl&)> onReady,
        std::function<void(const QUrl&)> onFailed, std::function<void()> onInvalidated,
        std::function<void(const QUrl&)> onTooLarge = {});
    // Safe at any time and repeatedly; work under way is dropped.
    void stop();
    // The owner's answer to `onReady`: imported (never report it again) or not
    // (seen again at the next folder change or retry).
    void acknowledge(const QUrl& url, bool success);
    // Forgets what is known of the file and probes it again.
    void retry(const QUrl& url);
    // The picture the probe decoded of a file reported ready, if it had one;
    // asked once, as the owner takes the file.
    std::shared_ptr<const CapturePicture> takePicture(const QUrl& url);

    bool isActive() const { return active_; }
    // The files still waiting to become whole, re-probed every 0.2 s.
    QList<QUrl> waitingURLs() const { return intake_.waitingURLs(); }

private:
    void inspect(const QList<QUrl>& urls);
    QCoro::Task<void> walk(QList<QUrl> urls, std::int64_t generation);
    void scheduleRetry();

    Clock clock_;
    DirectoryObservation observer_;
    CaptureProbe probe_;
    CaptureIntake intake_;
    QSet<QUrl> history_;
    // Of files reported ready and not yet taken.
    QHash<QUrl, std::shared_ptr<const CapturePicture>> pictures_;
    std::int64_t generation_ = 0;
    bool active_ = false;
    bool taggedOnly_ = false;
    QTimer retryWork_;
    std::int64_t retryGeneration_ = 0;
    std::function<void(const QUrl&)> onReady_;
    std::function<void(const QUrl&)> onFailed_;
    std::function<void()> onInvalidated_;
    std::function<void(const QUrl&)> onTooLarge_;
};

} // namespace tolvex
