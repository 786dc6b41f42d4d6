#include "CleanupTesting.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class StorageCleanupPlanTest : public CleanupTestCase {
protected:
    static QString folderOf(const QUuid& id) { return QStringLiteral("Materials/") + uuidText(id); }
    static QString sessionFolder(const EditSession& session) { return QStringLiteral("Drafts/") + uuidText(session.id); }
};

CleanupTarget named(const StorageCleanupPlan& plan, const QString& relativePath)
{
    const CleanupTarget* target = targetAt(plan, relativePath);
    EXPECT_TRUE(target) << relativePath.toStdString();
    return target ? *target : CleanupTarget{};
}

} // namespace

TEST(StorageCleanupPlanRecordTest, SelectingKeepsThePlanAndItsOrder)
{
    const auto make = [](CleanupTarget::Kind kind, const QString& path, std::int64_t bytes) {
        return CleanupTarget{kind, std::nullopt, path, path, bytes, 1, {}};
    };
    StorageCleanupPlan plan;
    plan.id = QUuid::createUuid();
    plan.generation = 9;
    plan.targets = {make(CleanupTarget::Kind::unownedStaging, QStringLiteral("Transactions/A.stage"), 5),
        make(CleanupTarget::Kind::material, QStringLiteral("Materials/B"), 7),
        make(CleanupTarget::Kind::temporaryExport, QStringLiteral("Exports/caf\u00e9"), 11)};
    EXPECT_EQ(plan.byteCount(), 23);
    EXPECT_EQ(plan.materialCount() + plan.stagingCount() + plan.exportCount(), 3);
    EXPECT_EQ(plan.completedEditCount(), 0);

    const StorageCleanupPlan none = plan.selecting({QStringLiteral("materials/B")});
    EXPECT_TRUE(none.targets.isEmpty());
    EXPECT_EQ(none.id, plan.id);
    EXPECT_EQ(none.generation, plan.generation);
    EXPECT_EQ(none.byteCount(), 0);
    // The plan's order whatever the set's; a decomposed spelling names the same export.
    const StorageCleanupPlan some =
        plan.selecting({QStringLiteral("Exports/cafe\u0301"), QStringLiteral("Transactions/A.stage")});
    EXPECT_EQ(pathsOf(some.targets), (QStringList{"Transactions/A.stage", "Exports/caf\u00e9"}));
    EXPECT_EQ(plan.selecting({"Transactions/A.stage", "Materials/B", "Exports/caf\u00e9"}), plan);

    plan.targets.append(make(CleanupTarget::Kind::material, QStringLiteral("x"), std::numeric_limits<std::int64_t>::max()));
    EXPECT_EQ(plan.byteCount(), std::numeric_limits<std::int64_t>::max()) << "a hand-made sum does not wrap around";
}

TEST_F(StorageCleanupPlanTest, CandidatesAreProposedInTheirOrderAndAPreviewWritesNothing)
{
    DataRootBuilder& root = builder();
    const QUuid down = root.addMaterial("down", MaterialStatus::takenDown).id;
    const QUuid trashed = root.addMaterial("trashed", MaterialStatus::trashed).id;
    const QUuid gone = root.addMaterial("gone", MaterialStatus::trashed).id;
    QDir(path(folderOf(gone))).removeRecursively();
    root.material(root.addMaterial("pinned", MaterialStatus::takenDown).id).pinned = true;
    for (MaterialStatus status : {MaterialStatus::archived, MaterialStatus::hanging, MaterialStatus::needsReview})
        root.addMaterial("stays", status);
    const QUuid completedOwner = root.addMaterial("edited").id;
    const EditSession completed = writeSession(completedOwner, "done");
    const QString staging = writeStaging("stray staged bytes");
    writeExport(QStringLiteral("old.txt"), "old", Date::now().addingSeconds(-90000));
    root.writeState(7);
    const QStringList before = entries();

    PendingWork work;
    work.sessions.insert(completed.id, {completed, EditSessionDisposition::completed});
    auto files = faultInjecting();
    auto store = makeStore(files);
    const Date now = Date::now();
    const StorageCleanupPlan plan = planWith(*store, work, now);

    QStringList materials{folderOf(down), folderOf(trashed)};
    std::sort(materials.begin(), materials.end());
    EXPECT_EQ(pathsOf(plan.targets),
        (QStringList{staging} + materials + QStringList{sessionFolder(completed), QStringLiteral("Exports/old.txt")}))
        << "staging, materials by id, completed edits, exports; pinned, gone and other statuses stay";
    EXPECT_EQ(plan.stagingInventory, (QList<StagingRecoveryItem>{{staging, 18, StagingRecoveryItem::Disposition::unowned}}));
    EXPECT_EQ(plan.generation, 7u);
    EXPECT_EQ(plan.root, rootURL);
    EXPECT_EQ(plan.exportCutoff, now.addingSeconds(-86400));

    const CleanupTarget material = named(plan, folderOf(down));
    const MaterialVersion& version = root.material(down).versions.first();
    EXPECT_EQ(material.materialID, down);
    EXPECT_EQ(material.title, root.material(down).title);
    EXPECT_EQ(material.fingerprints, (QList<CleanupFingerprint>{{QString(), true, 0, modified(folderOf(down)), std::nullopt},
        {QFileInfo(version.relativePath).fileName(), false, 4, modified(version.relativePath), DataRootBuilder::digest("down")}}));
    const CleanupTarget edit = named(plan, sessionFolder(completed));
    EXPECT_EQ(edit.kind, CleanupTarget::Kind::completedEdit);
    EXPECT_EQ(edit.materialID, completedOwner);
    EXPECT_EQ(edit.fileCount, 2);

    const StorageCleanupPlan second = planWith(*store, work, now);
    EXPECT_NE(second.id, plan.id);
    StorageCleanupPlan sameID = second;
    sameID.id = plan.id;
    EXPECT_EQ(sameID, plan) << "two previews without a change differ only in their id";
    for (const auto& call : files->log())
        EXPECT_TRUE(call.operation == FileOperation::inspect || call.operation == FileOperation::read
            || call.operation == FileOperation::list || call.operation == FileOperation::createDirectory)
            << fileOperationName(call.operation);
    EXPECT_EQ(entries(), before);

    // A taken-down material whose payloads are gone is a data root the store does not understand.
    QDir(path(folderOf(down))).removeRecursively();
    EXPECT_TRUE(throwsStoreError([&] { planWith(*store, work); }, StoreError::Code::recoveryRequired));
}

TEST_F(StorageCleanupPlanTest, FingerprintsWalkDepthFirstInNameOrderAndRefuseWhatTheyCannotVouchFor)
{
    const QUuid id = builder().addMaterial("abc", MaterialStatus::takenDown).id;
    const QString folder = folderOf(id);
    for (const char* name : {"/a.png", "/B.png", "/sub/c.txt"})
        builder().writeFile(folder + QString::fromLatin1(name), "12345");
    QDir().mkpath(path(folder + QStringLiteral("/sub/empty")));
    builder().writeState();

    QStringList order;
    for (const CleanupFingerprint& fingerprint : fingerprintsAt(path(folder)))
        order.append(fingerprint.path);
    QStringList expected{QStringLiteral("B.png"), QFileInfo(builder().material(id).versions.first().relativePath).fileName(),
        QStringLiteral("a.png")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(order, (QStringList{QString()} + expected + QStringList{"sub", "sub/c.txt", "sub/empty"}))
        << "capitals before small letters, each folder before its content";

    // A file of exactly the per-file budget passes; one byte more stops the preview.
    auto store = makeStore(SystemFileOperations::shared(), StorageBudget{5, std::int64_t{1} << 40, 0});
    const StorageCleanupPlan plan = preview(*store);
    EXPECT_EQ(plan.targets.first().byteCount, 3 + 15);
    EXPECT_EQ(plan.targets.first().fileCount, 4);
    builder().writeFile(folder + QStringLiteral("/B.png"), "123456");
    EXPECT_TRUE(throwsStoreError([&] { preview(*store); }, StoreError::Code::budgetExceeded));
    builder().writeFile(folder + QStringLiteral("/B.png"), "12345");

    // A link anywhere inside refuses the whole plan.
    std::filesystem::create_symlink("c.txt", path(folder + QStringLiteral("/sub/link")).toStdString());
    EXPECT_TRUE(throwsStoreError([&] { preview(*store); }, StoreError::Code::invalidPath));
}

TEST_F(StorageCleanupPlanTest, ExportsAreProposedOnlyWhenEveryItemIsOlderThanADay)
{
    const Date now{std::floor(Date::now().secondsSinceReferenceDate)};
    const Date cutoff = now.addingSeconds(-86400);
    writeExport(QStringLiteral("at-cutoff.txt"), "a", cutoff);
    writeExport(QStringLiteral("before.txt"), "bb", cutoff.addingSeconds(-1));
    writeExport(QStringLiteral("Mixed/old.txt"), "c", cutoff.addingSeconds(-100));
    writeExport(QStringLiteral("Mixed/new.txt"), "d", now);
    writeExport(QStringLiteral("Old/one.txt"), "eee", cutoff.addingSeconds(-5));
    for (const char* folder : {"Exports/Mixed", "Exports/Old"})
        setModified(QString::fromLatin1(folder), cutoff.addingSeconds(-100));
    writeExport(QStringLiteral("2.txt"), "f", cutoff.addingSeconds(-9));
    builder().writeState();

    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store, now);
    EXPECT_EQ(pathsOf(plan.targets), (QStringList{"Exports/2.txt", "Exports/Old", "Exports/before.txt"}));
    EXPECT_EQ(named(plan, QStringLiteral("Exports/Old")).title, u"Old");
    EXPECT_EQ(named(plan, QStringLiteral("Exports/Old")).byteCount, 3);

    // Young exports are fingerprinted all the same: a link among them stops the preview.
    std::filesystem::create_symlink("/etc/hostname", path(QStringLiteral("Exports/young-link")).toStdString());
    EXPECT_TRUE(throwsStoreError([&] { preview(*store, now); }, StoreError::Code::invalidPath));
}

TEST_F(StorageCleanupPlanTest, MaterialsThatUnfinishedWorkNeedsAreProtected)
{
    DataRootBuilder& root = builder();
    const auto down = [&](const char* text) { return root.addMaterial(text, MaterialStatus::takenDown).id; };
    const QUuid pendingDraft = down("draft never published");
    const QUuid changedDraft = down("draft changed since publication");
    const QUuid publishedDraft = down("draft published");
    const QUuid writtenNow = down("note being written");
    const QUuid pendingEdit = down("edit pending");
    const QUuid journalled = down("journalled");
    const QUuid committed = down("committed");
    const EditSession session = writeSession(pendingEdit, "working");
    // An edit whose new version never reached "Materials": the snapshot lacks a version its journal names.
    root.interruptedEdit(journalled, "lost edit", StoreJournal::Phase::contentReady, false);
    // A commit fully held by the snapshot protects nothing, whatever its phase.
    root.writeJournal(StoreJournal{QUuid::createUuid(), StoreJournal::Phase::contentReady, root.material(committed), std::nullopt});
    root.writeState();

    PendingWork work;
    work.drafts = {draftOf(pendingDraft, "x", std::nullopt), draftOf(changedDraft, "y", 2), draftOf(publishedDraft, "z", 3)};
    work.sessions.insert(session.id, {session, EditSessionDisposition::pending});
    for (const NoteDraft& draft : work.drafts)
        work.held.insert(draft.id);
    work.held.insert(session.id);
    auto store = makeStore();
    onStore(*store, [writtenNow](StoreContext& context) {
        context.ensureLoaded();
        context.activeNoteMaterials.insert(writtenNow);
    });
    QStringList expected{folderOf(publishedDraft), folderOf(committed)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(pathsOf(planWith(*store, work).targets), expected);
}

TEST_F(StorageCleanupPlanTest, DraftsAndJournalsTheStoreDoesNotUnderstandStopThePreview)
{
    DataRootBuilder& root = builder();
    root.addMaterial("down", MaterialStatus::takenDown);
    root.writeState();
    auto store = makeStore();
    const PendingWork none;
    const auto stops = [&](StoreError::Code code) {
        return throwsStoreError([&] { planWith(*store, none); }, code);
    };

    QDir().mkpath(path(QStringLiteral("Drafts/") + uuidText(QUuid::createUuid())));
    EXPECT_EQ(preview(*store).materialCount(), 1) << "an empty folder named by a UUID is passed over";

    const QString folder = QStringLiteral("Drafts/") + uuidText(QUuid::createUuid());
    root.writeFile(folder + QStringLiteral("/note.json"), "{}");
    EXPECT_EQ(planWith(*store, none).materialCount(), 1) << "a lone note.json is a note draft";
    root.writeFile(folder + QStringLiteral("/stray.txt"), "?");
    EXPECT_TRUE(stops(StoreError::Code::recoveryRequired));
    QFile::remove(path(folder + QStringLiteral("/note.json")));
    QFile::rename(path(folder + QStringLiteral("/stray.txt")), path(folder + QStringLiteral("/session.json")));
    EXPECT_TRUE(stops(StoreError::Code::recoveryRequired)) << "a session the edit sessions cannot read back";
    QDir(path(folder)).removeRecursively();

    root.writeFile(QStringLiteral("Transactions/notes.txt"), "not a journal");
    EXPECT_EQ(planWith(*store, none).materialCount(), 1);
    const StoreJournal journal{QUuid::createUuid(), StoreJournal::Phase::contentCommitted, root.snapshot().materials[0], std::nullopt};
    root.writeJournal(journal, uuidText(QUuid::createUuid()) + QStringLiteral(".json"));
    EXPECT_TRUE(stops(StoreError::Code::recoveryRequired)) << "a journal not named after its id";
    QDir(path(QStringLiteral("Transactions"))).removeRecursively();
    root.writeFile(QStringLiteral("Transactions/") + uuidText(journal.id) + QStringLiteral(".json"), "{\"id\":");
    EXPECT_TRUE(stops(StoreError::Code::recoveryRequired)) << "a journal that does not decode";

    WorkspaceSnapshot hidden = load(*store);
    hidden.privacyHidden = true;
    persist(*store, hidden);
    EXPECT_TRUE(stops(StoreError::Code::invalidSource));
}

TEST_F(StorageCleanupPlanTest, NoteDraftsOfTheStoreProtectTheirMaterialAndClaimTheirText)
{
    const QUuid note = builder().addMaterial("old note", MaterialStatus::takenDown, "txt", {}, ImportOrigin::note).id;
    builder().writeState();
    const QString staging = writeStaging("new text");
    // The note editor holds the draft throughout.
    QSet<QUuid> held;
    const auto proposed = [&](MaterialStore& store) { return targetAt(preview(store, held), folderOf(note)) != nullptr; };

    // A continuation made in this run is not pending yet, but protects its material all the same.
    auto store = makeStore();
    const NoteDraft draft = waitForResult(store->createNoteDraft(note));
    held.insert(draft.id);
    EXPECT_FALSE(draft.isPending());
    EXPECT_FALSE(proposed(*store));
    store.reset();
    auto nextRun = makeStore();
    EXPECT_TRUE(proposed(*nextRun)) << "a later run forgets it";

    // Changed text makes the draft pending: the material stays, and a staging file of that text is wanted.
    waitForResult(nextRun->updateNoteDraft(draft.id, QStringLiteral("new text")));
    EXPECT_FALSE(proposed(*nextRun));
    EXPECT_EQ(waitForResult(nextRun->stagingRecoveryInventory()),
        (QList<StagingRecoveryItem>{{staging, 8, StagingRecoveryItem::Disposition::referenced}}));
}

TEST_F(StorageCleanupPlanTest, EditSessionsOfTheStoreAreProposedOnceSavedAndProtectWhileOpen)
{
    const QUuid saved = builder().addMaterial("saved text", MaterialStatus::takenDown).id;
    const QUuid open = builder().addMaterial("open text", MaterialStatus::takenDown).id;
    builder().writeState();
    const QString staging = writeStaging("still editing");
    auto store = makeStore();

    EditSession done = waitForResult(store->createDerivedVersion(saved, VersionKind::textEdit));
    waitForResult(store->writeEditingResult(done, "edited"));
    waitForResult(store->finishEditing(done, EditResult::save(done.workingURL)));
    const EditSession editing = waitForResult(store->createDerivedVersion(open, VersionKind::textEdit));
    waitForResult(store->writeEditingResult(editing, "still editing"));

    const StorageCleanupPlan plan = preview(*store, QSet<QUuid>{editing.id});
    EXPECT_EQ(pathsOf(plan.targets), (QStringList{folderOf(saved), sessionFolder(done)}))
        << "the open session protects its material; the saved one is spare";
    EXPECT_EQ(named(plan, sessionFolder(done)).materialID, saved);
    EXPECT_EQ(plan.stagingInventory,
        (QList<StagingRecoveryItem>{{staging, 13, StagingRecoveryItem::Disposition::referenced}}))
        << "the open session's working file claims its content";

    // Cleaned, the saved session is gone and the open one still listed.
    EXPECT_EQ(clean(*store, plan).movedCount, 2);
    EXPECT_EQ(waitForResult(store->pendingEditSessions()), QList<EditSession>{editing});
    EXPECT_EQ(pathsOf(preview(*store, QSet<QUuid>{editing.id}).targets), QStringList{});
}

TEST_F(StorageCleanupPlanTest, AnExportWhoseNameIsNotUtf8IsCountedProposedAndCleanedLikeAnyOther)
{
    builder().writeState();
    // Dropped into "Exports" by hand, named in Latin-1.
    const QByteArray raw = QFile::encodeName(path(QStringLiteral("Exports"))) + "/caf\xE9.txt";
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "latin", 5), 5);
    ::close(fd);

    auto store = makeStore();
    // The budget walk reaches it (no ENOENT from its own listing)...
    EXPECT_EQ(importText(*store, QStringLiteral("still imports")).disposition.kind(), ImportDisposition::Case::hanging);
    // ...and the cleanup offers it, a day later, as the very file it is.
    const StorageCleanupPlan plan = preview(*store, Date::now().addingSeconds(2 * 86400));
    ASSERT_EQ(plan.exportCount(), 1);
    const CleanupTarget& target = plan.targets.first();
    EXPECT_EQ(target.byteCount, 5);
    const StorageCleanupResult result = waitForResult(store->cleanStorage(plan));
    EXPECT_EQ(result.movedCount, 1);
    EXPECT_EQ(result.failedCount + result.unverifiedCount, 0);
    EXPECT_EQ(::access(raw.constData(), F_OK), -1);
}
