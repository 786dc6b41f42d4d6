#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "Velmarin/Intake/CaptureCandidate.h"
#include "Velmarin/Platform/PresentationSystem.h"
#include "Velmarin/Shelf/Pegged.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QUuid>

#include <functional>
#include <optional>

namespace tolvex {

class EventSound;
class Line;
class ShelfPresentation;
class UserDefaults;

// One thumbnail flying onto its card (an arrival) or falling from it.
struct FlightRequest {
    QImage image;
    // Global coordinates, y growing downwards.
    QRectF from;
    QRectF to;
    double tilt = 0;
    PresentationScreen screen;
    bool falling = false;
    // Seconds; 0 lets the flight choose.
    double duration = 0;
    std::function<void()> completion;
};

// Shows a new card from a screenshot or the clipboard: the panel moves to
// the right screen, the line peeks, the sound plays and a screenshot's
// thumbnail flies from where it was taken into its card. Also lets a card
// taken down fall. GUI thread only.
class CapturePresentation final : public QObject {
public:
    static constexpr double arrivalPeek = 2.5;
    static constexpr double fallDuration = 0.55;
    static constexpr int minimumFlightPixels = 400;
    static constexpr int maximumFlightPixels = 3000;

    using FlightRunner = std::function<void(FlightRequest)>;
    // Runs on a worker thread.
    using ThumbnailMaker = std::function<std::optional<QImage>(const QUrl&, int maxPixels)>;

    struct Hooks {
        // Without one, every card lands at once.
        FlightRunner runFlight;
        ThumbnailMaker thumbnail;
        std::function<bool()> reduceMotion;
        // The backing scale of a screen, for the flight's thumbnail.
        std::function<double(const PresentationScreen&)> scaleOf;
    };

    CapturePresentation(Line& line, ShelfPresentation& presentation, PresentationPanel& panel,
        PresentationSystem& system, EventSound& sound, UserDefaults& defaults, Hooks hooks);

    // The capture's own decode, offered just before its card is presented:
    // the flight's picture is made from it, exactly as from the file, when
    // the card's payload has its digest and its type is made from a whole
    // decode. Taken (or dropped) by the next presentCapture.
    void offerPicture(const CapturePicture& picture) { offered_ = picture; }

    // `area`: where a screenshot was taken, none for clipboard arrivals.
    QCoro::Task<void> presentCapture(QUuid id, std::optional<QRectF> area, WorkspaceSnapshot snapshot);
    void fall(const Pegged& item);
    // The card's frame on screen, none when it is not on the line or scrolled out of view.
    std::optional<QRectF> cardFrame(const QUuid& id) const;

private:
    QCoro::Task<void> fly(QUuid id, QRectF area, std::optional<CapturePicture> picture);
    void launchFly(QUuid id, QRectF area, std::optional<CapturePicture> picture);
    std::optional<PresentationScreen> panelOrPointerScreen() const;
    bool reduceMotion() const;
    bool lineShown() const;

    QPointer<Line> line_;
    ShelfPresentation& presentation_;
    PresentationPanel& panel_;
    PresentationSystem& system_;
    EventSound& sound_;
    UserDefaults& defaults_;
    Hooks hooks_;
    std::optional<CapturePicture> offered_;
};

} // namespace tolvex
