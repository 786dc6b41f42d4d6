#pragma once

#include "Velmarin/Common/Published.h"
#include "Velmarin/Platform/PanelWindowSystem.h"

#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QScreen;

namespace tolvex {

class Line;
class LineHostingView;

// The shelf's window: frameless, translucent, above other windows, on
// every desktop, never taking the focus except while the user browses the
// cards with the keyboard, and then handing it back. Pointer input reaches
// it only where the line claims the point (the window's input region);
// everywhere else clicks go to the window below.
class LinePanel final : public QWidget {
    Q_OBJECT

public:
    explicit LinePanel(LineHostingView* content,
        std::shared_ptr<PanelWindowSystem> windowSystem = makePanelWindowSystem());
    ~LinePanel() override;

    // Run when assistive technology asks to raise the panel (LinePanelAccessible).
    std::function<void()> onAccessibilityReveal = [] {};

    LineHostingView* content() const { return content_; }
    bool isKeyboardBrowsing() const { return keyboardBrowsing_; }

    // The points of the panel (window coordinates) where the line takes a
    // click now: exactly those for which Line::acceptsClick answers true.
    static QRegion claimedRegion(const Line& line, double width);
    // Re-decides where the panel takes pointer input; does nothing while a
    // card is pressed or dragged out, so a live press keeps its events.
    // `screenPoint` is the pointer (global coordinates).
    void updateMousePassThrough(QPointF screenPoint);
    QRegion inputRegion() const { return inputRegion_; }

    // `restoring` gives the focus back when browsing ends; without it the
    // panel remembers the active window (ours or another program's).
    void beginKeyboardBrowsing(std::function<void()> restoring = {});
    void endKeyboardBrowsing();

    static QScreen* screenUnderPointer();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void applyRegion(const QRegion& region);
    void refreshInputRegion();
    std::function<void()> focusRestorer();

    LineHostingView* content_;
    std::shared_ptr<PanelWindowSystem> windowSystem_;
    bool keyboardBrowsing_ = false;
    std::function<void()> restoreFocus_;
    std::vector<Subscription> lineWatches_;
    QRegion inputRegion_;
    bool regionApplied_ = false;
    bool composited_ = true;
};

} // namespace tolvex
