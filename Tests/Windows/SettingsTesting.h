#pragma once

// The settings model over the real store in a temporary data root, the real
// clipboard service (over a scripted clipboard), the real capture
// coordinator and the real line.
#include "Intake/IntakeTesting.h"
#include "Intake/ScriptedPasteboard.h"
#include "Store/StoreTesting.h"
#include "Support/DataRootBuilder.h"
#include "Support/EventLoopWait.h"
#include "Support/FaultInjectingFileOperations.h"
#include "Support/MemoryUserDefaults.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Windows/IntakeSettingsController.h"
#include "Velmarin/Windows/IntakeSettingsModel.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

namespace tolvex::testing {

inline QString localized(MessageKey key)
{
    return appLocalizer().string(key);
}

struct SettingsRig {
    SettingsRig() : builder(folder.path() + QStringLiteral("/Tolvex")) {}

    // Opens the store over what the builder holds and makes the model.
    // With a window, the model is the settings window's own.
    void start(bool withWindow = false, HotKey* hotKey = nullptr)
    {
        builder.writeState();
        store = std::make_unique<MaterialStore>(builder.rootURL(), files, roomyBudget());
        waitForResult(store->setClipboardPreferences(ClipboardPreference(true, true, true, true, false)));
        service = std::make_unique<ClipboardImportService>(
            std::make_shared<SystemClipboardGateway>(pasteboard), *store, [] { return unlimitedCapacity; },
            [] { return true; });
        QCoro::waitFor(service->start());
        capture = std::make_unique<CaptureFolderCoordinator>(*store);
        capture->runPanel = [this](QFileDialog& panel) {
            ++folderPanels;
            folderPanelDirectory = panel.directory().absolutePath();
            return std::optional<QString>();
        };
        lineStore = std::make_unique<MaterialLineStore>(*store);
        line = std::make_unique<Line>(*lineStore, defaults, [](const QUrl&) { return std::optional<QImage>(); });
        QCoro::waitFor(line->load());
        if (withWindow) {
            controller = std::make_unique<IntakeSettingsController>(
                *service, *capture, builder.rootURL(), store.get(), line.get(), hotKey);
            model = &controller->model();
            return;
        }
        ownedModel = std::make_unique<IntakeSettingsModel>(*service, *capture, builder.rootURL(), store.get(),
            [this] { return !line->isCovered(); },
            [this](WorkspaceSnapshot snapshot) -> QCoro::Task<void> {
                handed.append(snapshot);
                co_return;
            });
        model = ownedModel.get();
        model->privacyLine = line.get();
    }

    QString path(const QString& relativePath) const { return builder.path(relativePath); }

    QTemporaryDir folder;
    DataRootBuilder builder;
    std::shared_ptr<FaultInjectingFileOperations> files
        = std::make_shared<FaultInjectingFileOperations>(SystemFileOperations::shared());
    std::shared_ptr<ScriptedPasteboard> pasteboard = std::make_shared<ScriptedPasteboard>();
    MemoryUserDefaults defaults;
    std::unique_ptr<MaterialStore> store;
    std::unique_ptr<ClipboardImportService> service;
    std::unique_ptr<CaptureFolderCoordinator> capture;
    std::unique_ptr<MaterialLineStore> lineStore;
    std::unique_ptr<Line> line;
    std::unique_ptr<IntakeSettingsModel> ownedModel;
    std::unique_ptr<IntakeSettingsController> controller;
    IntakeSettingsModel* model = nullptr;
    QList<WorkspaceSnapshot> handed;
    std::unique_ptr<StoreHold> hold;
    int folderPanels = 0;
    QString folderPanelDirectory;
};

inline void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// An exported copy two days old, which the cleanup offers.
inline QString writeOldExport(SettingsRig& rig, const QByteArray& bytes)
{
    const QString relative = QStringLiteral("Exports/") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    write(rig.path(relative + QStringLiteral("/copy.txt")), bytes);
    const double seconds = std::floor(Date::now().unixSeconds() - 2 * 86400);
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    for (const QString& item : {relative + QStringLiteral("/copy.txt"), relative})
        ::utimensat(AT_FDCWD, QFile::encodeName(rig.path(item)).constData(), times, AT_SYMLINK_NOFOLLOW);
    return relative;
}

inline bool settled(SettingsRig& rig)
{
    return waitUntil([&] { return !rig.model->cleanupBusy() && !rig.model->saving(); });
}

} // namespace tolvex::testing
