// The recovery window, the taken-down history and the undo, over the real
// store in a temporary data root and the real line.
#include "Windows/RecoveryTesting.h"

#include "Actions/ActionsTesting.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Windows/ElidedLabel.h"
#include "Velmarin/Windows/RecoveryLists.h"
#include "Velmarin/Windows/ReviewUnavailableError.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QFile>
#include <QFileDialog>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

using testing::RecoveryRig;
using testing::waitUntil;

QString localized(MessageKey key)
{
    return appLocalizer().string(key);
}

// A session folder that cannot be read opens the window too, without the
// staging files, which wait until it is settled.
TEST(WorkflowRecovery, RefreshOpensOnlyForStagingOrReviewAndListsTheirButtons)
{
    const QString open = localized(MessageKey::open);
    const QString hang = localized(MessageKey::hangReviewed);
    const QString resume = localized(MessageKey::resumeDraft);
    const QString exportFile = localized(MessageKey::stagingExport);
    const QString preview = localized(MessageKey::cleanupPreview);
    const QString discard = localized(MessageKey::recoveryDiscard);
    struct Case {
        const char* name;
        bool draft;
        bool reviewElsewhere;
        bool staging;
        QStringList buttons; // empty: no window
        // A session folder whose record does not decode.
        bool unreadable = false;
    };
    const std::vector<Case> cases = {
        {"nothing", false, false, false, {}},
        {"a note draft alone waits", true, false, false, {}},
        {"review in another group", false, true, false, {open, hang}},
        {"review and a draft", true, true, false, {open, hang, resume, discard}},
        {"staging lists its files and the preview", false, false, true, {exportFile, preview}},
        {"a draft that cannot be read, beside staging", false, false, true, {discard}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecoveryRig rig;
        rig.builder.addMaterial("hanging");
        if (c.reviewElsewhere) {
            const MatterGroup other = rig.builder.addMatter(QStringLiteral("Other"));
            rig.builder.addMaterial("odd", MaterialStatus::needsReview, QStringLiteral("txt"), other.id);
        }
        if (c.staging)
            rig.builder.writeFile(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), "left");
        rig.start();
        if (c.unreadable)
            rig.builder.writeFile(
                QStringLiteral("Drafts/") + uuidText(QUuid::createUuid()) + QStringLiteral("/session.json"), "{");
        if (c.draft) {
            const NoteDraft draft = waitForResult(rig.store->createNoteDraft(std::nullopt));
            waitForResult(rig.store->updateNoteDraft(draft.id, QStringLiteral("unsent")));
        }
        QCoro::waitFor(rig.controller->refresh(true));
        EXPECT_TRUE(rig.errors.empty());
        EXPECT_EQ(rig.controller->recoveryWindow() != nullptr, !c.buttons.isEmpty());
        QStringList shown = rig.buttons(rig.controller->recoveryWindow());
        if (c.staging && !c.unreadable) {
            // Only unowned staging files can be exported; the preview comes once.
            const QList<StagingRecoveryItem> items = waitForResult(rig.store->stagingRecoveryInventory());
            const auto unowned = std::count_if(items.begin(), items.end(), [](const StagingRecoveryItem& item) {
                return item.disposition == StagingRecoveryItem::Disposition::unowned;
            });
            EXPECT_EQ(shown.count(exportFile), unowned);
            EXPECT_EQ(shown.count(preview), 1);
            EXPECT_EQ(shown.constLast(), preview);
        } else {
            EXPECT_EQ(shown, c.buttons);
        }
    }
}

// A kept draft says whose it is (the material's title, or a note's first
// line) and since when it waits.
TEST(WorkflowRecovery, KeptDraftsNameTheirMaterialOrFirstLineAndTheirTime)
{
    RecoveryRig rig;
    const QUuid report = rig.builder.addMaterial("report").id;
    rig.builder.material(report).title = QStringLiteral("Quarterly report");
    rig.start();
    waitForResult(rig.store->createDerivedVersion(report, VersionKind::textEdit));
    const NoteDraft created = waitForResult(rig.store->createNoteDraft(std::nullopt));
    const NoteDraft draft
        = waitForResult(rig.store->updateNoteDraft(created.id, QStringLiteral("\r\n  Call the plumber\u2029about the boiler")));
    QCoro::waitFor(rig.controller->show(std::nullopt));
    QWidget* window = rig.controller->recoveryWindow();
    ASSERT_NE(window, nullptr);

    QStringList lines;
    for (const QLabel* line : window->findChildren<QLabel*>()) {
        const auto* cut = qobject_cast<const ElidedLabel*>(line);
        lines.append(cut ? cut->fullText() : line->text());
    }
    const QString kept = localized(MessageKey::retainedDraft);
    EXPECT_TRUE(lines.contains(QStringLiteral("Quarterly report"))) << lines.join(u'|').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("Call the plumber"))) << lines.join(u'|').toStdString();
    EXPECT_TRUE(lines.contains(localized(MessageKey::noteTitle) + RecoveryLists::middleDot() + kept
        + RecoveryLists::middleDot() + RecoveryLists::when(draft.updatedAt)))
        << lines.join(u'|').toStdString();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QString& line) {
        return line.startsWith(kept + RecoveryLists::middleDot());
    })) << "an edit's draft tells when its working file was last written";
}

TEST(WorkflowRecovery, TheHistoryShowsEachTitleOnOneLine)
{
    RecoveryRig rig;
    MaterialRecord& down = rig.builder.addMaterial("seven lines", MaterialStatus::takenDown);
    down.title = QStringLiteral("one\ntwo\nthree\nfour\nfive\nsix\nseven");
    rig.start();
    QCoro::waitFor(rig.controller->showTakenDown());
    QWidget* window = rig.controller->takenDownWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntil([&] { return window->isVisible(); }));
    const QList<ElidedLabel*> titles = window->findChildren<ElidedLabel*>();
    ASSERT_EQ(titles.size(), 1);
    EXPECT_EQ(titles.front()->fullText(), QStringLiteral("one two three four five six seven"));
    EXPECT_LT(titles.front()->height(), 2 * titles.front()->fontMetrics().height());
}

TEST(WorkflowRecovery, PreviewCleanupAsksForThePreviewNotTheSettings)
{
    RecoveryRig rig;
    rig.builder.writeFile(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), "left");
    rig.start();
    int previews = 0;
    int settings = 0;
    rig.controller->onPreviewCleanup = [&] { ++previews; };
    rig.line->openSettingsAction = [&] { ++settings; };
    QCoro::waitFor(rig.controller->show(std::nullopt));
    ASSERT_NE(rig.controller->recoveryWindow(), nullptr);
    for (ActionButton* button : rig.controller->recoveryWindow()->findChildren<ActionButton*>()) {
        if (button->text() == localized(MessageKey::cleanupPreview))
            button->click();
    }
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(settings, 0);
}

TEST(WorkflowRecovery, HangingAReviewedMaterialRebuildsTheWindowWithoutIt)
{
    RecoveryRig rig;
    const QUuid id = rig.builder.addMaterial("odd", MaterialStatus::needsReview).id;
    rig.start();
    QCoro::waitFor(rig.controller->refresh(true));
    QWidget* first = rig.controller->recoveryWindow();
    ASSERT_NE(first, nullptr);
    for (ActionButton* button : first->findChildren<ActionButton*>()) {
        if (button->text() == localized(MessageKey::hangReviewed))
            button->click();
    }
    ASSERT_TRUE(waitUntil([&] { return rig.controller->recoveryWindow() != first; }));
    EXPECT_EQ(rig.status(id), MaterialStatus::hanging);
    EXPECT_TRUE(rig.buttons(rig.controller->recoveryWindow()).isEmpty());
    EXPECT_TRUE(rig.errors.empty());
}

TEST(WorkflowRecovery, OnlyAMarkupSessionResumesAsAMarkup)
{
    RecoveryRig rig;
    const QUuid id = rig.builder.addMaterial("words").id;
    rig.start();
    const EditSession text = waitForResult(rig.store->createDerivedVersion(id, VersionKind::textEdit));
    std::vector<EditSession> resumedAsText;
    rig.controller->onResumeText = [&](const EditSession& session) { resumedAsText.push_back(session); };

    rig.controller->resume(text);
    EditSession original = text;
    original.kind = VersionKind::original;
    rig.controller->resume(original);
    ASSERT_TRUE(waitUntil([&] { return !rig.errors.empty(); }));
    ASSERT_EQ(resumedAsText.size(), 1u);
    EXPECT_EQ(resumedAsText.front(), text);
    EXPECT_EQ(StoreError::codeOf(rig.errors.front()), StoreError::Code::invalidEdit);
}

// The markup action's session, left open by a crash, is offered after a
// restart, reopens on the version it was started from, and its save keeps a
// new version and settles it.
TEST(WorkflowRecovery, AMarkupLeftOpenAtACrashIsReopenedOnItsVersionAndSavedAfterARestart)
{
    RecoveryRig rig;
    MaterialRecord& image = rig.builder.addMaterial(
        test::encodeImage(test::patternImage(24, 16), "png"), MaterialStatus::hanging, QStringLiteral("png"));
    image.kind = MaterialKind::image;
    const QUuid id = image.id;
    const QByteArray marked = test::encodeImage(test::patternImage(32, 20), "png");
    const MaterialVersion base = rig.builder.addVersion(id, marked, VersionKind::markup);
    rig.start();
    ASSERT_FALSE(testing::ActionsFixture::attempt(rig.actions->markup(id)));
    ASSERT_TRUE(waitUntil([&] { return rig.launched.size() == 1; }));

    rig.restart();
    const QList<EditSession> pending = waitForResult(rig.store->pendingEditSessions());
    ASSERT_EQ(pending.size(), 1);
    EXPECT_EQ(pending.front().materialID, id);
    EXPECT_EQ(pending.front().baseVersionID, base.id);
    EXPECT_EQ(pending.front().kind, VersionKind::markup);
    QCoro::waitFor(rig.controller->show(std::nullopt));
    QWidget* window = rig.controller->recoveryWindow();
    ASSERT_EQ(rig.buttons(window),
        (QStringList{localized(MessageKey::resumeDraft), localized(MessageKey::recoveryDiscard)}));
    window->findChild<ActionButton*>()->click();
    ASSERT_TRUE(waitUntil([&] { return !rig.launched.isEmpty(); }));
    EXPECT_EQ(rig.launched, QList<QUrl>{pending.front().workingURL});
    EXPECT_TRUE(rig.markup->isEditing());
    QFile working(pending.front().workingURL.toLocalFile());
    ASSERT_TRUE(working.open(QIODevice::ReadOnly));
    EXPECT_EQ(working.readAll(), marked) << "the editor opens a copy of the version the session builds on";

    const QByteArray edited = test::encodeImage(test::patternImage(20, 12), "png");
    const QUrl returned = QUrl::fromLocalFile(test::writeFixture(rig.folder, QStringLiteral("edited.png"), edited));
    QCoro::waitFor(rig.markup->receive({QVariant::fromValue(returned)}));
    ASSERT_TRUE(waitUntil([&] { return rig.controller->recoveryWindow() != window; }));
    const MaterialRecord* saved = rig.line->snapshot->findMaterial(id);
    ASSERT_EQ(saved->versions.size(), 3);
    EXPECT_EQ(saved->activeVersionID, saved->versions.last().id);
    EXPECT_EQ(saved->versions.last().kind, VersionKind::markup);
    EXPECT_EQ(rig.builder.readFile(saved->versions.last().relativePath), edited);
    EXPECT_FALSE(rig.markup->isEditing());
    EXPECT_TRUE(rig.buttons(rig.controller->recoveryWindow()).isEmpty()) << "a saved session is no longer offered";
    EXPECT_TRUE(rig.errors.empty());
}

// A session whose working file its editor cannot open (a text past the text
// editor's bound, left by an older version or a crash; an image that is no
// image) is offered for export instead of resume, never left without a way
// out; the export copies the working file where the user chose.
TEST(WorkflowRecovery, AWorkingFileItsEditorCannotOpenIsOfferedForExport)
{
    const struct {
        const char* name;
        VersionKind kind;
        QByteArray working; // replaces the working copy when not empty
        bool opens;
    } cases[] = {
        {"a text within the bound", VersionKind::textEdit, {}, true},
        {"a text past the bound", VersionKind::textEdit,
            QByteArray(TextEditorController::maximumTextBytes + 1, 'a'), false},
        {"an image", VersionKind::markup, {}, true},
        {"an image that is no image", VersionKind::markup, "no picture", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecoveryRig rig;
        MaterialRecord& record = c.kind == VersionKind::textEdit
            ? rig.builder.addMaterial("words")
            : rig.builder.addMaterial(test::encodeImage(test::patternImage(8, 6), "png"), MaterialStatus::hanging,
                QStringLiteral("png"));
        record.kind = c.kind == VersionKind::textEdit ? MaterialKind::text : MaterialKind::image;
        const QUuid id = record.id;
        rig.start();
        const EditSession session = waitForResult(rig.store->createDerivedVersion(id, c.kind));
        if (!c.working.isEmpty()) {
            QFile working(session.workingURL.toLocalFile());
            ASSERT_TRUE(working.open(QIODevice::WriteOnly | QIODevice::Truncate));
            working.write(c.working);
        }
        const QString destination = rig.folder.filePath(QStringLiteral("kept.copy"));
        rig.controller->runSavePanel = [&](QFileDialog&) { return std::optional<QString>(destination); };
        QCoro::waitFor(rig.controller->show(std::nullopt));
        QWidget* window = rig.controller->recoveryWindow();
        const MessageKey offered = c.opens ? MessageKey::resumeDraft : MessageKey::stagingExport;
        ASSERT_EQ(rig.buttons(window), (QStringList{localized(offered), localized(MessageKey::recoveryDiscard)}));
        if (c.opens)
            continue;
        window->findChild<ActionButton*>()->click();
        ASSERT_TRUE(waitUntil([&] { return rig.line->inputFeedback() == localized(MessageKey::stagingExportDone); }));
        QFile saved(destination);
        ASSERT_TRUE(saved.open(QIODevice::ReadWrite));
        EXPECT_EQ(saved.readAll(), c.working);
        // A copy of its own: the user changing it in place leaves the kept draft alone.
        saved.seek(0);
        saved.write("changed by the user");
        saved.close();
        QFile kept(session.workingURL.toLocalFile());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), c.working);
        EXPECT_TRUE(rig.errors.empty());
    }
}

// What stops the window from being built is reported as such, naming the
// folder it lies in, so that its alert never offers the window again: a
// stray entry in a session folder (its own folder), a note draft that does
// not decode (the drafts' folder).
TEST(WorkflowRecovery, AWindowThatCannotBeBuiltNamesTheFolderInTheWay)
{
    enum class Fault { strayEntry, undecodableNote };
    for (const Fault fault : {Fault::strayEntry, Fault::undecodableNote}) {
        SCOPED_TRACE(fault == Fault::strayEntry ? "a stray entry" : "a note draft that does not decode");
        RecoveryRig rig;
        const QUuid id = rig.builder.addMaterial("words").id;
        rig.start();
        const EditSession session = waitForResult(rig.store->createDerivedVersion(id, VersionKind::textEdit));
        QString expected = QStringLiteral("Drafts");
        if (fault == Fault::strayEntry) {
            expected += u'/' + uuidText(session.id);
            rig.builder.writeFile(expected + QStringLiteral("/notes.txt"), "mine");
        } else {
            rig.builder.writeFile(
                QStringLiteral("Drafts/") + uuidText(QUuid::createUuid()) + QStringLiteral("/note.json"), "{");
        }
        QCoro::waitFor(rig.controller->show(std::nullopt));
        EXPECT_FALSE(rig.controller->recoveryWindow());
        ASSERT_EQ(rig.errors.size(), 1u);
        try {
            std::rethrow_exception(rig.errors.front());
        } catch (const ReviewUnavailableError& unavailable) {
            EXPECT_EQ(unavailable.folder(), QUrl::fromLocalFile(rig.builder.path(expected)));
            EXPECT_EQ(StoreError::codeOf(unavailable.cause()), StoreError::Code::recoveryRequired);
        } catch (...) {
            ADD_FAILURE() << "not reported as a window that cannot be built";
        }
    }
}

TEST(WorkflowRecovery, HistoryListsTheGroupsTakenDownByOrderDateThenIdText)
{
    WorkspaceSnapshot snapshot;
    const QUuid group = snapshot.selectedMatterID;
    const auto record = [&](const char* title, std::int64_t order, double created, QUuid id, MaterialStatus status,
                            QUuid matter) {
        MaterialRecord made;
        made.id = id;
        made.title = QString::fromUtf8(title);
        made.order = order;
        made.createdAt = Date{created};
        made.status = status;
        made.matterID = matter;
        snapshot.materials.append(made);
    };
    const QUuid low = QUuid::fromString(QStringLiteral("0a000000-0000-4000-8000-000000000000"));
    const QUuid high = QUuid::fromString(QStringLiteral("f0000000-0000-4000-8000-000000000000"));
    record("late order", 5, 0, QUuid::createUuid(), MaterialStatus::takenDown, group);
    record("same, high id", 1, 10, high, MaterialStatus::takenDown, group);
    record("same, low id", 1, 10, low, MaterialStatus::takenDown, group);
    record("earlier date", 1, 5, QUuid::createUuid(), MaterialStatus::takenDown, group);
    record("archived", 0, 0, QUuid::createUuid(), MaterialStatus::archived, group);
    record("hanging", 0, 0, QUuid::createUuid(), MaterialStatus::hanging, group);
    record("other group", 0, 0, QUuid::createUuid(), MaterialStatus::takenDown, QUuid::createUuid());

    QStringList titles;
    for (const MaterialRecord& listed : WorkflowRecoveryController::takenDownRecords(snapshot))
        titles.append(listed.title);
    EXPECT_EQ(titles, (QStringList{"earlier date", "same, low id", "same, high id", "late order"}));
    snapshot.privacyHidden = true;
    EXPECT_TRUE(WorkflowRecoveryController::takenDownRecords(snapshot).isEmpty());
}

TEST(WorkflowRecovery, UndoLastsStrictlyUntilTheLatestDeadlineAndClearsOnlyItsFeedback)
{
    RecoveryRig rig;
    const QUuid a = rig.builder.addMaterial("a").id;
    const QUuid b = rig.builder.addMaterial("b").id;
    rig.start();
    const Date start{1000};
    const QString feedback = localized(MessageKey::takeDownUndoFeedback);

    rig.takeDown({a}, start);
    EXPECT_TRUE(rig.controller->canUndoTakeDown(start.addingSeconds(7.999)));
    EXPECT_FALSE(rig.controller->canUndoTakeDown(start.addingSeconds(8)));
    rig.takeDown({b}, start.addingSeconds(5));
    rig.controller->noteTakenDown({}, start.addingSeconds(6));
    EXPECT_EQ(rig.controller->takenDownIDs(), QList<QUuid>{b}) << "an empty take-down leaves the undo alone";
    ASSERT_EQ(rig.timers.size(), 2u);
    rig.timers[0]();
    EXPECT_EQ(rig.line->inputFeedback(), feedback) << "the older timer clears nothing";
    EXPECT_TRUE(rig.controller->canUndoTakeDown(start.addingSeconds(12)));
    rig.line->inputFeedback = QStringLiteral("someone else");
    rig.timers[1]();
    EXPECT_EQ(rig.line->inputFeedback(), QStringLiteral("someone else"));
    EXPECT_TRUE(rig.controller->takenDownIDs().isEmpty());
    EXPECT_FALSE(rig.controller->canUndoTakeDown(start.addingSeconds(12)));
}

TEST(WorkflowRecovery, UndoHangsAgainWhatIsStillDownAndSkipsTheRest)
{
    RecoveryRig rig;
    const QUuid a = rig.builder.addMaterial("a").id;
    const QUuid b = rig.builder.addMaterial("b").id;
    const QUuid c = rig.builder.addMaterial("c").id;
    rig.start();
    const Date now{1000};
    rig.takeDown({a, b, c}, now);
    QCoro::waitFor(rig.line->render(waitForResult(rig.store->apply(MaterialCommand::hang(b), Line::maxItems))));

    QCoro::waitFor(rig.controller->undoTakeDown(now.addingSeconds(1)));
    EXPECT_TRUE(rig.errors.empty());
    for (const QUuid& id : {a, b, c})
        EXPECT_EQ(rig.status(id), MaterialStatus::hanging);
    EXPECT_TRUE(rig.controller->takenDownIDs().isEmpty());
    EXPECT_EQ(rig.line->inputFeedback(), MessageFormat::format(localized(MessageKey::historyRehungBatch), {2}));
    EXPECT_FALSE(rig.controller->canUndoTakeDown(now.addingSeconds(2)));
}

// A "Take Down All" comes back as it went: in one render, under one
// feedback that counts the cards; a single card keeps its own words.
TEST(WorkflowRecovery, ABatchComesBackInOneRenderUnderOneFeedback)
{
    RecoveryRig rig;
    QList<QUuid> ids;
    for (const char* name : {"a", "b", "c", "d", "e"})
        ids.append(rig.builder.addMaterial(name).id);
    rig.start();
    const Date now{1000};
    rig.takeDown(ids, now);
    EXPECT_EQ(rig.line->inputFeedback(),
        MessageFormat::format(localized(MessageKey::historyUndoFeedbackBatch), {ids.size()}));

    int renders = -1; // the subscription first hands over the current snapshot
    const Subscription counting = rig.line->snapshot.subscribe([&](const WorkspaceSnapshot&) { ++renders; });
    QCoro::waitFor(rig.controller->undoTakeDown(now.addingSeconds(1)));
    EXPECT_TRUE(rig.errors.empty());
    for (const QUuid& id : ids)
        EXPECT_EQ(rig.status(id), MaterialStatus::hanging);
    EXPECT_EQ(renders, 1);
    EXPECT_EQ(rig.line->inputFeedback(), MessageFormat::format(localized(MessageKey::historyRehungBatch), {ids.size()}));
}

// A menu opened in time and clicked too late says so instead of nothing.
TEST(WorkflowRecovery, AnUndoClickedPastTheDeadlineSaysItExpired)
{
    const struct {
        const char* name;
        double clickedAfter;
        bool timerFired;
        MaterialStatus status;
        MessageKey feedback;
    } cases[] = {
        {"in time", 7.9, false, MaterialStatus::hanging, MessageKey::inputSaved},
        {"at the deadline", 8, false, MaterialStatus::takenDown, MessageKey::historyUndoExpired},
        {"after the clearing", 9, true, MaterialStatus::takenDown, MessageKey::historyUndoExpired},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecoveryRig rig;
        const QUuid a = rig.builder.addMaterial("a").id;
        rig.start();
        const Date now{1000};
        rig.takeDown({a}, now);
        if (c.timerFired)
            rig.timers.at(0)();
        QCoro::waitFor(rig.controller->undoTakeDown(now.addingSeconds(c.clickedAfter)));
        EXPECT_EQ(rig.status(a), c.status);
        EXPECT_EQ(rig.line->inputFeedback(), localized(c.feedback));
    }
}

TEST(WorkflowRecovery, ACoverForgetsBothWindowsAndTheUndo)
{
    RecoveryRig rig;
    rig.builder.addMaterial("down", MaterialStatus::takenDown);
    rig.builder.addMaterial("odd", MaterialStatus::needsReview);
    const QUuid up = rig.builder.addMaterial("up").id;
    rig.start();
    QCoro::waitFor(rig.controller->refresh(true));
    QCoro::waitFor(rig.controller->showTakenDown());
    QPointer<QWidget> recovery = rig.controller->recoveryWindow();
    QPointer<QWidget> history = rig.controller->takenDownWindow();
    ASSERT_TRUE(recovery && history);
    EXPECT_EQ(rig.buttons(history), QStringList{localized(MessageKey::rehangMaterial)});
    rig.takeDown({up}, Date{1000});
    EXPECT_EQ(rig.buttons(history).size(), 2) << "a visible history follows the line";

    rig.line->coverImmediately();
    EXPECT_EQ(rig.controller->recoveryWindow(), nullptr);
    EXPECT_EQ(rig.controller->takenDownWindow(), nullptr);
    for (QWidget* window : {recovery.data(), history.data()}) {
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(window->windowTitle(), localized(MessageKey::contentHidden));
    }
    // Freed by the event loop, as the program's main loop would.
    EXPECT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return recovery.isNull() && history.isNull();
    })) << "forgotten windows are freed";
    EXPECT_TRUE(rig.controller->takenDownIDs().isEmpty());
    EXPECT_EQ(rig.line->inputFeedback(), QString());
    EXPECT_FALSE(rig.controller->canUndoTakeDown(Date{1001}));
}

} // namespace
} // namespace tolvex

namespace tolvex {
namespace {

TEST(WorkflowRecovery, StagingExportWritesWhereChosenUnlessCoveredOrCancelled)
{
    struct Case {
        const char* name;
        bool choose;
        bool coverDuringPanel;
        bool exported;
    };
    const std::vector<Case> cases = {
        {"chosen", true, false, true},
        {"cancelled", false, false, false},
        {"covered while the panel runs", true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecoveryRig rig;
        rig.builder.writeFile(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), "left over");
        rig.start();
        const QString destination = rig.folder.path() + QStringLiteral("/saved.bin");
        int panels = 0;
        rig.controller->runSavePanel = [&](QFileDialog& panel) -> std::optional<QString> {
            ++panels;
            EXPECT_NE(dynamic_cast<NameOnlyFileIconProvider*>(panel.iconProvider()), nullptr);
            if (c.coverDuringPanel)
                rig.line->coverImmediately();
            return c.choose ? std::optional<QString>(destination) : std::nullopt;
        };
        QCoro::waitFor(rig.controller->refresh(true));
        ASSERT_NE(rig.controller->recoveryWindow(), nullptr);
        ActionButton* exportButton = nullptr;
        for (ActionButton* button : rig.controller->recoveryWindow()->findChildren<ActionButton*>()) {
            if (button->text() == localized(MessageKey::stagingExport))
                exportButton = button;
        }
        ASSERT_NE(exportButton, nullptr);
        exportButton->click();
        ASSERT_TRUE(waitUntil([&] { return panels == 1 && rig.controller->exportPanel() == nullptr; }));
        if (c.exported) {
            ASSERT_TRUE(waitUntil([&] { return rig.line->inputFeedback() == localized(MessageKey::stagingExportDone); }));
        }
        EXPECT_EQ(QFile::exists(destination), c.exported);
        if (c.exported) {
            QFile saved(destination);
            ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
            EXPECT_EQ(saved.readAll(), QByteArray("left over"));
        }
        EXPECT_TRUE(rig.errors.empty());
    }
}

} // namespace
} // namespace tolvex

namespace tolvex {
namespace {

TEST(WorkflowRecovery, AVisibleHistoryKeepsItsDistanceFromTheBottom)
{
    RecoveryRig rig;
    QList<QUuid> hanging;
    for (int index = 0; index < 40; ++index)
        rig.builder.addMaterial(QByteArray::number(index), MaterialStatus::takenDown);
    for (int index = 0; index < 2; ++index)
        hanging.append(rig.builder.addMaterial("up").id);
    rig.start();
    QCoro::waitFor(rig.controller->showTakenDown());
    QWidget* history = rig.controller->takenDownWindow();
    ASSERT_NE(history, nullptr);
    const auto bar = [&] { return history->findChild<QScrollArea*>()->verticalScrollBar(); };
    ASSERT_TRUE(waitUntil([&] { return bar()->maximum() > 200; }));
    bar()->setValue(bar()->maximum() - 120);

    rig.takeDown({hanging[0]}, Date{1000});
    ASSERT_TRUE(waitUntil([&] { return bar()->maximum() > 200 && bar()->maximum() - bar()->value() == 120; }, 3000));
}

} // namespace
} // namespace tolvex
