#include "CleanupTesting.h"

#include "TolvexCore/Store/Internal/NoteDrafts.h"

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class AbandonedDraftsTest : public CleanupTestCase {
protected:
    QUuid addNote(const QByteArray& text, MaterialStatus status)
    {
        MaterialRecord& note = builder().addMaterial(text, status, "txt", {}, ImportOrigin::note);
        note.title = NoteDrafts::title(QString::fromUtf8(text));
        return note.id;
    }
    static QString folderOf(const QUuid& id) { return QStringLiteral("Drafts/") + uuidText(id); }
    static QString materialFolder(const QUuid& id) { return QStringLiteral("Materials/") + uuidText(id); }
};

} // namespace

// A pending session or note draft that no window holds is abandoned work: it
// is proposed on its own and no longer keeps its material. One a window
// holds protects its material as before. What is not pending is untouched by
// the held set.
TEST_F(AbandonedDraftsTest, ThePreviewProposesThePendingWorkNoWindowHolds)
{
    const QUuid continued = addNote("continued note", MaterialStatus::takenDown);
    const QUuid published = addNote("published note", MaterialStatus::takenDown);
    const QUuid edited = builder().addMaterial("edited", MaterialStatus::takenDown).id;
    const QUuid saved = builder().addMaterial("saved", MaterialStatus::takenDown).id;
    builder().writeState();

    QUuid newNote, continuedNote, publishedNote, pendingSession, completedSession;
    {
        auto store = makeStore();
        newNote = createNote(*store).id;
        updateNote(*store, newNote, QStringLiteral("A new note\nnever hung"));
        continuedNote = createNote(*store, continued).id;
        updateNote(*store, continuedNote, QStringLiteral("continued further"));
        publishedNote = createNote(*store, published).id;
        pendingSession = waitForResult(store->createDerivedVersion(edited, VersionKind::textEdit)).id;
        const EditSession done = waitForResult(store->createDerivedVersion(saved, VersionKind::textEdit));
        waitForResult(store->writeEditingResult(done, "saved further"));
        waitForResult(store->finishEditing(done, EditResult::save(done.workingURL)));
        completedSession = done.id;
    }
    // A later run: no note is being written in it.
    auto store = makeStore();
    const QSet<QUuid> everything{newNote, continuedNote, publishedNote, pendingSession, completedSession};

    struct Row {
        QString path;
        // The target's kind and material, or none when it is not proposed.
        std::optional<CleanupTarget::Kind> free;
        std::optional<CleanupTarget::Kind> held;
        std::optional<QUuid> materialID;
    };
    using enum CleanupTarget::Kind;
    const std::vector<Row> rows{
        {folderOf(newNote), pendingDraft, std::nullopt, std::nullopt},
        {folderOf(continuedNote), pendingDraft, std::nullopt, continued},
        {materialFolder(continued), material, std::nullopt, continued},
        {folderOf(publishedNote), std::nullopt, std::nullopt, std::nullopt},
        {materialFolder(published), material, material, published},
        {folderOf(pendingSession), pendingDraft, std::nullopt, edited},
        {materialFolder(edited), material, std::nullopt, edited},
        {folderOf(completedSession), completedEdit, completedEdit, saved},
        {materialFolder(saved), material, material, saved},
    };
    const StorageCleanupPlan free = preview(*store, QSet<QUuid>{});
    const StorageCleanupPlan held = preview(*store, everything);
    EXPECT_EQ(held.heldDrafts, everything) << "the confirmation re-plans with the same set";
    for (const Row& row : rows) {
        for (const auto& [plan, expected] : {std::pair{&free, row.free}, std::pair{&held, row.held}}) {
            const CleanupTarget* target = targetAt(*plan, row.path);
            SCOPED_TRACE(row.path.toStdString() + (plan == &free ? " (nothing held)" : " (all held)"));
            ASSERT_EQ(target != nullptr, expected.has_value());
            if (!target)
                continue;
            EXPECT_EQ(target->kind, *expected);
            EXPECT_EQ(target->materialID, row.materialID);
        }
    }
    EXPECT_EQ(free.targets.size(), 8);
    EXPECT_EQ(held.targets.size(), 3);
    EXPECT_EQ(targetAt(free, folderOf(newNote))->title, u"A new note") << "a new note is named by its text";
    EXPECT_EQ(free.pendingDraftCount(), 3);

    // Confirmed, the abandoned work is in the Trash and no longer listed.
    EXPECT_EQ(clean(*store, free).movedCount, 8);
    EXPECT_TRUE(trashedCopyOf(path(folderOf(newNote))));
    EXPECT_TRUE(waitForResult(store->pendingNoteDrafts()).isEmpty());
    EXPECT_TRUE(waitForResult(store->pendingEditSessions()).isEmpty());
}

TEST_F(AbandonedDraftsTest, ADiscardMovesTheWholeFolderToTheTrashOrLeavesItWhole)
{
    const QUuid note = addNote("a note", MaterialStatus::takenDown);
    const QUuid text = builder().addMaterial("text").id;
    builder().writeState();
    auto files = faultInjecting();
    auto store = makeStore(files);
    const NoteDraft draft = createNote(*store, note);
    updateNote(*store, draft.id, QStringLiteral("more"));
    const EditSession session = waitForResult(store->createDerivedVersion(text, VersionKind::textEdit));
    EXPECT_FALSE(targetAt(preview(*store, QSet<QUuid>{draft.id}), materialFolder(note)))
        << "a note being written in this run protects its material";

    // Unknown ids, and ids of the other kind, are not found; a busy store refuses.
    for (const QUuid& id : {QUuid::createUuid(), session.id})
        EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->discardNoteDraft(id)); }, StoreError::Code::notFound));
    for (const QUuid& id : {QUuid::createUuid(), draft.id})
        EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->discardEditSession(id)); }, StoreError::Code::notFound));
    onStore(*store, [](StoreContext& context) { context.busy = true; });
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->discardEditSession(session.id)); },
        StoreError::Code::operationInProgress));
    onStore(*store, [](StoreContext& context) { context.busy = false; });

    // A Trash that refuses leaves the folder whole and listed.
    const QMap<QString, QByteArray> before = contents();
    files->failCall(1, EIO, FileOperation::trash);
    EXPECT_TRUE(throwsFileError([&] { waitForResult(store->discardEditSession(session.id)); }, std::errc::io_error));
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(waitForResult(store->pendingEditSessions()), QList<EditSession>{session});
    files->reset();

    waitForResult(store->discardEditSession(session.id));
    waitForResult(store->discardNoteDraft(draft.id));
    for (const QUuid& id : {session.id, draft.id}) {
        EXPECT_FALSE(exists(folderOf(id)));
        const std::optional<QString> trashed = trashedCopyOf(path(folderOf(id)));
        ASSERT_TRUE(trashed) << "moved to the Trash, not deleted";
        EXPECT_TRUE(QDir(*trashed).exists());
    }
    EXPECT_TRUE(waitForResult(store->pendingEditSessions()).isEmpty());
    EXPECT_TRUE(waitForResult(store->pendingNoteDrafts()).isEmpty());
    EXPECT_TRUE(targetAt(preview(*store, QSet<QUuid>{}), materialFolder(note)))
        << "the discarded draft no longer protects its material";
}

// A draft left in place still needs its material: a material target goes to
// the Trash only together with every unfinished draft of its card, whether
// the plan was narrowed by the user's ticks or put together by hand.
TEST_F(AbandonedDraftsTest, AMaterialGoesToTheTrashOnlyWithItsUnfinishedDrafts)
{
    const QUuid note = addNote("kept note", MaterialStatus::takenDown);
    const QUuid text = builder().addMaterial("edited text", MaterialStatus::takenDown).id;
    builder().writeState();
    NoteDraft draft;
    EditSession session;
    {
        auto store = makeStore();
        draft = createNote(*store, note);
        updateNote(*store, draft.id, QStringLiteral("kept note, continued"));
        session = waitForResult(store->createDerivedVersion(text, VersionKind::textEdit));
    }
    // A later run: no note is being written in it.
    auto store = makeStore();
    const QString noteDraft = folderOf(draft.id), noteFolder = materialFolder(note);
    const QString textEdit = folderOf(session.id), textFolder = materialFolder(text);

    const struct {
        const char* name;
        QStringList ticked;
        // The targets kept by hand rather than through the selection.
        bool byHand;
        QStringList moved;
    } steps[] = {
        {"the materials alone", {noteFolder, textFolder}, false, {}},
        {"the materials alone, by hand", {noteFolder, textFolder}, true, {}},
        {"one card's draft with both materials", {noteFolder, textFolder, textEdit}, false, {textEdit, textFolder}},
        {"the other card's draft and material", {noteFolder, noteDraft}, false, {noteDraft, noteFolder}},
    };
    QSet<QString> gone;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const StorageCleanupPlan plan = preview(*store, QSet<QUuid>{});
        const QSet<QString> ticked(step.ticked.begin(), step.ticked.end());
        for (const QString& folder : ticked)
            ASSERT_TRUE(targetAt(plan, folder)) << folder.toStdString();
        StorageCleanupPlan confirmed = plan.selecting(ticked);
        if (step.byHand) {
            confirmed = plan;
            confirmed.targets.removeIf([&](const CleanupTarget& target) { return !ticked.contains(target.relativePath); });
        }
        const StorageCleanupResult result = clean(*store, confirmed);

        QFile receiptFile(result.receiptURL.toLocalFile());
        ASSERT_TRUE(receiptFile.open(QIODevice::ReadOnly));
        QStringList recorded = pathsOf(Json::decode<CleanupReceipt>(receiptFile.readAll()).targets);
        QStringList moved = step.moved;
        recorded.sort();
        moved.sort();
        EXPECT_EQ(recorded, moved) << "the receipt names what was carried out";
        EXPECT_EQ(result.movedCount, step.moved.size());
        gone.unite(QSet<QString>(step.moved.begin(), step.moved.end()));
        for (const QString& folder : {noteDraft, noteFolder, textEdit, textFolder}) {
            EXPECT_EQ(exists(folder), !gone.contains(folder)) << folder.toStdString();
            EXPECT_EQ(trashedCopyOf(path(folder)).has_value(), gone.contains(folder)) << folder.toStdString();
        }
        for (const auto& [id, folder] : {std::pair{note, noteFolder}, std::pair{text, textFolder}}) {
            EXPECT_EQ(result.snapshot.findMaterial(id)->status,
                gone.contains(folder) ? MaterialStatus::trashed : MaterialStatus::takenDown)
                << folder.toStdString();
        }
    }
}
