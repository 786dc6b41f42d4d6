#include "Velmarin/Shell/ShelfPresentation.h"

#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/Line.h"

#include <utility>

namespace tolvex {

namespace {

// Half-open on both axes, so that a point on the edge between two screens
// or between the band and the line below belongs to exactly one of them.
bool holds(const QRectF& rect, const QPointF& point)
{
    return point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top()
        && point.y() < rect.bottom();
}

} // namespace

ShelfPresentation::ShelfPresentation(Line& line, PresentationPanel& panel, PresentationSystem& system)
    : line_(line), panel_(panel), system_(system), self_(std::make_shared<ShelfPresentation*>(this))
{
}

ShelfPresentation::~ShelfPresentation()
{
    *self_ = nullptr;
    system_.stopPointerTimer();
}

QRectF ShelfPresentation::menuBarBand(const PresentationScreen& screen)
{
    double height = screen.availableFrame.top() - screen.frame.top();
    if (height < 1)
        height = defaultBandHeight;
    return {screen.frame.left(), screen.frame.top(), screen.frame.width(), height};
}

QRectF ShelfPresentation::panelFrame(const PresentationScreen& screen)
{
    const QRectF& available = screen.availableFrame;
    return {available.left(), available.top(), available.width(), panelHeight};
}

void ShelfPresentation::place(const std::optional<PresentationScreen>& screen)
{
    if (screen) {
        const QRectF frame = panelFrame(*screen);
        if (panel_.frame() != frame)
            panel_.setFrame(frame);
    }
    line_.resizeViewport(panel_.frame().width());
}

std::optional<PresentationScreen> ShelfPresentation::panelOrPointerScreen() const
{
    if (auto screen = panel_.screen())
        return screen;
    return system_.screenUnderPointer();
}

FullScreen::State ShelfPresentation::stateOf(const std::optional<PresentationScreen>& screen) const
{
    return screen ? system_.fullScreenState(*screen) : FullScreen::State::unknown;
}

void ShelfPresentation::later(double seconds, std::function<void()> step)
{
    std::weak_ptr<ShelfPresentation*> weak = self_;
    system_.after(seconds, [weak, step = std::move(step)] {
        const auto self = weak.lock();
        if (self && *self)
            step();
    });
}

void ShelfPresentation::refresh()
{
    const FullScreen::State state = stateOf(panelOrPointerScreen());
    if ((wanted && state == FullScreen::State::desktop) || (state == FullScreen::State::unknown && manuallyShown)) {
        if (!isPresent) {
            isPresent = true;
            panel_.orderFront();
        }
    } else {
        dismiss();
    }
    if (wanted)
        startMouseTracking();
    else
        stopMouseTracking();
}

void ShelfPresentation::dismiss()
{
    if (!isPresent)
        return;
    isPresent = false;
    setRevealed(false);
    // Re-tested when it runs: a panel presented again meanwhile stays.
    later(orderOutDelay, [this] {
        if (!isPresent)
            panel_.orderOut();
    });
}

void ShelfPresentation::startMouseTracking()
{
    if (system_.pointerTimerRunning())
        return;
    system_.startPointerTimer(pointerInterval, [this] { tick(system_.pointer(), system_.now()); });
}

void ShelfPresentation::stopMouseTracking()
{
    system_.stopPointerTimer();
    panel_.ignoreMouseEvents();
}

void ShelfPresentation::setRevealed(bool revealed)
{
    if (revealed == isRevealed)
        return;
    isRevealed = revealed;
    line_.revealed = revealed;
    // The next tick decides afresh whether the timer may rest.
    system_.setPointerTimerResting(false);
    if (!revealed) {
        manuallyShown = false;
        panel_.endKeyboardBrowsing();
        pinned = false;
        peekUntil = -std::numeric_limits<double>::infinity();
        panel_.ignoreMouseEvents();
    }
}

void ShelfPresentation::reveal(bool pinnedRequest, double peekFor)
{
    if (!isPresent)
        return;
    if (pinnedRequest)
        pinned = true;
    if (peekFor > 0)
        peekUntil = system_.now() + peekFor;
    awaySince.reset();
    if (!isRevealed) {
        isRevealed = true;
        line_.revealed = true;
    }
    // The next tick decides afresh whether the timer may rest.
    system_.setPointerTimerResting(false);
}

void ShelfPresentation::showLine()
{
    manuallyShown = true;
    keepOpen = true;
    wanted = true;
    place(system_.screenUnderPointer());
    refresh();
    reveal(true, 0);
}

void ShelfPresentation::toggle()
{
    if (!isRevealed) {
        showLine();
        return;
    }
    setRevealed(false);
    // A hidden line that still holds cards stays wanted: the hot zone keeps working.
    if (line_.liveCount() == 0) {
        keepOpen = false;
        wanted = false;
    }
    refresh();
}

void ShelfPresentation::itemsChanged()
{
    const int live = line_.liveCount();
    const bool covered = line_.snapshot->privacyHidden;
    // The cover empties the line; the cards that come back when it lifts
    // were there all along and are no arrival.
    const bool uncovering = coveredAtLastItems_ && !covered;
    coveredAtLastItems_ = covered;

    if (!uncovering && lastLiveCount < live && !covered) {
        const std::optional<PresentationScreen> target
            = pendingScreen ? pendingScreen : system_.screenUnderPointer();
        pendingScreen.reset();
        place(target);
        wanted = true;
        refresh();
        if (stateOf(panelOrPointerScreen()) == FullScreen::State::desktop)
            reveal(false, arrivalPeek);
    } else if (live == 0 && !keepOpen) {
        later(emptyDelay, [this] {
            if (line_.liveCount() == 0 && !keepOpen) {
                wanted = false;
                refresh();
            }
        });
    }
    lastLiveCount = live;
}

void ShelfPresentation::tick(const QPointF& pointer, double now)
{
    std::optional<PresentationScreen> pointerScreen;
    for (const PresentationScreen& screen : system_.screens()) {
        if (holds(screen.frame, pointer)) {
            pointerScreen = screen;
            break;
        }
    }
    const bool inBand = pointerScreen && holds(menuBarBand(*pointerScreen), pointer);
    if (!inBand)
        menuBarSuppressed = false;

    if (!isRevealed) {
        if (inBand && !menuBarSuppressed && system_.fullScreenState(*pointerScreen) == FullScreen::State::desktop) {
            const double since = hotZoneSince.value_or(now);
            hotZoneSince = since;
            if (now - since >= hotZoneDwell) {
                hotZoneSince.reset();
                if (panel_.screen() != pointerScreen)
                    place(system_.screenUnderPointer());
                refresh();
                if (stateOf(panelOrPointerScreen()) == FullScreen::State::desktop)
                    reveal(false, 0);
            }
        } else {
            hotZoneSince.reset();
        }
        // The line up and the pointer out of every band: until the pointer
        // moves, every tick would find the same. No dwell, delay or peek is
        // running, so the timer may rest.
        system_.setPointerTimerResting(!inBand && !isRevealed);
        return;
    }

    panel_.updateMousePassThrough(pointer);
    const std::optional<PresentationScreen> screen = panelOrPointerScreen();
    if (!screen || system_.fullScreenState(*screen) == FullScreen::State::unknown) {
        system_.setPointerTimerResting(false);
        if (!manuallyShown)
            dismiss();
        return;
    }

    // The line's area reaches up across the menu bar to the screen's top edge.
    QRectF area = panel_.frame();
    if (const auto panelScreen = panel_.screen())
        area.setTop(panelScreen->frame.top());
    const bool inside = holds(area, pointer);
    if (inside && pinned)
        pinned = false;

    const bool stays = panel_.isKeyboardBrowsing() || pinned || GrabView::isDragging() || line_.draggingID().has_value()
        || line_.dropCount() >= 1 || line_.pressedID().has_value() || inside || now < peekUntil;
    if (stays) {
        awaySince.reset();
        // Shown by hand and the pointer away: it stays down until the
        // pointer comes (a device wakes the timer, a warp is seen at the
        // next look) or the user hides it. Nothing else can end it.
        system_.setPointerTimerResting(pinned && manuallyShown && !inside);
        return;
    }
    system_.setPointerTimerResting(false);
    const double since = awaySince.value_or(now);
    awaySince = since;
    if (now - since >= awayDelay) {
        awaySince.reset();
        setRevealed(false);
    }
}

void ShelfPresentation::menuBarClick(const QPointF& pointer)
{
    for (const PresentationScreen& screen : system_.screens()) {
        if (holds(menuBarBand(screen), pointer)) {
            menuBarSuppressed = true;
            hotZoneSince.reset();
            if (isRevealed) {
                pinned = false;
                setRevealed(false);
            }
            return;
        }
    }
}

void ShelfPresentation::windowShown()
{
    hotZoneSince.reset();
    awaySince.reset();
    setRevealed(false);
}

} // namespace tolvex
