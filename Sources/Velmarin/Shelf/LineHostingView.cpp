#include "Velmarin/Shelf/LineHostingView.h"

#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LinePanel.h"
#include "Velmarin/Shelf/LineView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QTimer>
#include <QWheelEvent>

namespace tolvex {

namespace {

// Qt reports one mouse-wheel notch as 120 eighths of a degree; a notch
// scrolls the row by 40 points.
constexpr double wheelNotch = 120;
constexpr double pointsPerNotch = 40;

class HostingAccessible final : public QAccessibleWidget {
public:
    explicit HostingAccessible(LineHostingView* view) : QAccessibleWidget(view, QAccessible::Pane) {}
    LineHostingView* host() const { return static_cast<LineHostingView*>(widget()); }

    int childCount() const override { return host()->exposesChildren() ? QAccessibleWidget::childCount() : 0; }
    QAccessibleInterface* child(int index) const override
    {
        return host()->exposesChildren() ? QAccessibleWidget::child(index) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return host()->exposesChildren() ? QAccessibleWidget::indexOfChild(child) : -1;
    }
};

QAccessibleInterface* hostingFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("tolvex::LineHostingView") && object && object->isWidgetType())
        return new HostingAccessible(static_cast<LineHostingView*>(object));
    return nullptr;
}

void collectLayers(const QObject* object, QList<GrabView*>& into)
{
    for (QObject* child : object->children()) {
        if (auto* grab = qobject_cast<GrabView*>(child)) {
            into.append(grab);
            continue;
        }
        if (child->isWidgetType())
            collectLayers(child, into);
    }
}

} // namespace

LineHostingView::LineHostingView(Line& line, QWidget* parent) : QWidget(parent), line_(&line)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(hostingFactory);
        return true;
    }();
    (void)factoryInstalled;
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
    view_ = new LineView(line, this);
    placeView();

    const QPointer<LineHostingView> weak(this);
    line.onPrivacyHide = [weak] {
        if (!weak)
            return;
        weak->hideCardLayers();
        if (auto* panel = qobject_cast<LinePanel*>(weak->window()))
            panel->endKeyboardBrowsing();
    };
    privacyObserver_.emplace(line.snapshot.subscribe([this](const WorkspaceSnapshot& snapshot) {
        const bool hidden = snapshot.privacyHidden;
        if (lastPrivacy_ == hidden)
            return;
        lastPrivacy_ = hidden;
        if (!hidden) {
            for (GrabView* layer : cardLayers())
                layer->show();
        }
    }));
    if (line.isCovered())
        line.onPrivacyHide();
}

LineHostingView::~LineHostingView()
{
    if (line_)
        line_->onPrivacyHide = nullptr;
}

void LineHostingView::hideCardLayers()
{
    for (GrabView* layer : cardLayers()) {
        layer->hide();
        layer->accessibleLabel.clear();
        layer->accessibleHelp.clear();
        layer->isContentAvailable = [] { return false; };
        layer->dragImage = QImage();
    }
    // A fresh strip, drawn now: no card may stay on screen another frame.
    view_->dropAllCards();
    view_->repaint();
}

QList<GrabView*> LineHostingView::cardLayers() const
{
    QList<GrabView*> layers;
    collectLayers(this, layers);
    return layers;
}

GrabView* LineHostingView::selectedCard() const
{
    if (!line_ || !line_->keyboardID())
        return nullptr;
    for (GrabView* layer : cardLayers()) {
        if (layer->materialID == line_->keyboardID())
            return layer;
    }
    return nullptr;
}

bool LineHostingView::exposesChildren() const
{
    return line_ && line_->revealed() && !line_->isCovered();
}

void LineHostingView::announceKeyboardSelection()
{
    const QPointer<LineHostingView> weak(this);
    QTimer::singleShot(0, this, [weak] {
        if (!weak || !weak->line_ || weak->line_->isCovered() || !weak->line_->keyboardID())
            return;
        weak->view_->rebuild();
        weak->view_->update();
        if (GrabView* card = weak->selectedCard()) {
            QAccessibleEvent event(card, QAccessible::Focus);
            QAccessible::updateAccessibility(&event);
        }
    });
}

void LineHostingView::cancelOperation()
{
    if (line_ && line_->cancelPress)
        line_->cancelPress();
    if (auto* panel = qobject_cast<LinePanel*>(window()))
        panel->endKeyboardBrowsing();
}

void LineHostingView::keyPressEvent(QKeyEvent* event)
{
    auto* panel = qobject_cast<LinePanel*>(window());
    if (!line_ || !panel || !panel->isKeyboardBrowsing() || line_->isCovered()) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        line_->selectForKeyboard(-1);
        announceKeyboardSelection();
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        line_->selectForKeyboard(1);
        announceKeyboardSelection();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (GrabView* card = selectedCard(); card && card->isContentAvailable())
            card->onClick();
        break;
    case Qt::Key_Menu:
        if (GrabView* card = selectedCard())
            card->accessibilityPerformShowMenu();
        break;
    case Qt::Key_F10:
        if (!(event->modifiers() & Qt::ShiftModifier)) {
            QWidget::keyPressEvent(event);
            return;
        }
        if (GrabView* card = selectedCard())
            card->accessibilityPerformShowMenu();
        break;
    case Qt::Key_Escape:
        cancelOperation();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool LineHostingView::scrollWheel(QPointF pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers modifiers)
{
    if (!line_)
        return false;
    // Precise (touchpad) deltas are points, 1:1; wheel notches are steps.
    const bool precise = !pixelDelta.isNull();
    double dx = precise ? pixelDelta.x() : angleDelta.x() / wheelNotch;
    double dy = precise ? pixelDelta.y() : angleDelta.y() / wheelNotch;
    // Some systems turn Shift+wheel into a horizontal wheel themselves.
    if (dx == 0 && !(modifiers & Qt::ShiftModifier))
        return false;
    double d = dx != 0 ? dx : dy;
    if (d == 0)
        return false;
    line_->scroll(-d * (precise ? 1.0 : pointsPerNotch));
    return true;
}

void LineHostingView::wheelEvent(QWheelEvent* event)
{
    if (scrollWheel(event->pixelDelta(), event->angleDelta(), event->modifiers()))
        event->accept();
    else
        QWidget::wheelEvent(event);
}

void LineHostingView::resizeEvent(QResizeEvent*)
{
    placeView();
}

void LineHostingView::placeView()
{
    view_->resize(width(), 210);
    view_->move(0, static_cast<int>(view_->revealOffset()));
}

} // namespace tolvex
