#pragma once

#include "Shell/ShellTesting.h"
#include "Support/EventLoopWait.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Shelf/CaptureFlight.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/CapturePresentation.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace tolvex::testing {

// A delegate with the program's own panel, over a line whose load answers
// as the case says, every screen showing the desktop and every alert
// answered from a script.
struct DelegateScene {
    struct Shown {
        QString title;
        int buttons;
        QString message;
        QStringList buttonTexts;
    };
    // What became of a screenshot's card as it arrived.
    struct Arrival {
        bool markedFlying = false;
        bool landed = false;
        // It landed when its flight ended, not at once.
        bool landedInFlight = false;
    };

    explicit DelegateScene(std::exception_ptr loadError = {}, std::deque<int> answers = {},
        std::optional<StoreError> restoreError = std::nullopt)
        : answers(std::move(answers))
    {
        CaptureFlight::cancelAll();
        fixture.add(QStringLiteral("card"));
        store.stored = fixture.snapshot;
        store.loadError = loadError;
        AppDelegate::Options options;
        options.line = &line;
        options.sound = sound;
        options.fullScreenState = [](const PresentationScreen&) { return FullScreen::State::desktop; };
        options.runAlert = [this](Alert& alert) {
            QStringList buttonTexts;
            for (const QAbstractButton* button : alert.window()->buttons())
                buttonTexts.append(button->text());
            shown.push_back({alert.window()->text(), static_cast<int>(alert.window()->buttons().size()),
                alert.window()->informativeText(), buttonTexts});
            if (this->answers.empty())
                return 0;
            const int answer = this->answers.front();
            this->answers.pop_front();
            return answer;
        };
        options.revealFolder = [this](const QUrl&) {
            ++reveals;
            if (revealMends)
                store.loadError = nullptr;
        };
        options.restorePrevious = [this, restoreError] {
            if (restoreError)
                return QtFuture::makeExceptionalFuture<WorkspaceSnapshot>(*restoreError);
            store.loadError = nullptr;
            return QtFuture::makeReadyFuture(fixture.snapshot);
        };
        options.canRestorePrevious = [this] { return QtFuture::makeReadyFuture(restorable); };
        options.endTerminated = [this] { ++terminations; };
        delegate = std::make_unique<AppDelegate>(
            AppEnvironment{false, QUrl::fromLocalFile(fixture.folder.path())}, std::move(options));
        delegate->applicationWillFinishLaunching();
        delegate->applicationDidFinishLaunching();
    }
    ~DelegateScene() { CaptureFlight::cancelAll(); }

    // A screenshot taken at `area` becomes a card, as the capture intake
    // hands it over; answers once the card has landed.
    Arrival arriveScreenshot(const QRectF& area)
    {
        MaterialRecord& record = fixture.add(QStringLiteral("screenshot"));
        const QUuid id = record.id;
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        picture.save(fixture.urlFor(record).toLocalFile(), "PNG");
        store.stored = fixture.snapshot;

        Arrival arrival;
        const Subscription watch = line.items.subscribe([&](const QList<Pegged>& items) {
            for (const Pegged& item : items) {
                if (item.id != id || arrival.landed)
                    continue;
                if (item.flying) {
                    arrival.markedFlying = true;
                } else {
                    arrival.landed = true;
                    const QList<CaptureFlight*> flights = CaptureFlight::current();
                    arrival.landedInFlight = arrival.markedFlying
                        && std::any_of(flights.begin(), flights.end(), [](const CaptureFlight* f) { return !f->falling; });
                }
            }
        });
        delegate->showLine();
        finish(delegate->capturePresentation()->presentCapture(id, area, fixture.snapshot));
        waitUntil([&] { return arrival.landed; });
        return arrival;
    }

    // Whether a card taken down from the shown line falls.
    bool falls(const QUuid& id)
    {
        delegate->showLine();
        const qsizetype before = CaptureFlight::current().size();
        for (const Pegged& item : line.items()) {
            if (item.id == id && line.onFall)
                line.onFall(item);
        }
        return CaptureFlight::current().size() > before;
    }

    ShelfFixture fixture;
    ScriptedStore store{fixture};
    MemoryUserDefaults defaults;
    CountingThumbnails thumbnails;
    Line line{store, defaults, thumbnails.maker()};
    std::shared_ptr<CountingSound> sound = std::make_shared<CountingSound>();
    std::deque<int> answers;
    std::vector<Shown> shown;
    int reveals = 0;
    // Terminations the delegate ended the program for.
    int terminations = 0;
    // The user mends the library while its folder is shown.
    bool revealMends = false;
    // What the store says of a restore before it is offered.
    bool restorable = true;
    std::unique_ptr<AppDelegate> delegate;
};

// Sets an environment variable for the life of the object (none: unset).
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const char* value)
        : name_(name), before_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name))
    {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~EnvironmentOverride()
    {
        if (had_)
            qputenv(name_, before_);
        else
            qunsetenv(name_);
    }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    const char* name_;
    QByteArray before_;
    bool had_;
};

} // namespace tolvex::testing
