#pragma once

#include "Velmarin/Common/Published.h"
#include "Velmarin/Platform/QtPresentationSystem.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace tolvex {

class CapturePresentation;
class EventSound;
class Line;
class PresentationPanel;
class ShelfPresentation;
class UserDefaults;
class X11ButtonPresses;
class X11DesktopChanges;

// The shelf on the screen, for the delegate: the panel, its reveal and hide
// (ShelfPresentation), the capture presentation with its flights, and what
// moves them: clicks in the menu-bar band, cards taken down, new sets of
// cards, desktop switches and activations, screens coming, going or
// changing, and the program's own windows coming up (the line pulls up
// for them). Every callback it hands out holds it weakly. GUI thread only.
class ShelfDisplay final : public QObject {
public:
    using PanelFactory = std::function<std::unique_ptr<PresentationPanel>(Line&)>;

    // Desktop switches and activations are checked at once and once more
    // this much later, when the window manager has settled.
    static constexpr double spaceRecheckDelay = 0.8;

    // `line` must outlive the display. Without a function the EWMH window
    // manager tells whether a screen shows a full-screen window.
    ShelfDisplay(Line& line, QtPresentationSystem::StateOfScreen fullScreenState);
    ~ShelfDisplay() override;

    // Makes the panel (without a factory the program's own, which an
    // accessibility raise reveals), places it under the menu bar of the
    // pointer's screen, and builds the capture presentation once: it keeps
    // its flights and its reduced motion across every change of screens.
    void present(const PanelFactory& makePanel, EventSound& sound, UserDefaults& defaults);
    // From here on the clicks, the cards, the desktop and the screens move the shelf.
    void follow();
    // The delegate takes its parts down in order: first the display stops
    // following the line's cards, later the presentations end; the panel
    // and the monitors go with the display.
    void stopFollowing();
    void stopPresenting();

    void showLine();
    void toggle();

    ShelfPresentation* presentation() const { return presentation_.get(); }
    PresentationPanel* panel() const { return panel_.get(); }
    CapturePresentation* capturePresentation() const { return capturePresentation_.get(); }

protected:
    // Every window of the program that comes up pulls the line up.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeOnScreenUnderPointer();
    void onSpaceOrActivationChange();

    Line& line_;
    QtPresentationSystem system_;
    std::unique_ptr<PresentationPanel> panel_;
    std::unique_ptr<ShelfPresentation> presentation_;
    std::unique_ptr<CapturePresentation> capturePresentation_;
    std::unique_ptr<X11ButtonPresses> clickMonitor_;
    std::unique_ptr<X11DesktopChanges> desktopChanges_;
    std::vector<Subscription> cancellables_;
};

} // namespace tolvex
