#include "EditTesting.h"

#include "TolvexCore/Content/EditResultBuffer.h"
#include "TolvexCore/Images/ImageAdmissionError.h"

#include <QCoro/QCoroTask>

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class EditSessionsTest : public EditTestCase {};

// QCoro::waitFor never returns when the awaited task throws: the error is
// caught inside the coroutine. The closure is a named object: g++ 12 destroys
// a closure converted to std::function inside a co_await expression twice.
QCoro::Task<bool> persisting(EditResultBuffer& buffer, MaterialStore& store, const EditSession& session)
{
    const std::function<QCoro::Task<void>(QByteArray)> save = [&store, session](QByteArray bytes) {
        return awaitResult(store.writeEditingResult(session, bytes));
    };
    try {
        co_await buffer.persist(save);
    } catch (...) {
        co_return false;
    }
    co_return true;
}

} // namespace

TEST_F(EditSessionsTest, ATextEditBecomesTheActiveVersionThroughAJournalledCommit)
{
    const MaterialRecord text = addText("hello");
    addText("another");
    builder().writeState(7);
    auto store = makeStore();

    const EditSession session = create(*store, text.id, VersionKind::textEdit);
    EXPECT_EQ(session.materialID, text.id);
    EXPECT_EQ(session.baseVersionID, text.activeVersionID);
    EXPECT_EQ(session.kind, VersionKind::textEdit);
    EXPECT_EQ(session.workingURL, QUrl::fromLocalFile(path(folderOf(session) + "/working.txt")));
    EXPECT_EQ(workingBytes(session), QByteArray("hello")) << "a byte copy of the base payload";
    EXPECT_EQ(Json::decode<EditSession>(bytes(folderOf(session) + "/session.json")), session);
    EXPECT_EQ(QDir(path(folderOf(session))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
    EXPECT_EQ(pending(*store), QList<EditSession>{session});
    EXPECT_EQ(disposition(*store, session.id), EditSessionDisposition::pending);

    write(*store, session, "hello, world");
    EXPECT_EQ(workingBytes(session), QByteArray("hello, world"));
    EXPECT_EQ(stateOnDisk().generation, 7u) << "writing the working file saves nothing";

    const WorkspaceSnapshot saved = save(*store, session);
    EXPECT_EQ(saved.generation, 8u);
    EXPECT_EQ(stateOnDisk(), saved);
    const MaterialRecord* edited = saved.findMaterial(text.id);
    ASSERT_TRUE(edited);
    ASSERT_EQ(edited->versions.size(), 2);
    const MaterialVersion& version = edited->versions.last();
    EXPECT_EQ(edited->activeVersionID, version.id);
    EXPECT_EQ(version.kind, VersionKind::textEdit);
    EXPECT_EQ(version.relativePath,
        DataRootBuilder::payloadPath(text.id, version.id, QStringLiteral("txt")));
    EXPECT_EQ(version.byteCount, 12);
    EXPECT_EQ(version.sha256, DataRootBuilder::digest("hello, world"));
    EXPECT_EQ(bytes(version.relativePath), QByteArray("hello, world"));
    // Nothing else of the material changes.
    MaterialRecord unchanged = *edited;
    unchanged.versions.removeLast();
    unchanged.activeVersionID = text.activeVersionID;
    EXPECT_EQ(unchanged, text);
    EXPECT_EQ(saved.materials, (QList<MaterialRecord>{*edited, builder().snapshot().materials[1]}));

    const StoreJournal journal = Json::decode<StoreJournal>(bytes(journalOf(session)));
    EXPECT_EQ(journal.id, session.id);
    EXPECT_EQ(journal.phase, StoreJournal::Phase::contentCommitted);
    EXPECT_EQ(journal.baseVersionID, std::optional<QUuid>(text.activeVersionID));
    EXPECT_EQ(journal.record, *edited);
    for (const QString& entry : entries("Transactions"))
        EXPECT_FALSE(entry.endsWith(".stage")) << "the staging file moved into place";

    // The session folder stays, now completed; it cannot be saved twice.
    EXPECT_EQ(workingBytes(session), QByteArray("hello, world"));
    EXPECT_EQ(Json::decode<EditSession>(bytes(folderOf(session) + "/session.json")), session);
    EXPECT_EQ(disposition(*store, session.id), EditSessionDisposition::completed);
    EXPECT_TRUE(pending(*store).isEmpty());
    EXPECT_TRUE(throwsStoreError([&] { save(*store, session); }, StoreError::Code::invalidEdit));

    // A new store over the same folder sees the same.
    store.reset();
    auto reopened = makeStore();
    EXPECT_EQ(load(*reopened), saved);
    EXPECT_TRUE(pending(*reopened).isEmpty());
    EXPECT_EQ(waitForResult(reopened->payloadURL(text.id)), builder().url(version.relativePath));
}

TEST_F(EditSessionsTest, AMarkupSavedThroughTheResultBufferBecomesAnImageVersion)
{
    const MaterialRecord image = addImage(png(8));
    builder().writeState();
    auto store = makeStore();

    const EditSession session = create(*store, image.id, VersionKind::markup);
    EXPECT_TRUE(workingPathOf(session).endsWith("/working.png")) << "the payload's extension";
    EXPECT_EQ(workingBytes(session), png(8));

    // The buffer hands its newest result to the store and forgets it once saved.
    EditResultBuffer buffer(268435456);
    buffer.enqueue(png(12));
    buffer.enqueue(png(16));
    EXPECT_TRUE(QCoro::waitFor(persisting(buffer, *store, session)));
    EXPECT_FALSE(buffer.pending().has_value());
    EXPECT_EQ(workingBytes(session), png(16));

    // An empty image is nothing to save.
    EXPECT_TRUE(throwsStoreError([&] { write(*store, session, QByteArray()); }, StoreError::Code::invalidPath));

    const WorkspaceSnapshot saved = save(*store, session);
    const MaterialRecord* marked = saved.findMaterial(image.id);
    ASSERT_TRUE(marked);
    ASSERT_EQ(marked->versions.size(), 2);
    EXPECT_EQ(marked->versions.last().kind, VersionKind::markup);
    EXPECT_TRUE(marked->versions.last().relativePath.endsWith(".png"));
    EXPECT_EQ(bytes(marked->versions.last().relativePath), png(16));
    EXPECT_EQ(marked->kind, MaterialKind::image);
}

TEST_F(EditSessionsTest, ASessionIsMadeOnlyForAnIntactMaterialOfAFittingKind)
{
    const MaterialRecord text = addText("text");
    const MaterialRecord image = addImage();
    const MaterialRecord trashed = addText("trashed", MaterialStatus::trashed);
    const MaterialRecord file = builder().addMaterial("%PDF-1.4", MaterialStatus::hanging, "pdf");
    const MaterialRecord altered = addText("altered");
    builder().writeState();
    builder().alterPayload(altered.versions[0]);
    auto store = makeStore();

    for (const auto& [id, kind] : std::vector<std::pair<QUuid, VersionKind>>{{text.id, VersionKind::original},
             {text.id, VersionKind::markup}, {image.id, VersionKind::textEdit}, {image.id, VersionKind::original},
             {trashed.id, VersionKind::textEdit}, {file.id, VersionKind::textEdit}, {file.id, VersionKind::markup},
             {QUuid::createUuid(), VersionKind::textEdit}}) {
        EXPECT_TRUE(throwsStoreError([&] { create(*store, id, kind); }, StoreError::Code::invalidEdit));
    }
    EXPECT_TRUE(throwsStoreError([&] { create(*store, altered.id, VersionKind::textEdit); },
        StoreError::Code::recoveryRequired));
    EXPECT_TRUE(entries("Drafts").isEmpty()) << "a refused session creates no folder";

    // Two sessions of one material are independent.
    const EditSession first = create(*store, text.id, VersionKind::textEdit);
    const EditSession second = create(*store, text.id, VersionKind::textEdit);
    EXPECT_NE(first.id, second.id);
    EXPECT_NE(first.workingURL, second.workingURL);
    write(*store, first, "first");
    EXPECT_EQ(workingBytes(second), QByteArray("text"));

    // A payload that does not fit the budget is not copied.
    store.reset();
    auto tight = makeStore(SystemFileOperations::shared(), StorageBudget{3, std::int64_t{1} << 40, 0});
    EXPECT_TRUE(throwsStoreError([&] { create(*tight, text.id, VersionKind::textEdit); },
        StoreError::Code::recoveryRequired)) << "a payload over the per-file budget is not handed out";
    tight.reset();
    auto full = makeStore(SystemFileOperations::shared(), StorageBudget{1 << 20, 40, 0});
    const QStringList before = entries("Drafts");
    EXPECT_TRUE(throwsStoreError([&] { create(*full, text.id, VersionKind::textEdit); }, StoreError::Code::budgetExceeded));
    EXPECT_EQ(entries("Drafts"), before);
}

TEST_F(EditSessionsTest, WritesAndSavesCheckTheSessionOnDiskAndItsWorkingFile)
{
    const MaterialRecord text = addText("text");
    const MaterialRecord other = addText("other");
    builder().writeState();
    auto store = makeStore();
    const EditSession session = create(*store, text.id, VersionKind::textEdit);

    // The session handed in must be the one on disk.
    QList<EditSession> changes(4, session);
    changes[0].baseVersionID = QUuid::createUuid();
    changes[1].materialID = other.id;
    changes[2].kind = VersionKind::markup;
    changes[3].id = QUuid::createUuid();
    for (const EditSession& changed : changes) {
        EXPECT_TRUE(throwsStoreError([&] { write(*store, changed, "x"); }, StoreError::Code::invalidEdit));
        EXPECT_TRUE(throwsStoreError([&] { save(*store, changed); }, StoreError::Code::invalidEdit));
        EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->resumeEditingSession(changed)); },
            StoreError::Code::invalidEdit));
    }
    EXPECT_EQ(workingBytes(session), QByteArray("text"));

    // An empty text is a text.
    write(*store, session, QByteArray());
    EXPECT_TRUE(workingBytes(session).isEmpty());

    // The saved file must be the working file.
    const QString elsewhere = temporary.path() + "/elsewhere.txt";
    QFile::copy(workingPathOf(session), elsewhere);
    EXPECT_TRUE(throwsStoreError(
        [&] { waitForResult(store->finishEditing(session, EditResult::save(QUrl::fromLocalFile(elsewhere)))); },
        StoreError::Code::invalidEdit));

    // A working file that is not a plain file.
    write(*store, session, "edited");
    const std::string working = workingPathOf(session).toStdString();
    std::filesystem::rename(working, working + ".moved");
    EXPECT_TRUE(throwsFileError([&] { write(*store, session, "x"); }, std::errc::no_such_file_or_directory));
    std::filesystem::create_symlink(working + ".moved", working);
    EXPECT_TRUE(throwsStoreError([&] { write(*store, session, "x"); }, StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { save(*store, session); }, StoreError::Code::invalidPath));
    std::filesystem::remove(working);
    std::filesystem::rename(working + ".moved", working);

    // A record whose working file lies elsewhere is refused even when it is the record on disk.
    EditSession astray = session;
    astray.workingURL = QUrl::fromLocalFile(path("Materials/working.txt"));
    builder().writeFile(folderOf(session) + "/session.json", Json::encode(astray));
    EXPECT_TRUE(throwsStoreError([&] { write(*store, astray, "x"); }, StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { save(*store, astray); }, StoreError::Code::invalidEdit));
    EditSession onItsRecord = session;
    onItsRecord.workingURL = QUrl::fromLocalFile(path(folderOf(session) + "/session.json"));
    builder().writeFile(folderOf(session) + "/session.json", Json::encode(onItsRecord));
    EXPECT_TRUE(throwsStoreError([&] { write(*store, onItsRecord, "x"); }, StoreError::Code::invalidPath));
    EXPECT_EQ(Json::decode<EditSession>(bytes(folderOf(session) + "/session.json")), onItsRecord);
    builder().writeFile(folderOf(session) + "/session.json", Json::encode(session));

    // Bytes over the budget are not written.
    store.reset();
    auto tight = makeStore(SystemFileOperations::shared(), StorageBudget{8, std::int64_t{1} << 40, 0});
    EXPECT_TRUE(throwsStoreError([&] { write(*tight, session, "123456789"); }, StoreError::Code::budgetExceeded));
    EXPECT_EQ(workingBytes(session), QByteArray("edited"));
    tight.reset();
    store = makeStore();

    // A trashed material takes no save.
    WorkspaceSnapshot trashed = load(*store);
    trashed.materials[0].status = MaterialStatus::trashed;
    persist(*store, trashed);
    EXPECT_TRUE(throwsStoreError([&] { save(*store, session); }, StoreError::Code::invalidEdit));
    EXPECT_FALSE(exists(journalOf(session)));
}

TEST_F(EditSessionsTest, ACancelLeavesTheSessionOpenAndAWrongKindIsRefusedAfterStaging)
{
    const MaterialRecord text = addText("text");
    const MaterialRecord image = addImage();
    builder().writeState(3);
    auto store = makeStore();
    const EditSession session = create(*store, text.id, VersionKind::textEdit);
    write(*store, session, "changed");
    const QHash<QString, QByteArray> before = filesWithBytes();

    const WorkspaceSnapshot cancelled = waitForResult(store->finishEditing(session, EditResult::cancel()));
    EXPECT_EQ(cancelled.generation, 3u);
    EXPECT_EQ(cancelled, load(*store));
    EXPECT_EQ(filesWithBytes(), before) << "a cancel writes, moves and removes nothing";
    EXPECT_EQ(pending(*store), QList<EditSession>{session});

    // Bytes that are no longer text: staged, then refused; the staging file stays.
    write(*store, session, QByteArray("\xff\xfe\x00 not utf-8", 14));
    EXPECT_TRUE(throwsStoreError([&] { save(*store, session); }, StoreError::Code::invalidEdit));
    EXPECT_FALSE(exists(journalOf(session)));
    int staged = 0;
    for (const QString& entry : entries("Transactions"))
        staged += entry.endsWith(".stage");
    EXPECT_EQ(staged, 1);
    EXPECT_EQ(stateOnDisk().generation, 3u);

    // A markup whose working file is no image: staging refuses it.
    const EditSession markup = create(*store, image.id, VersionKind::markup);
    write(*store, markup, "not an image");
    try {
        save(*store, markup);
        ADD_FAILURE() << "saved bytes that are no image";
    } catch (const ImageAdmissionError&) {
    } catch (const StoreError& error) {
        EXPECT_EQ(error.code(), StoreError::Code::invalidEdit);
    }
    EXPECT_EQ(load(*store).findMaterial(image.id)->versions.size(), 1);

    // A cancelled task stops before anything is committed.
    write(*store, session, "text again");
    const CancellationToken token = CancellationToken::make();
    token.cancel();
    EXPECT_THROW(waitForResult(store->finishEditing(session, EditResult::save(session.workingURL), token)),
        CancellationError);
    EXPECT_FALSE(exists(journalOf(session)));
    // And the store is free again after every one of these.
    EXPECT_EQ(save(*store, session).generation, 4u);
}

TEST_F(EditSessionsTest, AnOvertakenSessionIsResumedOntoTheNewVersionKeepingItsWork)
{
    const MaterialRecord text = addText("base");
    builder().writeState(1);
    auto store = makeStore();
    const EditSession first = create(*store, text.id, VersionKind::textEdit);
    const EditSession second = create(*store, text.id, VersionKind::textEdit);
    write(*store, first, "first edit");
    write(*store, second, "second edit");

    // Resuming a session whose base is still active changes nothing.
    const QHash<QString, QByteArray> before = filesWithBytes();
    EXPECT_EQ(waitForResult(store->resumeEditingSession(second)), second);
    EXPECT_EQ(filesWithBytes(), before);

    const WorkspaceSnapshot afterFirst = save(*store, first);
    const QUuid firstVersion = afterFirst.findMaterial(text.id)->activeVersionID;
    EXPECT_TRUE(throwsStoreError([&] { save(*store, second); }, StoreError::Code::invalidEdit));
    EXPECT_EQ(pending(*store), QList<EditSession>{second}) << "the saved one is completed, the overtaken one pending";

    const EditSession moved = waitForResult(store->resumeEditingSession(second));
    EXPECT_EQ(moved.baseVersionID, firstVersion);
    EditSession onlyBase = second;
    onlyBase.baseVersionID = firstVersion;
    EXPECT_EQ(moved, onlyBase) << "only the base moves";
    EXPECT_EQ(Json::decode<EditSession>(bytes(folderOf(second) + "/session.json")), moved);
    EXPECT_EQ(stateOnDisk().generation, afterFirst.generation + 1) << "saved once";
    EXPECT_EQ(workingBytes(second), QByteArray("second edit"));
    EXPECT_TRUE(throwsStoreError([&] { save(*store, second); }, StoreError::Code::invalidEdit))
        << "the old record no longer matches";

    const WorkspaceSnapshot afterSecond = save(*store, moved);
    const MaterialRecord* edited = afterSecond.findMaterial(text.id);
    ASSERT_EQ(edited->versions.size(), 3);
    EXPECT_EQ(edited->versions[1].id, firstVersion);
    EXPECT_EQ(bytes(edited->versions[2].relativePath), QByteArray("second edit"));
    EXPECT_TRUE(pending(*store).isEmpty());
    EXPECT_EQ(disposition(*store, first.id), EditSessionDisposition::completed);
    EXPECT_EQ(disposition(*store, second.id), EditSessionDisposition::completed);

    // A resume refuses a base the material does not hold, or a trashed material.
    EditSession foreign = moved;
    foreign.baseVersionID = QUuid::createUuid();
    builder().writeFile(folderOf(moved) + "/session.json", Json::encode(foreign));
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->resumeEditingSession(foreign)); }, StoreError::Code::invalidEdit));
}

TEST_F(EditSessionsTest, ASessionSurvivesARestartAndAnInterruptedSaveIsReviewedThenResumed)
{
    const MaterialRecord text = addText("base");
    builder().writeState(1);
    EditSession session;
    {
        auto store = makeStore();
        session = create(*store, text.id, VersionKind::textEdit);
        write(*store, session, "interrupted");
    }
    {
        auto store = makeStore();
        EXPECT_EQ(pending(*store), QList<EditSession>{session});
        EXPECT_EQ(waitForResult(store->resumeEditingSession(session)), session);
    }

    // The save commits its payload, then the state file cannot be written.
    auto files = faultInjecting();
    {
        auto store = makeStore(files);
        load(*store);
        files->reset();
        files->setFilter([this](FileOperation operation, const QUrl& url) {
            return operation == FileOperation::writeAtomic && url.toLocalFile() == path("state.json");
        });
        files->failCall(1, ENOSPC);
        EXPECT_TRUE(throwsFileError([&] { save(*store, session); }, std::errc::no_space_on_device));
        // The loaded workspace is kept: the session is still open on its base.
        EXPECT_EQ(load(*store).findMaterial(text.id)->activeVersionID, text.activeVersionID);
        EXPECT_EQ(pending(*store), QList<EditSession>{session});
    }
    EXPECT_EQ(Json::decode<StoreJournal>(bytes(journalOf(session))).phase, StoreJournal::Phase::contentCommitted);

    // A new store takes the committed version in for review; the session is pending.
    auto store = makeStore();
    const WorkspaceSnapshot replayed = load(*store);
    const MaterialRecord* reviewed = replayed.findMaterial(text.id);
    ASSERT_EQ(reviewed->versions.size(), 2);
    EXPECT_EQ(reviewed->status, MaterialStatus::needsReview);
    EXPECT_EQ(bytes(reviewed->versions[1].relativePath), QByteArray("interrupted"));
    EXPECT_EQ(pending(*store), QList<EditSession>{session});
    EXPECT_EQ(stateOnDisk().generation, 1u);

    const EditSession moved = waitForResult(store->resumeEditingSession(session));
    EXPECT_EQ(moved.baseVersionID, reviewed->activeVersionID);
    EXPECT_EQ(stateOnDisk().generation, 2u) << "the reviewed version is saved before the session moves onto it";
    EXPECT_EQ(stateOnDisk().findMaterial(text.id)->versions.size(), 2);
    EXPECT_EQ(workingBytes(session), QByteArray("interrupted"));
}

TEST_F(EditSessionsTest, TheClassifierTellsPendingFromCompletedSessions)
{
    const MaterialRecord text = addText("base");
    const MaterialRecord moving = addText("moving");
    const MaterialRecord trashedLater = addText("trashed later");
    const MaterialRecord lost = addText("lost");
    builder().writeState(1);
    auto store = makeStore();

    // Saved: completed; its working file rewritten after the save: pending again.
    const EditSession saved = create(*store, text.id, VersionKind::textEdit);
    write(*store, saved, "saved");
    save(*store, saved);
    EXPECT_EQ(disposition(*store, saved.id), EditSessionDisposition::completed);
    write(*store, saved, "more work");
    EXPECT_EQ(disposition(*store, saved.id), EditSessionDisposition::pending);
    write(*store, saved, "saved");
    EXPECT_EQ(disposition(*store, saved.id), EditSessionDisposition::completed);
    store.reset();
    {
        // The working file changes while it is read for its digest.
        auto files = faultInjecting();
        auto watched = makeStore(files);
        load(*watched);
        files->reset();
        const QUrl working = saved.workingURL;
        files->setFilter([working](FileOperation operation, const QUrl& url) {
            return operation == FileOperation::read && url == working;
        });
        files->holdCall(1);
        QFuture<EditSessionDisposition> judging = watched->executor().run([id = saved.id](StoreContext& context) {
            return EditSessions(context).editSessionDisposition(id, context.ensureLoaded()).second;
        });
        ASSERT_TRUE(files->waitUntilHeld());
        QFile file(workingPathOf(saved));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(" and more");
        file.close();
        files->release();
        EXPECT_TRUE(throwsStoreError([&] { waitForResult(judging); }, StoreError::Code::sourceChanged));
    }
    store = makeStore();
    write(*store, saved, "saved");

    // The active version moved without this session's journal: pending.
    const EditSession overtaken = create(*store, moving.id, VersionKind::textEdit);
    const EditSession other = create(*store, moving.id, VersionKind::textEdit);
    write(*store, other, "other");
    save(*store, other);
    EXPECT_EQ(disposition(*store, overtaken.id), EditSessionDisposition::pending);

    // A journal that names another base: pending.
    StoreJournal journal = Json::decode<StoreJournal>(bytes(journalOf(other)));
    journal.id = overtaken.id;
    journal.baseVersionID = QUuid::createUuid();
    builder().writeJournal(journal);
    EXPECT_EQ(disposition(*store, overtaken.id), EditSessionDisposition::pending);
    // A journal that names another session: broken.
    journal.id = other.id;
    builder().writeJournal(journal, uuidText(overtaken.id) + ".json");
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, overtaken.id); }, StoreError::Code::recoveryRequired));
    builder().writeFile(journalOf(overtaken), "{");
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, overtaken.id); }, StoreError::Code::recoveryRequired));
    QFile::remove(path(journalOf(overtaken)));

    // A saved version whose payload is gone: completed once the material is
    // trashed, broken before; an altered payload is broken.
    const EditSession toTrash = create(*store, trashedLater.id, VersionKind::textEdit);
    write(*store, toTrash, "will be trashed");
    WorkspaceSnapshot snapshot = save(*store, toTrash);
    const MaterialVersion trashedVersion = snapshot.findMaterial(trashedLater.id)->versions.last();
    QFile::rename(path(trashedVersion.relativePath), path(trashedVersion.relativePath) + ".away");
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, toTrash.id); }, StoreError::Code::recoveryRequired));
    QFile::rename(path(trashedVersion.relativePath) + ".away", path(trashedVersion.relativePath));
    builder().alterPayload(trashedVersion);
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, toTrash.id); }, StoreError::Code::recoveryRequired));
    QFile::remove(path(trashedVersion.relativePath));
    snapshot.findMaterial(trashedLater.id)->status = MaterialStatus::trashed;
    persist(*store, snapshot);
    EXPECT_EQ(disposition(*store, toTrash.id), EditSessionDisposition::completed);

    // A material that left the workspace: broken.
    const EditSession orphan = create(*store, lost.id, VersionKind::textEdit);
    snapshot = load(*store);
    snapshot.materials.removeIf([&](const MaterialRecord& record) { return record.id == lost.id; });
    persist(*store, snapshot);
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, orphan.id); }, StoreError::Code::recoveryRequired));
    EXPECT_TRUE(throwsStoreError([&] { pending(*store); }, StoreError::Code::recoveryRequired))
        << "one broken session fails the listing";
    std::filesystem::remove_all(path(folderOf(orphan)).toStdString());

    // A folder that is not exactly the record and its working file: broken;
    // a working file too large or not a plain file: invalidPath.
    builder().writeFile(folderOf(overtaken) + "/extra", "x");
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, overtaken.id); }, StoreError::Code::recoveryRequired));
    EXPECT_TRUE(throwsStoreError([&] { pending(*store); }, StoreError::Code::recoveryRequired));
    QFile::remove(path(folderOf(overtaken) + "/extra"));
    QFile::rename(workingPathOf(overtaken), workingPathOf(overtaken) + ".away");
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, overtaken.id); }, StoreError::Code::recoveryRequired));
    QFile::rename(workingPathOf(overtaken) + ".away", workingPathOf(overtaken));
    write(*store, overtaken, "larger than five");
    store.reset();
    {
        auto tight = makeStore(SystemFileOperations::shared(), StorageBudget{5, std::int64_t{1} << 40, 0});
        EXPECT_TRUE(throwsStoreError([&] { disposition(*tight, overtaken.id); }, StoreError::Code::invalidPath));
    }
    store = makeStore();
    EditSession renamed = overtaken;
    renamed.id = QUuid::createUuid();
    builder().writeFile(folderOf(overtaken) + "/session.json", Json::encode(renamed));
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, overtaken.id); }, StoreError::Code::recoveryRequired));
    builder().writeFile(folderOf(overtaken) + "/session.json", "not json");
    EXPECT_TRUE(throwsStoreError([&] { disposition(*store, overtaken.id); }, StoreError::Code::recoveryRequired));
    builder().writeFile(folderOf(overtaken) + "/session.json", Json::encode(overtaken));
    EXPECT_EQ(disposition(*store, overtaken.id), EditSessionDisposition::pending);
}

TEST_F(EditSessionsTest, TheListingSkipsNoteDraftsAndSortsById)
{
    const MaterialRecord text = addText("text");
    builder().writeState();
    auto store = makeStore();
    QList<EditSession> sessions;
    for (int i = 0; i < 6; ++i)
        sessions.append(create(*store, text.id, VersionKind::textEdit));
    std::sort(sessions.begin(), sessions.end(),
        [](const EditSession& a, const EditSession& b) { return uuidText(a.id) < uuidText(b.id); });

    // A note draft's folder, and a folder whose creation stopped before its record.
    const NoteDraft draft = waitForResult(store->createNoteDraft(std::nullopt));
    builder().writeFile("Drafts/" + uuidText(QUuid::createUuid()) + "/working.txt", "orphan copy");
    EXPECT_EQ(pending(*store), sessions);
    EXPECT_EQ(waitForResult(store->pendingNoteDrafts()), QList<NoteDraft>{draft}) << "and the drafts list skips sessions";
}

TEST_F(EditSessionsTest, FinishingHoldsTheStoreWhileTheWorkingFileIsStaged)
{
    const MaterialRecord text = addText("text");
    builder().writeState();
    auto files = faultInjecting();
    auto store = makeStore(files);
    const EditSession session = create(*store, text.id, VersionKind::textEdit);
    write(*store, session, "edited");

    // Hold staging's copy of the working file.
    files->reset();
    files->setFilter([](FileOperation operation, const QUrl&) { return operation == FileOperation::copy; });
    files->holdCall(1);
    QFuture<WorkspaceSnapshot> finishing = store->finishEditing(session, EditResult::save(session.workingURL));
    ASSERT_TRUE(files->waitUntilHeld());

    EXPECT_TRUE(throwsStoreError([&] { create(*store, text.id, VersionKind::textEdit); },
        StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { write(*store, session, "meanwhile"); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { pending(*store); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->resumeEditingSession(session)); },
        StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { save(*store, session); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError(
        [&] { waitForResult(store->exportCopy(text.id, std::nullopt, QUrl::fromLocalFile(path("Exports/x.txt")))); },
        StoreError::Code::operationInProgress));
    // Payload locations still answer.
    EXPECT_NO_THROW(waitForResult(store->payloadURL(text.id)));

    files->release();
    EXPECT_EQ(waitForResult(finishing).findMaterial(text.id)->versions.size(), 2);
    EXPECT_TRUE(pending(*store).isEmpty()) << "the store is free again";
}
