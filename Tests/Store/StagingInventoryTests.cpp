#include "CleanupTesting.h"

#include "Support/ForwardingFileOperations.h"

#include <filesystem>
#include <functional>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

using Disposition = StagingRecoveryItem::Disposition;

class StagingInventoryTest : public CleanupTestCase {
protected:
    static QList<StagingRecoveryItem> inventory(MaterialStore& store) { return waitForResult(store.stagingRecoveryInventory()); }

    static Disposition dispositionOf(const QList<StagingRecoveryItem>& items, const QString& relativePath)
    {
        for (const StagingRecoveryItem& item : items) {
            if (item.relativePath == relativePath)
                return item.disposition;
        }
        ADD_FAILURE() << "no item " << relativePath.toStdString();
        return Disposition::needsInspection;
    }

    QString outside(const QString& name) const
    {
        QDir().mkpath(temporary.path() + QStringLiteral("/out"));
        return temporary.path() + QStringLiteral("/out/") + name;
    }

    static QUrl exportTo(MaterialStore& store, const CleanupTarget& target, const StorageCleanupPlan& plan, const QString& to)
    {
        return waitForResult(store.exportStagingCopy(target, plan, QUrl::fromLocalFile(to)));
    }
};

} // namespace

TEST_F(StagingInventoryTest, EntriesThatAreNoStagingFileNeedInspectionAndNothingElseIsRead)
{
    builder().writeState();
    // What file managers and sync tools leave there is no entry at all.
    for (const char* name : {"Transactions/.DS_Store", "Transactions/.directory"})
        builder().writeFile(QString::fromLatin1(name), "view settings");
    auto store = makeStore(SystemFileOperations::shared(), StorageBudget{10, std::int64_t{1} << 40, 0});
    EXPECT_TRUE(inventory(*store).isEmpty());

    const QString id = uuidText(QUuid::createUuid());
    DataRootBuilder& root = builder();
    root.writeFile(QStringLiteral("Transactions/") + id.toLower() + QStringLiteral(".stage"), "lower-case name");
    root.writeFile(QStringLiteral("Transactions/") + id + QStringLiteral(".STAGE"), "capitals");
    QDir().mkpath(path(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage")));
    std::filesystem::create_symlink(path(QStringLiteral("state.json")).toStdString(),
        path(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage")).toStdString());
    for (const char* name : {"Transactions/0-notes.txt", "Transactions/Zed", "Transactions/alpha"})
        root.writeFile(QString::fromLatin1(name), "stray");
    const QString tooLarge = writeStaging("0123456789X");
    // Damage that only a run with a real staging file reads.
    root.writeJournal(StoreJournal{QUuid::createUuid(), StoreJournal::Phase::contentReady, {}, std::nullopt},
        QStringLiteral("misnamed.json"));
    root.writePreviousStateBytes("not json");
    root.writeFile(QStringLiteral("Drafts/stray"), "");

    const QList<StagingRecoveryItem> items = inventory(*store);
    QStringList names;
    for (const StagingRecoveryItem& item : items) {
        names.append(QFileInfo(item.relativePath).fileName());
        EXPECT_EQ(item.disposition, Disposition::needsInspection) << item.relativePath.toStdString();
        EXPECT_FALSE(item.byteCount);
    }
    QStringList expected = QDir(path(QStringLiteral("Transactions"))).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    expected.removeIf([](const QString& name) { return name.endsWith(QStringLiteral(".json")); });
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected.size(), 8);
    EXPECT_EQ(names, expected) << "plain name order: digits, then capitals, then small letters";
    EXPECT_EQ(names.first(), u"0-notes.txt");

    // Exactly the per-file budget makes a candidate, and the damage is read.
    root.writeFile(tooLarge, "0123456789");
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::recoveryRequired));
}

TEST_F(StagingInventoryTest, AStagingFileIsReferencedExactlyWhileSomethingStillWantsItsContent)
{
    DataRootBuilder& root = builder();
    const MaterialVersion stored = root.addMaterial("stored bytes").versions.first();
    const EditSession session = writeSession(root.addMaterial("text").id, "working bytes");
    // A material only the previous snapshot knows, whose payload is gone.
    DataRootBuilder elsewhere(temporary.path() + QStringLiteral("/elsewhere"));
    WorkspaceSnapshot previous = root.snapshot();
    previous.materials.append(elsewhere.addMaterial("older bytes"));
    root.writePreviousState(previous);
    root.writeState(2);

    const QString copy = writeStaging("stored bytes");
    const QString twin = writeStaging("stored bytes");
    const QString longer = writeStaging("stored bytes ");
    const QString draftText = writeStaging("draft text");
    const QString working = writeStaging("working bytes");
    const QString older = writeStaging("older bytes");
    PendingWork work;
    work.drafts = {draftOf(QUuid::createUuid(), QStringLiteral("draft text"), std::nullopt)};
    work.sessions.insert(session.id, {session, EditSessionDisposition::pending});
    auto store = makeStore();

    StagingInventory::Result result = inventoryWith(*store, work);
    EXPECT_EQ(dispositionOf(result.items, copy), Disposition::unowned) << "its payload is in place and intact";
    EXPECT_EQ(dispositionOf(result.items, twin), Disposition::unowned);
    EXPECT_EQ(dispositionOf(result.items, longer), Disposition::unowned);
    EXPECT_EQ(dispositionOf(result.items, draftText), Disposition::referenced);
    EXPECT_EQ(dispositionOf(result.items, working), Disposition::referenced);
    EXPECT_EQ(dispositionOf(result.items, older), Disposition::referenced) << "the previous snapshot needs it";
    QStringList unowned{copy, twin, longer};
    std::sort(unowned.begin(), unowned.end());
    EXPECT_EQ(pathsOf(result.targets), unowned) << "a target per unowned item, in name order";
    EXPECT_EQ(result.targets.first().fingerprints.size(), 1);
    EXPECT_EQ(result.targets.first().title, QFileInfo(unowned.first()).fileName());

    // The payload disappears, or keeps its size with other bytes: both copies are wanted again.
    QFile::remove(path(stored.relativePath));
    result = inventoryWith(*store, work);
    EXPECT_EQ(dispositionOf(result.items, copy), Disposition::referenced);
    EXPECT_EQ(dispositionOf(result.items, twin), Disposition::referenced);
    root.writeFile(stored.relativePath, "STORED BYTES");
    EXPECT_EQ(dispositionOf(inventoryWith(*store, work).items, copy), Disposition::referenced);

    // A published draft and a completed session release what they wanted.
    work.drafts.first().publishedRevision = work.drafts.first().revision;
    work.sessions.insert(session.id, {session, EditSessionDisposition::completed});
    result = inventoryWith(*store, work);
    EXPECT_EQ(dispositionOf(result.items, draftText), Disposition::unowned);
    EXPECT_EQ(dispositionOf(result.items, working), Disposition::unowned);
}

TEST_F(StagingInventoryTest, AStagingFileOnlyAnAbandonedJournalNamesIsUnownedAndCanBeCleanedAndExported)
{
    DataRootBuilder& root = builder();
    root.addMaterial("hanging");
    // A commit that stopped before its payload reached "Materials" leaves its
    // journal and staging file; the load skips such a journal whatever phase it recorded.
    root.interruptedImport(QByteArray(3000, 'b'), StoreJournal::Phase::contentCommitted, false);
    root.writeState();
    auto files = faultInjecting();
    auto store = makeStore(files, StorageBudget{1 << 20, 7 + 7000 + 5, 0});
    const auto fits = [&] {
        return onStore(*store, [](StoreContext& context) {
            try {
                context.checkBudget(10);
                return true;
            } catch (const StoreError&) {
                return false;
            }
        });
    };

    // An import whose payload cannot be moved into place: the same leftovers.
    files->failCall(1, EIO, FileOperation::move);
    SourceRecord source;
    source.origin = ImportOrigin::clipboard;
    EXPECT_TRUE(throwsFileError([&] {
        waitForResult(store->importMaterial(ImportRequest::text(QString(4000, u'a'), source), MatterGroup::ungroupedID(),
            unlimitedCapacity, false, std::nullopt, DuplicateImportPolicy::keepExisting));
    }, std::errc::io_error));
    EXPECT_EQ(load(*store).materials.size(), 1);
    EXPECT_FALSE(fits());
    for (const StagingRecoveryItem& item : inventory(*store))
        EXPECT_EQ(item.disposition, Disposition::unowned) << item.relativePath.toStdString();

    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.stagingCount(), 2);
    QFile copy(exportTo(*store, plan.targets.first(), plan, outside(QStringLiteral("rescued.bin"))).toLocalFile());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), bytes(plan.targets.first().relativePath));

    EXPECT_EQ(clean(*store, plan).movedCount, 2);
    EXPECT_TRUE(fits()) << "the room they took is free again";
    for (const CleanupTarget& target : plan.targets)
        EXPECT_TRUE(trashedCopyOf(path(target.relativePath))) << "moved to the Trash, not deleted";
    EXPECT_EQ(QDir(path(QStringLiteral("Transactions"))).entryList(QDir::Files).size(), 2) << "the journals stay";
    store.reset();
    auto fresh = makeStore();
    EXPECT_EQ(load(*fresh).materials.size(), 1);
}

TEST_F(StagingInventoryTest, WithAStagingFileADamagedStateJournalOrDraftFolderStopsTheInventory)
{
    DataRootBuilder& root = builder();
    root.addMaterial("hanging");
    root.writeState(2);
    writeStaging("staged");
    auto store = makeStore();
    EXPECT_EQ(inventory(*store).size(), 1) << "a missing previous snapshot is fine";

    root.writePreviousStateBytes("not json");
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::recoveryRequired));
    WorkspaceSnapshot invalid = root.snapshot();
    invalid.selectedMatterID = QUuid::createUuid();
    root.writePreviousState(invalid);
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::invalidSnapshot));
    root.writePreviousState(root.snapshot());

    const StoreJournal journal{QUuid::createUuid(), StoreJournal::Phase::contentCommitted, root.snapshot().materials[0], std::nullopt};
    const QString misnamed = uuidText(QUuid::createUuid()) + QStringLiteral(".json");
    root.writeJournal(journal, misnamed);
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::recoveryRequired));
    QFile::remove(path(QStringLiteral("Transactions/") + misnamed));
    root.writeJournal(journal);
    EXPECT_EQ(inventory(*store).size(), 1);

    WorkspaceSnapshot hidden = load(*store);
    hidden.privacyHidden = true;
    persist(*store, hidden);
    EXPECT_TRUE(throwsStoreError([&] { inventory(*store); }, StoreError::Code::invalidSource));
}

TEST_F(StagingInventoryTest, ACopyGoesOnlyOutsideTheDataRootAndNeverThroughALinkOrOverASource)
{
    DataRootBuilder& root = builder();
    const QString sourceFile = outside(QStringLiteral("source.txt"));
    root.addMaterial("from a file", MaterialStatus::trashed).source.filePath = sourceFile;
    root.writeState();
    const QString staging = writeStaging("rescue me");
    std::filesystem::create_directory_symlink(temporary.path().toStdString() + "/out",
        temporary.path().toStdString() + "/alias");
    const QString existing = outside(QStringLiteral("existing.bin"));
    root.writeFile(QStringLiteral("../out/existing.bin"), "here");

    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.stagingCount(), 1);
    const CleanupTarget& target = plan.targets.first();
    for (const QString& destination : {path(QStringLiteral("Exports/copy.bin")), rootPath, existing, sourceFile,
             temporary.path() + QStringLiteral("/alias/copy.bin"), outside(QStringLiteral("../Tolvex/copy.bin"))}) {
        EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, target, plan, destination); }, StoreError::Code::invalidPath))
            << destination.toStdString();
    }
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->exportStagingCopy(target, plan, QUrl("https://example.org/x"))); },
        StoreError::Code::invalidPath));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Exports/copy.bin"))));
    EXPECT_FALSE(QFileInfo::exists(sourceFile));
    EXPECT_EQ(bytes(QStringLiteral("../out/existing.bin")), "here");

    const QString wanted = outside(QStringLiteral("copy.bin"));
    EXPECT_EQ(exportTo(*store, target, plan, outside(QStringLiteral("sub/../copy.bin"))), QUrl::fromLocalFile(wanted))
        << "the standardized destination";
    QFile copy(wanted);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), "rescue me");
    // The staging file stays where it was, still unowned, and the store is free again.
    EXPECT_EQ(inventory(*store), (QList<StagingRecoveryItem>{{staging, 9, Disposition::unowned}}));
}

TEST_F(StagingInventoryTest, ADataRootReachedThroughALinkAboveItIsStillInsideForACopy)
{
    const QString realParent = temporary.path() + QStringLiteral("/real");
    DataRootBuilder root(realParent + QStringLiteral("/Tolvex"));
    root.writeState();
    root.writeFile(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), "bytes");
    std::filesystem::create_directory_symlink(realParent.toStdString(), temporary.path().toStdString() + "/via");
    MaterialStore store(QUrl::fromLocalFile(temporary.path() + QStringLiteral("/via/Tolvex")), SystemFileOperations::shared(),
        roomyBudget());
    const StorageCleanupPlan plan = preview(store);
    ASSERT_EQ(plan.stagingCount(), 1);

    // The same folders named without the link are the data root all the same.
    for (const QString& inside : {realParent + QStringLiteral("/Tolvex/Exports/copy.bin"), realParent + QStringLiteral("/Tolvex")})
        EXPECT_TRUE(throwsStoreError([&] { exportTo(store, plan.targets.first(), plan, inside); }, StoreError::Code::invalidPath));
    EXPECT_FALSE(QFileInfo::exists(realParent + QStringLiteral("/Tolvex/Exports/copy.bin")));
    EXPECT_NO_THROW(exportTo(store, plan.targets.first(), plan, realParent + QStringLiteral("/beside.bin")));
}

TEST_F(StagingInventoryTest, AnExportNeedsTheTargetAsThePlanShowedIt)
{
    DataRootBuilder& root = builder();
    const MaterialRecord material = root.addMaterial("same bytes", MaterialStatus::takenDown);
    root.writeState();
    const QString twin = writeStaging("same bytes");
    const QString other = writeStaging("other bytes");
    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    const QString destination = outside(QStringLiteral("copy.bin"));
    const auto refused = [&](const CleanupTarget& target, const StorageCleanupPlan& given) {
        return throwsStoreError([&] { exportTo(*store, target, given, destination); }, StoreError::Code::sourceChanged)
            && !QFileInfo::exists(destination);
    };

    EXPECT_TRUE(refused(*targetAt(plan, QStringLiteral("Materials/") + uuidText(material.id)), plan)) << "not a staging file";
    StorageCleanupPlan elsewhere = plan;
    elsewhere.root = QUrl::fromLocalFile(temporary.path() + QStringLiteral("/Other"));
    EXPECT_TRUE(refused(*targetAt(plan, other), elsewhere));
    CleanupTarget renamed = *targetAt(plan, other);
    renamed.title = QStringLiteral("renamed");
    EXPECT_TRUE(refused(renamed, plan)) << "not a target of the plan";
    setModified(other, modified(other).addingSeconds(-30));
    EXPECT_TRUE(refused(*targetAt(plan, other), plan)) << "touched since the preview";

    // The twin's payload vanished: the twin is wanted again.
    QFile::remove(path(material.versions.first().relativePath));
    const StorageCleanupPlan later = preview(*store);
    EXPECT_FALSE(targetAt(later, twin));
    EXPECT_TRUE(refused(*targetAt(plan, twin), plan));
    // Any save of the workspace since the preview.
    persist(*store, load(*store));
    EXPECT_TRUE(refused(*targetAt(later, other), later));
}

TEST_F(StagingInventoryTest, ACopysFolderSwappedForALinkAfterTheChecksNeverRedirectsIt)
{
    builder().writeState();
    writeStaging("rescue me");
    const QString folder = outside(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(folder));

    // Just before the staging file is opened for its copy, after every check.
    class SwappingBeforeCopy final : public tolvex::testing::ForwardingFileOperations {
    public:
        OpenFile open(const QUrl& url) const override
        {
            if (swap)
                std::exchange(swap, nullptr)();
            return inner->open(url);
        }
        mutable std::function<void()> swap;
    };
    auto files = std::make_shared<SwappingBeforeCopy>();
    auto store = makeStore(files);
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.stagingCount(), 1);
    files->swap = [&] {
        ASSERT_TRUE(QDir().rename(folder, folder + QStringLiteral(".moved")));
        ASSERT_TRUE(QFile::link(path(QStringLiteral("Drafts")), folder));
    };
    EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, plan.targets.first(), plan, folder + QStringLiteral("/copy.bin")); },
        StoreError::Code::invalidPath));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Drafts/copy.bin"))));
    EXPECT_EQ(inventory(*store).size(), 1);
}
