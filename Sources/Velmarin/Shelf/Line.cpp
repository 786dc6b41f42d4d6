#include "Velmarin/Shelf/Line.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/ShelfPolicy.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Common/TextCut.h"
#include "Velmarin/Common/UserDefaults.h"
#include "Velmarin/Platform/BackgroundPriority.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Shelf/FaceLoader.h"
#include "Velmarin/Shelf/LineGeometry.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Shelf/ThumbnailDiskCache.h"
#include "Velmarin/Shelf/Thumbnails.h"

#include <QMimeData>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <vector>

namespace tolvex {

namespace {

// What a render reads for a card it has not shown before: the beginning of
// a text, and a picture's size from its file's header. Small reads, made on
// worker threads before the cards are published; the pictures come later.
struct PresentationJob {
    QUrl url;
    MaterialKind kind;
    QString digest;
};

struct MadePresentation {
    std::optional<QString> text;
    std::optional<QSize> size;
};

} // namespace

// Thumbnails and previews decode and read payloads; they run here, never on
// the GUI thread, as many at once as there are cores. A pool of its own so
// that a long shelf cannot starve the store's staging jobs on the global pool.
QThreadPool& Line::presentationPool()
{
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        made->setExpiryTimeout(30000);
        return made;
    }();
    return *pool;
}

Line::Line(LineStore& store, UserDefaults& hintDefaults, QObject* parent)
    : Line(store, hintDefaults, defaultThumbnailMaker(), parent, ThumbnailDiskCache::standard(store.dataRoot()))
{
}

Line::Line(LineStore& store, UserDefaults& hintDefaults, ThumbnailMaker thumbnail, QObject* parent,
    std::shared_ptr<ThumbnailDiskCache> disk)
    : PrivacyCover(parent), store_(store), hintDefaults_(hintDefaults), thumbnail_(std::move(thumbnail)),
      disk_(std::move(disk)), faces_(new FaceLoader(thumbnail_, disk_, presentationPool(), this))
{
    faces_->onFace = [this](const PresentationKey& key, std::uint64_t generation, std::optional<QImage> face) {
        faceArrived(key, generation, std::move(face));
    };
    // Scrolling and resizing change which pictures are near the view.
    scrollWatch_ = scrollOffset.subscribe([this](double) { scheduleFaceUpdate(); });
    widthWatch_ = viewportWidth.subscribe([this](double) { scheduleFaceUpdate(); });
    onPrivacyHide = [] {};
    onPasteInput = [] {};
    openSettingsAction = [] {};
    newNoteAction = [] {};
    onOpenNote = [](const QUuid&) {};
    onReceiveInput = [](const QList<ImportRequest>&) { return false; };
    onPrepareDrag = [](const Pegged&) -> QCoro::Task<std::shared_ptr<QMimeData>> {
        throw StoreError::invalidSource();
        co_return std::shared_ptr<QMimeData>();
    };
    onCopy = onCopySource = onOpen = onMarkup = onReveal = [](const QUuid&) {};
    onCommand = [](const MaterialCommand&) {};
    onError = [](std::exception_ptr) {};
    cancelFlights = [] {};
    entryHintDismissed = hintDefaults_.boolValue(entryHintKey);
    scheduleGust();
}

Line::~Line() = default;

void Line::finishBackgroundWork()
{
    presentationPool().clear();
    presentationPool().waitForDone();
}

void Line::waitForBackgroundWork()
{
    presentationPool().waitForDone();
}

Line::ThumbnailMaker Line::defaultThumbnailMaker()
{
    return [](const QUrl& url) { return Thumbnails::makeThumbnail(url, shelfThumbnailPixels); };
}

std::uint64_t Line::advanceGeneration()
{
    ++renderGeneration_;
    sharedGeneration_->store(renderGeneration_);
    return renderGeneration_;
}

void Line::reportError(std::exception_ptr error)
{
    if (onError)
        onError(error);
}

QCoro::Task<void> Line::load()
{
    QPointer<Line> self(this);
    QCoro::Task<WorkspaceSnapshot> loading = awaitResult(store_.load());
    const WorkspaceSnapshot loaded = co_await std::move(loading);
    if (!self)
        co_return;
    if (!privacyOverride_ && loaded.privacyHidden)
        privacyOverride_ = true;
    QCoro::Task<void> rendering = render(loaded, std::nullopt);
    co_await std::move(rendering);
}

QCoro::Task<void> Line::render(WorkspaceSnapshot s, std::optional<QUuid> flightID)
{
    if (privacyOverride_)
        s.privacyHidden = *privacyOverride_;
    if (s.privacyHidden) {
        if (!snapshot->privacyHidden) {
            savedKeyboardID_ = keyboardID();
            savedScrollOffset_ = scrollOffset();
            ++privacyEpoch_;
        }
        snapshot = s;
        coverImmediately();
        co_return;
    }

    const bool uncovering = snapshot->privacyHidden;
    const std::uint64_t generation = advanceGeneration();
    const TaskGuard current(this, {&renderGeneration_});
    snapshot = s;

    const QList<MaterialRecord> records = ShelfPolicy::visible(s, s.selectedMatterID, maxItems);
    PresentationPayloads payloads;
    try {
        QCoro::Task<PresentationPayloads> locating = awaitResult(store_.presentationPayloads(records));
        payloads = co_await std::move(locating);
    } catch (...) {
        // The store answers every record; a failure of the call itself is
        // reported like a record's own error.
        if (current)
            reportError(std::current_exception());
        co_return;
    }
    if (!current)
        co_return;

    // Locate every card's payload, report what cannot hang, and find the
    // presentations the cache lacks.
    struct Slot {
        const MaterialRecord* record;
        QUrl url;
        PresentationKey key;
        std::optional<Presentation> cached;
    };
    std::vector<Slot> located;
    located.reserve(records.size());
    QHash<PresentationKey, qsizetype> jobIndex;
    QList<PresentationJob> jobs;
    QPointer<Line> self(this);
    for (const MaterialRecord& record : records) {
        const auto found = payloads.constFind(record.id);
        if (found == payloads.constEnd() || !found->succeeded()) {
            reportError(found == payloads.constEnd() ? std::make_exception_ptr(StoreError::notFound()) : found->error);
            if (!self)
                co_return;
            continue;
        }
        if (!current)
            co_return;
        const MaterialVersion* version = record.findVersion(record.activeVersionID);
        if (!version) {
            reportError(std::make_exception_ptr(StoreError::invalidSnapshot()));
            if (!self)
                co_return;
            continue;
        }
        Slot slot{&record, found->url, PresentationKey{record.id, version->id, version->sha256}, std::nullopt};
        if (const auto hit = presentations_.constFind(slot.key); hit != presentations_.constEnd()) {
            slot.cached = *hit;
        } else if (!jobIndex.contains(slot.key)) {
            jobIndex.insert(slot.key, jobs.size());
            jobs.append(PresentationJob{slot.url, record.kind, version->sha256});
        }
        located.push_back(std::move(slot));
    }

    // Texts and picture sizes are read on worker threads, all at once; the
    // render then re-checks exactly as after its store call.
    QList<MadePresentation> made;
    if (!jobs.isEmpty()) {
        QFuture<MadePresentation> making = QtConcurrent::mapped(&presentationPool(), jobs,
            [disk = disk_, shared = sharedGeneration_, generation](const PresentationJob& job) {
                lowerCurrentThreadPriority();
                MadePresentation result;
                if (shared->load() != generation)
                    return result; // stale: the render will drop everything
                try {
                    result.text = Thumbnails::textPreview(job.kind, job.url);
                    if (job.kind == MaterialKind::image) {
                        if (disk)
                            result.size = disk->size(job.digest, FaceLoader::diskKind(job.url));
                        if (!result.size)
                            result.size = Thumbnails::pictureSize(job.url, shelfThumbnailPixels);
                    }
                } catch (...) {
                }
                return result;
            });
        QCoro::Task<MadePresentation> waiting = qCoro(making).waitForFinished();
        co_await std::move(waiting);
        if (!current)
            co_return;
        made = making.results();
    }

    QHash<QUuid, qsizetype> oldIndex;
    const QList<Pegged>& oldCards = items();
    // Backwards, so that the first card with an id wins.
    for (qsizetype i = oldCards.size() - 1; i >= 0; --i)
        oldIndex.insert(oldCards[i].id, i);

    QHash<PresentationKey, Presentation> cache;
    QList<Pegged> result;
    result.reserve(static_cast<qsizetype>(located.size()));
    for (const Slot& slot : located) {
        Presentation presentation;
        if (slot.cached) {
            presentation = *slot.cached;
        } else if (const auto existing = cache.constFind(slot.key); existing != cache.constEnd()) {
            presentation = *existing;
        } else {
            const MadePresentation& fresh = made[jobIndex.value(slot.key)];
            presentation.text = fresh.text;
            presentation.size = fresh.size.value_or(QSize());
        }
        if (presentation.thumb.isNull() && !presentation.fallback) {
            // A picture offered for these bytes needs no decode of the file.
            if (const QImage offered = offeredFace(slot.key.digest, slot.url); !offered.isNull()) {
                presentation.thumb = offered;
                presentation.size = offered.size();
            }
        }
        cache.insert(slot.key, presentation);

        const MaterialRecord& record = *slot.record;
        const auto old = oldIndex.constFind(record.id);
        Pegged card;
        if (old != oldIndex.constEnd() && oldCards[*old].versionID == record.activeVersionID
            && oldCards[*old].url == slot.url) {
            card = oldCards[*old];
        } else {
            card.id = record.id;
            card.versionID = record.activeVersionID;
            card.url = slot.url;
            card.tilt = QRandomGenerator::global()->bounded(5.0) - 2.5;
            card.falling = false;
            card.flying = flightID && *flightID == record.id;
        }
        card.thumb = faceOf(presentation);
        card.displayTitle = record.title;
        card.kind = record.kind;
        card.previewText = presentation.text;
        result.append(std::move(card));
    }
    if (!current)
        co_return;

    std::optional<QUuid> newestArrival;
    for (qsizetype i = result.size() - 1; i >= 0; --i) {
        if (!oldIndex.contains(result[i].id)) {
            newestArrival = result[i].id;
            break;
        }
    }

    presentations_ = std::move(cache);
    cardKeys_.clear();
    for (const Slot& slot : located)
        cardKeys_.insert(slot.record->id, slot.key);
    QSet<QUuid> keptArrivals;
    for (const Pegged& card : result) {
        if (arrivedIDs_.contains(card.id))
            keptArrivals.insert(card.id);
    }
    arrivedIDs_ = std::move(keptArrivals);
    items = std::move(result);

    if (keyboardID() && indexOf(*keyboardID()) < 0)
        keyboardID = std::nullopt;
    const double width = viewportWidth();
    const qsizetype n = items->size();
    scrollOffset = std::min(scrollOffset(), LineGeometry::maxScrollOffset(n, width));

    if (width > 0) {
        const std::optional<QUuid> target = flightID ? flightID : newestArrival;
        const qsizetype index = target ? indexOf(*target) : -1;
        if (index >= 0) {
            const double x = LineGeometry::rowCentre(index, n, width);
            if (x - LineGeometry::halfCard < scrollOffset())
                scrollOffset = std::max(x - LineGeometry::halfCard - LineGeometry::arrivalMargin, 0.0);
            if (scrollOffset() + width < x + LineGeometry::halfCard)
                scrollOffset = std::min(x + LineGeometry::halfCard + LineGeometry::arrivalMargin - width,
                    LineGeometry::maxScrollOffset(n, width));
        }
    }

    if (uncovering) {
        keyboardID = savedKeyboardID_ && indexOf(*savedKeyboardID_) >= 0 ? savedKeyboardID_ : std::nullopt;
        scrollOffset = std::min(savedScrollOffset_, LineGeometry::maxScrollOffset(n, width));
        inputFeedback = QString();
    }
    arrivalScrollOffset_ = scrollOffset();
    updateFaces();
    forgetGoneThumbnails();
}

qsizetype Line::indexOf(const QUuid& id) const
{
    const QList<Pegged>& cards = items();
    for (qsizetype i = 0; i < cards.size(); ++i) {
        if (cards[i].id == id)
            return i;
    }
    return -1;
}

void Line::animateTakeDown(const QUuid& id)
{
    const qsizetype index = indexOf(id);
    if (index < 0)
        return;
    if (onFall)
        onFall(items()[index]);
    // onFall may have rendered meanwhile: find the card again.
    const qsizetype now = indexOf(id);
    if (now >= 0)
        items.modify([now](QList<Pegged>& cards) { cards[now].falling = true; });
    hitRects.remove(id);
}

void Line::land(const QUuid& id)
{
    const qsizetype index = indexOf(id);
    if (index < 0)
        return;
    items.modify([index](QList<Pegged>& cards) { cards[index].flying = false; });
}

int Line::liveCount() const
{
    return static_cast<int>(std::count_if(items->begin(), items->end(), [](const Pegged& card) { return !card.falling; }));
}

bool Line::claimArrival(const QUuid& id)
{
    const bool isNew = !arrivedIDs_.contains(id);
    arrivedIDs_.insert(id);
    return isNew && scrollOffset() == arrivalScrollOffset_;
}

QString Line::cardAccessibilityLabel(const Pegged& card) const
{
    const Localizer localizer = appLocalizer();
    MessageKey kindKey = MessageKey::inputFiles;
    switch (card.kind) {
    case MaterialKind::image: kindKey = MessageKey::inputImages; break;
    case MaterialKind::text: kindKey = MessageKey::inputText; break;
    case MaterialKind::pdf: kindKey = MessageKey::materialPDF; break;
    case MaterialKind::file: kindKey = MessageKey::inputFiles; break;
    }
    // Runs of whitespace, line breaks included, read as one space.
    const QString title = cutAtCharacter(card.displayTitle.simplified(), 60);
    const qsizetype index = indexOf(card.id);
    const QString position = MessageFormat::format(localizer.string(MessageKey::shelfPosition),
        {static_cast<std::int64_t>(index < 0 ? 1 : index + 1), static_cast<std::int64_t>(items->size())});
    return localizer.string(kindKey) + QStringLiteral(" · ") + title + QStringLiteral(" · ") + position;
}

int Line::runAlert(Alert& alert)
{
    if (isCovered())
        return Alert::cancelResponse;
    ModalRegistration registration(*this, alert.window());
    const int response = alert.run();
    return registration.cancelled() ? Alert::cancelResponse : response;
}

void Line::scheduleGust()
{
    const int delayMs = static_cast<int>(QRandomGenerator::global()->bounded(7000, 16001));
    QTimer::singleShot(delayMs, this, [this] {
        if (!items->isEmpty() && !draggingID())
            gust = gust() + 1;
        scheduleGust();
    });
}

} // namespace tolvex
