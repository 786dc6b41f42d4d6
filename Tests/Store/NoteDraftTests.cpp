#include "StoreTesting.h"

#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/NoteDrafts.h"

#include <nlohmann/json.hpp>

#include <limits>
#include <set>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class NoteDraftTest : public StoreTestCase {
protected:
    static QList<NoteDraft> pending(MaterialStore& store) { return waitForResult(store.pendingNoteDrafts()); }
    static QList<QUuid> ids(const QList<NoteDraft>& drafts)
    {
        QList<QUuid> result;
        for (const NoteDraft& draft : drafts)
            result.append(draft.id);
        return result;
    }
    NoteDraft onDisk(const QUuid& draft) const
    {
        return Json::decode<NoteDraft>(bytes("Drafts/" + uuidText(draft) + "/note.json"));
    }
    QByteArray activePayload(const WorkspaceSnapshot& snapshot, const QUuid& material) const
    {
        return bytes(snapshot.findMaterial(material)->activeVersion()->relativePath);
    }
    QStringList journals() const { return QDir(path("Transactions")).entryList({"*.json"}, QDir::Files); }
    // A note material as a publication leaves it.
    QUuid addNote(const QByteArray& text, MaterialStatus status = MaterialStatus::hanging)
    {
        MaterialRecord& note = builder().addMaterial(text, status, "txt", {}, ImportOrigin::note);
        note.title = NoteDrafts::title(QString::fromUtf8(text));
        return note.id;
    }
    QSet<QUuid> activeNoteMaterials(MaterialStore& store)
    {
        return waitForResult(store.executor().run([](StoreContext& context) { return context.activeNoteMaterials; }));
    }
};

} // namespace

TEST_F(NoteDraftTest, ANewNoteIsPendingFromTheStartInTheSelectedGroup)
{
    const MatterGroup other = builder().addMatter("other");
    builder().snapshot().selectedMatterID = other.id;
    builder().writeState();
    auto store = makeStore();
    const NoteDraft draft = createNote(*store);
    EXPECT_TRUE(draft.text.isEmpty());
    EXPECT_EQ(draft.revision, 0u);
    EXPECT_FALSE(draft.publishedRevision.has_value());
    EXPECT_FALSE(draft.baseVersionID.has_value());
    EXPECT_EQ(draft.matterID, other.id);
    EXPECT_NE(draft.materialID, draft.id);
    EXPECT_TRUE(draft.isPending());
    EXPECT_EQ(ids(pending(*store)), QList<QUuid>{draft.id});
    EXPECT_EQ(onDisk(draft.id), draft);

    const nlohmann::json json = nlohmann::json::parse(bytes("Drafts/" + uuidText(draft.id) + "/note.json").toStdString());
    std::set<std::string> keys;
    for (const auto& item : json.items())
        keys.insert(item.key());
    EXPECT_EQ(keys, (std::set<std::string>{"id", "materialID", "matterID", "text", "revision", "updatedAt"}));
    EXPECT_TRUE(activeNoteMaterials(*store).isEmpty()) << "a new note protects no material";
}

TEST_F(NoteDraftTest, ContinuingANoteStartsInSyncWithItsMaterial)
{
    const QUuid note = addNote("written before");
    const QUuid downNote = addNote("taken down", MaterialStatus::takenDown);
    const QUuid archivedNote = addNote("archived", MaterialStatus::archived);
    const QUuid trashedNote = addNote("trashed", MaterialStatus::trashed);
    const QUuid clipboardText = builder().addMaterial("from the clipboard").id;
    builder().writeState();
    auto store = makeStore();

    const NoteDraft draft = createNote(*store, note);
    EXPECT_EQ(draft.text, "written before");
    EXPECT_EQ(draft.materialID, note);
    EXPECT_EQ(draft.baseVersionID, load(*store).findMaterial(note)->activeVersionID);
    EXPECT_EQ(draft.publishedRevision, std::optional<std::uint64_t>(0));
    EXPECT_FALSE(draft.isPending());
    EXPECT_TRUE(pending(*store).isEmpty());
    EXPECT_EQ(activeNoteMaterials(*store), QSet<QUuid>{note});

    EXPECT_EQ(updateNote(*store, draft.id, "written before"), draft) << "the same text writes nothing";
    EXPECT_EQ(onDisk(draft.id).revision, 0u);
    const NoteDraft changed = updateNote(*store, draft.id, "written after");
    EXPECT_EQ(changed.revision, 1u);
    EXPECT_TRUE(changed.isPending());
    EXPECT_GE(changed.updatedAt, draft.updatedAt);
    EXPECT_EQ(ids(pending(*store)), QList<QUuid>{draft.id});
    EXPECT_EQ(createNote(*store, note).id, draft.id) << "a pending draft of the material is handed back";

    EXPECT_NO_THROW(createNote(*store, downNote));
    EXPECT_NO_THROW(createNote(*store, archivedNote));
    for (const QUuid& refused : {trashedNote, clipboardText, QUuid::createUuid()})
        EXPECT_TRUE(throwsStoreError([&] { createNote(*store, refused); }, StoreError::Code::invalidEdit));
}

TEST_F(NoteDraftTest, TextLimitsOfContinuationAndUpdate)
{
    const QUuid largest = addNote(QByteArray(1048576, 'a'));
    const QUuid tooLarge = addNote(QByteArray(1048577, 'b'));
    const QUuid notText = addNote(QByteArray("\xff\xfe not utf-8", 13));
    builder().writeState();
    auto store = makeStore();
    const NoteDraft draft = createNote(*store, largest);
    EXPECT_EQ(draft.text.size(), 1048576);
    EXPECT_TRUE(throwsStoreError([&] { createNote(*store, tooLarge); }, StoreError::Code::invalidEdit));
    EXPECT_TRUE(throwsStoreError([&] { createNote(*store, notText); }, StoreError::Code::invalidEdit));
    EXPECT_TRUE(throwsStoreError([&] { updateNote(*store, draft.id, QString(1048575, u'c') + QStringLiteral("\u00e9")); },
        StoreError::Code::budgetExceeded)) << "1,048,577 bytes in UTF-8";
    EXPECT_EQ(updateNote(*store, draft.id, QString(1048574, u'c') + QStringLiteral("\u00e9")).revision, 1u);
}

TEST_F(NoteDraftTest, PublishingANewNoteMakesATextMaterialUnderTheDraftsId)
{
    auto store = makeStore();
    const NoteDraft draft = createNote(*store);
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, draft.id); }, StoreError::Code::invalidSource)) << "empty";
    updateNote(*store, draft.id, " \t\n\u2028 \r\n");
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, draft.id); }, StoreError::Code::invalidSource)) << "only separators";
    const NoteDraft typed = updateNote(*store, draft.id, "\n \n  Shopping list for Friday  \nmilk\neggs");
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, draft.id, 0); }, StoreError::Code::budgetExceeded));
    EXPECT_TRUE(QDir(path("Materials")).isEmpty());
    EXPECT_TRUE(journals().isEmpty());

    const WorkspaceSnapshot published = publishNote(*store, draft.id);
    const MaterialRecord* note = published.findMaterial(draft.materialID);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->kind, MaterialKind::text);
    EXPECT_EQ(note->source, sourceOf(ImportOrigin::note));
    EXPECT_EQ(note->title, "Shopping list for Friday");
    EXPECT_EQ(note->status, MaterialStatus::hanging);
    EXPECT_EQ(note->matterID, draft.matterID);
    ASSERT_EQ(note->versions.size(), 1);
    EXPECT_EQ(note->versions[0].kind, VersionKind::original);
    EXPECT_TRUE(note->versions[0].relativePath.endsWith(".txt"));
    EXPECT_EQ(activePayload(published, note->id), typed.text.toUtf8());
    EXPECT_EQ(stateOnDisk(), published);

    const NoteDraft after = onDisk(draft.id);
    EXPECT_EQ(after.baseVersionID, note->activeVersionID);
    EXPECT_EQ(after.publishedRevision, std::optional<std::uint64_t>(typed.revision));
    EXPECT_EQ(after.updatedAt, typed.updatedAt) << "publishing does not touch the time";
    EXPECT_TRUE(pending(*store).isEmpty());
    ASSERT_EQ(journals().size(), 1);
    const StoreJournal journal = Json::decode<StoreJournal>(bytes("Transactions/" + journals()[0]));
    EXPECT_EQ(journal.phase, StoreJournal::Phase::contentCommitted);
    EXPECT_FALSE(journal.baseVersionID.has_value());

    // Unchanged text again: no payload, no journal, no version; the title is renewed.
    apply(*store, MaterialCommand::renameMaterial(note->id, "Renamed"));
    const WorkspaceSnapshot again = publishNote(*store, draft.id);
    EXPECT_EQ(again.findMaterial(note->id)->title, "Shopping list for Friday");
    EXPECT_EQ(again.findMaterial(note->id)->versions.size(), 1);
    EXPECT_EQ(journals().size(), 1);
    EXPECT_EQ(publishNote(*store, draft.id), again) << "nothing changed: nothing saved";
}

TEST_F(NoteDraftTest, TitlesComeFromTheFirstLineWithText)
{
    EXPECT_EQ(NoteDrafts::title("\n\n  some words here  \nsecond"), "some words here");
    EXPECT_EQ(NoteDrafts::title(QString(100, u'x') + "\nshort"), QString(80, u'x'));
    EXPECT_EQ(NoteDrafts::title(QStringLiteral("\u2028\t\u00a0title\u2029rest")), "title");
    EXPECT_EQ(NoteDrafts::title(QStringLiteral("a\rb")), "a");
    EXPECT_EQ(NoteDrafts::title(" \n\t"), QString());
}

TEST_F(NoteDraftTest, AContinuedNoteGetsANewVersionAndKeepsItsPlace)
{
    const QUuid note = addNote("version one");
    builder().material(note).pinned = true;
    builder().addMaterial("after the note");
    const QUuid downNote = addNote("down one", MaterialStatus::takenDown);
    builder().writeState();
    auto store = makeStore();
    const WorkspaceSnapshot before = load(*store);
    const MaterialRecord original = *before.findMaterial(note);

    const NoteDraft draft = createNote(*store, note);
    updateNote(*store, draft.id, "version two");
    const WorkspaceSnapshot published = publishNote(*store, draft.id, 0); // a hanging note needs no room
    const MaterialRecord& continued = published.materials.last();
    EXPECT_EQ(continued.id, note);
    EXPECT_EQ(continued.order, original.order);
    EXPECT_TRUE(continued.pinned);
    EXPECT_EQ(continued.title, "version two");
    ASSERT_EQ(continued.versions.size(), 2);
    EXPECT_EQ(continued.versions[0], original.versions[0]);
    EXPECT_EQ(continued.versions[1].kind, VersionKind::textEdit);
    EXPECT_EQ(continued.activeVersionID, continued.versions[1].id);
    EXPECT_EQ(continued.originalVersionID, original.originalVersionID);
    EXPECT_EQ(activePayload(published, note), "version two");
    EXPECT_FALSE(activeNoteMaterials(*store).contains(note));
    const StoreJournal journal = Json::decode<StoreJournal>(bytes("Transactions/" + journals()[0]));
    EXPECT_EQ(journal.baseVersionID, original.activeVersionID);

    const NoteDraft downDraft = createNote(*store, downNote);
    updateNote(*store, downDraft.id, "down one, hung again");
    const WorkspaceSnapshot rehung = publishNote(*store, downDraft.id);
    const MaterialRecord* hung = rehung.findMaterial(downNote);
    EXPECT_EQ(hung->status, MaterialStatus::hanging);
    std::int64_t largest = -1;
    for (const MaterialRecord& m : rehung.materials)
        if (m.id != downNote)
            largest = std::max(largest, m.order);
    EXPECT_EQ(hung->order, largest + 1);
}

TEST_F(NoteDraftTest, ANoteChangedByOthersIsNotOverwritten)
{
    const QUuid note = addNote("shared text");
    builder().writeState();
    auto store = makeStore();
    const NoteDraft draft = createNote(*store, note);
    updateNote(*store, draft.id, "my own change");

    // Meanwhile the material gains another active version (an edit saved elsewhere).
    store.reset();
    builder().addVersion(note, "someone else's change");
    builder().writeState(2);
    store = makeStore();
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, draft.id); }, StoreError::Code::invalidEdit));
    EXPECT_EQ(updateNote(*store, draft.id, "my own change, longer").baseVersionID, draft.baseVersionID)
        << "another's version is never taken as the base";
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, draft.id); }, StoreError::Code::invalidEdit));

    // The same text as the new version publishes as a republication.
    updateNote(*store, draft.id, "someone else's change");
    const WorkspaceSnapshot synced = publishNote(*store, draft.id);
    EXPECT_EQ(synced.findMaterial(note)->versions.size(), 2);
    EXPECT_EQ(onDisk(draft.id).baseVersionID, synced.findMaterial(note)->activeVersionID);
}

TEST_F(NoteDraftTest, ADraftOfATrashedNoteIsKeptButNotListedOrPublished)
{
    const QUuid note = addNote("soon trashed");
    builder().writeState();
    auto store = makeStore();
    const NoteDraft draft = createNote(*store, note);
    updateNote(*store, draft.id, "changed");
    store.reset();
    builder().material(note).status = MaterialStatus::trashed;
    builder().writeState(2);
    store = makeStore();
    EXPECT_TRUE(pending(*store).isEmpty());
    EXPECT_EQ(updateNote(*store, draft.id, "changed again").revision, 2u);
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, draft.id); }, StoreError::Code::invalidEdit));

    // A draft naming a group that is gone cannot be published either.
    const NoteDraft fresh = createNote(*store);
    NoteDraft moved = updateNote(*store, fresh.id, "text");
    moved.matterID = QUuid::createUuid();
    builder().writeFile("Drafts/" + uuidText(moved.id) + "/note.json", Json::encode(moved));
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, fresh.id); }, StoreError::Code::invalidSource));
    // A new note that claims a base version is refused.
    moved.matterID = MatterGroup::ungroupedID();
    moved.baseVersionID = QUuid::createUuid();
    builder().writeFile("Drafts/" + uuidText(moved.id) + "/note.json", Json::encode(moved));
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, fresh.id); }, StoreError::Code::invalidEdit));
}

TEST_F(NoteDraftTest, TheDraftsFolderIsReadStrictly)
{
    addNote("a note");
    builder().writeState();
    auto store = makeStore();
    const NoteDraft older = createNote(*store);
    const NoteDraft newer = createNote(*store);
    updateNote(*store, older.id, "typed later");
    EXPECT_EQ(ids(pending(*store)), (QList<QUuid>{older.id, newer.id})) << "newest change first";

    // An edit session's folder holds no note: skipped.
    builder().writeFile("Drafts/" + uuidText(QUuid::createUuid()) + "/session.json", "{}");
    EXPECT_EQ(pending(*store).size(), 2);

    const QString file = "Drafts/" + uuidText(newer.id) + "/note.json";
    const QByteArray good = bytes(file);
    NoteDraft bad = newer;
    bad.revision = 2;
    bad.publishedRevision = 3;
    builder().writeFile(file, Json::encode(bad));
    EXPECT_TRUE(throwsStoreError([&] { pending(*store); }, StoreError::Code::recoveryRequired));
    bad.revision = std::numeric_limits<std::uint64_t>::max();
    bad.publishedRevision.reset();
    builder().writeFile(file, Json::encode(bad));
    EXPECT_TRUE(throwsStoreError([&] { updateNote(*store, newer.id, "x"); }, StoreError::Code::recoveryRequired));
    bad.revision = std::numeric_limits<std::uint64_t>::max() - 1;
    builder().writeFile(file, Json::encode(bad));
    EXPECT_TRUE(throwsStoreError([&] { updateNote(*store, newer.id, "x"); }, StoreError::Code::invalidEdit))
        << "the largest revision a draft reaches";
    bad.id = QUuid::createUuid();
    bad.revision = 1;
    builder().writeFile(file, Json::encode(bad));
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, newer.id); }, StoreError::Code::recoveryRequired)) << "another id";
    QByteArray padded = good;
    padded.append(QByteArray(6299649 - good.size(), ' '));
    builder().writeFile(file, padded);
    EXPECT_TRUE(throwsStoreError([&] { updateNote(*store, newer.id, "x"); }, StoreError::Code::recoveryRequired));
    padded.chop(1);
    builder().writeFile(file, padded);
    EXPECT_EQ(updateNote(*store, newer.id, "x").revision, 1u) << "6,299,648 bytes are read";

    EXPECT_TRUE(throwsFileError([&] { updateNote(*store, QUuid::createUuid(), "x"); }, std::errc::no_such_file_or_directory));
    EXPECT_TRUE(throwsFileError([&] { publishNote(*store, QUuid::createUuid()); }, std::errc::no_such_file_or_directory));
}

TEST_F(NoteDraftTest, WhileANoteIsStagingOtherNoteCallsAreRefused)
{
    const MaterialRecord shown = builder().addMaterial("shown");
    builder().writeState();
    auto files = faultInjecting();
    auto store = makeStore(files);
    const NoteDraft draft = createNote(*store);
    updateNote(*store, draft.id, "held");
    files->reset();
    files->setFilter([](FileOperation operation, const QUrl& url) {
        return operation == FileOperation::writeAtomic && url.toLocalFile().endsWith(".stage");
    });
    files->holdCall(1);
    QFuture<WorkspaceSnapshot> publishing = store->publishNoteDraft(draft.id, unlimitedCapacity);
    ASSERT_TRUE(files->waitUntilHeld());
    EXPECT_TRUE(throwsStoreError([&] { updateNote(*store, draft.id, "autosave"); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { createNote(*store); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { pending(*store); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { publishNote(*store, draft.id); }, StoreError::Code::operationInProgress));
    EXPECT_NO_THROW(waitForResult(store->payloadURL(shown.id)));
    files->release();
    EXPECT_TRUE(waitForResult(publishing).findMaterial(draft.materialID));
    EXPECT_EQ(updateNote(*store, draft.id, "after").revision, 2u);
}
