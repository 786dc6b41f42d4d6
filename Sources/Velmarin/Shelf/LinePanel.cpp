#include "Velmarin/Shelf/LinePanel.h"

#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineGeometry.h"
#include "Velmarin/Shelf/LineHostingView.h"
#include "Velmarin/Shelf/LinePanelAccessible.h"
#include "Velmarin/Shelf/LineView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace tolvex {

namespace {

// The pixels whose centres lie in the rectangle: the X server decides per
// pixel, the line per point, and a click lands on a pixel's centre.
QRect pixelsOf(const QRectF& rect)
{
    if (rect.isEmpty())
        return {};
    const int left = static_cast<int>(std::ceil(rect.left() - 0.5));
    const int top = static_cast<int>(std::ceil(rect.top() - 0.5));
    const int right = static_cast<int>(std::floor(rect.right() - 0.5));
    const int bottom = static_cast<int>(std::floor(rect.bottom() - 0.5));
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace

LinePanel::LinePanel(LineHostingView* content, std::shared_ptr<PanelWindowSystem> windowSystem)
    // Unmanaged (override-redirect): a window manager's frame would copy
    // the input region once at mapping and then swallow every later change
    // of it; unmanaged, the panel is also on every desktop by itself.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
            | Qt::NoDropShadowWindowHint | Qt::X11BypassWindowManagerHint),
      content_(content), windowSystem_(std::move(windowSystem))
{
    // Assistive technology raises the panel through its own interface.
    LinePanelAccessible::install();
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_AlwaysStackOnTop);
    content_->setParent(this);
    content_->move(0, 0);
    resize(0, static_cast<int>(LineGeometry::stripHeight));
    // The region depends on the line alone, never on where the pointer is:
    // it is re-decided when what it is made of changes (the cards' hit
    // rectangles, the reveal, the end of a press or a drag), not polled.
    content_->lineView()->onHitRectsChanged = [this] { refreshInputRegion(); };
    Line& line = content_->line();
    lineWatches_.push_back(line.revealed.subscribe([this](const bool&) { refreshInputRegion(); }));
    lineWatches_.push_back(line.pressedID.subscribe([this](const auto&) { refreshInputRegion(); }));
    lineWatches_.push_back(line.draggingID.subscribe([this](const auto&) { refreshInputRegion(); }));
}

void LinePanel::refreshInputRegion()
{
    if (isVisible())
        updateMousePassThrough(QPointF());
}

LinePanel::~LinePanel()
{
    if (content_ && content_->lineView())
        content_->lineView()->onHitRectsChanged = [] {};
}

QRegion LinePanel::claimedRegion(const Line& line, double width)
{
    QRegion region;
    if (!line.revealed() || width <= 0)
        return region;
    const QRectF strip(0, 0, width, LineGeometry::stripHeight);
    region += pixelsOf(LineGeometry::ropeInputStrip(width).intersected(strip));
    if (line.isCovered())
        return region;
    for (const QRectF& rect : line.hitRects) {
        const QRectF grown = rect.adjusted(-LineGeometry::hitMargin, -LineGeometry::hitMargin, LineGeometry::hitMargin,
            LineGeometry::hitMargin);
        region += pixelsOf(grown.intersected(strip));
    }
    region += pixelsOf(line.pageControlsRegion(width).intersected(strip));
    return region;
}

void LinePanel::updateMousePassThrough(QPointF screenPoint)
{
    Q_UNUSED(screenPoint);
    if (GrabView::isDragging())
        return;
    if (!content_)
        return;
    const Line& line = content_->line();
    if (line.pressedID())
        return;
    applyRegion(claimedRegion(line, width()));
}

void LinePanel::applyRegion(const QRegion& region)
{
    if (regionApplied_ && region == inputRegion_)
        return;
    inputRegion_ = region;
    if (!windowHandle() || !isVisible())
        return;
    regionApplied_ = true;
    windowSystem_->setInputRegion(*windowHandle(), region);
    if (!composited_) {
        // Without a compositor the translucent pixels are black: show only
        // the rope band and what takes clicks.
        QRegion visible = region;
        visible += QRect(0, 0, width(), 64);
        setMask(visible);
    }
}

void LinePanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    composited_ = windowSystem_->hasCompositor();
    if (!composited_)
        clearMask();
    if (windowHandle())
        windowSystem_->showOnAllDesktops(*windowHandle());
    regionApplied_ = false;
    if (content_)
        applyRegion(claimedRegion(content_->line(), width()));
}

void LinePanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
}

bool LinePanel::event(QEvent* event)
{
    if (event->type() == QEvent::Resize && content_)
        content_->resize(size());
    return QWidget::event(event);
}

void LinePanel::closeEvent(QCloseEvent* event)
{
    endKeyboardBrowsing();
    QWidget::closeEvent(event);
}

std::function<void()> LinePanel::focusRestorer()
{
    QPointer<QWidget> window = QApplication::activeWindow();
    QPointer<QWidget> responder = window ? window->focusWidget() : nullptr;
    const PanelWindowSystem::WindowID other = windowSystem_->activeWindow();
    const std::shared_ptr<PanelWindowSystem> system = windowSystem_;
    const QPointer<LinePanel> self(this);
    return [window, responder, other, system, self] {
        if (window && window != self) {
            window->activateWindow();
            window->raise();
            if (responder)
                responder->setFocus();
            return;
        }
        // Another program's window: the window manager activates it.
        if (other != 0 && (!self || self->internalWinId() != other))
            system->activate(other);
    };
}

void LinePanel::beginKeyboardBrowsing(std::function<void()> restoring)
{
    if (!content_)
        return;
    Line& line = content_->line();
    if (!line.revealed() || line.isCovered())
        return;
    if (!keyboardBrowsing_)
        restoreFocus_ = restoring ? std::move(restoring) : focusRestorer();
    keyboardBrowsing_ = true;
    setAttribute(Qt::WA_X11DoNotAcceptFocus, false);
    raise();
    if (QWindow* handle = windowHandle()) {
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, false);
        // Unmanaged, the window takes the input focus itself.
        handle->requestActivate();
        windowSystem_->takeFocus(*handle);
    }
    content_->setFocus(Qt::OtherFocusReason);
    line.selectForKeyboard(0);
    content_->announceKeyboardSelection();
}

void LinePanel::endKeyboardBrowsing()
{
    if (!keyboardBrowsing_)
        return;
    keyboardBrowsing_ = false;
    if (content_)
        content_->line().keyboardID = std::nullopt;
    if (QWindow* handle = windowHandle())
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, true);
    setAttribute(Qt::WA_X11DoNotAcceptFocus, true);
    if (content_)
        content_->clearFocus();
    if (auto restore = std::exchange(restoreFocus_, {}))
        restore();
}

QScreen* LinePanel::screenUnderPointer()
{
    const QPoint pointer = QCursor::pos();
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens) {
        if (screen->geometry().contains(pointer))
            return screen;
    }
    if (QScreen* primary = QGuiApplication::primaryScreen())
        return primary;
    return screens.isEmpty() ? nullptr : screens.first();
}

} // namespace tolvex
