// Unfinished work: every pending edit session and note draft can be
// discarded from the recovery window, and what an open window holds is
// neither discarded there nor proposed by the storage cleanup.
#include "Windows/RecoveryTesting.h"
#include "Actions/ActionsTesting.h"
#include "Windows/SettingsTesting.h"
#include "Windows/WindowsTesting.h"

#include "Support/ImageFixtures.h"
#include "TolvexCore/Files/FreedesktopTrash.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UuidText.h"
#include "Velmarin/Actions/MarkupEditorWindow.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Windows/HeldDrafts.h"
#include "Velmarin/Windows/IntakeSettingsView.h"
#include "Velmarin/Windows/ElidedLabel.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/RecoveryLists.h"
#include "Velmarin/Windows/StorageCleanupPreview.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>

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

enum class Work {
    markup, unopenableMarkup, text, textPastBound, newNote, continuedNote,
    // Session folders the store cannot read: a record that does not decode,
    // and one naming a file outside the library.
    undecodableRecord, recordNamingAFileOutside
};

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
        const bool unreadable = work == Work::undecodableRecord || work == Work::recordNamingAFileOutside;
        const bool onImage = work == Work::markup || work == Work::unopenableMarkup || unreadable;
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
        if (unreadable) {
            EditSession outside = session;
            outside.workingURL = QUrl::fromLocalFile(folder.path() + QStringLiteral("/photo.png"));
            QFile record(builder.path(draftFolder(session.id) + QStringLiteral("/session.json")));
            EXPECT_TRUE(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
            record.write(work == Work::undecodableRecord ? QByteArray("{\"id\": 7") : Json::encode(outside));
            return session.id;
        }
        sessions.append(session);
        return session.id;
    }

    bool kept(const QUuid& id) const { return QDir(builder.path(draftFolder(id))).exists(); }
    qsizetype draftFolders() const
    {
        return QDir(builder.path(QStringLiteral("Drafts"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    }
    // The lines of the recovery window's rows, as shown.
    QStringList rowLines() const
    {
        QStringList lines;
        if (QWidget* window = controller->recoveryWindow()) {
            for (const QLabel* line : window->findChildren<QLabel*>()) {
                const auto* cut = qobject_cast<const ElidedLabel*>(line);
                lines.append(cut ? cut->fullText() : line->text());
            }
        }
        return lines;
    }

    QUuid image, text, note;
    QList<EditSession> sessions;
};

// Whatever the kind, whether or not its editor can open it, and whether or
// not the store can read its record, the row offers Discard; confirmed, the
// work goes to the Trash and leaves the window.
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
        {"a record that does not decode", Work::undecodableRecord, MessageKey::stagingExport},
        {"a record naming a file outside", Work::recordNamingAFileOutside, MessageKey::stagingExport},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WorkRig rig;
        const QUuid id = rig.make(c.work);
        // The staging inventory cannot tell what a session folder it cannot
        // read wants: the window opens without it until the folder is settled.
        const bool unreadable = c.work == Work::undecodableRecord || c.work == Work::recordNamingAFileOutside;
        if (unreadable)
            rig.builder.writeFile(
                QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), "staged");
        int asked = 0;
        rig.controller->confirmDiscard = [&](Line&) {
            ++asked;
            return true;
        };
        QCoro::waitFor(rig.controller->show(std::nullopt));
        QWidget* window = rig.controller->recoveryWindow();
        ASSERT_EQ(rig.buttons(window), (QStringList{localized(c.first), localized(MessageKey::recoveryDiscard)}));

        if (unreadable) {
            // Never resumed; its folder's own working file is copied out.
            EXPECT_TRUE(rig.rowLines().contains(localized(MessageKey::recoveryUnopenableDraft)));
            const QString exported = rig.folder.filePath(QStringLiteral("exported.png"));
            rig.controller->runSavePanel = [&](QFileDialog&) { return std::optional(exported); };
            buttonTitled(window, MessageKey::stagingExport)->click();
            ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(exported); }));
            QFile copy(exported);
            QFile working(rig.builder.path(draftFolder(id) + QStringLiteral("/working.png")));
            ASSERT_TRUE(copy.open(QIODevice::ReadOnly) && working.open(QIODevice::ReadOnly));
            EXPECT_EQ(copy.readAll(), working.readAll());
        }

        buttonTitled(window, MessageKey::recoveryDiscard)->click();
        ASSERT_TRUE(waitUntil([&] { return rig.controller->recoveryWindow() != window; }));
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(rig.errors.empty());
        EXPECT_FALSE(rig.kept(id));
        const QString trash = QString::fromStdString(FreedesktopTrash::forCurrentUser().homeTrashDirectory());
        EXPECT_TRUE(QDir(trash + QStringLiteral("/files/") + uuidText(id)).exists()) << "moved to the Trash, not deleted";
        // Settled, the staging file is listed.
        const QStringList staging{localized(MessageKey::stagingExport), localized(MessageKey::cleanupPreview)};
        EXPECT_EQ(rig.buttons(rig.controller->recoveryWindow()), unreadable ? staging : QStringList());
        EXPECT_TRUE(waitForResult(rig.store->pendingEditSessions()).isEmpty());
        EXPECT_TRUE(waitForResult(rig.store->pendingNoteDrafts()).isEmpty());
    }
}

// Nothing goes unasked, nor while a window holds the work (the markup
// editor's own session, or one a window took up while the question ran),
// nor when the user keeps it. Held work is refused saying where it is, and
// the refusal offers that window.
TEST(AbandonedWork, ADiscardIsAskedAndRefusedForWorkAWindowHolds)
{
    enum class Way { declined, heldByTheMarkup, takenUpMeanwhile };
    const struct {
        const char* name;
        Way way;
        int asked;
        bool refused;
    } cases[] = {
        {"declined", Way::declined, 1, false},
        {"held by the markup editor", Way::heldByTheMarkup, 0, true},
        {"taken up while asked", Way::takenUpMeanwhile, 1, true},
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
        QList<QUuid> raised;
        rig.controller->raiseHeld = [&](const QUuid& held) {
            raised.append(held);
            return true;
        };
        int asked = 0;
        rig.controller->confirmDiscard = [&](Line&) {
            ++asked;
            heldElsewhere.insert(id);
            return c.way != Way::declined;
        };
        QStringList refusals;
        rig.controller->runAlert = [&](Alert& alert) {
            refusals.append(alert.window()->text());
            return Alert::firstButtonResponse;
        };

        buttonTitled(window, MessageKey::recoveryDiscard)->click();
        ASSERT_TRUE(waitUntil([&] { return asked == c.asked && refusals.size() == (c.refused ? 1 : 0); }));
        EXPECT_EQ(refusals, c.refused ? QStringList{localized(MessageKey::recoveryHeldDraft)} : QStringList());
        if (c.way == Way::takenUpMeanwhile) {
            EXPECT_EQ(raised, QList<QUuid>{id}) << "the refusal's first button brings the window forward";
        }
        EXPECT_TRUE(rig.errors.empty()) << "refused for its reason, never as a busy store";
        EXPECT_TRUE(rig.kept(id));
        EXPECT_EQ(waitForResult(rig.store->pendingEditSessions()).size(), 1);
        rig.markup->abandon();
    }
}

// A Mark Up whose editor kept nothing (nothing drawn, marks thrown away, or
// never opened beside another) leaves no draft and no row. Every ending that
// may hold work keeps it, and its row says whether it holds marks.
TEST(AbandonedWork, AMarkupKeepsItsDraftOnlyWhenItMayHoldWork)
{
    enum class End {
        cancelled,
        secondBesideAnOpenOne,
        keptOneResumedBesideAnOpenOne,
        cancelledAfterMarksWereKept,
        abandoned,
        failedSave,
        fallbackEdited
    };
    const struct {
        const char* name;
        End end;
        qsizetype drafts;
        std::optional<MessageKey> holds; // what the kept draft's row says it holds
    } cases[] = {
        {"cancelled with nothing drawn or marks discarded", End::cancelled, 0, std::nullopt},
        {"a second Mark Up while one is open", End::secondBesideAnOpenOne, 1, std::nullopt},
        {"a kept draft resumed while another is open", End::keptOneResumedBesideAnOpenOne, 2, std::nullopt},
        {"cancelled after marks were kept in the working file", End::cancelledAfterMarksWereKept, 1,
            MessageKey::recoveryWithMarks},
        {"abandoned at the quit check", End::abandoned, 1, MessageKey::recoveryWithoutMarks},
        {"a failed save, then abandoned", End::failedSave, 1, MessageKey::recoveryWithoutMarks},
        {"the desktop's application edited the copy, then Cancel", End::fallbackEdited, 1,
            MessageKey::recoveryWithMarks},
    };
    const QByteArray marked = test::encodeImage(test::patternImage(9, 7), "png");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WorkRig rig;
        if (c.end == End::keptOneResumedBesideAnOpenOne)
            rig.make(Work::markup);
        auto service = std::make_shared<ScriptedService>();
        service->accepts = c.end != End::fallbackEdited;
        RecordingDesktop desktop;
        const auto writeMarks = [&] {
            QFile working(rig.markup->session()->workingURL.toLocalFile());
            ASSERT_TRUE(working.open(QIODevice::WriteOnly | QIODevice::Truncate));
            working.write(marked);
        };
        rig.useMarkup(std::make_unique<Markup>(
            Markup::Launcher{}, [] {},
            [&](EditSession session, MaterialStore& store, QByteArray data) {
                if (c.end == End::failedSave)
                    throw StoreError::operationInProgress();
                return Markup::defaultPersist()(session, store, data);
            },
            [service] { return service; }, &desktop,
            [&](Alert&) {
                writeMarks();
                return Alert::firstButtonResponse + 1;
            }));
        ASSERT_FALSE(ActionsFixture::attempt(rig.actions->markup(rig.image)));
        ASSERT_TRUE(waitUntil([&] { return !service->performed.isEmpty() || !rig.markup->editorActive(); }));

        switch (c.end) {
        case End::cancelled:
            service->didFail({MarkupServiceError::editorDomain, MarkupServiceError::userCancelled});
            break;
        case End::secondBesideAnOpenOne:
            ASSERT_FALSE(ActionsFixture::attempt(rig.actions->markup(rig.image)));
            break;
        case End::keptOneResumedBesideAnOpenOne:
            rig.controller->resume(rig.sessions.constFirst());
            ASSERT_TRUE(waitUntil([&] { return !rig.errors.empty(); }));
            EXPECT_EQ(StoreError::codeOf(rig.errors.front()), StoreError::Code::operationInProgress);
            rig.errors.clear();
            break;
        case End::cancelledAfterMarksWereKept:
            writeMarks();
            service->didFail({MarkupServiceError::editorDomain, MarkupServiceError::userCancelled});
            break;
        case End::abandoned:
            rig.markup->abandon();
            break;
        case End::failedSave:
            service->didShare({QVariant::fromValue(test::patternImage(9, 7))});
            ASSERT_TRUE(waitUntil([&] { return rig.markup->failed(); }));
            rig.markup->abandon();
            break;
        case End::fallbackEdited:
            break;
        }
        ASSERT_TRUE(waitUntil([&] {
            const bool stillOpen = c.end == End::secondBesideAnOpenOne || c.end == End::keptOneResumedBesideAnOpenOne;
            return rig.draftFolders() == c.drafts && rig.markup->isEditing() == stillOpen;
        }));
        EXPECT_EQ(waitForResult(rig.store->pendingEditSessions()).size(), c.drafts);
        EXPECT_TRUE(rig.errors.empty());
        if (c.holds) {
            QCoro::waitFor(rig.controller->show(std::nullopt));
            const QString prefix = localized(MessageKey::retainedDraft) + RecoveryLists::middleDot() + localized(*c.holds)
                + RecoveryLists::middleDot();
            const QStringList lines = rig.rowLines();
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return line.startsWith(prefix); }))
                << lines.join(u'|').toStdString();
        }
        rig.markup->abandon();
    }
}

// Two drafts kept within one minute read apart in every shipped language.
TEST(AbandonedWork, AKeptDraftsTimeShowsItsSecond)
{
    const Localizer before = appLocalizer();
    const Date first = Date::fromUnixSeconds(std::floor(Date::now().unixSeconds() / 60) * 60 + 10);
    const Date second = Date::fromUnixSeconds(first.unixSeconds() + 1);
    for (const char* language : {"en", "es", "zh-Hans"}) {
        SCOPED_TRACE(language);
        replaceAppLocalizer(Localizer(QString::fromLatin1(language)));
        EXPECT_NE(RecoveryLists::when(first), RecoveryLists::when(second));
    }
    replaceAppLocalizer(before);
}

// Work an open window holds says so in its row; Resume brings that window
// to the front, never to an alert that leads back here.
TEST(AbandonedWork, WorkAnOpenWindowHoldsLeadsToThatWindow)
{
    enum class Holder { text, note, markup };
    const struct {
        const char* name;
        Holder holder;
    } cases[] = {{"the text editor", Holder::text}, {"the note editor", Holder::note}, {"the markup editor", Holder::markup}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WorkRig rig;
        rig.useMarkup(std::make_unique<Markup>());
        MaterialEditorStore editorStore(rig.store.get());
        TextEditorController textEditor(*rig.line, editorStore);
        NoteEditorController noteEditor(*rig.line, editorStore);
        const auto markupWindow = [] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* window = dynamic_cast<MarkupEditorWindow*>(widget); window && window->isVisible())
                    return static_cast<QWidget*>(window);
            }
            return static_cast<QWidget*>(nullptr);
        };
        switch (c.holder) {
        case Holder::text:
            ASSERT_EQ(outcome(textEditor.open(rig.text, true)), std::nullopt);
            break;
        case Holder::note: {
            const QUuid id = rig.make(Work::newNote);
            const QList<NoteDraft> drafts = waitForResult(rig.store->pendingNoteDrafts());
            ASSERT_EQ(drafts.size(), 1);
            ASSERT_EQ(outcome(noteEditor.resume(drafts.front(), true)), std::nullopt);
            ASSERT_EQ(noteEditor.draft()->id, id);
            break;
        }
        case Holder::markup:
            ASSERT_FALSE(ActionsFixture::attempt(rig.actions->markup(rig.image)));
            ASSERT_TRUE(waitUntil([&] { return markupWindow() != nullptr; }));
            break;
        }
        QWidget* holder = c.holder == Holder::text ? textEditor.window()
            : c.holder == Holder::note             ? noteEditor.window()
                                                   : markupWindow();
        ASSERT_NE(holder, nullptr);
        rig.controller->heldDrafts = [&] { return HeldDrafts::of(*rig.markup, &textEditor, &noteEditor); };
        rig.controller->raiseHeld
            = [&](const QUuid& id) { return HeldDrafts::bringForward(id, *rig.markup, &textEditor, &noteEditor); };

        QCoro::waitFor(rig.controller->show(std::nullopt));
        QWidget* window = rig.controller->recoveryWindow();
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window; }));
        EXPECT_TRUE(rig.rowLines().contains(QStringLiteral("Open in an editor"))) << rig.rowLines().join(u'|').toStdString();
        buttonTitled(window, MessageKey::resumeDraft)->click();
        EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == holder; }));
        EXPECT_TRUE(rig.errors.empty());
        rig.markup->abandon();
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

    // Unfinished work goes only when ticked.
    EXPECT_TRUE(rig.model->selectedCleanupPaths().isEmpty());
    for (const QString& path : free)
        rig.model->setCleanupPathSelected(path, true);
    takenUp.insert(freeNote.id);
    QCoro::waitFor(rig.model->confirmCleanup());
    ASSERT_TRUE(settled(rig));
    EXPECT_EQ(rig.model->cleanupMessage(), localized(MessageKey::cleanupChanged));
    EXPECT_TRUE(QDir(rig.path(draftFolder(freeNote.id))).exists());
    EXPECT_TRUE(QDir(rig.path(draftFolder(freeSession.id))).exists());
}

} // namespace
} // namespace tolvex::testing
