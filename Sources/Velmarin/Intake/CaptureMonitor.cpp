#include "Velmarin/Intake/CaptureMonitor.h"

#include "Velmarin/Common/MainTask.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QFileInfo>
#include <QPointer>

#include <chrono>

namespace tolvex {

const QSet<QString>& CaptureMonitor::extensions()
{
    static const QSet<QString> values{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
        QStringLiteral("heic"), QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("gif"),
        QStringLiteral("webp"), QStringLiteral("bmp")};
    return values;
}

Date CaptureMonitor::uptime()
{
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    return Date::fromUnixSeconds(std::chrono::duration<double>(sinceBoot).count());
}

CaptureMonitor::CaptureMonitor(Clock clock, QObject* parent) : QObject(parent), clock_(std::move(clock))
{
    retryWork_.setSingleShot(true);
    // A coarse timer may fire up to 5 % early: a re-probe before the 0.2 s
    // are over would find the file not yet stable and cost another round.
    retryWork_.setTimerType(Qt::PreciseTimer);
    retryWork_.setInterval(retryMilliseconds);
    connect(&retryWork_, &QTimer::timeout, this, [this] {
        if (!active_ || retryGeneration_ != generation_)
            return;
        inspect(intake_.waitingURLs());
    });
}

CaptureMonitor::~CaptureMonitor()
{
    stop();
}

void CaptureMonitor::start(const QUrl& folder, bool onlyTagged, std::function<void(const QUrl&)> onReady,
    std::function<void(const QUrl&)> onFailed, std::function<void()> onInvalidated,
    std::function<void(const QUrl&)> onTooLarge)
{
    stop();
    taggedOnly_ = onlyTagged;
    onReady_ = std::move(onReady);
    onFailed_ = std::move(onFailed);
    onInvalidated_ = std::move(onInvalidated);
    onTooLarge_ = std::move(onTooLarge);
    active_ = true;

    QPointer<CaptureMonitor> self(this);
    const auto baseline = [this, onlyTagged](const DirectoryObservation::Listing& listing) {
        history_.clear();
        for (const QUrl& url : listing)
            history_.insert(standardizedFileURL(url));
        intake_ = CaptureIntake(history_, onlyTagged);
    };
    const auto scan = [self](const DirectoryObservation::Listing& listing) {
        if (self)
            self->inspect(listing);
    };
    const auto invalidated = [self] {
        if (!self)
            return;
        self->stop();
        if (const auto callback = self->onInvalidated_)
            callback();
    };
    try {
        observer_.start(folder, baseline, {}, scan, invalidated);
    } catch (...) {
        stop();
        throw;
    }
}

void CaptureMonitor::stop()
{
    ++generation_;
    active_ = false;
    retryWork_.stop();
    observer_.stop();
    pictures_.clear();
}

void CaptureMonitor::acknowledge(const QUrl& url, bool success)
{
    intake_.acknowledge(url, success);
    pictures_.remove(standardizedFileURL(url));
    if (success)
        history_.insert(standardizedFileURL(url));
}

std::shared_ptr<const CapturePicture> CaptureMonitor::takePicture(const QUrl& url)
{
    return pictures_.take(standardizedFileURL(url));
}

void CaptureMonitor::retry(const QUrl& url)
{
    if (!active_)
        return;
    intake_.forgetMissing(url);
    inspect({url});
}

void CaptureMonitor::inspect(const QList<QUrl>& urls)
{
    if (!active_)
        return;
    QList<QUrl> files;
    QSet<QUrl> seen;
    for (const QUrl& url : urls) {
        const QUrl key = standardizedFileURL(url);
        if (seen.contains(key) || history_.contains(key))
            continue;
        seen.insert(key);
        if (extensions().contains(QFileInfo(key.path()).suffix().toLower()))
            files.append(key);
    }
    launchTask(walk(std::move(files), generation_), {});
}

QCoro::Task<void> CaptureMonitor::walk(QList<QUrl> urls, std::int64_t generation)
{
    QPointer<CaptureMonitor> self(this);
    for (const QUrl& url : urls) {
        if (!self || !active_ || generation_ != generation)
            co_return;
        QFuture<CaptureProbe::Look> probing = probe_.inspect(url, taggedOnly_);
        const CaptureProbe::Look look = co_await probing;
        if (!self || !active_ || generation_ != generation)
            co_return;
        const std::optional<CaptureCandidate>& candidate = look.candidate;
        if (!candidate) {
            // Gone, or no longer a file that could be taken (a link, a folder,
            // too large, unmarked where marks count): waiting on it would
            // re-probe it for as long as watching lasts. A later change of the
            // folder brings it back if it becomes usable.
            intake_.forgetMissing(url);
            continue;
        }
        const CaptureDecision decision = intake_.observe(*candidate, clock_());
        switch (decision.kind) {
        case CaptureDecision::Case::ready:
            // Delivered: the probe looks at it no more until a retry.
            probe_.forget(decision.url);
            if (look.picture)
                pictures_.insert(decision.url, look.picture);
            if (const auto callback = onReady_)
                callback(decision.url);
            break;
        case CaptureDecision::Case::failed:
            if (const auto callback = onFailed_)
                callback(url);
            break;
        case CaptureDecision::Case::tooLarge:
            if (const auto callback = onTooLarge_)
                callback(url);
            break;
        case CaptureDecision::Case::wait:
        case CaptureDecision::Case::ignore:
            break;
        }
    }
    if (self && active_ && generation_ == generation)
        scheduleRetry();
}

void CaptureMonitor::scheduleRetry()
{
    if (!active_ || retryWork_.isActive() || intake_.waitingURLs().isEmpty())
        return;
    retryGeneration_ = generation_;
    retryWork_.start();
}

} // namespace tolvex
