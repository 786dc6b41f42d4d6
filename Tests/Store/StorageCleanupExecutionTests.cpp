#include "CleanupTesting.h"

#include <QSemaphore>

#include <atomic>
#include <cerrno>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

// The real file layer, except that the Trash spoils what it takes (a byte
// more for a file, one more file for a folder); with `hideOriginal` the old
// place of what it moves can no longer be asked about, as on a broken disk.
class SpoilingTrash final : public FileOperations {
public:
    std::atomic<bool> hideOriginal = false;

    FileInfo inspect(const QUrl& url) const override
    {
        if (url == hidden_)
            throw std::system_error(EIO, std::generic_category());
        return inner_.inspect(url);
    }
    QByteArray read(const QUrl& url) const override { return inner_.read(url); }
    void createDirectory(const QUrl& url) const override { inner_.createDirectory(url); }
    void copy(const QUrl& from, const QUrl& to) const override { inner_.copy(from, to); }
    void move(const QUrl& from, const QUrl& to) const override { inner_.move(from, to); }
    void writeAtomic(const QByteArray& bytes, const QUrl& url) const override { inner_.writeAtomic(bytes, url); }
    std::int64_t availableBytes(const QUrl& url) const override { return inner_.availableBytes(url); }
    QList<QUrl> list(const QUrl& url) const override { return inner_.list(url); }
    OpenFile open(const QUrl& url) const override { return inner_.open(url); }
    FileInfo inspect(const OpenFile& file) const override { return inner_.inspect(file); }
    void read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const override
    {
        inner_.read(file, consume, maximumBytes);
    }
    MappedFile map(const OpenFile& file) const override { return inner_.map(file); }
    void removeAtomicWriteLeftover(const QUrl& url) const override { inner_.removeAtomicWriteLeftover(url); }
    void sync(const OpenFile& file) const override { inner_.sync(file); }
    OpenFile copy(const OpenFile& source, const QUrl& folder, const QString& relative, MissingFolders missing,
        std::int64_t maximumBytes) const override
    {
        return inner_.copy(source, folder, relative, missing, maximumBytes);
    }
    QUrl trash(const QUrl& url) const override
    {
        const QUrl trashed = inner_.trash(url);
        const bool folder = QFileInfo(trashed.toLocalFile()).isDir();
        QFile file(trashed.toLocalFile() + (folder ? QStringLiteral("/added") : QString()));
        file.open(QIODevice::Append);
        file.write("!");
        if (hideOriginal)
            hidden_ = url; // the store's single thread is the only caller
        return trashed;
    }

private:
    SystemFileOperations inner_;
    mutable QUrl hidden_;
};

class StorageCleanupExecutionTest : public CleanupTestCase {
protected:
    static CleanupReceipt receiptAt(const QString& path)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        return Json::decode<CleanupReceipt>(file.readAll());
    }
    CleanupReceipt onlyReceipt() const
    {
        EXPECT_EQ(receiptFiles().size(), 1);
        return receiptAt(path(QStringLiteral("CleanupRecords/") + receiptFiles().value(0)));
    }

    // Two taken-down materials (one holding a sub-folder), a hanging one, an
    // old export and a stray staging file, at generation 4.
    QUuid first, second, hanging;
    void buildRealisticRoot()
    {
        DataRootBuilder& root = builder();
        first = root.addMaterial("first material", MaterialStatus::takenDown).id;
        second = root.addMaterial("second", MaterialStatus::takenDown).id;
        root.writeFile(QStringLiteral("Materials/") + uuidText(second) + QStringLiteral("/extra/leaf.bin"), "leaf");
        hanging = root.addMaterial("hanging").id;
        writeExport(QStringLiteral("old.pdf"), "old export", Date::now().addingSeconds(-2 * 86400));
        writeStaging("left behind");
        root.writeState(4);
    }
};

} // namespace

TEST_F(StorageCleanupExecutionTest, ConfirmedTargetsGoToTheTrashWithAReceiptOfEveryStep)
{
    buildRealisticRoot();
    auto store = makeStore();
    const WorkspaceSnapshot before = load(*store);
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.targets.size(), 4);

    const StorageCleanupResult result = clean(*store, plan);
    EXPECT_EQ(result.movedCount, 4);
    EXPECT_EQ(result.movedBytes, plan.byteCount());
    EXPECT_EQ(result.failedCount + result.unverifiedCount, 0);

    // Records stay, marked trashed; saved twice, so the previous copy holds the mark too.
    EXPECT_EQ(result.snapshot.generation, 6u);
    EXPECT_EQ(result.snapshot.findMaterial(first)->status, MaterialStatus::trashed);
    EXPECT_EQ(result.snapshot.findMaterial(second)->status, MaterialStatus::trashed);
    EXPECT_EQ(*result.snapshot.findMaterial(hanging), *before.findMaterial(hanging));
    EXPECT_EQ(stateOnDisk(), result.snapshot);
    EXPECT_EQ(stateOnDisk(QStringLiteral("state.previous.json")).findMaterial(first)->status, MaterialStatus::trashed);

    // The receipt has a file name of its own and names the plan, the snapshot before and every outcome.
    const QString fileName = QFileInfo(result.receiptURL.toLocalFile()).fileName();
    EXPECT_EQ(result.receiptURL, QUrl::fromLocalFile(path(QStringLiteral("CleanupRecords/") + fileName)));
    EXPECT_TRUE(parseUuid(fileName.chopped(5)));
    EXPECT_NE(fileName, uuidText(plan.id) + QStringLiteral(".json"));
    const CleanupReceipt receipt = onlyReceipt();
    EXPECT_EQ(receipt.id, plan.id);
    EXPECT_EQ(receipt.authorization, u"Confirmed storage-cleanup preview in Settings; move copies to system Trash");
    EXPECT_EQ(receipt.snapshotBefore, before);
    EXPECT_EQ(receipt.targets, plan.targets);
    ASSERT_EQ(receipt.outcomes.size(), plan.targets.size());
    for (qsizetype i = 0; i < plan.targets.size(); ++i) {
        const CleanupReceipt::Outcome& outcome = receipt.outcomes[i];
        SCOPED_TRACE(plan.targets[i].relativePath.toStdString());
        EXPECT_EQ(outcome.originalPath, path(plan.targets[i].relativePath));
        EXPECT_TRUE(outcome.verified);
        EXPECT_FALSE(outcome.error);
        ASSERT_TRUE(outcome.trashURL);
        EXPECT_FALSE(exists(plan.targets[i].relativePath));
        EXPECT_EQ(fingerprintsAt(outcome.trashURL->toLocalFile()), plan.targets[i].fingerprints) << "unchanged in the Trash";
    }

    // Absent values are left out rather than written as null.
    const QByteArray json = bytes(QStringLiteral("CleanupRecords/") + fileName);
    EXPECT_FALSE(json.contains("null") || json.contains("\"error\""));
    EXPECT_EQ(json.count("\"materialID\""), plan.materialCount()) << "only material targets name a material";

    EXPECT_TRUE(preview(*store).targets.isEmpty()) << "nothing left to propose";
    store.reset();
    auto fresh = makeStore();
    EXPECT_EQ(load(*fresh), result.snapshot);
}

TEST_F(StorageCleanupExecutionTest, AnEmptyPlanStillWritesAReceiptEachTimeItIsConfirmed)
{
    builder().writeState(2);
    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    const StorageCleanupResult once = clean(*store, plan);
    const StorageCleanupResult twice = clean(*store, plan);
    EXPECT_NE(once.receiptURL, twice.receiptURL);
    for (const StorageCleanupResult& result : {once, twice}) {
        EXPECT_EQ(result.movedCount + result.failedCount + result.unverifiedCount + result.movedBytes, 0);
        EXPECT_EQ(result.snapshot.generation, 2u) << "nothing was saved";
        const CleanupReceipt receipt = receiptAt(result.receiptURL.toLocalFile());
        EXPECT_EQ(receipt.id, plan.id);
        EXPECT_TRUE(receipt.targets.isEmpty() && receipt.outcomes.isEmpty());
    }
}

TEST_F(StorageCleanupExecutionTest, AConfirmationStandsOnlyForTheDataRootTheUserSaw)
{
    buildRealisticRoot();
    writeExport(QStringLiteral("unticked.txt"), "unticked", Date::now().addingSeconds(-3 * 86400));
    auto store = makeStore();
    const auto refused = [&](const StorageCleanupPlan& confirmed) {
        const QStringList receiptsBefore = receiptFiles();
        return throwsStoreError([&] { clean(*store, confirmed); }, StoreError::Code::sourceChanged)
            && receiptFiles() == receiptsBefore;
    };

    // A file inside a target touched since the preview: nothing is written at all.
    const StorageCleanupPlan seen = preview(*store);
    const QString payload = builder().material(first).versions.first().relativePath;
    setModified(payload, modified(payload).addingSeconds(-60));
    EXPECT_TRUE(refused(seen));
    EXPECT_FALSE(exists(QStringLiteral("CleanupRecords")));

    const StorageCleanupPlan plan = preview(*store);
    StorageCleanupPlan elsewhere = plan;
    elsewhere.root = QUrl::fromLocalFile(temporary.path() + QStringLiteral("/Elsewhere"));
    EXPECT_TRUE(refused(elsewhere));
    StorageCleanupPlan reordered = plan;
    std::swap(reordered.targets[0], reordered.targets[1]);
    EXPECT_TRUE(refused(reordered));

    // A subset stands although an unticked export changed and a new old one appeared.
    QSet<QString> ticked;
    for (const CleanupTarget& target : plan.targets)
        ticked.insert(target.relativePath);
    ticked.remove(QStringLiteral("Exports/unticked.txt"));
    const StorageCleanupPlan subset = plan.selecting(ticked);
    builder().writeFile(QStringLiteral("Exports/unticked.txt"), "changed");
    writeExport(QStringLiteral("appeared.txt"), "new but old", Date::now().addingSeconds(-3 * 86400));
    EXPECT_EQ(clean(*store, subset).movedCount, subset.targets.size());
    EXPECT_TRUE(exists(QStringLiteral("Exports/unticked.txt")) && exists(QStringLiteral("Exports/appeared.txt")));

    // The same plan again: its targets are gone and the generation moved on.
    EXPECT_TRUE(refused(subset));
    // Any save in between refuses too.
    const StorageCleanupPlan next = preview(*store);
    persist(*store, load(*store));
    EXPECT_TRUE(refused(next));
    EXPECT_EQ(receiptFiles().size(), 1);
}

TEST_F(StorageCleanupExecutionTest, TargetsTheTrashRefusesOrSpoilsAreCountedAndTheRestStillGo)
{
    DataRootBuilder& root = builder();
    const QUuid down = root.addMaterial("taken down", MaterialStatus::takenDown).id;
    const QUuid trashed = root.addMaterial("already trashed", MaterialStatus::trashed).id;
    writeStaging("stray");
    root.writeState(3);
    auto files = faultInjecting();
    auto store = makeStore(files);
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.targets.size(), 3);

    // The Trash refuses both material folders; the staging file goes.
    files->failCall(2, EACCES, FileOperation::trash);
    files->failCall(3, EACCES, FileOperation::trash);
    StorageCleanupResult result = clean(*store, plan);
    EXPECT_EQ(result.movedCount, 1);
    EXPECT_EQ(result.movedBytes, 5);
    EXPECT_EQ(result.failedCount, 2);
    EXPECT_EQ(result.snapshot.findMaterial(down)->status, MaterialStatus::takenDown) << "back to its status";
    EXPECT_EQ(result.snapshot.findMaterial(trashed)->status, MaterialStatus::trashed);
    EXPECT_EQ(result.snapshot.generation, 6u) << "marked twice, then restored once";
    EXPECT_EQ(stateOnDisk(), result.snapshot);
    CleanupReceipt receipt = onlyReceipt();
    ASSERT_EQ(receipt.outcomes.size(), 3);
    for (int i : {1, 2}) {
        EXPECT_FALSE(receipt.outcomes[i].verified || receipt.outcomes[i].trashURL);
        EXPECT_TRUE(receipt.outcomes[i].error.value_or(QString()).startsWith(QStringLiteral("EACCES: ")));
        EXPECT_TRUE(exists(plan.targets[i].relativePath));
    }

    // A Trash that spoils what it takes: the items left, so they are unverified and stay trashed.
    auto spoiling = std::make_shared<SpoilingTrash>();
    store.reset();
    auto other = makeStore(spoiling);
    writeStaging("another");
    result = clean(*other, preview(*other));
    EXPECT_EQ(result.unverifiedCount, 3);
    EXPECT_EQ(result.movedCount + result.failedCount, 0);
    EXPECT_EQ(result.snapshot.findMaterial(down)->status, MaterialStatus::trashed);
    receipt = receiptAt(result.receiptURL.toLocalFile());
    for (const CleanupReceipt::Outcome& outcome : receipt.outcomes) {
        EXPECT_FALSE(outcome.verified);
        EXPECT_EQ(outcome.error, u"recoveryRequired");
        EXPECT_TRUE(outcome.trashURL && QFileInfo::exists(outcome.trashURL->toLocalFile()));
    }
    // A place that cannot even be asked about after the move is unverified as well.
    writeStaging("a third");
    spoiling->hideOriginal = true;
    result = clean(*other, preview(*other));
    EXPECT_EQ(result.unverifiedCount, 1);
    EXPECT_TRUE(receiptAt(result.receiptURL.toLocalFile()).outcomes.value(0).error.value_or(QString()).startsWith(u"EIO: "));
}

TEST_F(StorageCleanupExecutionTest, AFailedReceiptOrMarkingSaveEndsTheCleanupAndUndoesNothing)
{
    buildRealisticRoot();
    const auto cleanFailingAt = [&](int n, std::function<bool(FileOperation, const QUrl&)> filter) {
        auto files = faultInjecting();
        auto store = makeStore(files);
        const StorageCleanupPlan plan = preview(*store);
        files->reset();
        files->setFilter(std::move(filter));
        files->failCall(n, EIO);
        EXPECT_TRUE(throwsFileError([&] { clean(*store, plan); }, std::errc::io_error));
        EXPECT_EQ(load(*store), stateOnDisk()) << "the store keeps the snapshot as last saved";
        return plan;
    };
    const auto receiptWrites = [](FileOperation operation, const QUrl& url) {
        return operation == FileOperation::writeAtomic && url.toLocalFile().contains(QStringLiteral("/CleanupRecords/"));
    };

    // The first receipt: nothing else happens.
    StorageCleanupPlan plan = cleanFailingAt(1, receiptWrites);
    EXPECT_TRUE(receiptFiles().isEmpty());
    EXPECT_EQ(stateOnDisk().generation, 4u);

    // Marking the materials: the receipt names the targets and no outcome; nothing moved.
    plan = cleanFailingAt(1, [](FileOperation operation, const QUrl& url) {
        return operation == FileOperation::writeAtomic && url.fileName() == u"state.json";
    });
    const CleanupReceipt unmarked = onlyReceipt();
    EXPECT_EQ(unmarked.targets, plan.targets);
    EXPECT_TRUE(unmarked.outcomes.isEmpty());
    for (const CleanupTarget& target : plan.targets)
        EXPECT_TRUE(exists(target.relativePath));
    EXPECT_EQ(stateOnDisk().generation, 4u);
    QDir(path(QStringLiteral("CleanupRecords"))).removeRecursively();

    // The rewrite after the first move: the move stays, announced in the receipt, and so do the marks.
    plan = cleanFailingAt(3, receiptWrites);
    const CleanupReceipt interrupted = onlyReceipt();
    ASSERT_EQ(interrupted.outcomes.size(), 1);
    EXPECT_EQ(interrupted.outcomes[0].error, QString::fromLatin1(StorageCleanupExecutor::interruptedError));
    EXPECT_TRUE(trashedCopyOf(path(plan.targets[0].relativePath)));
    for (qsizetype i = 0; i < plan.targets.size(); ++i)
        EXPECT_EQ(exists(plan.targets[i].relativePath), i > 0);
    EXPECT_EQ(stateOnDisk().findMaterial(first)->status, MaterialStatus::trashed);
    EXPECT_EQ(stateOnDisk().findMaterial(second)->status, MaterialStatus::trashed);
}

TEST_F(StorageCleanupExecutionTest, HiddenShelvesAndBusyStoresAreRefusedWithoutAWrite)
{
    buildRealisticRoot();
    auto store = makeStore();
    StorageCleanupPlan plan = preview(*store);
    const QString destination = temporary.path() + QStringLiteral("/copy.bin");
    const auto everyOperationFails = [&](StoreError::Code code) {
        return throwsStoreError([&] { preview(*store); }, code)
            && throwsStoreError([&] { waitForResult(store->stagingRecoveryInventory()); }, code)
            && throwsStoreError([&] { clean(*store, plan); }, code)
            && throwsStoreError(
                [&] { waitForResult(store->exportStagingCopy(plan.targets.first(), plan, QUrl::fromLocalFile(destination))); },
                code);
    };

    // Another operation holds the store between its awaits.
    QSemaphore inside;
    QSemaphore open;
    struct Hold {};
    QFuture<int> holding = store->executor().runSuspending<int, Hold, int>(
        [](StoreContext&) -> StoreExecutor::Decision<int, Hold> { return Hold{}; },
        [&](const Hold&) {
            inside.release();
            open.acquire();
            return 0;
        },
        [](StoreContext&, Hold&, int&) { return 0; });
    inside.acquire();
    EXPECT_TRUE(everyOperationFails(StoreError::Code::operationInProgress));
    open.release();
    waitForResult(holding);

    // The privacy mode hides names and contents: no plan, no list, no copy.
    WorkspaceSnapshot hidden = load(*store);
    hidden.privacyHidden = true;
    plan.generation = persist(*store, hidden).generation;
    EXPECT_TRUE(everyOperationFails(StoreError::Code::invalidSource));
    EXPECT_FALSE(exists(QStringLiteral("CleanupRecords")) || QFileInfo::exists(destination));
    for (const CleanupTarget& target : plan.targets)
        EXPECT_TRUE(exists(target.relativePath));
}
