#include "CrashSweep.h"

#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/NoteDrafts.h"

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class NotePublicationRecoveryTest : public StoreTestCase {
protected:
    static QByteArray activePayloadIn(const QString& root, const WorkspaceSnapshot& snapshot, const QUuid& material)
    {
        QFile file(root + u'/' + snapshot.findMaterial(material)->activeVersion()->relativePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QUuid addNote(const QByteArray& text)
    {
        MaterialRecord& note = builder().addMaterial(text, MaterialStatus::hanging, "txt", {}, ImportOrigin::note);
        note.title = NoteDrafts::title(QString::fromUtf8(text));
        return note.id;
    }
    // Makes the draft's own save (the last step of a publication) fail once.
    static void failTheDraftSave(FaultInjectingFileOperations& files)
    {
        files.reset();
        files.setFilter([](FileOperation operation, const QUrl& url) {
            return operation == FileOperation::writeAtomic && url.toLocalFile().endsWith("/note.json");
        });
        files.failCall(1, EIO);
    }
};

} // namespace

TEST_F(NotePublicationRecoveryTest, ANewNoteWhoseDraftSaveFailedPublishesItsNewerText)
{
    auto files = faultInjecting();
    auto store = makeStore(files);
    const NoteDraft draft = createNote(*store);
    updateNote(*store, draft.id, "first text");
    failTheDraftSave(*files);
    EXPECT_TRUE(throwsFileError([&] { publishNote(*store, draft.id); }, std::errc::io_error));
    files->reset();

    // The material reached the workspace; the draft still has no base.
    const WorkspaceSnapshot reached = waitForResult(store->load());
    const MaterialRecord* note = reached.findMaterial(draft.materialID);
    ASSERT_NE(note, nullptr);
    EXPECT_FALSE(updateNote(*store, draft.id, "first text").baseVersionID.has_value()) << "unchanged text: nothing to do yet";

    // The user types on: the draft recognises its own publication and takes it as its base...
    const NoteDraft continued = updateNote(*store, draft.id, "first text, and more");
    EXPECT_EQ(continued.baseVersionID, note->activeVersionID);
    EXPECT_EQ(continued.publishedRevision, std::optional<std::uint64_t>(1));
    EXPECT_EQ(continued.revision, 2u);
    EXPECT_TRUE(continued.isPending());

    // ... and its newest text hangs as the next version.
    const WorkspaceSnapshot published = publishNote(*store, draft.id);
    const MaterialRecord* after = published.findMaterial(draft.materialID);
    ASSERT_EQ(after->versions.size(), 2);
    EXPECT_EQ(after->versions[1].kind, VersionKind::textEdit);
    EXPECT_EQ(activePayloadIn(rootPath, published, draft.materialID), "first text, and more");
    EXPECT_FALSE(waitForResult(store->pendingNoteDrafts()).size());
}

TEST_F(NotePublicationRecoveryTest, AContinuedNoteWhoseDraftSaveFailedPublishesItsNewerText)
{
    const QUuid note = addNote("version one");
    builder().writeState();
    auto files = faultInjecting();
    auto store = makeStore(files);
    const NoteDraft draft = createNote(*store, note);
    updateNote(*store, draft.id, "version two");
    failTheDraftSave(*files);
    EXPECT_TRUE(throwsFileError([&] { publishNote(*store, draft.id); }, std::errc::io_error));
    files->reset();

    const NoteDraft continued = updateNote(*store, draft.id, "version three");
    const WorkspaceSnapshot loaded = waitForResult(store->load());
    EXPECT_EQ(continued.baseVersionID, loaded.findMaterial(note)->activeVersionID);
    const WorkspaceSnapshot published = publishNote(*store, draft.id);
    EXPECT_EQ(published.findMaterial(note)->versions.size(), 3);
    EXPECT_EQ(activePayloadIn(rootPath, published, note), "version three");
}

TEST_F(NotePublicationRecoveryTest, AnotherDraftsPublicationIsNeverTakenForOnesOwn)
{
    const QUuid note = addNote("common base");
    builder().writeState();
    auto store = makeStore();
    const NoteDraft mine = createNote(*store, note);
    updateNote(*store, mine.id, "mine, published");
    publishNote(*store, mine.id);

    // Another draft starts from the published version and publishes first.
    const NoteDraft theirs = createNote(*store, note);
    ASSERT_NE(theirs.id, mine.id);
    updateNote(*store, theirs.id, "theirs");
    publishNote(*store, theirs.id);

    // The first editor, still open, types on: its base stays, and the
    // publication is refused rather than laid over the other text.
    const NoteDraft typed = updateNote(*store, mine.id, "mine, typed later");
    EXPECT_NE(typed.baseVersionID, waitForResult(store->load()).findMaterial(note)->activeVersionID);
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, mine.id); }, StoreError::Code::invalidEdit));
}

TEST_F(NotePublicationRecoveryTest, AVersionWithTheSameTextButNoJournalFromTheDraftsBaseIsNotAdopted)
{
    const QUuid note = addNote("start");
    builder().writeState();
    auto store = makeStore();
    const NoteDraft draft = createNote(*store, note);
    updateNote(*store, draft.id, "typed");
    store.reset();
    // A version of the same text, but not committed from the draft's base by any journal.
    builder().addVersion(note, "typed");
    builder().writeState(2);
    store = makeStore();
    EXPECT_EQ(updateNote(*store, draft.id, "typed more").baseVersionID, draft.baseVersionID);
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, draft.id); }, StoreError::Code::invalidEdit));
}

TEST_F(NotePublicationRecoveryTest, EveryCrashPointOfAPublicationLeavesAWorkspaceThatGoesOn)
{
    const QUuid existing = addNote("continued note");
    builder().addMaterial("unrelated");
    builder().writeState(6);
    const WorkspaceSnapshot old = [&] {
        WorkspaceSnapshot snapshot = builder().snapshot();
        snapshot.generation = 6;
        return snapshot;
    }();
    QUuid newDraft;
    QUuid continuedDraft;
    {
        auto store = makeStore();
        newDraft = createNote(*store).id;
        updateNote(*store, newDraft, "a new note");
        continuedDraft = createNote(*store, existing).id;
        updateNote(*store, continuedDraft, "continued note, changed");
    }

    for (const auto& [draftID, text] : {std::pair{newDraft, QStringLiteral("a new note")},
             std::pair{continuedDraft, QStringLiteral("continued note, changed")}}) {
        QTemporaryDir work;
        CrashSweep sweep;
        sweep.preparedRoot = rootPath;
        sweep.operation = [&](MaterialStore& store) { publishNote(store, draftID); };
        int published = 0;
        int notPublished = 0;
        sweep.check = [&](const QString& copy, const SweepStep&) {
            MaterialStore store(QUrl::fromLocalFile(copy), SystemFileOperations::shared(), roomyBudget());
            WorkspaceSnapshot loaded;
            ASSERT_NO_THROW(loaded = waitForResult(store.load()));
            const NoteDraft before = waitForResult(store.executor().run(
                [id = draftID](StoreContext& context) { return NoteDrafts(context).readNoteDraft(id); }));
            EXPECT_EQ(before.text, text) << "the draft's text is never lost";
            for (const MaterialRecord& material : old.materials) {
                const MaterialRecord* now = loaded.findMaterial(material.id);
                ASSERT_NE(now, nullptr);
                for (const MaterialVersion& version : material.versions)
                    EXPECT_TRUE(now->findVersion(version.id)) << "a version was lost";
            }
            const QUuid materialID = before.materialID;
            const MaterialRecord* note = loaded.findMaterial(materialID);
            const bool reached = note && activePayloadIn(copy, loaded, materialID) == text.toUtf8();
            reached ? ++published : ++notPublished;
            if (note) {
                const QByteArray active = activePayloadIn(copy, loaded, materialID);
                EXPECT_EQ(DataRootBuilder::digest(active), note->activeVersion()->sha256);
            }

            // Whatever the crash left, the user can type on and hang the newest text.
            updateNote(store, draftID, text + " and more");
            WorkspaceSnapshot after;
            ASSERT_NO_THROW(after = publishNote(store, draftID));
            EXPECT_EQ(activePayloadIn(copy, after, materialID), (text + " and more").toUtf8());
            EXPECT_EQ(after.findMaterial(materialID)->status, MaterialStatus::hanging);
            for (const NoteDraft& stillPending : waitForResult(store.pendingNoteDrafts()))
                EXPECT_NE(stillPending.id, draftID);
        };
        const int calls = sweep.run(work.path());
        RecordProperty(draftID == newDraft ? "newNoteCalls" : "continuedNoteCalls", calls);
        EXPECT_GT(published, 0);
        EXPECT_GT(notPublished, 0);
    }
}
