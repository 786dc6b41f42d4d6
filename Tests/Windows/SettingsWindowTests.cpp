#include "Windows/SettingsTesting.h"

#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Windows/ElidedLabel.h"
#include "Velmarin/Windows/IntakeSettingsView.h"
#include "Velmarin/Windows/SettingsIntakePage.h"
#include "Velmarin/Windows/SettingsStoragePage.h"
#include "Velmarin/Windows/StorageCleanupPreview.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>

#include <gtest/gtest.h>

#include <future>

namespace tolvex::testing {
namespace {

IntakeSettingsView& view(SettingsRig& rig)
{
    return *rig.controller->settingsContent();
}

void press(QWidget* target, int key)
{
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &down);
}

TEST(SettingsWindowTest, ACoverSwapsTheContentAndEndsTheSheet)
{
    SettingsRig rig;
    writeOldExport(rig, "old");
    rig.start(true);
    rig.controller->present(1);
    QCoro::waitFor(rig.model->previewCleanup());
    ASSERT_TRUE(view(rig).sheet());
    ASSERT_TRUE(view(rig).sheet()->isVisible());

    rig.line->coverImmediately();
    EXPECT_FALSE(view(rig).sheet());
    EXPECT_FALSE(rig.model->showCleanup());
    EXPECT_FALSE(rig.model->cleanupPlan());
    EXPECT_EQ(rig.controller->window()->windowTitle(), localized(MessageKey::contentHidden));
    const auto* stack = rig.controller->window()->findChild<QStackedLayout*>();
    EXPECT_EQ(stack->currentWidget(), rig.controller->placeholder());

    rig.line->setPrivacyHidden(false);
    ASSERT_TRUE(waitUntil([&] { return !rig.line->isCovered(); }));
    EXPECT_EQ(rig.controller->window()->windowTitle(), localized(MessageKey::intakeSettings));
    EXPECT_EQ(stack->currentWidget(), rig.controller->settingsContent());
}

TEST(SettingsWindowTest, TheSheetFollowsTheSelectionAndItsKeys)
{
    SettingsRig rig;
    writeOldExport(rig, "old");
    writeOldExport(rig, "older");
    rig.start(true);
    rig.controller->present(1);
    QCoro::waitFor(rig.model->previewCleanup());
    CleanupPreviewView* sheet = view(rig).sheet();
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->checkboxes().size(), 2);
    EXPECT_TRUE(sheet->confirmButton()->isEnabled());

    for (QCheckBox* check : sheet->checkboxes())
        check->click();
    EXPECT_TRUE(rig.model->selectedCleanupPaths().isEmpty());
    EXPECT_FALSE(sheet->confirmButton()->isEnabled()) << "nothing ticked, nothing to confirm";
    EXPECT_TRUE(sheet->summary()->text().contains(formatByteCount(0)));
    press(sheet, Qt::Key_Return);
    EXPECT_FALSE(rig.model->cleanupBusy()) << "Return does nothing while confirming is impossible";

    sheet->checkboxes().constFirst()->click();
    ASSERT_TRUE(sheet->confirmButton()->isEnabled());
    press(sheet, Qt::Key_Return);
    ASSERT_TRUE(rig.model->cleanupBusy()) << "Return confirms";
    press(sheet, Qt::Key_Escape);
    EXPECT_TRUE(rig.model->showCleanup()) << "Escape is ignored while the cleanup runs";
    ASSERT_TRUE(settled(rig));
    EXPECT_FALSE(view(rig).sheet());
    EXPECT_FALSE(rig.model->cleanupFailed());
    EXPECT_TRUE(view(rig).storagePage()->cleanupMessage()->isVisible());
    EXPECT_EQ(QDir(rig.path("Exports")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1) << "the unticked copy stays";

    // Cancelling with Escape, then previewing again, ticks everything again.
    QCoro::waitFor(rig.model->previewCleanup());
    ASSERT_TRUE(view(rig).sheet());
    press(view(rig).sheet(), Qt::Key_Escape);
    EXPECT_FALSE(rig.model->showCleanup());
    EXPECT_FALSE(view(rig).sheet());
}

// Unfinished work goes only when the user ticks it, and a material waits
// for its drafts: unticked and out of reach while they stay, back as it was
// once they are ticked. The summary counts only what would go.
TEST(SettingsWindowTest, UnfinishedWorkWaitsForTheUsersTickAndHoldsItsMaterial)
{
    SettingsRig rig;
    const QString exportPath = writeOldExport(rig, "old");
    const QUuid text = rig.builder.addMaterial("taken down, still edited", MaterialStatus::takenDown).id;
    rig.start(true);
    const EditSession session = waitForResult(rig.store->createDerivedVersion(text, VersionKind::textEdit));
    rig.controller->present(1);
    QCoro::waitFor(rig.model->previewCleanup());
    CleanupPreviewView* sheet = view(rig).sheet();
    ASSERT_TRUE(sheet);
    const StorageCleanupPlan plan = *rig.model->cleanupPlan();
    const QString draftPath = QStringLiteral("Drafts/") + uuidText(session.id);
    const QString materialPath = QStringLiteral("Materials/") + uuidText(text);
    QHash<QString, QCheckBox*> checks;
    QHash<QString, std::int64_t> bytes;
    for (qsizetype index = 0; index < plan.targets.size(); ++index) {
        checks.insert(plan.targets[index].relativePath, sheet->checkboxes().value(index));
        bytes.insert(plan.targets[index].relativePath, plan.targets[index].byteCount);
    }
    ASSERT_EQ(QSet<QString>(checks.keyBegin(), checks.keyEnd()), (QSet<QString>{exportPath, draftPath, materialPath}));

    const struct {
        const char* name;
        // The draft's box is clicked first.
        bool click;
        bool draftTicked;
    } steps[] = {{"after the preview", false, false}, {"the draft ticked", true, true},
        {"the draft unticked again", true, false}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.click)
            checks[draftPath]->click();
        const QSet<QString>& selected = rig.model->selectedCleanupPaths();
        EXPECT_TRUE(selected.contains(exportPath) && selected.contains(materialPath)) << "the material keeps its place";
        EXPECT_EQ(selected.contains(draftPath), step.draftTicked);
        EXPECT_TRUE(checks[exportPath]->isChecked() && checks[exportPath]->isEnabled());
        EXPECT_EQ(checks[draftPath]->isChecked(), step.draftTicked);
        EXPECT_TRUE(checks[draftPath]->isEnabled());
        EXPECT_EQ(checks[materialPath]->isChecked(), step.draftTicked);
        EXPECT_EQ(checks[materialPath]->isEnabled(), step.draftTicked);
        const std::int64_t total
            = bytes[exportPath] + (step.draftTicked ? bytes[draftPath] + bytes[materialPath] : 0);
        EXPECT_EQ(sheet->summary()->text(), MessageFormat::format(localized(MessageKey::cleanupSummary),
            {step.draftTicked ? 1 : 0, 1, 0, formatByteCount(total)}));
    }
}

TEST(SettingsWindowTest, TheControlsShowTheModelAndOnlyClicksWriteBack)
{
    SettingsRig rig;
    rig.start(true);
    SettingsIntakePage& intake = *view(rig).intakePage();
    EXPECT_TRUE(intake.imagesToggle()->isChecked());
    EXPECT_TRUE(view(rig).saveStatus()->isHidden());

    // A click on the capture switch with no folder opens the chooser once
    // and the switch stays off.
    intake.captureSwitch()->click();
    EXPECT_EQ(rig.folderPanels, 1);
    EXPECT_FALSE(intake.captureSwitch()->isChecked());
    EXPECT_EQ(intake.folderName()->text(), localized(MessageKey::captureNoFolder));
    EXPECT_TRUE(intake.folderPath()->isHidden());

    // The footer follows the save: saving, then the failure with its retry.
    // A job ahead of each save keeps the store's thread until "saving" was seen.
    const auto whileStoreWaits = [&rig](const std::function<void()>& check) {
        std::promise<void> release;
        auto ahead = rig.store->executor().run([gate = release.get_future().share()](StoreContext&) {
            gate.wait();
            return 0;
        });
        check();
        release.set_value();
    };
    write(rig.path("clipboard-settings.json"), "{\"version\": 9}");
    whileStoreWaits([&] {
        intake.imagesToggle()->click();
        EXPECT_EQ(view(rig).saveStatus()->text(), localized(MessageKey::settingsSaving));
    });
    ASSERT_TRUE(settled(rig));
    EXPECT_TRUE(intake.imagesToggle()->isChecked()) << "the switch shows the preferences in force";
    EXPECT_EQ(view(rig).saveStatus()->text(), localized(MessageKey::inputSettingsFailed));
    EXPECT_TRUE(view(rig).saveRetry()->isEnabled());
    whileStoreWaits([&] {
        view(rig).saveRetry()->click();
        EXPECT_EQ(view(rig).saveStatus()->text(), localized(MessageKey::settingsSaving));
    });
    ASSERT_TRUE(settled(rig));
    EXPECT_FALSE(view(rig).saveRetry()->isHidden()) << "still damaged, still failing";
}

TEST(SettingsWindowTest, TheStoragePageShowsUsageFailureAndSums)
{
    SettingsRig rig;
    write(rig.builder.path("Transactions/a.stage"), "12345");
    write(rig.builder.path("CleanupRecords/r.json"), "12");
    rig.start(true);
    SettingsStoragePage& storage = *view(rig).storagePage();
    EXPECT_EQ(storage.total()->text(), localized(MessageKey::libraryLoading));
    QCoro::waitFor(rig.model->refreshUsage());
    EXPECT_TRUE(storage.showsUsage());
    EXPECT_EQ(storage.usageValue(2)->text(), formatByteCount(7)) << "drafts, staging and receipts together";

    rig.model->measure = [](const QString&) { return std::optional<IntakeSettingsModel::Usage>(); };
    QCoro::waitFor(rig.model->refreshUsage());
    EXPECT_FALSE(storage.showsUsage());
    EXPECT_EQ(storage.total()->text(), localized(MessageKey::libraryLoading));

    rig.model->measure = [](const QString&) { return std::optional(IntakeSettingsModel::Usage()); };
    QCoro::waitFor(rig.model->refreshUsage());
    EXPECT_EQ(storage.total()->text(), formatByteCount(0));
    EXPECT_EQ(storage.usageValue(0)->text(), formatByteCount(0));
}

TEST(SettingsWindowTest, TheCleanupListShowsFiveOneLineRowsAndWhoseEachFinishedEditIs)
{
    SettingsRig rig;
    for (int index = 0; index < 6; ++index) {
        rig.builder.addMaterial(QByteArray::number(index), MaterialStatus::takenDown).title
            = QStringLiteral("Taken down %1\nwith a second line\nand a third").arg(index);
    }
    const QUuid edited = rig.builder.addMaterial("report").id;
    rig.builder.material(edited).title = QStringLiteral("Quarterly report");
    rig.start(true);
    const EditSession session = waitForResult(rig.store->createDerivedVersion(edited, VersionKind::textEdit));
    waitForResult(rig.store->writeEditingResult(session, "report, edited"));
    waitForResult(rig.store->finishEditing(session, EditResult::save(session.workingURL)));
    rig.controller->present(1);
    QCoro::waitFor(rig.model->previewCleanup());
    CleanupPreviewView* sheet = view(rig).sheet();
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(waitUntil([&] { return sheet->isVisible(); }));
    QCoreApplication::processEvents();
    ASSERT_EQ(sheet->checkboxes().size(), 7);

    const QWidget* viewport = sheet->list()->viewport();
    int rowsInView = 0;
    for (const QCheckBox* check : sheet->checkboxes()) {
        const QWidget* row = check->parentWidget();
        const QRect inViewport(row->mapTo(viewport, QPoint(0, 0)), row->size());
        rowsInView += viewport->rect().contains(inViewport) ? 1 : 0;
    }
    EXPECT_GE(rowsInView, CleanupPreviewView::visibleRows);
    EXPECT_FALSE(sheet->list()->horizontalScrollBar()->isVisible());

    bool editNamed = false;
    for (const ElidedLabel* title : sheet->list()->widget()->findChildren<ElidedLabel*>()) {
        EXPECT_FALSE(title->text().contains(QLatin1Char('\n'))) << title->fullText().toStdString();
        EXPECT_LT(title->height(), 2 * title->fontMetrics().height()) << "one line: " << title->fullText().toStdString();
        editNamed = editNamed || title->fullText() == QStringLiteral("Quarterly report");
    }
    EXPECT_TRUE(editNamed) << "a finished edit's files name the material they were made for";
}

// Each page opens at its top, however far the other one was scrolled; the
// recovery window's preview opens the storage page with its preview.
TEST(SettingsWindowTest, EachPageOpensAtItsTopAndThePreviewOnTheStoragePage)
{
    SettingsRig rig;
    writeOldExport(rig, "old");
    rig.start(true);
    rig.controller->window()->resize(576, 320);
    rig.controller->present(0);
    QScrollBar* bar = view(rig).pageScroll()->verticalScrollBar();
    ASSERT_TRUE(waitUntil([&] { return bar->maximum() > 0; }));
    bar->setValue(bar->maximum());

    rig.controller->present(1);
    EXPECT_EQ(bar->value(), 0) << "the storage page opens at its top";
    bar->setValue(bar->maximum());
    rig.model->setPage(0);
    EXPECT_EQ(bar->value(), 0) << "and so does the intake page, picked again";

    rig.controller->presentCleanupPreview();
    EXPECT_EQ(rig.model->page(), 1);
    ASSERT_TRUE(waitUntil([&] { return view(rig).sheet() != nullptr; }));
    EXPECT_TRUE(view(rig).storagePage()->isVisible());
}

} // namespace
} // namespace tolvex::testing
