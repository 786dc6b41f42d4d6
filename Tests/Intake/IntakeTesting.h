#pragma once

// A clipboard service over a real store and a scripted clipboard, for the
// tests of the service and of what drives it.
#include "Intake/ScriptedPasteboard.h"
#include "Store/StoreTesting.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"

#include <QCoro/QCoroTask>

#include <future>

namespace tolvex::testing {

inline ClipboardPreference automatic(bool includeExisting)
{
    return ClipboardPreference(true, true, true, true, includeExisting);
}

// Holds the store's busy flag, as an import between its awaits does, until
// released: every call that tests the flag fails with operationInProgress.
class StoreHold {
public:
    explicit StoreHold(MaterialStore& store) : store_(store)
    {
        struct Held {};
        std::shared_future<void> gate = release_.get_future().share();
        held_ = store.executor().runSuspending<int, Held, int>(
            [](StoreContext&) -> StoreExecutor::Decision<int, Held> { return Held{}; },
            [gate](const Held&) {
                gate.wait();
                return 0;
            },
            [](StoreContext&, Held&, int&) { return 0; });
        while (!waitForResult(store.executor().run([](StoreContext& context) { return context.busy; }))) {
        }
    }
    ~StoreHold() { release(); }
    void release()
    {
        if (released_)
            return;
        released_ = true;
        release_.set_value();
        waitForResult(held_);
    }

private:
    MaterialStore& store_;
    std::promise<void> release_;
    QFuture<int> held_;
    bool released_ = false;
};

// One data root, a real store, a scripted clipboard and the service over them.
struct Rig {
    explicit Rig(const ClipboardPreference& preference = automatic(false),
        const std::function<void(DataRootBuilder&)>& seed = {})
    {
        DataRootBuilder builder(folder.path() + QStringLiteral("/Tolvex"));
        if (seed)
            seed(builder);
        builder.writeState();
        store = std::make_unique<MaterialStore>(builder.rootURL(), SystemFileOperations::shared(), roomyBudget());
        waitForResult(store->setClipboardPreferences(preference));
        service = std::make_shared<ClipboardImportService>(
            std::make_shared<SystemClipboardGateway>(pasteboard), *store, [this] { return capacity; },
            [this] { return readable; });
        service->onSnapshot = [this](const WorkspaceSnapshot&) -> QCoro::Task<void> {
            ++snapshots;
            co_return;
        };
        service->onImported = [this](const QUuid& id, const WorkspaceSnapshot&) -> QCoro::Task<void> {
            imported.append(id);
            co_return;
        };
    }

    void copy(const QByteArray& text) { pasteboard->set({textItem(text)}); }
    void start() { QCoro::waitFor(service->start()); }
    void poll() { QCoro::waitFor(service->poll()); }
    WorkspaceSnapshot snapshot() { return waitForResult(store->load()); }
    qsizetype hangingCount()
    {
        const QList<MaterialRecord> materials = snapshot().materials;
        return std::count_if(materials.begin(), materials.end(),
            [](const MaterialRecord& material) { return material.status == MaterialStatus::hanging; });
    }

    QTemporaryDir folder;
    std::shared_ptr<ScriptedPasteboard> pasteboard = std::make_shared<ScriptedPasteboard>();
    std::unique_ptr<MaterialStore> store;
    std::shared_ptr<ClipboardImportService> service;
    std::int64_t capacity = unlimitedCapacity;
    bool readable = true;
    int snapshots = 0;
    QList<QUuid> imported;
};

} // namespace tolvex::testing
