#include "Windows/SettingsTesting.h"

#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Common/ChooserFolders.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>


#include <future>

namespace tolvex::testing {
namespace {

using Usage = IntakeSettingsModel::Usage;

TEST(IntakeSettingsModelTest, MeasuresTheFiveFoldersWithoutFollowingLinks)
{
    struct Case {
        const char* name;
        std::function<void(const QString& root, const QString& outside)> arrange;
        std::optional<Usage> expected;
    };
    const auto link = [](const QString& target, const QString& at) { ASSERT_TRUE(QFile::link(target, at)); };
    const Usage zero{{"Materials", 0}, {"Exports", 0}, {"Drafts", 0}, {"Transactions", 0}, {"CleanupRecords", 0}};
    const auto with = [&](std::initializer_list<std::pair<const char*, std::int64_t>> entries) {
        Usage usage = zero;
        for (const auto& [name, bytes] : entries)
            usage[QString::fromLatin1(name)] = bytes;
        return usage;
    };
    const std::vector<Case> cases{
        {"an empty root counts zero everywhere", [](const QString&, const QString&) {}, zero},
        {"hidden files and nested folders count",
            [](const QString& root, const QString&) {
                write(root + "/Materials/A/.hidden", "12345");
                write(root + "/Materials/B/deep/payload.bin", "123");
                write(root + "/Drafts/x", "1");
                write(root + "/CleanupRecords/r.json", "12");
                write(root + "/other/ignored", "1234567");
            },
            with({{"Materials", 8}, {"Drafts", 1}, {"CleanupRecords", 2}})},
        {"a link inside adds nothing and is not entered",
            [&](const QString& root, const QString& outside) {
                write(outside + "/big/file", QByteArray(4096, 'x'));
                write(root + "/Materials/A/own", "1");
                link(outside + "/big", root + "/Materials/A/folderLink");
                link(outside + "/big/file", root + "/Materials/A/fileLink");
            },
            with({{"Materials", 1}})},
        {"a file named like a folder fails",
            [](const QString& root, const QString&) { write(root + "/Exports", "not a folder"); }, std::nullopt},
        {"a linked folder fails",
            [&](const QString& root, const QString& outside) {
                QDir().mkpath(outside + "/elsewhere");
                link(outside + "/elsewhere", root + "/Transactions");
            },
            std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QString root = folder.filePath("root");
        QDir().mkpath(root);
        c.arrange(root, folder.filePath("outside"));
        EXPECT_EQ(IntakeSettingsModel::measureUsage(root), c.expected);
    }

    QTemporaryDir folder;
    EXPECT_EQ(IntakeSettingsModel::measureUsage(folder.filePath("missing")), std::nullopt);
    QDir().mkpath(folder.filePath("real"));
    ASSERT_TRUE(QFile::link(folder.filePath("real"), folder.filePath("linkedRoot")));
    EXPECT_EQ(IntakeSettingsModel::measureUsage(folder.filePath("linkedRoot")), std::nullopt) << "a linked root";
}

TEST(IntakeSettingsModelTest, OnlyTheCurrentSaveWritesBackAndTheServiceWins)
{
    SettingsRig rig;
    rig.start();
    IntakeSettingsModel& model = *rig.model;
    ASSERT_TRUE(model.preferences().images);

    int notices = 0;
    QObject::connect(&model, &IntakeSettingsModel::changed, [&] { ++notices; });
    model.writePreference(&ClipboardPreference::images, false);
    EXPECT_TRUE(model.saving());
    EXPECT_FALSE(model.preferences().images) << "the switch shows the value being saved";
    const int beforeDropped = notices;
    model.writePreference(&ClipboardPreference::text, false);
    EXPECT_TRUE(model.preferences().text) << "a write during a save is dropped";
    EXPECT_GT(notices, beforeDropped) << "and the switch is told to fall back";
    model.refresh();
    EXPECT_FALSE(model.preferences().images) << "a refresh keeps what the running save set";

    ASSERT_TRUE(settled(rig));
    EXPECT_FALSE(model.failed());
    EXPECT_TRUE(model.didSave());
    EXPECT_EQ(model.preferences(), rig.service->preferences());
    EXPECT_FALSE(model.preferences().images);
    EXPECT_TRUE(model.preferences().text);
    QFile stored(rig.path("clipboard-settings.json"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_FALSE(QJsonDocument::fromJson(stored.readAll()).object().value("images").toBool(true));

    // The store never writes over a damaged settings file: the save fails
    // and the switches show what is still in force.
    stored.close();
    write(rig.path("clipboard-settings.json"), "{\"version\": 9}");
    model.writePreference(&ClipboardPreference::files, false);
    ASSERT_TRUE(settled(rig));
    EXPECT_TRUE(model.failed());
    EXPECT_TRUE(model.preferences().files);

    QFile::remove(rig.path("clipboard-settings.json"));
    model.retry();
    ASSERT_TRUE(settled(rig));
    EXPECT_FALSE(model.failed());
    EXPECT_FALSE(model.preferences().files) << "the retry saved the failed preferences";
    model.retry();
    EXPECT_FALSE(model.saving()) << "nothing left to retry";

    // A clipboard that cannot be read is shown as such, not as intake on.
    EXPECT_EQ(model.clipboardStatus(), localized(MessageKey::clipboardActive));
    rig.pasteboard->set({textItem("caf\xc3")});
    QCoro::waitFor(rig.service->poll());
    model.refresh();
    EXPECT_EQ(model.clipboardStatus(), localized(MessageKey::clipboardRejected));
}

TEST(IntakeSettingsModelTest, TheCaptureSwitchWithoutAFolderOpensTheChooserInPictures)
{
    ASSERT_TRUE(QDir::home().mkpath(QStringLiteral("Pictures")));
    SettingsRig rig;
    rig.start();
    rig.model->toggleCapture();
    EXPECT_EQ(rig.folderPanels, 1);
    EXPECT_EQ(rig.folderPanelDirectory, QDir::home().filePath(QStringLiteral("Pictures")));
    EXPECT_FALSE(rig.model->captureEnabled());
    EXPECT_EQ(rig.model->capturePath(), localized(MessageKey::captureNoFolder));
}

TEST(IntakeSettingsModelTest, PreviewReportsEmptyFailedAndCoveredRootsWithoutASheet)
{
    struct Case {
        const char* name;
        std::function<void(SettingsRig&)> arrange;
        bool coverWhileAwaiting;
        MessageKey message;
        bool failed;
    };
    const std::vector<Case> cases{
        {"nothing to clean", [](SettingsRig&) {}, false, MessageKey::cleanupEmpty, false},
        {"the store is busy", [](SettingsRig& rig) { rig.hold = std::make_unique<StoreHold>(*rig.store); }, false,
            MessageKey::cleanupUnavailable, true},
        {"covered while the store works", [](SettingsRig& rig) { writeOldExport(rig, "old"); }, true,
            MessageKey::cleanupUnavailable, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsRig rig;
        rig.start();
        c.arrange(rig);
        // A job ahead of the preview keeps the store's one thread until the
        // cover has landed, so the preview is surely awaiting the store then.
        std::promise<void> release;
        std::optional<QFuture<int>> ahead;
        if (c.coverWhileAwaiting) {
            ahead = rig.store->executor().run([gate = release.get_future().share()](StoreContext&) {
                gate.wait();
                return 0;
            });
        }
        auto preview = rig.model->previewCleanup();
        if (c.coverWhileAwaiting) {
            rig.line->coverImmediately();
            release.set_value();
        }
        QCoro::waitFor(std::move(preview));
        EXPECT_EQ(rig.model->cleanupMessage(), localized(c.message));
        EXPECT_EQ(rig.model->cleanupFailed(), c.failed);
        EXPECT_FALSE(rig.model->showCleanup());
        EXPECT_FALSE(rig.model->cleanupBusy());
    }
}

TEST(IntakeSettingsModelTest, ConfirmReportsTheOutcomeAndShowsTheStoreAfterwards)
{
    struct Case {
        const char* name;
        std::function<void(SettingsRig&, const QString& exportPath)> interfere;
        MessageKey message;
        bool failed;
        bool exportGone;
        std::int64_t exportsAfter;
    };
    const std::vector<Case> cases{
        {"every target moves", [](SettingsRig&, const QString&) {}, MessageKey::cleanupDone, false, true, 0},
        {"one target cannot move",
            [](SettingsRig& rig, const QString&) { rig.files->failCall(1, EACCES, FileOperation::trash); },
            MessageKey::cleanupPartial, true, false, 8},
        {"a target changed after the preview",
            [](SettingsRig& rig, const QString& exportPath) { write(rig.path(exportPath + "/added"), "new"); },
            MessageKey::cleanupChanged, true, false, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsRig rig;
        const QString exportPath = writeOldExport(rig, "old copy");
        rig.start();
        QCoro::waitFor(rig.model->refreshUsage());
        ASSERT_EQ(rig.model->usage()->value("Exports"), 8);

        QCoro::waitFor(rig.model->previewCleanup());
        ASSERT_TRUE(rig.model->showCleanup());
        ASSERT_EQ(rig.model->selectedCleanupPaths(), QSet<QString>{exportPath});
        c.interfere(rig, exportPath);
        QCoro::waitFor(rig.model->confirmCleanup());

        const QString message = *rig.model->cleanupMessage();
        if (c.message == MessageKey::cleanupChanged)
            EXPECT_EQ(message, localized(c.message));
        else
            EXPECT_TRUE(message.startsWith(localized(c.message).section(u'%', 0, 0))) << message.toStdString();
        EXPECT_EQ(rig.model->cleanupFailed(), c.failed);
        EXPECT_FALSE(rig.model->showCleanup());
        EXPECT_FALSE(rig.model->cleanupPlan());
        EXPECT_FALSE(rig.model->cleanupBusy());
        EXPECT_EQ(rig.handed.size(), 1) << "the shelf gets the store's snapshot in every case";
        EXPECT_EQ(QFileInfo::exists(rig.path(exportPath)), !c.exportGone);
        EXPECT_EQ(rig.model->usage()->value("Exports"), c.exportsAfter) << "measured again afterwards";
        const bool receipt = !QDir(rig.path("CleanupRecords")).entryList(QDir::Files).isEmpty();
        EXPECT_EQ(receipt, c.message != MessageKey::cleanupChanged) << "a receipt precedes every move";
    }
}

TEST(IntakeSettingsModelTest, AMeasurementStartedEarlierNeverOverwritesALaterOne)
{
    SettingsRig rig;
    rig.start();
    std::promise<void> laterDone;
    std::shared_future<void> laterFinished = laterDone.get_future().share();
    // Each refresh takes the hook set when it starts: the pool may run the
    // two measurements in either order, the earlier one always ends last.
    rig.model->measure = [laterFinished](const QString&) -> std::optional<Usage> {
        laterFinished.wait();
        return Usage{{"Materials", 1}};
    };
    auto earlier = rig.model->refreshUsage();
    rig.model->measure = [&laterDone](const QString&) -> std::optional<Usage> {
        laterDone.set_value();
        return Usage{{"Materials", 2}};
    };
    auto later = rig.model->refreshUsage();
    QCoro::waitFor(std::move(later));
    QCoro::waitFor(std::move(earlier));
    ASSERT_TRUE(rig.model->usage());
    EXPECT_EQ(rig.model->usage()->value("Materials"), 2);
}

} // namespace
} // namespace tolvex::testing

namespace tolvex::testing {
namespace {

TEST(IntakeSettingsModelTest, AStagingExportReportsItsOutcomeAndACoverDuringItsPanelStopsIt)
{
    struct Case {
        const char* name;
        // Runs while the save panel is up; answers whether the export must have happened.
        std::function<bool(SettingsRig&, const QString& stagingPath)> duringPanel;
        std::optional<MessageKey> message;
    };
    const std::vector<Case> cases{
        {"exported", [](SettingsRig&, const QString&) { return true; }, MessageKey::stagingExportDone},
        {"changed since the preview",
            [](SettingsRig& rig, const QString& stagingPath) {
                write(rig.path(stagingPath), "rewritten meanwhile");
                return false;
            },
            MessageKey::stagingExportFailed},
        {"covered while the panel is up",
            [](SettingsRig& rig, const QString&) {
                rig.line->coverImmediately();
                return false;
            },
            std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsRig rig;
        const QString stagingPath = QStringLiteral("Transactions/")
            + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".stage");
        write(rig.path(stagingPath), "left behind");
        rig.start();
        QCoro::waitFor(rig.model->previewCleanup());
        ASSERT_TRUE(rig.model->showCleanup());
        const CleanupTarget target = rig.model->cleanupPlan()->targets.constFirst();
        ASSERT_EQ(target.kind, CleanupTarget::Kind::unownedStaging);

        const QString destination = rig.folder.filePath("exported.stage");
        bool exportExpected = false;
        rig.model->runExportPanel = [&](QFileDialog& panel) -> std::optional<QString> {
            EXPECT_TRUE(rig.model->exportPanel());
            EXPECT_EQ(panel.directory().absolutePath(), ChooserFolders::documents());
            EXPECT_NE(dynamic_cast<NameOnlyFileIconProvider*>(panel.iconProvider()), nullptr);
            exportExpected = c.duringPanel(rig, stagingPath);
            return destination;
        };
        rig.model->chooseStagingExport(target);
        EXPECT_FALSE(rig.model->exportPanel());
        ASSERT_TRUE(settled(rig));
        EXPECT_EQ(QFileInfo::exists(destination), exportExpected);
        EXPECT_EQ(rig.model->cleanupMessage(), c.message ? std::optional(localized(*c.message)) : std::nullopt);
    }
}

} // namespace
} // namespace tolvex::testing
