#include "Velmarin/Shell/ShelfDisplay.h"

#include "Velmarin/Platform/EventSound.h"
#include "Velmarin/Platform/X11ButtonPresses.h"
#include "Velmarin/Platform/X11DesktopChanges.h"
#include "Velmarin/Shelf/CaptureFlight.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LinePanel.h"
#include "Velmarin/Shelf/LineView.h"
#include "Velmarin/Shell/CapturePresentation.h"
#include "Velmarin/Shell/LinePanelPresentation.h"
#include "Velmarin/Shell/ShelfPresentation.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace tolvex {

ShelfDisplay::ShelfDisplay(Line& line, QtPresentationSystem::StateOfScreen fullScreenState)
    : line_(line), system_(std::move(fullScreenState))
{
}

ShelfDisplay::~ShelfDisplay() = default;

void ShelfDisplay::present(const PanelFactory& makePanel, EventSound& sound, UserDefaults& defaults)
{
    const QPointer<ShelfDisplay> self(this);

    // The panel, placed under the menu bar of the pointer's screen.
    if (makePanel) {
        panel_ = makePanel(line_);
    } else {
        auto shelfPanel = std::make_unique<LinePanelPresentation>(line_);
        shelfPanel->panel()->onAccessibilityReveal = [self] {
            if (self)
                self->showLine();
        };
        panel_ = std::move(shelfPanel);
    }
    presentation_ = std::make_unique<ShelfPresentation>(line_, *panel_, system_);
    presentation_->place(system_.screenUnderPointer());

    // Flights are windows of their own; the line ends them when it covers.
    CaptureFlight::install(line_);
    const auto screenNamed = [](const QString& name) -> QScreen* {
        for (QScreen* candidate : QGuiApplication::screens()) {
            if (candidate->name() == name)
                return candidate;
        }
        return QGuiApplication::primaryScreen();
    };
    const auto runFlight = [screenNamed](FlightRequest request) {
        auto* flight = new CaptureFlight(request.image, request.from, request.to, request.tilt,
            screenNamed(request.screen.name));
        flight->falling = request.falling;
        if (request.duration > 0)
            flight->duration = request.duration;
        if (request.completion)
            flight->completion = std::move(request.completion);
        flight->run();
    };
    // Built once: it keeps its flights and its reduced motion across every
    // change of screens, and a presentation suspended in a render finishes.
    capturePresentation_ = std::make_unique<CapturePresentation>(line_, *presentation_, *panel_, system_, sound,
        defaults,
        CapturePresentation::Hooks{runFlight, {}, &LineView::systemReduceMotion,
            [screenNamed](const PresentationScreen& screen) {
                const QScreen* found = screenNamed(screen.name);
                return found ? found->devicePixelRatio() : qreal(1);
            }});
}

void ShelfDisplay::follow()
{
    const QPointer<ShelfDisplay> self(this);

    // Clicks in the menu-bar band.
    clickMonitor_ = std::make_unique<X11ButtonPresses>([self] {
        if (self && self->presentation_)
            self->presentation_->menuBarClick(QCursor::pos());
    });

    // Cards taken down fall.
    line_.onFall = [self](const Pegged& item) {
        if (self && self->capturePresentation_)
            self->capturePresentation_->fall(item);
    };

    // Every new set of cards may be an arrival.
    cancellables_.push_back(line_.items.subscribe([self](const QList<Pegged>&) {
        if (self && self->presentation_)
            self->presentation_->itemsChanged();
    }));

    // Desktop switches and activations, checked at once and once more
    // when the window manager has settled.
    desktopChanges_ = std::make_unique<X11DesktopChanges>([self] {
        if (self)
            self->onSpaceOrActivationChange();
    });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this] { onSpaceOrActivationChange(); });

    // Screens coming, going or changing.
    const auto watchScreen = [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, [this] { placeOnScreenUnderPointer(); });
        connect(screen, &QScreen::availableGeometryChanged, this, [this] { placeOnScreenUnderPointer(); });
    };
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this, watchScreen](QScreen* screen) {
        watchScreen(screen);
        placeOnScreenUnderPointer();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] { placeOnScreenUnderPointer(); });

    // The program's windows and alerts coming up.
    qApp->installEventFilter(this);
}

bool ShelfDisplay::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && presentation_ && presentation_->isRevealed) {
        // Windows and dialogs only: the panel and the flights are tool
        // windows, menus and tooltips pass over the line by design.
        const auto* widget = qobject_cast<const QWidget*>(watched);
        if (widget && widget->isWindow()
            && (widget->windowType() == Qt::Window || widget->windowType() == Qt::Dialog))
            presentation_->windowShown();
    }
    return QObject::eventFilter(watched, event);
}

void ShelfDisplay::stopFollowing()
{
    cancellables_.clear();
    qApp->removeEventFilter(this);
}

void ShelfDisplay::stopPresenting()
{
    capturePresentation_.reset();
    presentation_.reset();
}

void ShelfDisplay::showLine()
{
    if (presentation_)
        presentation_->showLine();
}

void ShelfDisplay::toggle()
{
    if (presentation_)
        presentation_->toggle();
}

void ShelfDisplay::placeOnScreenUnderPointer()
{
    if (presentation_)
        presentation_->place(system_.screenUnderPointer());
}

void ShelfDisplay::onSpaceOrActivationChange()
{
    if (!presentation_)
        return;
    presentation_->refresh();
    system_.after(spaceRecheckDelay, [self = QPointer<ShelfDisplay>(this)] {
        if (self && self->presentation_)
            self->presentation_->refresh();
    });
}

} // namespace tolvex
