#pragma once

#include "Velmarin/Platform/PresentationSystem.h"

#include <limits>
#include <memory>
#include <optional>

namespace tolvex {

class Line;

// When the shelf's panel is on screen at all ("present") and when the line in
// it is pulled down and usable ("revealed"). Driven by the pointer dwelling
// in a screen's menu-bar band (sampled 30 times a second while the line is
// wanted), by the hot key and the menus (toggle, showLine), by arriving cards
// (a peek) and by clicks in the menu-bar band. GUI thread only.
class ShelfPresentation {
public:
    static constexpr double panelHeight = 210;
    static constexpr double pointerInterval = 1.0 / 30;
    static constexpr double hotZoneDwell = 0.25;
    static constexpr double awayDelay = 0.5;
    static constexpr double arrivalPeek = 2.5;
    static constexpr double emptyDelay = 0.7;
    static constexpr double orderOutDelay = 0.4;
    // Where nothing is reserved at a screen's top, the band is this high.
    static constexpr double defaultBandHeight = 24;

    // All three must outlive the presentation.
    ShelfPresentation(Line& line, PresentationPanel& panel, PresentationSystem& system);
    ~ShelfPresentation();
    ShelfPresentation(const ShelfPresentation&) = delete;
    ShelfPresentation& operator=(const ShelfPresentation&) = delete;

    // The strip at a screen's top where a dwelling pointer reveals the line.
    static QRectF menuBarBand(const PresentationScreen& screen);
    // The panel's frame on a screen: the top of its available area, full width.
    static QRectF panelFrame(const PresentationScreen& screen);

    // Puts the panel on the screen (when given) and fits the line to it.
    void place(const std::optional<PresentationScreen>& screen);

    void showLine();
    void toggle();
    void itemsChanged();
    void refresh();
    void reveal(bool pinned, double peekFor);
    void setRevealed(bool revealed);
    void dismiss();
    void startMouseTracking();
    void stopMouseTracking();
    void tick(const QPointF& pointer, double now);
    // A left or right button went down anywhere, the pointer at `pointer`.
    void menuBarClick(const QPointF& pointer);
    // One of the program's windows came up. The line pulls up, whatever held
    // it down, so that it never lies over the window: a window opened from
    // a card would otherwise sit under the cards until the pointer left them.
    void windowShown();

    // ---- State (read by the menus and the capture presentation) ----
    bool wanted = false;
    bool isPresent = false;
    bool isRevealed = false;
    bool pinned = false;
    bool manuallyShown = false;
    bool keepOpen = false;
    bool menuBarSuppressed = false;
    double peekUntil = -std::numeric_limits<double>::infinity();
    std::optional<double> hotZoneSince;
    std::optional<double> awaySince;
    int lastLiveCount = 0;
    // Where the next arrival is to be shown.
    std::optional<PresentationScreen> pendingScreen;

private:
    std::optional<PresentationScreen> panelOrPointerScreen() const;
    FullScreen::State stateOf(const std::optional<PresentationScreen>& screen) const;
    // A step run later that does nothing once the presentation is gone.
    void later(double seconds, std::function<void()> step);

    Line& line_;
    PresentationPanel& panel_;
    PresentationSystem& system_;
    bool coveredAtLastItems_ = false;
    std::shared_ptr<ShelfPresentation*> self_;
};

} // namespace tolvex
