#pragma once

#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "Velmarin/Common/Published.h"
#include "Velmarin/Presentation/PrivacyCover.h"
#include "Velmarin/Shelf/Pegged.h"
#include "Velmarin/Shelf/PresentationKey.h"

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QRectF>
#include <QSet>
#include <QSize>
#include <QUuid>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class QMenu;
class QMimeData;
class QThreadPool;
class QWidget;

namespace tolvex {

class Alert;
class FaceLoader;
class LineStore;
class ThumbnailDiskCache;
class UserDefaults;

// The model of the shelf: the one object between the store and everything
// that shows hanging cards or acts on them. Lives on the GUI thread for the
// whole run. It never subscribes to the store: whoever holds a new snapshot
// hands it to render(), and the line publishes the cards.
//
// Also carries the privacy cover (hide at once, show only once saved), the
// card row's geometry and hit test, the windows a cover must end, and the
// callbacks through which gestures, rope input and menus ask the application
// to act.
class Line final : public PrivacyCover {
public:
    // Called on worker threads, several at once.
    using ThumbnailMaker = std::function<std::optional<QImage>(const QUrl&)>;
    using DragProvider = std::function<QCoro::Task<std::shared_ptr<QMimeData>>(const Pegged&)>;

    // Every caller hands this to the store, so no card is ever taken down
    // to make room.
    static constexpr std::int64_t maxItems = std::numeric_limits<std::int64_t>::max();
    static constexpr int shelfThumbnailPixels = 480;
    static inline const QString entryHintKey = QStringLiteral("redRopeEntryHintDismissed");

    // The cache key: a card's picture is made once per material, version and
    // content digest.
    using PresentationKey = tolvex::PresentationKey;
    struct Presentation {
        // The picture while it is in memory: null until it is made, and
        // again once its card is far from the view.
        QImage thumb;
        std::optional<QString> text;
        // The picture's size once known (from the file's header or a picture
        // made before), so that the card keeps its proportions meanwhile.
        QSize size;
        // The stand-in for a file that gave no picture; it costs nothing to keep.
        bool fallback = false;
    };

    // `store` and `hintDefaults` must outlive the line. Cards get the default
    // pictures, kept between runs in the user's thumbnail cache (in the
    // store's data root's part of it).
    Line(LineStore& store, UserDefaults& hintDefaults, QObject* parent = nullptr);
    // With pictures from `thumbnail`, on disk only in `disk` (none when null).
    Line(LineStore& store, UserDefaults& hintDefaults, ThumbnailMaker thumbnail, QObject* parent = nullptr,
        std::shared_ptr<ThumbnailDiskCache> disk = nullptr);
    ~Line() override;

    static ThumbnailMaker defaultThumbnailMaker();
    // Waits for the pictures still being made on worker threads. They use the
    // application's image plugins, so the program calls this before its
    // application object goes.
    static void finishBackgroundWork();
    // Waits for every job of the workers, queued ones included (tests).
    static void waitForBackgroundWork();

    LineStore& store() const { return store_; }

    // ---- Published state (views subscribe; see Published) ----
    // The last snapshot rendered, with the privacy override written in.
    Published<WorkspaceSnapshot> snapshot;
    Published<QList<Pegged>> items;
    Published<std::int64_t> gust{0};
    Published<std::optional<QUuid>> copiedID;
    Published<std::optional<QUuid>> draggingID;
    Published<std::optional<QUuid>> pressedID;
    Published<std::optional<QUuid>> keyboardID;
    Published<bool> privacySaving{false};
    Published<bool> privacySaveFailed{false};
    Published<bool> revealed{false};
    Published<bool> canReceiveInput{false};
    Published<bool> canOpenIntakeSettings{false};
    Published<QString> inputFeedback;
    Published<int> dropCount{0};
    Published<bool> entryHintDismissed{false};
    Published<double> viewportWidth{0};
    Published<double> scrollOffset{0};

    // ---- Callbacks (the shell sets them; defaults do nothing) ----
    std::function<void()> cancelPress; // set by card gestures while a press is pending
    std::function<void()> onPrivacyHide;
    std::function<void()> onPasteInput;
    std::function<void()> openSettingsAction;
    std::function<void()> newNoteAction;
    std::function<void(const QUuid&)> onOpenNote;
    std::function<QMenu*()> onRopeMenuProvider;
    std::function<bool(const QList<ImportRequest>&)> onReceiveInput;
    DragProvider onPrepareDrag; // until set: fails with invalidSource
    std::function<void(const QUuid&)> onCopy;
    std::function<void(const QUuid&)> onCopySource;
    std::function<void(const QUuid&)> onOpen;
    std::function<void(const QUuid&)> onMarkup;
    std::function<void(const QUuid&)> onReveal;
    std::function<void(const MaterialCommand&)> onCommand;
    std::function<void(const Pegged&)> onFall;
    std::function<void(std::exception_ptr)> onError;
    // Stops every capture flight; installed by the flight layer, run at each cover.
    std::function<void()> cancelFlights;

    // Written by the line view: each laid-out card's rectangle, strip coordinates.
    QHash<QUuid, QRectF> hitRects;

    // ---- Loading and rendering ----
    // Loads the workspace and renders it; a load error is thrown and nothing changes.
    QCoro::Task<void> load();
    // Publishes the hanging cards of the snapshot's selected group. The
    // latest render wins and a cover beats any render under way; a stale
    // render changes nothing. `flightID` names the card a capture flight is
    // about to carry in.
    //
    // Cards are published as soon as their files are located, each with the
    // picture already in memory or else a placeholder of the picture's
    // proportions (placeholderFace). The pictures are then made on worker
    // threads: those in view first, then a page to either side; the rest when
    // the row scrolls near them. A picture two pages or more out of view
    // leaves memory. A picture that arrives for a generation that no longer
    // wants it, or under the cover, is dropped.
    QCoro::Task<void> render(WorkspaceSnapshot snapshot, std::optional<QUuid> flightID = std::nullopt);

    // A payload's picture already decoded whole elsewhere (the capture intake
    // decodes each screenshot once), with the SHA-256 of the bytes decoded and
    // the type they were decoded as. The cards of that payload take their
    // picture from it, made exactly as from the file, instead of decoding the
    // file once more; never the cards of another digest. Ignored under the
    // cover, and for a type whose picture is not made from a whole decode.
    void offerPicture(const QString& sha256, const QImage& decoded, const QString& typeIdentifier);

    void animateTakeDown(const QUuid& id);
    void land(const QUuid& id);
    int liveCount() const;
    // True at most once per card while it hangs, and only when the row has
    // not scrolled since the render that brought it.
    bool claimArrival(const QUuid& id);
    QString cardAccessibilityLabel(const Pegged& card) const;

    // Runs the alert modally, registered so that a cover can end it; 0 when
    // covered before or during the alert.
    int runAlert(Alert& alert);

    // ---- Privacy cover ----
    bool isCovered() const override { return snapshot->privacyHidden; }
    void setPrivacyHidden(bool hidden);
    void coverImmediately();
    // Rises each time the line goes from shown to covered. Record it before
    // awaiting anything and drop the result when it moved or isCovered().
    std::uint64_t privacyEpoch() const override { return privacyEpoch_; }
    bool privacyDesired() const { return privacyDesired_; }
    std::optional<bool> privacyOverride() const { return privacyOverride_; }
    // The latest privacy save; finished when it and all before it are done.
    QFuture<void> privacyTask() const { return privacyTask_; }

    // Modal windows now running; a cover ends them. Use ModalRegistration.
    void registerModal(QWidget* window) override;
    void unregisterModal(const QWidget* window) override;
    QList<QWidget*> ownedModals() const;

    // ---- Geometry, hit testing, keyboard browsing (strip coordinates) ----
    double contentWidth(double width) const;
    double maxScrollOffset(double width) const;
    double cardX(int index, double width) const;
    void resizeViewport(double width);
    void scroll(double delta);
    QList<int> presentedIndices(double width) const;
    QRectF pageControlsRegion(double width) const;
    bool acceptsClick(const QPointF& point, double width) const;
    void selectForKeyboard(int step);

    bool showsEntryHint() const;
    void dismissEntryHint();
    std::function<void()> onOpenIntakeSettings();
    std::function<void()> onNewNote();

    // ---- Inspection (tests, benchmarks) ----
    qsizetype presentationCount() const { return presentations_.size(); }
    bool hasPresentation(const PresentationKey& key) const { return presentations_.contains(key); }
    // Pictures being made or waiting to be.
    int picturesPending() const;
    // At most this many pictures made at once (the workers' count by default).
    void setPictureWorkers(int count);
    // The stand-in shown until a card's picture is made: a soft, empty area
    // with the proportions of `size` (the card's picture box when unknown).
    static QImage placeholderFace(const QSize& size);

private:
    static QThreadPool& presentationPool();
    void reportError(std::exception_ptr error);
    void cancelOwnedModals();
    QCoro::Task<void> savePrivacy(QFuture<void> previous, std::uint64_t request, bool hidden,
        std::shared_ptr<QPromise<void>> done);
    void scheduleGust();
    std::uint64_t advanceGeneration();
    qsizetype indexOf(const QUuid& id) const;
    // Pictures (LineFaces.cpp).
    void scheduleFaceUpdate();
    void updateFaces();
    void faceArrived(const PresentationKey& key, std::uint64_t generation, std::optional<QImage> face);
    void publishFaces();
    QImage faceOf(const Presentation& presentation) const;
    void forgetGoneThumbnails();
    QCoro::Task<void> makeOfferedFace(QString sha256, QImage decoded, QString typeIdentifier, std::uint64_t serial);
    // The picture made from an offer for the digest; null when none is ready.
    QImage offeredFace(const QString& sha256, const QUrl& url);
    void forgetOffers();

    LineStore& store_;
    UserDefaults& hintDefaults_;
    const ThumbnailMaker thumbnail_;
    const std::shared_ptr<ThumbnailDiskCache> disk_;
    FaceLoader* faces_;

    std::uint64_t privacyEpoch_ = 0;
    std::optional<bool> privacyOverride_;
    std::uint64_t privacyRequest_ = 0;
    bool privacyDesired_ = true;
    QFuture<void> privacyTask_;
    std::optional<QUuid> savedKeyboardID_;
    double savedScrollOffset_ = 0;
    QHash<const QWidget*, QPointer<QWidget>> ownedModals_;

    std::uint64_t renderGeneration_ = 0;
    // The same number for the workers of a render, which stop early once
    // their render is stale.
    std::shared_ptr<std::atomic<std::uint64_t>> sharedGeneration_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    QHash<PresentationKey, Presentation> presentations_;
    // Each published card's key, for the pictures that arrive later.
    QHash<QUuid, PresentationKey> cardKeys_;
    bool faceUpdateScheduled_ = false;
    bool facePublishScheduled_ = false;
    Subscription scrollWatch_;
    Subscription widthWatch_;
    // The payload digests the disk cache was last trimmed to; none before the first.
    std::optional<QSet<QString>> keptDigests_;
    QSet<QUuid> arrivedIDs_;
    // Pictures made from offered decodes, by payload digest, the latest few;
    // null while being made. Forgotten at the cover.
    struct OfferedFace {
        QImage face;
        std::uint64_t serial = 0;
        bool stored = false;
    };
    QHash<QString, OfferedFace> offeredFaces_;
    QList<QString> offerOrder_;
    std::uint64_t offerSerial_ = 0;
    double arrivalScrollOffset_ = 0;
};


} // namespace tolvex
