// Unfinished work: every pending edit session and note draft can be
// discarded from the recovery window, and what an open window holds is
// neither discarded there nor proposed by the storage cleanup.
#include "Windows/RecoveryTesting.h"
#include "Windows/SettingsTesting.h"
#include "Windows/WindowsTesting.h"

#include "Support/ImageFixtures.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UuidText.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Windows/HeldDrafts.h"
#include "Velmarin/Windows/IntakeSettingsView.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/StorageCleanupPreview.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace tolvex::testing {
namespace {

QString draftFolder(const QUuid& id)
{
    return QStringLiteral("Drafts/") + uuidText(id);
}

ActionButton* buttonTitled(QWidget* window, MessageKey key)
{
    for (ActionButton* button : window->findChildren<ActionButton*>()) {
        if (button->text() == localized(key))
            return button;
    }
    return nullptr;
}

enum class Work { markup, unopenableMarkup, text, textPastBound, newNote, continuedNote };

// One image, one text and one note material, for the work to be made on.
struct WorkRig : RecoveryRig {
    WorkRig()
    {
        MaterialRecord& picture = builder.addMaterial(
            test::encodeImage(test::patternImage(8, 6), "png"), MaterialStatus::hanging, QStringLiteral("png"));
        picture.kind = MaterialKind::image;
        image = picture.id;
        text = builder.addMaterial("words").id;
        note = builder.addMaterial("a note", MaterialStatus::hanging, QStringLiteral("txt"), {}, ImportOrigin::note).id;
        start();
    }

    // A pending session or note draft of the kind; its id.
    QUuid make(Work work)
    {
        if (work == Work::newNote || work == Work::continuedNote) {
            const std::optional<QUuid> material = work == Work::continuedNote ? std::optional(note) : std::nullopt;
            const NoteDraft draft = waitForResult(store->createNoteDraft(material));
            waitForResult(store->updateNoteDraft(draft.id, QStringLiteral("unsent")));
            return draft.id;
        }
        const bool onImage = work == Work::markup || work == Work::unopenableMarkup;
        const EditSession session = waitForResult(
            store->createDerivedVersion(onImage ? image : text, onImage ? VersionKind::markup : VersionKind::textEdit));
        const QByteArray unopenable = work == Work::unopenableMarkup ? QByteArray("no picture")
            : work == Work::textPastBound ? QByteArray(TextEditorController::maximumTextBytes + 1, 'a')
                                          : QByteArray();
        if (!unopenable.isEmpty()) {
            QFile working(session.workingURL.toLocalFile());
            EXPECT_TRUE(working.open(QIODevice::WriteOnly | QIODevice::Truncate));
            working.write(unopenable);
        }
        sessions.append(session);
        return session.id;
    }

    bool kept(const QUuid& id) const { return QDir(builder.path(draftFolder(id))).exists(); }

    QUuid image, text, note;
    QList<EditSession> sessions;
};

// Whatever the kind, and whether or not its editor can open it, the row
// offers Discard; confirmed, the work leaves the data root and the window.
TEST(AbandonedWork, EverySessionAndDraftCanBeDiscardedFromItsRow)
{
    const struct {
        const char* name;
        Work work;
        MessageKey first;
    } cases[] = {
        {"a markup", Work::markup, MessageKey::resumeDraft},
        {"a markup that is no image", Work::unopenableMarkup, MessageKey::stagingExport},
        {"a text", Work::text, MessageKey::resumeDraft},
        {"a text past the bound", Work::textPastBound, MessageKey::stagingExport},
        {"a new note", Work::newNote, MessageKey::resumeDraft},
        {"a continued note", Work::continuedNote, MessageKey::resumeDraft},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WorkRig rig;
        const QUuid id = rig.make(c.work);
        int asked = 0;
        rig.controller->confirmDiscard = [&](Line&) {
            ++asked;
            return true;
        };
        QCoro::waitFor(rig.controller->show(std::nullopt));
        QWidget* window = rig.controller->recoveryWindow();
        ASSERT_EQ(rig.buttons(window), (QStringList{localized(c.first), localized(MessageKey::recoveryDiscard)}));

        buttonTitled(window, MessageKey::recoveryDiscard)->click();
        ASSERT_TRUE(waitUntil([&] { return rig.controller->recoveryWindow() != window; }));
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(rig.errors.empty());
        EXPECT_FALSE(rig.kept(id));
        EXPECT_TRUE(rig.buttons(rig.controller->recoveryWindow()).isEmpty());
        EXPECT_TRUE(waitForResult(rig.store->pendingEditSessions()).isEmpty());
        EXPECT_TRUE(waitForResult(rig.store->pendingNoteDrafts()).isEmpty());
    }
}

// Nothing goes unasked, nor while a window holds the work (the markup
// editor's own session, or one a window took up while the question ran),
// nor when the user keeps it.
TEST(AbandonedWork, ADiscardIsAskedAndRefusedForWorkAWindowHolds)
{
    enum class Way { declined, heldByTheMarkup, takenUpMeanwhile };
    const struct {
        const char* name;
        Way way;
        int asked;
        std::optional<StoreError::Code> error;
    } cases[] = {
        {"declined", Way::declined, 1, std::nullopt},
        {"held by the markup editor", Way::heldByTheMarkup, 0, StoreError::Code::operationInProgress},
        {"taken up while asked", Way::takenUpMeanwhile, 1, StoreError::Code::operationInProgress},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WorkRig rig;
        const QUuid id = rig.make(Work::markup);
        QCoro::waitFor(rig.controller->show(std::nullopt));
        QWidget* window = rig.controller->recoveryWindow();
        if (c.way == Way::heldByTheMarkup)
            rig.markup->edit(rig.sessions.constFirst(), *rig.store, [](EditResult) {});
        QSet<QUuid> heldElsewhere;
        rig.controller->heldDrafts = [&] { return heldElsewhere; };
        int asked = 0;
        rig.controller->confirmDiscard = [&](Line&) {
            ++asked;
            heldElsewhere.insert(id);
            return c.way != Way::declined;
        };

        buttonTitled(window, MessageKey::recoveryDiscard)->click();
        if (c.error) {
            ASSERT_TRUE(waitUntil([&] { return !rig.errors.empty(); }));
            EXPECT_EQ(StoreError::codeOf(rig.errors.front()), c.error);
        }
        EXPECT_EQ(asked, c.asked);
        EXPECT_TRUE(rig.kept(id));
        EXPECT_EQ(waitForResult(rig.store->pendingEditSessions()).size(), 1);
        if (!c.error) {
            EXPECT_TRUE(rig.errors.empty());
        }
    }
}

// The question is a modal the privacy cover ends, unanswered.
TEST(AbandonedWork, ACoverEndsTheDiscardQuestionAndKeepsTheWork)
{
    WorkRig rig;
    const QUuid id = rig.make(Work::newNote);
    QCoro::waitFor(rig.controller->show(std::nullopt));
    QString asked;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        for (QWidget* modal : rig.line->ownedModals()) {
            if (auto* box = qobject_cast<QMessageBox*>(modal); box && asked.isEmpty()) {
                asked = box->text();
                rig.line->coverImmediately();
            }
        }
    });
    watch.start(10);
    buttonTitled(rig.controller->recoveryWindow(), MessageKey::recoveryDiscard)->click();
    ASSERT_TRUE(waitUntil([&] { return !asked.isEmpty(); }));
    watch.stop();
    EXPECT_EQ(asked, localized(MessageKey::recoveryDiscardTitle));
    EXPECT_TRUE(rig.line->ownedModals().isEmpty());
    EXPECT_TRUE(rig.kept(id));
    EXPECT_TRUE(rig.errors.empty());
}

// The settings' cleanup is told what the open editors hold: their work
// stays out of the plan, the rest is listed as unfinished work. A window
// that takes up listed work before the confirmation makes the confirmation
// refuse rather than trash it.
TEST(AbandonedWork, TheCleanupLeavesWhatOpenWindowsHold)
{
    SettingsRig rig;
    const QUuid heldText = rig.builder.addMaterial("held text").id;
    const QUuid freeText = rig.builder.addMaterial("free text").id;
    MaterialRecord& picture = rig.builder.addMaterial(
        test::encodeImage(test::patternImage(8, 6), "png"), MaterialStatus::hanging, QStringLiteral("png"));
    picture.kind = MaterialKind::image;
    const QUuid image = picture.id;
    rig.start(true);
    MaterialEditorStore editorStore(rig.store.get());
    TextEditorController textEditor(*rig.line, editorStore);
    ASSERT_EQ(outcome(textEditor.open(heldText, false)), std::nullopt);
    NoteEditorController noteEditor(*rig.line, editorStore);
    ASSERT_EQ(outcome(noteEditor.openNew(false)), std::nullopt);
    Markup markup([](const QUrl&) {}, [] {});
    const EditSession marking = waitForResult(rig.store->createDerivedVersion(image, VersionKind::markup));
    markup.edit(marking, *rig.store, [](EditResult) {});
    const EditSession freeSession = waitForResult(rig.store->createDerivedVersion(freeText, VersionKind::textEdit));
    const NoteDraft freeNote = waitForResult(rig.store->createNoteDraft(std::nullopt));
    waitForResult(rig.store->updateNoteDraft(freeNote.id, QStringLiteral("Left behind")));
    QSet<QUuid> takenUp;
    rig.model->heldDrafts = [&] { return HeldDrafts::of(markup, &textEditor, &noteEditor) + takenUp; };
    rig.controller->present(1);

    QCoro::waitFor(rig.model->previewCleanup());
    ASSERT_TRUE(rig.model->cleanupPlan());
    const StorageCleanupPlan plan = *rig.model->cleanupPlan();
    EXPECT_EQ(plan.heldDrafts, (QSet<QUuid>{textEditor.session()->id, noteEditor.draft()->id, marking.id}));
    QStringList proposed;
    for (const CleanupTarget& target : plan.targets)
        proposed.append(target.relativePath);
    proposed.sort();
    QStringList free{draftFolder(freeSession.id), draftFolder(freeNote.id)};
    free.sort();
    EXPECT_EQ(proposed, free) << "held work stays";

    // The sheet names unfinished work as such, with what it was made of.
    CleanupPreviewView* sheet = rig.controller->settingsContent()->sheet();
    ASSERT_TRUE(sheet);
    QStringList shown;
    for (const QLabel* label : sheet->findChildren<QLabel*>())
        shown.append(label->text());
    EXPECT_EQ(shown.count(localized(MessageKey::cleanupPendingDraft)), 2);
    EXPECT_TRUE(shown.contains(QStringLiteral("Left behind")));
    EXPECT_TRUE(shown.contains(rig.line->snapshot->findMaterial(freeText)->title));

    takenUp.insert(freeNote.id);
    QCoro::waitFor(rig.model->confirmCleanup());
    ASSERT_TRUE(settled(rig));
    EXPECT_EQ(rig.model->cleanupMessage(), localized(MessageKey::cleanupChanged));
    EXPECT_TRUE(QDir(rig.path(draftFolder(freeNote.id))).exists());
    EXPECT_TRUE(QDir(rig.path(draftFolder(freeSession.id))).exists());
}

} // namespace
} // namespace tolvex::testing
