#include "CleanupTesting.h"

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

using Disposition = StagingRecoveryItem::Disposition;

class StagingInventoryTest : public CleanupTestCase {
protected:
    static QList<StagingRecoveryItem> inventory(MaterialStore& store)
    {
        return waitForResult(store.stagingRecoveryInventory());
    }

    static Disposition dispositionOf(const QList<StagingRecoveryItem>& items, const QString& relativePath)
    {
        for (const StagingRecoveryItem& item : items) {
            if (item.relativePath == relativePath)
                return item.disposition;
        }
        ADD_FAILURE() << "no item " << relativePath.toStdString();
        return Disposition::needsInspection;
    }

    std::int64_t budgetCheckFails(MaterialStore& store, std::int64_t bytes)
    {
        return onStore(store, [bytes](StoreContext& context) {
            try {
                context.checkBudget(bytes);
                return false;
            } catch (const StoreError& error) {
                return error.code() == StoreError::Code::budgetExceeded;
            }
        });
    }

    QString outside(const QString& name) const
    {
        QDir().mkpath(temporary.path() + QStringLiteral("/out"));
        return temporary.path() + QStringLiteral("/out/") + name;
    }

    static QUrl exportCopy(MaterialStore& store, const CleanupTarget& target, const StorageCleanupPlan& plan,
        const QString& destination)
    {
        return waitForResult(store.exportStagingCopy(target, plan, QUrl::fromLocalFile(destination)));
    }
};

} // namespace

TEST_F(StagingInventoryTest, EntriesThatAreNoStagingFileNeedInspectionAndNothingElseIsRead)
{
    builder().writeState();
    auto store = makeStore();
    EXPECT_TRUE(inventory(*store).isEmpty()) << "an empty folder gives no item";

    const QString id = uuidText(QUuid::createUuid());
    DataRootBuilder& root = builder();
    root.writeFile(QStringLiteral("Transactions/") + id.toLower() + QStringLiteral(".stage"), "lower-case name");
    root.writeFile(QStringLiteral("Transactions/") + id + QStringLiteral(".STAGE"), "capital extension");
    QDir().mkpath(path(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage")));
    const QString linked = uuidText(QUuid::createUuid()) + QStringLiteral(".stage");
    std::filesystem::create_symlink(path(QStringLiteral("state.json")).toStdString(),
        path(QStringLiteral("Transactions/") + linked).toStdString());
    root.writeFile(QStringLiteral("Transactions/0-notes.txt"), "digit first");
    root.writeFile(QStringLiteral("Transactions/Zed"), "upper case");
    root.writeFile(QStringLiteral("Transactions/alpha"), "lower case");
    // Once loaded, damage that only a run with a staging file would read.
    root.writeJournal(StoreJournal{QUuid::createUuid(), StoreJournal::Phase::contentReady, {}, std::nullopt},
        QStringLiteral("misnamed.json"));
    root.writePreviousStateBytes("not json");
    root.writeFile(QStringLiteral("Drafts/stray"), "");

    const QList<StagingRecoveryItem> items = inventory(*store);
    QStringList names;
    for (const StagingRecoveryItem& item : items) {
        names.append(item.relativePath.mid(QStringLiteral("Transactions/").size()));
        EXPECT_EQ(item.disposition, Disposition::needsInspection) << item.relativePath.toStdString();
        EXPECT_FALSE(item.byteCount) << item.relativePath.toStdString();
    }
    QStringList expected = QDir(path(QStringLiteral("Transactions")))
                               .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    expected.removeIf([](const QString& name) { return name.endsWith(QStringLiteral(".json")); });
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected.size(), 7);
    EXPECT_EQ(names, expected) << "plain name order: digits, then capitals, then small letters";
    EXPECT_EQ(names.first(), u"0-notes.txt");
    EXPECT_LT(names.indexOf(QStringLiteral("Zed")), names.indexOf(QStringLiteral("alpha")));
}

TEST_F(StagingInventoryTest, AStagingFileOfThePerFileBudgetIsACandidateAndOneByteMoreIsNot)
{
    builder().writeState();
    const QString fits = writeStaging("0123456789");
    const QString over = writeStaging("0123456789X");
    auto store = makeStore(SystemFileOperations::shared(), StorageBudget{10, std::int64_t{1} << 40, 0});
    const QList<StagingRecoveryItem> items = inventory(*store);
    ASSERT_EQ(items.size(), 2);
    EXPECT_TRUE(items.contains(StagingRecoveryItem{fits, 10, Disposition::unowned}));
    EXPECT_TRUE(items.contains(StagingRecoveryItem{over, std::nullopt, Disposition::needsInspection}));
}

TEST_F(StagingInventoryTest, AStagingFileIsReferencedExactlyWhileSomethingStillWantsItsContent)
{
    DataRootBuilder& root = builder();
    const MaterialRecord& kept = root.addMaterial("stored bytes");
    const MaterialVersion keptVersion = kept.versions.first();
    const QUuid noteID = root.addMaterial("note").id;
    const EditSession session = writeSession(noteID, "working bytes");
    // A material only the previous snapshot knows, whose payload is gone.
    DataRootBuilder previous(temporary.path() + QStringLiteral("/previous"));
    const MaterialRecord older = previous.addMaterial("older bytes");
    WorkspaceSnapshot previousSnapshot = root.snapshot();
    previousSnapshot.materials.append(older);
    root.writePreviousState(previousSnapshot);
    root.writeState(2);

    const QString storedCopy = writeStaging("stored bytes");
    const QString storedTwin = writeStaging("stored bytes");
    const QString draftCopy = writeStaging("draft text");
    const QString workingCopy = writeStaging("working bytes");
    const QString olderCopy = writeStaging("older bytes");
    const QString sameBytesOtherSize = writeStaging("stored bytes ");

    PendingWork work;
    work.drafts = {draftOf(QUuid::createUuid(), QStringLiteral("draft text"), std::nullopt)};
    work.sessions.insert(session.id, {session, EditSessionDisposition::pending});
    auto store = makeStore();

    StagingInventory::Result result = inventoryWith(*store, work);
    ASSERT_EQ(result.items.size(), 6);
    EXPECT_EQ(dispositionOf(result.items, storedCopy), Disposition::unowned) << "its payload is in place and intact";
    EXPECT_EQ(dispositionOf(result.items, storedTwin), Disposition::unowned);
    EXPECT_EQ(dispositionOf(result.items, draftCopy), Disposition::referenced);
    EXPECT_EQ(dispositionOf(result.items, workingCopy), Disposition::referenced);
    EXPECT_EQ(dispositionOf(result.items, olderCopy), Disposition::referenced) << "the previous snapshot needs it";
    EXPECT_EQ(dispositionOf(result.items, sameBytesOtherSize), Disposition::unowned);
    QStringList unowned{storedCopy, storedTwin, sameBytesOtherSize};
    std::sort(unowned.begin(), unowned.end());
    EXPECT_EQ(pathsOf(result.targets), unowned) << "one target per unowned item, in name order";
    for (const CleanupTarget& target : result.targets) {
        EXPECT_EQ(target.kind, CleanupTarget::Kind::unownedStaging);
        EXPECT_EQ(target.title, target.relativePath.mid(QStringLiteral("Transactions/").size()));
        EXPECT_EQ(target.fileCount, 1);
        ASSERT_EQ(target.fingerprints.size(), 1);
        EXPECT_TRUE(target.fingerprints.first().path.isEmpty());
        EXPECT_FALSE(target.fingerprints.first().directory);
    }
    QStringList itemOrder;
    for (const StagingRecoveryItem& item : result.items)
        itemOrder.append(item.relativePath);
    QStringList sortedOrder = itemOrder;
    std::sort(sortedOrder.begin(), sortedOrder.end());
    EXPECT_EQ(itemOrder, sortedOrder);

    // The live snapshot's payload disappears: both copies are wanted again.
    QFile::remove(path(keptVersion.relativePath));
    result = inventoryWith(*store, work);
    EXPECT_EQ(dispositionOf(result.items, storedCopy), Disposition::referenced);
    EXPECT_EQ(dispositionOf(result.items, storedTwin), Disposition::referenced);
    // Altered bytes of the same size are no intact payload either.
    root.writeFile(keptVersion.relativePath, "STORED BYTES");
    EXPECT_EQ(dispositionOf(inventoryWith(*store, work).items, storedCopy), Disposition::referenced);
    root.writeFile(keptVersion.relativePath, "stored bytes");
    EXPECT_EQ(dispositionOf(inventoryWith(*store, work).items, storedCopy), Disposition::unowned);

    // Published drafts and completed sessions release what they wanted.
    work.drafts.first().publishedRevision = work.drafts.first().revision;
    work.sessions.insert(session.id, {session, EditSessionDisposition::completed});
    result = inventoryWith(*store, work);
    EXPECT_EQ(dispositionOf(result.items, draftCopy), Disposition::unowned);
    EXPECT_EQ(dispositionOf(result.items, workingCopy), Disposition::unowned);
}

TEST_F(StagingInventoryTest, AStagingFileOnlyAnAbandonedJournalNamesIsUnownedAndCanBeCleanedAndExported)
{
    DataRootBuilder& root = builder();
    root.addMaterial("hanging");
    // Two commits that stopped before their payload reached "Materials": the
    // load skips their journals, whatever phase they recorded.
    const MaterialRecord abandoned = root.interruptedImport(QByteArray(4000, 'a'), StoreJournal::Phase::contentReady, false);
    root.interruptedImport(QByteArray(3000, 'b'), StoreJournal::Phase::contentCommitted, false);
    root.writeState();
    const std::int64_t stored = 7 + 4000 + 3000;

    // The two files fill the library: no import of 10 bytes fits.
    auto store = makeStore(SystemFileOperations::shared(), StorageBudget{1 << 20, stored + 5, 0});
    const WorkspaceSnapshot loaded = load(*store);
    EXPECT_EQ(loaded.materials.size(), 1) << "neither abandoned commit is taken in";
    EXPECT_TRUE(budgetCheckFails(*store, 10));

    const QList<StagingRecoveryItem> items = inventory(*store);
    ASSERT_EQ(items.size(), 2);
    for (const StagingRecoveryItem& item : items)
        EXPECT_EQ(item.disposition, Disposition::unowned) << item.relativePath.toStdString();

    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.stagingCount(), 2);
    const CleanupTarget& first = plan.targets.first();
    const QByteArray firstBytes = bytes(first.relativePath);
    const QUrl copy = exportCopy(*store, first, plan, outside(QStringLiteral("rescued.bin")));
    QFile copied(copy.toLocalFile());
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), firstBytes);

    const StorageCleanupResult result = clean(*store, plan);
    EXPECT_EQ(result.movedCount, 2);
    EXPECT_EQ(result.movedBytes, 7000);
    EXPECT_FALSE(budgetCheckFails(*store, 10)) << "the room the abandoned files took is free again";
    for (const CleanupTarget& target : plan.targets) {
        EXPECT_FALSE(exists(target.relativePath));
        EXPECT_TRUE(trashedCopyOf(path(target.relativePath))) << "moved to the Trash, not deleted";
    }
    // The journals stay; the load still skips them.
    auto fresh = makeStore();
    EXPECT_EQ(load(*fresh).materials.size(), 1);
    EXPECT_EQ(QDir(path(QStringLiteral("Transactions"))).entryList(QDir::Files).size(), 2);
    EXPECT_FALSE(load(*fresh).findMaterial(abandoned.id));
}

TEST_F(StagingInventoryTest, WithAStagingFileADamagedStateJournalOrDraftFolderStopsTheInventory)
{
    DataRootBuilder& root = builder();
    root.addMaterial("hanging");
    root.writeState(2);
    writeStaging("staged");
    auto store = makeStore();
    load(*store);

    // A missing previous snapshot is fine.
    EXPECT_EQ(inventory(*store).size(), 1);

    root.writePreviousStateBytes("not json");
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::recoveryRequired));
    WorkspaceSnapshot invalid = root.snapshot();
    invalid.selectedMatterID = QUuid::createUuid();
    root.writePreviousState(invalid);
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::invalidSnapshot));
    root.writePreviousState(root.snapshot());
    EXPECT_EQ(inventory(*store).size(), 1);

    const StoreJournal journal{QUuid::createUuid(), StoreJournal::Phase::contentCommitted, root.snapshot().materials[0], std::nullopt};
    root.writeJournal(journal, uuidText(QUuid::createUuid()) + QStringLiteral(".json"));
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::recoveryRequired));
    QDir transactions(path(QStringLiteral("Transactions")));
    for (const QString& name : transactions.entryList({QStringLiteral("*.json")}, QDir::Files))
        transactions.remove(name);
    root.writeJournal(journal);
    EXPECT_EQ(inventory(*store).size(), 1) << "a well-named journal is fine";

    root.writeFile(QStringLiteral("Drafts/.hidden"), "");
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::invalidPath));
}

TEST_F(StagingInventoryTest, AnUnownedStagingFileIsCopiedOutsideTheDataRootAndStaysWhereItIs)
{
    builder().writeState();
    const QString staging = writeStaging("rescue me");
    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.targets.size(), 1);

    const QString wanted = outside(QStringLiteral("copy.bin"));
    const QUrl result = exportCopy(*store, plan.targets.first(), plan, outside(QStringLiteral("sub/../copy.bin")));
    EXPECT_EQ(result, QUrl::fromLocalFile(wanted)) << "the standardized destination";
    QFile copy(wanted);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), "rescue me");
    EXPECT_EQ(bytes(staging), "rescue me");
    // The store is free again, and the staging file still unowned.
    EXPECT_EQ(inventory(*store), (QList<StagingRecoveryItem>{{staging, 9, Disposition::unowned}}));
    // The same destination a second time exists now.
    EXPECT_TRUE(throwsStoreError([&] { exportCopy(*store, plan.targets.first(), plan, wanted); },
        StoreError::Code::invalidPath));
}

TEST_F(StagingInventoryTest, ACopyGoesNowhereInsideTheDataRootThroughALinkOrOverASource)
{
    DataRootBuilder& root = builder();
    MaterialRecord& sourced = root.addMaterial("from a file");
    const QString sourceFile = outside(QStringLiteral("source.txt"));
    sourced.source.origin = ImportOrigin::fileSelection;
    sourced.source.filePath = sourceFile;
    root.material(sourced.id).status = MaterialStatus::trashed;
    root.writeState();
    writeStaging("rescue me");
    QDir().mkpath(temporary.path() + QStringLiteral("/real"));
    std::filesystem::create_directory_symlink((temporary.path() + QStringLiteral("/real")).toStdString(),
        (temporary.path() + QStringLiteral("/alias")).toStdString());
    const QString existing = outside(QStringLiteral("existing.bin"));
    QFile(existing).open(QIODevice::WriteOnly);

    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.stagingCount(), 1);
    const CleanupTarget& target = plan.targets.first();
    for (const QString& destination : {path(QStringLiteral("Exports/copy.bin")), rootPath, path(QStringLiteral("copy.bin")),
             existing, temporary.path() + QStringLiteral("/alias/copy.bin"), sourceFile,
             temporary.path() + QStringLiteral("/out/../Tolvex/Exports/x.bin")}) {
        EXPECT_TRUE(throwsStoreError([&] { exportCopy(*store, target, plan, destination); }, StoreError::Code::invalidPath))
            << destination.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Exports/copy.bin"))));
    EXPECT_FALSE(QFileInfo::exists(temporary.path() + QStringLiteral("/real/copy.bin")));
    EXPECT_FALSE(QFileInfo::exists(sourceFile));
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->exportStagingCopy(target, plan, QUrl("https://example.org/x"))); },
        StoreError::Code::invalidPath));
}

TEST_F(StagingInventoryTest, ADataRootReachedThroughALinkAboveItIsStillInsideForACopy)
{
    // The data root as the store is given it lies below a link; the same
    // folder named without the link must still count as inside.
    const QString realParent = temporary.path() + QStringLiteral("/real");
    DataRootBuilder root(realParent + QStringLiteral("/Tolvex"));
    root.writeState();
    root.writeFile(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), "bytes");
    std::filesystem::create_directory_symlink(realParent.toStdString(), (temporary.path() + QStringLiteral("/via")).toStdString());
    MaterialStore store(QUrl::fromLocalFile(temporary.path() + QStringLiteral("/via/Tolvex")), SystemFileOperations::shared(),
        roomyBudget());
    const StorageCleanupPlan plan = preview(store);
    ASSERT_EQ(plan.stagingCount(), 1);

    const QString insideByItsRealName = realParent + QStringLiteral("/Tolvex/Exports/copy.bin");
    EXPECT_TRUE(throwsStoreError([&] { exportCopy(store, plan.targets.first(), plan, insideByItsRealName); },
        StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { exportCopy(store, plan.targets.first(), plan, realParent + QStringLiteral("/Tolvex")); },
        StoreError::Code::invalidPath));
    EXPECT_FALSE(QFileInfo::exists(insideByItsRealName));
    EXPECT_NO_THROW(exportCopy(store, plan.targets.first(), plan, realParent + QStringLiteral("/beside.bin")));
}

TEST_F(StagingInventoryTest, AnExportNeedsTheTargetAsThePlanShowedIt)
{
    DataRootBuilder& root = builder();
    const MaterialRecord& material = root.addMaterial("same bytes", MaterialStatus::takenDown);
    const QString payload = material.versions.first().relativePath;
    root.writeState();
    const QString twin = writeStaging("same bytes");
    const QString other = writeStaging("other bytes");
    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.stagingCount(), 2);
    const CleanupTarget twinTarget = *targetAt(plan, twin);
    const CleanupTarget otherTarget = *targetAt(plan, other);
    const QString destination = outside(QStringLiteral("copy.bin"));
    const auto refused = [&](const CleanupTarget& target, const StorageCleanupPlan& given) {
        const bool changed = throwsStoreError([&] { exportCopy(*store, target, given, destination); },
            StoreError::Code::sourceChanged);
        return changed && !QFileInfo::exists(destination);
    };

    EXPECT_TRUE(refused(*targetAt(plan, QStringLiteral("Materials/") + uuidText(material.id)), plan))
        << "only staging files are exported here";
    StorageCleanupPlan elsewhere = plan;
    elsewhere.root = QUrl::fromLocalFile(temporary.path() + QStringLiteral("/Other"));
    EXPECT_TRUE(refused(otherTarget, elsewhere));
    CleanupTarget notInPlan = otherTarget;
    notInPlan.title = QStringLiteral("renamed");
    EXPECT_TRUE(refused(notInPlan, plan));

    // The file changed since the preview.
    setModified(other, modified(other).addingSeconds(-30));
    EXPECT_TRUE(refused(otherTarget, plan));

    // The twin's payload vanished: the twin is wanted again and no fresh plan holds it.
    QFile::remove(path(payload));
    const StorageCleanupPlan later = preview(*store);
    EXPECT_FALSE(targetAt(later, twin));
    EXPECT_TRUE(refused(twinTarget, plan));

    // Any save of the workspace since the preview.
    ASSERT_TRUE(targetAt(later, other));
    persist(*store, load(*store));
    EXPECT_TRUE(refused(*targetAt(later, other), later));
    EXPECT_EQ(QDir(path(QStringLiteral("Transactions"))).entryList(QDir::Files).size(), 2) << "nothing moved";
}
