#include "Velmarin/Platform/DirectoryObservation.h"

#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <system_error>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {

namespace {

// Everything that changes the list of entries, or what a waiting file looks
// like once it is whole: its last close after writing and its attributes
// (a screenshot tool may add its mark after the bytes).
constexpr std::uint32_t changeEvents
    = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr std::uint32_t endingEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

QByteArray encodedPath(const QUrl& folder)
{
    QByteArray path = encodeLocalPath(folder.toLocalFile());
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

struct stat inspectFolder(const QByteArray& path)
{
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0)
        throw std::system_error(errno, std::generic_category(), "inspect " + path.toStdString());
    if (!S_ISDIR(status.st_mode))
        throw StoreError::invalidPath();
    return status;
}

} // namespace

// The inotify instance and its notifier; closing the descriptor ends every
// watch on it, so dropping the source is the whole of cancelling it.
struct DirectoryObservation::Source {
    explicit Source(int fd) : fd(fd), notifier(fd, QSocketNotifier::Read) {}
    ~Source()
    {
        notifier.setEnabled(false);
        ::close(fd);
    }
    int fd;
    QSocketNotifier notifier;
};

DirectoryObservation::DirectoryObservation(QObject* parent) : QObject(parent)
{
    pending_.setSingleShot(true);
    pending_.setTimerType(Qt::PreciseTimer);
    pending_.setInterval(debounceMilliseconds);
    connect(&pending_, &QTimer::timeout, this, &DirectoryObservation::runScan);
}

DirectoryObservation::~DirectoryObservation() = default;

void DirectoryObservation::start(const QUrl& folder, const std::function<void(const Listing&)>& onBaseline,
    const std::function<void()>& afterBaseline, std::function<void(const Listing&)> onScan,
    std::function<void()> onInvalidated)
{
    stop();
    if (!folder.isValid() || !folder.isLocalFile() || !folder.host().isEmpty()
        || !folder.toLocalFile().startsWith(QLatin1Char('/')))
        throw StoreError::invalidPath();
    const QByteArray path = encodedPath(folder);
    const struct stat before = inspectFolder(path);

    folder_ = folder;
    onScan_ = std::move(onScan);
    onInvalidated_ = std::move(onInvalidated);

    const Listing baseline = list();
    if (onBaseline)
        onBaseline(baseline);
    if (afterBaseline)
        afterBaseline();

    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        throw StoreError::invalidSource();
    auto source = std::make_unique<Source>(fd);
    if (::inotify_add_watch(fd, path.constData(), changeEvents | endingEvents | IN_ONLYDIR | IN_DONT_FOLLOW) < 0)
        throw StoreError::invalidSource();
    // The path may have been swapped for another folder (or a link) since it
    // was inspected; the watch must be on the folder that was checked.
    struct stat after {};
    if (::lstat(path.constData(), &after) != 0 || after.st_dev != before.st_dev || after.st_ino != before.st_ino)
        throw StoreError::invalidSource();

    const std::int64_t watched = generation_;
    connect(&source->notifier, &QSocketNotifier::activated, this, [this, watched] { handleEvents(watched); });
    source_ = std::move(source);

    Listing catchUp;
    try {
        catchUp = list();
    } catch (...) {
        stop();
        throw;
    }
    if (onScan_)
        onScan_(catchUp);
}

void DirectoryObservation::stop()
{
    ++generation_;
    pending_.stop();
    source_.reset();
}

void DirectoryObservation::handleEvents(std::int64_t generation)
{
    if (generation != generation_ || !source_)
        return;
    alignas(struct inotify_event) char buffer[8192];
    std::uint32_t mask = 0;
    bool failed = false;
    for (;;) {
        const ssize_t length = ::read(source_->fd, buffer, sizeof buffer);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            failed = errno != EAGAIN;
            break;
        }
        if (length == 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + offset);
            mask |= event->mask;
            offset += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    if (failed || (mask & endingEvents) != 0) {
        invalidate();
        return;
    }
    // An overflow lost events, not the watch: a listing brings everything back.
    if (mask != 0)
        scheduleScan();
}

void DirectoryObservation::scheduleScan()
{
    pending_.start();
}

void DirectoryObservation::runScan()
{
    if (!folder_ || !source_)
        return;
    Listing listing;
    try {
        inspectFolder(encodedPath(*folder_));
        listing = list();
    } catch (...) {
        invalidate();
        return;
    }
    if (onScan_)
        onScan_(listing);
}

void DirectoryObservation::invalidate()
{
    stop();
    // The owner may delete the observation from the callback.
    const auto callback = onInvalidated_;
    if (callback)
        callback();
}

DirectoryObservation::Listing DirectoryObservation::list() const
{
    const QList<QUrl> entries = SystemFileOperations::shared()->list(*folder_);
    Listing visible;
    visible.reserve(entries.size());
    for (const QUrl& entry : entries) {
        if (!entry.fileName().startsWith(QLatin1Char('.')))
            visible.append(entry);
    }
    return visible;
}

} // namespace tolvex
