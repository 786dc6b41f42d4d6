#include "CleanupTesting.h"

#include <algorithm>
#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class StorageCleanupPlanTest : public CleanupTestCase {
protected:
    QString materialFolder(const QUuid& id) const { return QStringLiteral("Materials/") + uuidText(id); }
    void removeFolder(const QString& relativePath) const { QDir(path(relativePath)).removeRecursively(); }
    // Whole seconds, so that a date set on a file reads back exactly.
    static Date wholeSecondsNow() { return Date{std::floor(Date::now().secondsSinceReferenceDate)}; }
};

CleanupTarget target(const QString& relativePath, const StorageCleanupPlan& plan)
{
    for (const CleanupTarget& candidate : plan.targets) {
        if (candidate.relativePath == relativePath)
            return candidate;
    }
    ADD_FAILURE() << "no target " << relativePath.toStdString();
    return {};
}

} // namespace

TEST(StorageCleanupPlanRecordTest, DerivedValuesAndSelectingKeepThePlanAndTheOrder)
{
    StorageCleanupPlan empty;
    empty.id = QUuid::createUuid();
    EXPECT_EQ(empty.byteCount(), 0);
    EXPECT_EQ(empty.materialCount() + empty.exportCount() + empty.completedEditCount() + empty.stagingCount(), 0);

    StorageCleanupPlan plan;
    plan.id = QUuid::createUuid();
    plan.root = QUrl::fromLocalFile(QStringLiteral("/data/Tolvex"));
    plan.generation = 9;
    plan.exportCutoff = Date{1234.5};
    plan.stagingInventory = {StagingRecoveryItem{QStringLiteral("Transactions/x"), std::nullopt,
        StagingRecoveryItem::Disposition::needsInspection}};
    const auto make = [](CleanupTarget::Kind kind, const QString& path, std::int64_t bytes) {
        return CleanupTarget{kind, std::nullopt, path, path, bytes, 1, {}};
    };
    // "é" composed; the user's set may spell it decomposed.
    const QString composed = QStringLiteral("Exports/caf\u00e9.txt");
    plan.targets = {make(CleanupTarget::Kind::unownedStaging, QStringLiteral("Transactions/A.stage"), 5),
        make(CleanupTarget::Kind::material, QStringLiteral("Materials/B"), 7),
        make(CleanupTarget::Kind::material, QStringLiteral("Materials/C"), 11),
        make(CleanupTarget::Kind::completedEdit, QStringLiteral("Drafts/D"), 13),
        make(CleanupTarget::Kind::temporaryExport, composed, 17)};
    EXPECT_EQ(plan.byteCount(), 53);
    EXPECT_EQ(plan.stagingCount(), 1);
    EXPECT_EQ(plan.materialCount(), 2);
    EXPECT_EQ(plan.completedEditCount(), 1);
    EXPECT_EQ(plan.exportCount(), 1);

    const StorageCleanupPlan none = plan.selecting({});
    EXPECT_TRUE(none.targets.isEmpty());
    EXPECT_EQ(none.id, plan.id);
    EXPECT_EQ(none.root, plan.root);
    EXPECT_EQ(none.generation, plan.generation);
    EXPECT_EQ(none.exportCutoff, plan.exportCutoff);
    EXPECT_EQ(none.stagingInventory, plan.stagingInventory);
    EXPECT_TRUE(plan.selecting({QStringLiteral("Materials/Z"), QStringLiteral("materials/B")}).targets.isEmpty());

    QSet<QString> all;
    for (const CleanupTarget& each : plan.targets)
        all.insert(each.relativePath);
    EXPECT_EQ(plan.selecting(all), plan);

    // Order is the plan's, whatever order the set has; canonically equal spellings match.
    const StorageCleanupPlan some = plan.selecting(
        {QStringLiteral("Exports/cafe\u0301.txt"), QStringLiteral("Materials/C"), QStringLiteral("Transactions/A.stage")});
    ASSERT_EQ(some.targets.size(), 3);
    EXPECT_EQ(some.targets[0].relativePath, u"Transactions/A.stage");
    EXPECT_EQ(some.targets[1].relativePath, u"Materials/C");
    EXPECT_EQ(some.targets[2].relativePath, composed);
    EXPECT_EQ(some.byteCount(), 33);
    EXPECT_NE(some, plan);

    // A plan put together by hand with sums past the 64-bit range does not wrap around.
    StorageCleanupPlan huge;
    huge.targets = {make(CleanupTarget::Kind::material, QStringLiteral("a"), std::numeric_limits<std::int64_t>::max()),
        make(CleanupTarget::Kind::material, QStringLiteral("b"), 1)};
    EXPECT_EQ(huge.byteCount(), std::numeric_limits<std::int64_t>::max());
}

TEST_F(StorageCleanupPlanTest, NothingToCleanGivesAnEmptyPlanAndPreviewsChangeNothing)
{
    builder().addMaterial("hanging");
    builder().writeState(7);
    const QStringList before = entries();
    auto files = faultInjecting();
    auto store = makeStore(files);

    const Date now = Date::now();
    const StorageCleanupPlan first = preview(*store, now);
    EXPECT_TRUE(first.targets.isEmpty());
    EXPECT_TRUE(first.stagingInventory.isEmpty());
    EXPECT_EQ(first.generation, 7u);
    EXPECT_EQ(first.root, rootURL);
    EXPECT_EQ(first.exportCutoff, now.addingSeconds(-86400));
    EXPECT_FALSE(first.id.isNull());

    const StorageCleanupPlan second = preview(*store, now);
    EXPECT_NE(second.id, first.id);
    StorageCleanupPlan sameID = second;
    sameID.id = first.id;
    EXPECT_EQ(sameID, first) << "two previews without a change differ only in their id";

    for (const auto& call : files->log()) {
        EXPECT_NE(call.operation, FileOperation::writeAtomic);
        EXPECT_NE(call.operation, FileOperation::move);
        EXPECT_NE(call.operation, FileOperation::copy);
        EXPECT_NE(call.operation, FileOperation::trash);
    }
    EXPECT_EQ(entries(), before);
}

TEST_F(StorageCleanupPlanTest, TakenDownAndTrashedMaterialsAreProposedInIdOrder)
{
    DataRootBuilder& root = builder();
    const QUuid down = root.addMaterial("down", MaterialStatus::takenDown).id;
    const QUuid secondDown = root.addMaterial("second down!", MaterialStatus::takenDown).id;
    const QUuid pinned = root.addMaterial("pinned", MaterialStatus::takenDown).id;
    root.material(pinned).pinned = true;
    root.addMaterial("archived", MaterialStatus::archived);
    root.addMaterial("hanging", MaterialStatus::hanging);
    root.addMaterial("review", MaterialStatus::needsReview);
    const QUuid trashed = root.addMaterial("trashed", MaterialStatus::trashed).id;
    const QUuid trashedGone = root.addMaterial("gone", MaterialStatus::trashed).id;
    removeFolder(materialFolder(trashedGone));
    root.writeState(3);

    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    QStringList expected{materialFolder(down), materialFolder(secondDown), materialFolder(trashed)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(pathsOf(plan.targets), expected) << "by id text; pinned, archived, hanging, reviewed and gone ones stay";
    EXPECT_EQ(plan.materialCount(), 3);

    const CleanupTarget& downTarget = target(materialFolder(secondDown), plan);
    const MaterialRecord& record = root.material(secondDown);
    EXPECT_EQ(downTarget.kind, CleanupTarget::Kind::material);
    EXPECT_EQ(downTarget.materialID, secondDown);
    EXPECT_EQ(downTarget.title, record.title);
    EXPECT_EQ(downTarget.byteCount, 12);
    EXPECT_EQ(downTarget.fileCount, 1);
    ASSERT_EQ(downTarget.fingerprints.size(), 2);
    EXPECT_EQ(downTarget.fingerprints[0],
        (CleanupFingerprint{QString(), true, 0, modified(materialFolder(secondDown)), std::nullopt}));
    const QString payloadName = QFileInfo(record.versions.first().relativePath).fileName();
    EXPECT_EQ(downTarget.fingerprints[1], (CleanupFingerprint{payloadName, false, 12,
        modified(record.versions.first().relativePath), DataRootBuilder::digest("second down!")}));
    EXPECT_EQ(plan.byteCount(), 4 + 12 + 7);

    // A taken-down material whose payloads are gone is a data root the store does not understand.
    removeFolder(materialFolder(down));
    auto fresh = makeStore();
    EXPECT_TRUE(throwsStoreError([&] { preview(*fresh); }, StoreError::Code::recoveryRequired));
}

TEST_F(StorageCleanupPlanTest, FingerprintsWalkDepthFirstInNameOrderAndRefuseWhatTheyCannotVouchFor)
{
    DataRootBuilder& root = builder();
    const QUuid id = root.addMaterial("abc", MaterialStatus::takenDown).id;
    const QString folder = materialFolder(id);
    root.writeFile(folder + QStringLiteral("/a.png"), "lower");
    root.writeFile(folder + QStringLiteral("/B.png"), "upper!");
    root.writeFile(folder + QStringLiteral("/sub/c.txt"), "c");
    QDir().mkpath(path(folder + QStringLiteral("/sub/empty")));
    root.writeState();

    const QUrl folderURL = QUrl::fromLocalFile(path(folder));
    const QList<CleanupFingerprint> walked = fingerprintsAt(folderURL);
    QStringList order;
    for (const CleanupFingerprint& fingerprint : walked)
        order.append(fingerprint.path);
    const QString payload = QFileInfo(root.material(id).versions.first().relativePath).fileName();
    QStringList expected{QString(), QStringLiteral("B.png"), payload, QStringLiteral("a.png"), QStringLiteral("sub"),
        QStringLiteral("sub/c.txt"), QStringLiteral("sub/empty")};
    // The payload's name is an upper-case UUID: it sorts among the others by plain order.
    std::sort(expected.begin() + 1, expected.begin() + 4);
    EXPECT_EQ(order, expected);
    for (const CleanupFingerprint& fingerprint : walked) {
        EXPECT_EQ(fingerprint.directory, !fingerprint.sha256.has_value()) << fingerprint.path.toStdString();
        if (fingerprint.directory)
            EXPECT_EQ(fingerprint.bytes, 0);
    }

    auto store = makeStore(SystemFileOperations::shared(), StorageBudget{6, std::int64_t{1} << 40, 0});
    CleanupTarget built = onStore(*store, [folder](StoreContext& context) {
        return StorageCleanupPlanner(context).cleanupTarget(folder, CleanupTarget::Kind::material, nullptr);
    });
    EXPECT_EQ(built.fingerprints, walked);
    EXPECT_EQ(built.fileCount, 4);
    EXPECT_EQ(built.byteCount, 3 + 5 + 6 + 1);
    EXPECT_EQ(built.title, uuidText(id)) << "without a record the title is the last path component";
    EXPECT_FALSE(built.materialID);

    // A file of exactly the per-file budget passes; one byte more stops the walk.
    root.writeFile(folder + QStringLiteral("/B.png"), "sevenBB");
    EXPECT_TRUE(throwsStoreError([&] { preview(*store); }, StoreError::Code::budgetExceeded));
    root.writeFile(folder + QStringLiteral("/B.png"), "upper!");

    // A link anywhere inside refuses the whole target.
    std::filesystem::create_symlink("c.txt", path(folder + QStringLiteral("/sub/link")).toStdString());
    EXPECT_TRUE(throwsStoreError([&] { fingerprintsAt(folderURL); }, StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { preview(*store); }, StoreError::Code::invalidPath));
}

TEST_F(StorageCleanupPlanTest, ExportsAreProposedOnlyWhenEveryItemIsOlderThanADay)
{
    const Date now = wholeSecondsNow();
    const Date cutoff = now.addingSeconds(-86400);
    writeExport(QStringLiteral("at-cutoff.txt"), "a", cutoff);
    writeExport(QStringLiteral("before-cutoff.txt"), "bb", cutoff.addingSeconds(-1));
    writeExport(QStringLiteral("young.txt"), "c", now);
    writeExport(QStringLiteral("Mixed/old.txt"), "d", cutoff.addingSeconds(-100));
    writeExport(QStringLiteral("Mixed/new.txt"), "e", now);
    setModified(QStringLiteral("Exports/Mixed"), cutoff.addingSeconds(-100));
    writeExport(QStringLiteral("Old/one.txt"), "fff", cutoff.addingSeconds(-5));
    writeExport(QStringLiteral("Old/two.txt"), "gggg", cutoff.addingSeconds(-6));
    setModified(QStringLiteral("Exports/Old"), cutoff.addingSeconds(-5));
    writeExport(QStringLiteral("2-digit.txt"), "h", cutoff.addingSeconds(-9));
    builder().writeState();

    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store, now);
    EXPECT_EQ(pathsOf(plan.targets),
        (QStringList{"Exports/2-digit.txt", "Exports/Old", "Exports/before-cutoff.txt"}));
    EXPECT_EQ(plan.exportCount(), 3);
    const CleanupTarget& folder = target(QStringLiteral("Exports/Old"), plan);
    EXPECT_EQ(folder.kind, CleanupTarget::Kind::temporaryExport);
    EXPECT_EQ(folder.title, u"Old");
    EXPECT_FALSE(folder.materialID);
    EXPECT_EQ(folder.fileCount, 2);
    EXPECT_EQ(folder.byteCount, 7);
    EXPECT_EQ(plan.exportCutoff, cutoff);

    // Young exports are fingerprinted all the same: a link among them stops the preview.
    std::filesystem::create_symlink("/etc/hostname", path(QStringLiteral("Exports/young-link")).toStdString());
    EXPECT_TRUE(throwsStoreError([&] { preview(*store, now); }, StoreError::Code::invalidPath));
}

TEST_F(StorageCleanupPlanTest, MaterialsThatUnfinishedWorkNeedsAreProtected)
{
    DataRootBuilder& root = builder();
    const auto downMaterial = [&](const char* text) { return root.addMaterial(text, MaterialStatus::takenDown).id; };
    const QUuid draftPending = downMaterial("draft pending");
    const QUuid draftChanged = downMaterial("draft changed since publication");
    const QUuid draftPublished = downMaterial("draft published");
    const QUuid writtenNow = downMaterial("note being written");
    const QUuid editPending = downMaterial("edit pending");
    const QUuid editCompleted = downMaterial("edit completed");
    const QUuid otherCompleted = downMaterial("other completed");
    const QUuid journalled = downMaterial("journalled");
    const QUuid committed = downMaterial("committed");
    const EditSession pendingSession = writeSession(editPending, "working");
    const EditSession completedSession = writeSession(editCompleted, "done");
    const EditSession otherSession = writeSession(otherCompleted, "done too");
    // An edit whose new version never reached "Materials": the journal names a
    // version the snapshot lacks.
    root.interruptedEdit(journalled, "lost edit", StoreJournal::Phase::contentReady, false);
    // A commit fully held by the snapshot protects nothing, whatever its phase.
    root.writeJournal(StoreJournal{QUuid::createUuid(), StoreJournal::Phase::contentReady, root.material(committed), std::nullopt});
    root.writeState();

    PendingWork work;
    work.drafts = {draftOf(draftPending, "x", std::nullopt), draftOf(draftChanged, "y", 2),
        draftOf(draftPublished, "z", 3)};
    work.sessions.insert(pendingSession.id, {pendingSession, EditSessionDisposition::pending});
    work.sessions.insert(completedSession.id, {completedSession, EditSessionDisposition::completed});
    work.sessions.insert(otherSession.id, {otherSession, EditSessionDisposition::completed});

    auto store = makeStore();
    onStore(*store, [writtenNow](StoreContext& context) {
        context.ensureLoaded();
        context.activeNoteMaterials.insert(writtenNow);
    });
    const StorageCleanupPlan plan = planWith(*store, work);

    QStringList materials{materialFolder(draftPublished), materialFolder(editCompleted),
        materialFolder(otherCompleted), materialFolder(committed)};
    std::sort(materials.begin(), materials.end());
    QStringList edits{QStringLiteral("Drafts/") + uuidText(completedSession.id),
        QStringLiteral("Drafts/") + uuidText(otherSession.id)};
    std::sort(edits.begin(), edits.end());
    EXPECT_EQ(pathsOf(plan.targets), materials + edits) << "materials by id, then completed edits by path";

    const CleanupTarget& edit = target(QStringLiteral("Drafts/") + uuidText(completedSession.id), plan);
    EXPECT_EQ(edit.kind, CleanupTarget::Kind::completedEdit);
    EXPECT_EQ(edit.materialID, editCompleted);
    EXPECT_EQ(edit.title, root.material(editCompleted).title);
    EXPECT_EQ(edit.fileCount, 2);
    EXPECT_EQ(plan.completedEditCount(), 2);

    // A completed session of a material the snapshot does not know has no record to name.
    EditSession orphan = completedSession;
    orphan.materialID = QUuid::createUuid();
    work.sessions.insert(completedSession.id, {orphan, EditSessionDisposition::completed});
    const CleanupTarget& orphaned = target(QStringLiteral("Drafts/") + uuidText(completedSession.id), planWith(*store, work));
    EXPECT_FALSE(orphaned.materialID);
    EXPECT_EQ(orphaned.title, uuidText(completedSession.id));
}

TEST_F(StorageCleanupPlanTest, DraftsAndJournalsTheStoreDoesNotUnderstandStopThePreview)
{
    DataRootBuilder& root = builder();
    root.addMaterial("down", MaterialStatus::takenDown);
    root.writeState();
    auto store = makeStore();
    const PendingWork none;

    // An empty folder named by a UUID is passed over.
    QDir().mkpath(path(QStringLiteral("Drafts/") + uuidText(QUuid::createUuid())));
    EXPECT_EQ(preview(*store).materialCount(), 1);

    // A name that is no UUID: the note-draft listing refuses it first; a
    // listing that did not see it leaves the preview's own scan to refuse it.
    root.writeFile(QStringLiteral("Drafts/.hidden"), "");
    EXPECT_TRUE(throwsStoreError([&] { preview(*store); }, StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { planWith(*store, none); }, StoreError::Code::recoveryRequired));
    QFile::remove(path(QStringLiteral("Drafts/.hidden")));

    // A lone "note.json" is a note draft's folder; anything beside it is not.
    const QString noteFolder = QStringLiteral("Drafts/") + uuidText(QUuid::createUuid());
    root.writeFile(noteFolder + QStringLiteral("/note.json"), "{}");
    EXPECT_EQ(planWith(*store, none).materialCount(), 1);
    root.writeFile(noteFolder + QStringLiteral("/stray.txt"), "?");
    EXPECT_TRUE(throwsStoreError([&] { planWith(*store, none); }, StoreError::Code::recoveryRequired));
    QDir(path(noteFolder)).removeRecursively();

    // A session folder the edit sessions cannot classify.
    const QString sessionFolder = QStringLiteral("Drafts/") + uuidText(QUuid::createUuid());
    root.writeFile(sessionFolder + QStringLiteral("/session.json"), "not json");
    EXPECT_TRUE(throwsStoreError([&] { planWith(*store, none); }, StoreError::Code::recoveryRequired));
    QDir(path(sessionFolder)).removeRecursively();

    // Journals: a text file beside them is not one; a misnamed or damaged one stops the preview.
    root.writeFile(QStringLiteral("Transactions/notes.txt"), "not a journal");
    EXPECT_EQ(planWith(*store, none).materialCount(), 1);
    const StoreJournal journal{QUuid::createUuid(), StoreJournal::Phase::contentCommitted, root.snapshot().materials[0], std::nullopt};
    root.writeJournal(journal, uuidText(QUuid::createUuid()) + QStringLiteral(".json"));
    EXPECT_TRUE(throwsStoreError([&] { planWith(*store, none); }, StoreError::Code::recoveryRequired));
    QDir(path(QStringLiteral("Transactions"))).removeRecursively();
    QDir().mkpath(path(QStringLiteral("Transactions")));
    root.writeFile(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".json"), "{\"id\":");
    EXPECT_TRUE(throwsStoreError([&] { planWith(*store, none); }, StoreError::Code::recoveryRequired));
}

TEST_F(StorageCleanupPlanTest, ThePlanListsStagingThenMaterialsThenEditsThenExports)
{
    DataRootBuilder& root = builder();
    const QUuid down = root.addMaterial("down", MaterialStatus::takenDown).id;
    const EditSession session = writeSession(down, "done");
    const QString staging = writeStaging("stray staged bytes");
    writeExport(QStringLiteral("old.txt"), "old", Date::now().addingSeconds(-90000));
    root.writeState();

    PendingWork work;
    work.sessions.insert(session.id, {session, EditSessionDisposition::completed});
    auto store = makeStore();
    const StorageCleanupPlan plan = planWith(*store, work);
    EXPECT_EQ(pathsOf(plan.targets), (QStringList{staging, materialFolder(down),
        QStringLiteral("Drafts/") + uuidText(session.id), QStringLiteral("Exports/old.txt")}));
    ASSERT_EQ(plan.stagingInventory.size(), 1);
    EXPECT_EQ(plan.stagingInventory[0],
        (StagingRecoveryItem{staging, 18, StagingRecoveryItem::Disposition::unowned}));
    const qint64 sessionBytes = QFileInfo(path(QStringLiteral("Drafts/") + uuidText(session.id) + QStringLiteral("/session.json"))).size();
    EXPECT_EQ(plan.byteCount(), 18 + 4 + (sessionBytes + 4) + 3);
}
