#pragma once

// The recovery window's controller over the real store in a temporary data
// root, the real line, and a markup session whose editor only records what
// it was opened on.
#include "Store/StoreTesting.h"
#include "Support/DataRootBuilder.h"
#include "Support/EventLoopWait.h"
#include "Support/MemoryUserDefaults.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include <QCoro/QCoroTask>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

namespace tolvex::testing {

struct RecoveryRig {
    RecoveryRig() : builder(folder.path() + QStringLiteral("/Tolvex")) {}

    void start()
    {
        builder.writeState();
        open();
    }

    // Drops everything but the data root, as a crash would, and opens it again.
    void restart()
    {
        controller.reset();
        actions.reset();
        markup.reset();
        line.reset();
        lineStore.reset();
        store.reset();
        launched.clear();
        open();
    }

    void open()
    {
        store = std::make_unique<MaterialStore>(builder.rootURL(), SystemFileOperations::shared(), roomyBudget());
        lineStore = std::make_unique<MaterialLineStore>(*store);
        line = std::make_unique<Line>(*lineStore, defaults, [](const QUrl&) { return std::optional<QImage>(); });
        QCoro::waitFor(line->load());
        useMarkup(std::make_unique<Markup>([this](const QUrl& url) { launched.append(url); }, [] {}));
    }

    // The actions and the window over another markup session (an editor
    // service, failing saves, the fallback's alert).
    void useMarkup(std::unique_ptr<Markup> session)
    {
        controller.reset();
        actions.reset();
        markup = std::move(session);
        actions = std::make_unique<MaterialActions>(*line, builder.rootURL(), store.get(), nullptr, nullptr, markup.get());
        controller = std::make_unique<WorkflowRecoveryController>(*line, *actions, markup.get());
        controller->onError = [this](std::exception_ptr error) { errors.push_back(error); };
        controller->schedule = [this](std::chrono::milliseconds, std::function<void()> fire) {
            timers.push_back(std::move(fire));
        };
    }

    // Takes the cards down through the store, as the shell's command path does.
    void takeDown(const QList<QUuid>& ids, Date at)
    {
        for (const QUuid& id : ids)
            QCoro::waitFor(line->render(waitForResult(store->apply(MaterialCommand::takeDown(id), Line::maxItems))));
        controller->noteTakenDown(ids, at);
    }

    MaterialStatus status(const QUuid& id) const { return line->snapshot->findMaterial(id)->status; }

    QStringList buttons(QWidget* window) const
    {
        QStringList titles;
        if (window) {
            for (const ActionButton* button : window->findChildren<ActionButton*>())
                titles.append(button->text());
        }
        return titles;
    }

    QTemporaryDir folder;
    DataRootBuilder builder;
    MemoryUserDefaults defaults;
    QList<QUrl> launched; // what the markup editor was opened on
    std::unique_ptr<MaterialStore> store;
    std::unique_ptr<MaterialLineStore> lineStore;
    std::unique_ptr<Line> line;
    std::unique_ptr<Markup> markup;
    std::unique_ptr<MaterialActions> actions;
    std::unique_ptr<WorkflowRecoveryController> controller;
    std::vector<std::exception_ptr> errors;
    std::vector<std::function<void()>> timers;
};

} // namespace tolvex::testing
