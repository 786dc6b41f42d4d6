#include "Velmarin/Shelf/GrabView.h"

#include "TolvexCore/Model/CancellationError.h"
#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Common/MainTask.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDrag>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QStyleHints>
#include <QTimer>

#include <cmath>

namespace tolvex {

namespace {

// The card layer as assistive technology sees it: a button with a press
// and a show-menu action, invisible while the card's content is not
// available (covered, hidden, falling).
class GrabViewAccessible final : public QAccessibleWidget {
public:
    explicit GrabViewAccessible(GrabView* view) : QAccessibleWidget(view, QAccessible::Button) {}

    GrabView* grab() const { return static_cast<GrabView*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (!grab()->isAccessibilityElement())
            return {};
        if (t == QAccessible::Name)
            return grab()->accessibleLabel;
        if (t == QAccessible::Description || t == QAccessible::Help)
            return grab()->accessibleHelp;
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (!grab()->isAccessibilityElement())
            s.invisible = true;
        s.focusable = true;
        s.focused = grab()->isAccessibilityFocused();
        return s;
    }
    QStringList actionNames() const override
    {
        return {QAccessibleActionInterface::pressAction(), QAccessibleActionInterface::showMenuAction()};
    }
    void doAction(const QString& name) override
    {
        if (name == QAccessibleActionInterface::pressAction())
            grab()->accessibilityPerformPress();
        else if (name == QAccessibleActionInterface::showMenuAction())
            grab()->accessibilityPerformShowMenu();
    }
};

QAccessibleInterface* grabViewFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("tolvex::GrabView") && object && object->isWidgetType())
        return new GrabViewAccessible(static_cast<GrabView*>(object));
    return nullptr;
}

bool isCancellation(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

// What the drag hands out. QDrag owns and deletes its data, while the
// provider's data is shared; so the drag gets this stand-in, which asks the
// provider afresh at every request: a provider that stops answering (the
// shelf was covered for privacy) then answers a late drop target nothing.
class ForwardingMimeData final : public QMimeData {
public:
    explicit ForwardingMimeData(std::shared_ptr<QMimeData> provider) : provider_(std::move(provider)) {}

    QStringList formats() const override { return provider_ ? provider_->formats() : QStringList(); }
    bool hasFormat(const QString& format) const override { return provider_ && provider_->hasFormat(format); }

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override
    {
        if (!provider_ || !provider_->hasFormat(format))
            return {};
        if (type.id() == QMetaType::QString)
            return QString::fromUtf8(provider_->data(format));
        return provider_->data(format);
    }

private:
    std::shared_ptr<QMimeData> provider_;
};

// Qt's drag runs a nested event loop until the drop; started on a later
// turn so that the press handler that began it has returned first.
void startQtDrag(GrabView& view, std::shared_ptr<QMimeData> provider, QPointF pressPoint)
{
    QPointer<GrabView> weak(&view);
    QTimer::singleShot(0, &view, [weak, provider = std::move(provider), pressPoint] {
        if (!weak)
            return;
        auto* data = new ForwardingMimeData(provider);
        auto* drag = new QDrag(weak);
        drag->setMimeData(data);
        const QRectF frame = weak->imageFrame();
        if (!weak->dragImage.isNull() && frame.isValid()) {
            drag->setPixmap(QPixmap::fromImage(
                weak->dragImage.scaled(frame.size().toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
            const QPointF local = weak->mapFromGlobal(pressPoint.toPoint());
            drag->setHotSpot((local - frame.topLeft()).toPoint());
        }
        drag->exec(Qt::CopyAction, Qt::CopyAction);
        if (weak)
            weak->finishDrag();
    });
}

} // namespace

GrabView::GrabView(QWidget* parent)
    : QWidget(parent), clickDelay(QGuiApplication::styleHints()->mouseDoubleClickInterval())
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(grabViewFactory);
        return true;
    }();
    (void)factoryInstalled;
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    prepareDrag = []() -> QCoro::Task<std::shared_ptr<QMimeData>> {
        throw StoreError::invalidSource();
        co_return std::shared_ptr<QMimeData>();
    };
    menuProvider = [] { return new QMenu(); };
    beginSession = startQtDrag;
}

GrabView::~GrabView()
{
    if (startedDrag_)
        dragging_ = false;
}

bool GrabView::hasPendingClick() const
{
    return clickWork_ && clickWork_->isActive();
}

bool GrabView::isAccessibilityElement() const
{
    return isContentAvailable() && !outsideStrip;
}

bool GrabView::isAccessibilityFocused() const
{
    return isContentAvailable() && isKeyboardSelected();
}

void GrabView::cancelDragPreparation()
{
    ++generation_;
    preparing_ = false;
    downPoint_.reset();
    pendingDragPoint_.reset();
    preparedProvider_.reset();
    endPress();
}

void GrabView::endPress()
{
    if (holdTimer_) {
        holdTimer_->stop();
        holdTimer_->deleteLater();
        holdTimer_ = nullptr;
    }
    onPressChange(false);
}

int GrabView::countClick(const QMouseEvent& event)
{
    const quint64 now = event.timestamp();
    const auto interval = static_cast<quint64>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    if (lastPressTime_ && now >= *lastPressTime_ && now - *lastPressTime_ <= interval)
        ++clickCount_;
    else
        clickCount_ = 1;
    lastPressTime_ = now;
    return clickCount_;
}

void GrabView::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    lastPressButton_ = event->button();
    if (event->button() == Qt::RightButton) {
        popUpMenu(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const int clicks = countClick(*event);
    cancelDragPreparation();
    if (QRectF(0, 0, cornerSize, cornerSize).contains(event->position())) {
        downPoint_.reset();
        onDiscard();
        return;
    }
    if (clicks == 2) {
        if (clickWork_) {
            clickWork_->stop();
            clickWork_->deleteLater();
            clickWork_ = nullptr;
        }
        endPress();
        downPoint_.reset();
        onDoubleClick();
        return;
    }
    downPoint_ = event->scenePosition();
    startedDrag_ = false;
    didLongPress_ = false;
    pendingDragPoint_.reset();
    preparedProvider_.reset();
    onPressChange(true);
    holdTimer_ = new QTimer(this);
    holdTimer_->setSingleShot(true);
    QPointer<GrabView> weak(this);
    connect(holdTimer_, &QTimer::timeout, this, [weak] {
        if (!weak || !weak->downPoint_ || weak->startedDrag_)
            return;
        weak->didLongPress_ = true;
        weak->onPressChange(false);
        weak->onLongPress();
    });
    holdTimer_->start(holdDelay);
}

void GrabView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Some window systems (X11) report the second press only as this
    // event, others send a press before it: count it once either way.
    if (lastPressTime_ && *lastPressTime_ == event->timestamp() && event->button() == lastPressButton_) {
        event->accept();
        return;
    }
    mousePressEvent(event);
}

void GrabView::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!downPoint_ || startedDrag_)
        return;
    const QPointF delta = event->scenePosition() - *downPoint_;
    if (!canDrag() || std::hypot(delta.x(), delta.y()) <= dragThreshold || didLongPress_)
        return;
    if (clickWork_) {
        clickWork_->stop();
        clickWork_->deleteLater();
        clickWork_ = nullptr;
    }
    if (holdTimer_) {
        holdTimer_->stop();
        holdTimer_->deleteLater();
        holdTimer_ = nullptr;
    }
    pendingDragPoint_ = event->globalPosition();
    if (preparing_)
        return;
    preparing_ = true;
    launchTask(runPreparation(generation_), {});
}

QCoro::Task<void> GrabView::runPreparation(std::uint64_t generation)
{
    QPointer<GrabView> self(this);
    const DragProvider prepare = prepareDrag;
    std::shared_ptr<QMimeData> provider;
    std::exception_ptr error;
    try {
        auto preparing = prepare();
        provider = co_await std::move(preparing);
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    if (!error) {
        if (generation == generation_ && downPoint_ && !startedDrag_ && window() && canDrag() && pendingDragPoint_) {
            preparedProvider_ = provider;
            startDrag(*pendingDragPoint_, provider);
        }
    } else if (!isCancellation(error)) {
        if (generation == generation_ && downPoint_ && canDrag())
            onDragError(error);
    }
    if (self && generation == generation_) {
        preparing_ = false;
        endPress();
    }
}

void GrabView::startDrag(QPointF point, std::shared_ptr<QMimeData> provider)
{
    startedDrag_ = true;
    beginSession(*this, std::move(provider), point);
    dragging_ = true;
    onDragStart();
}

QRectF GrabView::imageFrame() const
{
    const QRectF bounds(QPointF(0, 0), QSizeF(size()));
    if (dragImage.isNull() || dragImage.width() <= 0 || dragImage.height() <= 0)
        return bounds;
    const double w = dragImage.width();
    const double h = dragImage.height();
    const double s = std::min(bounds.width() / w, bounds.height() / h);
    return {(bounds.width() - w * s) / 2, (bounds.height() - h * s) / 2, w * s, h * s};
}

void GrabView::finishDrag()
{
    dragging_ = false;
    startedDrag_ = false;
    downPoint_.reset();
    pendingDragPoint_.reset();
    preparedProvider_.reset();
    onDragEnd();
}

void GrabView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    if (downPoint_ && !startedDrag_ && !pendingDragPoint_ && !didLongPress_ && clickCount_ == 1) {
        if (singleClickImmediately) {
            onClick();
        } else {
            if (clickWork_) {
                clickWork_->stop();
                clickWork_->deleteLater();
            }
            clickWork_ = new QTimer(this);
            clickWork_->setSingleShot(true);
            QPointer<GrabView> weak(this);
            QTimer* work = clickWork_;
            connect(clickWork_, &QTimer::timeout, this, [weak, work] {
                if (!weak)
                    return;
                if (weak->clickWork_ == work) {
                    weak->clickWork_ = nullptr;
                    work->deleteLater();
                }
                weak->onClick();
            });
            clickWork_->start(clickDelay);
        }
    }
    cancelDragPreparation();
    didLongPress_ = false;
}

void GrabView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        cancelDragPreparation();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void GrabView::popUpMenu(const QPoint& globalPosition)
{
    QMenu* menu = menuProvider ? menuProvider() : nullptr;
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu, &QMenu::aboutToHide, this, [this] { onMenuClosed(); });
    menu->popup(globalPosition);
}

bool GrabView::accessibilityPerformPress()
{
    if (!isContentAvailable())
        return false;
    onClick();
    return true;
}

bool GrabView::accessibilityPerformShowMenu()
{
    if (!window() || !isContentAvailable())
        return false;
    popUpMenu(mapToGlobal(rect().center()));
    return true;
}

} // namespace tolvex
