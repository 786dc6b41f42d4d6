#include "CleanupTesting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>

#include <atomic>
#include <cerrno>
#include <mutex>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

// The real file layer, except that the Trash spoils what it takes: a moved
// file gets a byte more, a moved folder one more file. With `hideOriginal`,
// asking about the old place of an item it moves fails as a broken disk would.
class SpoilingTrash final : public FileOperations {
public:
    // Items trashed while this is set cannot be asked about at their old place.
    std::atomic<bool> hideOriginal = false;

    FileInfo inspect(const QUrl& url) const override
    {
        {
            std::lock_guard lock(mutex_);
            if (hidden_.contains(url))
                throw std::system_error(EIO, std::generic_category());
        }
        return inner_.inspect(url);
    }
    QByteArray read(const QUrl& url) const override { return inner_.read(url); }
    void createDirectory(const QUrl& url) const override { inner_.createDirectory(url); }
    void copy(const QUrl& source, const QUrl& destination) const override { inner_.copy(source, destination); }
    void move(const QUrl& source, const QUrl& destination) const override { inner_.move(source, destination); }
    void writeAtomic(const QByteArray& bytes, const QUrl& url) const override { inner_.writeAtomic(bytes, url); }
    std::int64_t availableBytes(const QUrl& url) const override { return inner_.availableBytes(url); }
    QList<QUrl> list(const QUrl& url) const override { return inner_.list(url); }
    QUrl trash(const QUrl& url) const override
    {
        const QUrl trashed = inner_.trash(url);
        const QString path = trashed.toLocalFile();
        if (QFileInfo(path).isDir()) {
            QFile extra(path + QStringLiteral("/added"));
            extra.open(QIODevice::WriteOnly);
        } else {
            QFile file(path);
            file.open(QIODevice::Append);
            file.write("!");
        }
        std::lock_guard lock(mutex_);
        if (hideOriginal)
            hidden_.insert(url);
        return trashed;
    }

private:
    SystemFileOperations inner_;
    mutable std::mutex mutex_;
    mutable QSet<QUrl> hidden_;
};

class StorageCleanupExecutionTest : public CleanupTestCase {
protected:
    CleanupReceipt receiptAt(const QUrl& url) const
    {
        QFile file(url.toLocalFile());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << url.toLocalFile().toStdString();
        return Json::decode<CleanupReceipt>(file.readAll());
    }

    // Two taken-down materials (one holding a sub-folder), a hanging one, an
    // old export and a stray staging file.
    struct Fixture {
        QUuid first;
        QUuid second;
        QUuid hanging;
    };
    Fixture buildRealisticRoot()
    {
        DataRootBuilder& root = builder();
        Fixture fixture;
        fixture.first = root.addMaterial("first material", MaterialStatus::takenDown).id;
        fixture.second = root.addMaterial("second", MaterialStatus::takenDown).id;
        root.writeFile(QStringLiteral("Materials/") + uuidText(fixture.second) + QStringLiteral("/extra/leaf.bin"), "leaf");
        fixture.hanging = root.addMaterial("hanging").id;
        writeExport(QStringLiteral("old.pdf"), "old export", Date::now().addingSeconds(-2 * 86400));
        writeStaging("left behind");
        root.writeState(4);
        return fixture;
    }
};

} // namespace

TEST_F(StorageCleanupExecutionTest, ConfirmedTargetsGoToTheTrashWithAReceiptOfEveryStep)
{
    const Fixture fixture = buildRealisticRoot();
    auto store = makeStore();
    const WorkspaceSnapshot before = load(*store);
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.targets.size(), 4);
    ASSERT_EQ(plan.materialCount(), 2);

    const StorageCleanupResult result = clean(*store, plan);
    EXPECT_EQ(result.movedCount, 4);
    EXPECT_EQ(result.movedBytes, plan.byteCount());
    EXPECT_EQ(result.failedCount, 0);
    EXPECT_EQ(result.unverifiedCount, 0);

    // Records stay, marked trashed; two saves, so the previous copy holds the mark too.
    EXPECT_EQ(result.snapshot.generation, 6u);
    EXPECT_EQ(result.snapshot.materials.size(), 3);
    EXPECT_EQ(result.snapshot.findMaterial(fixture.first)->status, MaterialStatus::trashed);
    EXPECT_EQ(result.snapshot.findMaterial(fixture.second)->status, MaterialStatus::trashed);
    EXPECT_EQ(*result.snapshot.findMaterial(fixture.hanging), *before.findMaterial(fixture.hanging));
    EXPECT_EQ(stateOnDisk(), result.snapshot);
    const WorkspaceSnapshot previous = stateOnDisk(QStringLiteral("state.previous.json"));
    EXPECT_EQ(previous.generation, 5u);
    EXPECT_EQ(previous.findMaterial(fixture.first)->status, MaterialStatus::trashed);

    // The receipt: its own file name, the plan's id, every target and outcome.
    EXPECT_EQ(receiptFiles().size(), 1);
    const QString fileName = QFileInfo(result.receiptURL.toLocalFile()).fileName();
    EXPECT_EQ(result.receiptURL, QUrl::fromLocalFile(path(QStringLiteral("CleanupRecords/") + fileName)));
    EXPECT_TRUE(parseUuid(fileName.chopped(5)));
    EXPECT_NE(fileName, uuidText(plan.id) + QStringLiteral(".json"));
    const CleanupReceipt receipt = receiptAt(result.receiptURL);
    EXPECT_EQ(receipt.id, plan.id);
    EXPECT_EQ(receipt.authorization, u"Confirmed storage-cleanup preview in Settings; move copies to system Trash");
    EXPECT_EQ(receipt.snapshotBefore, before);
    EXPECT_EQ(receipt.targets, plan.targets);
    ASSERT_EQ(receipt.outcomes.size(), plan.targets.size());
    for (qsizetype i = 0; i < plan.targets.size(); ++i) {
        const CleanupTarget& target = plan.targets[i];
        const CleanupReceipt::Outcome& outcome = receipt.outcomes[i];
        SCOPED_TRACE(target.relativePath.toStdString());
        EXPECT_EQ(outcome.originalPath, path(target.relativePath));
        EXPECT_TRUE(outcome.verified);
        EXPECT_FALSE(outcome.error);
        ASSERT_TRUE(outcome.trashURL);
        EXPECT_FALSE(exists(target.relativePath));
        EXPECT_EQ(fingerprintsAt(*outcome.trashURL), target.fingerprints) << "the Trash holds it unchanged";
    }

    // The JSON leaves absent values out rather than writing null.
    const QJsonObject json = QJsonDocument::fromJson(bytes(QStringLiteral("CleanupRecords/") + fileName)).object();
    EXPECT_EQ(json.keys().size(), 6);
    for (const QJsonValue& outcome : json.value(QStringLiteral("outcomes")).toArray())
        EXPECT_FALSE(outcome.toObject().contains(QStringLiteral("error")));
    for (const QJsonValue& target : json.value(QStringLiteral("targets")).toArray()) {
        const QJsonObject object = target.toObject();
        const bool material = object.value(QStringLiteral("kind")).toString() == u"material";
        EXPECT_EQ(object.contains(QStringLiteral("materialID")), material);
        for (const QJsonValue& fingerprint : object.value(QStringLiteral("fingerprints")).toArray()) {
            const QJsonObject print = fingerprint.toObject();
            EXPECT_NE(print.value(QStringLiteral("directory")).toBool(), print.contains(QStringLiteral("sha256")));
        }
    }

    // Nothing is left to propose; a new store loads the result.
    EXPECT_TRUE(preview(*store).targets.isEmpty());
    auto fresh = makeStore();
    EXPECT_EQ(load(*fresh), result.snapshot);
}

TEST_F(StorageCleanupExecutionTest, AnEmptyPlanStillWritesAReceiptEachTimeItIsConfirmed)
{
    builder().addMaterial("hanging");
    builder().writeState(2);
    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_TRUE(plan.targets.isEmpty());

    const StorageCleanupResult first = clean(*store, plan);
    const StorageCleanupResult second = clean(*store, plan);
    for (const StorageCleanupResult& result : {first, second}) {
        EXPECT_EQ(result.movedCount + result.failedCount + result.unverifiedCount + result.movedBytes, 0);
        EXPECT_EQ(result.snapshot.generation, 2u) << "nothing was saved";
        const CleanupReceipt receipt = receiptAt(result.receiptURL);
        EXPECT_EQ(receipt.id, plan.id);
        EXPECT_TRUE(receipt.targets.isEmpty());
        EXPECT_TRUE(receipt.outcomes.isEmpty());
    }
    EXPECT_NE(first.receiptURL, second.receiptURL);
    EXPECT_EQ(receiptFiles().size(), 2);
}

TEST_F(StorageCleanupExecutionTest, AConfirmationStandsOnlyForTheDataRootTheUserSaw)
{
    const Fixture fixture = buildRealisticRoot();
    writeExport(QStringLiteral("unticked.txt"), "unticked", Date::now().addingSeconds(-3 * 86400));
    auto store = makeStore();
    const StorageCleanupPlan seen = preview(*store);
    const auto refused = [&](const StorageCleanupPlan& confirmed) {
        const QStringList receiptsBefore = receiptFiles();
        const bool changed = throwsStoreError([&] { clean(*store, confirmed); }, StoreError::Code::sourceChanged);
        return changed && receiptFiles() == receiptsBefore;
    };
    const QString firstFolder = QStringLiteral("Materials/") + uuidText(fixture.first);

    // A file inside a target touched since the preview: nothing is written at all.
    const QString payload = builder().material(fixture.first).versions.first().relativePath;
    const Date touched = modified(payload);
    setModified(payload, touched.addingSeconds(-60));
    EXPECT_TRUE(refused(seen));
    EXPECT_FALSE(exists(QStringLiteral("CleanupRecords")));
    const StorageCleanupPlan plan = preview(*store);

    // Another root, or targets in another order.
    StorageCleanupPlan elsewhere = plan;
    elsewhere.root = QUrl::fromLocalFile(temporary.path() + QStringLiteral("/Elsewhere"));
    EXPECT_TRUE(refused(elsewhere));
    StorageCleanupPlan reordered = plan;
    std::swap(reordered.targets[0], reordered.targets[1]);
    EXPECT_TRUE(refused(reordered));

    // A subset stands although an unticked export changed and a new old one appeared.
    QSet<QString> ticked;
    for (const CleanupTarget& target : plan.targets) {
        if (target.relativePath != u"Exports/unticked.txt")
            ticked.insert(target.relativePath);
    }
    const StorageCleanupPlan subset = plan.selecting(ticked);
    builder().writeFile(QStringLiteral("Exports/unticked.txt"), "changed");
    writeExport(QStringLiteral("appeared.txt"), "new but old", Date::now().addingSeconds(-3 * 86400));
    const StorageCleanupResult result = clean(*store, subset);
    EXPECT_EQ(result.movedCount, subset.targets.size());
    EXPECT_TRUE(exists(QStringLiteral("Exports/unticked.txt")));
    EXPECT_TRUE(exists(QStringLiteral("Exports/appeared.txt")));
    EXPECT_FALSE(exists(firstFolder));

    // The same plan again: its targets are gone and the generation moved on.
    EXPECT_TRUE(refused(subset));
    EXPECT_EQ(receiptFiles().size(), 1);

    // Any save in between (here a rehang-like change of status) also refuses.
    const StorageCleanupPlan next = preview(*store);
    WorkspaceSnapshot changed = load(*store);
    changed.findMaterial(fixture.hanging)->status = MaterialStatus::takenDown;
    persist(*store, changed);
    EXPECT_TRUE(refused(next));
}

TEST_F(StorageCleanupExecutionTest, ATargetTheTrashRefusesStaysAndItsMaterialGetsItsStatusBack)
{
    DataRootBuilder& root = builder();
    const QUuid a = root.addMaterial("taken down", MaterialStatus::takenDown).id;
    const QUuid b = root.addMaterial("already trashed", MaterialStatus::trashed).id;
    writeStaging("stray");
    root.writeState(3);
    auto files = faultInjecting();
    auto store = makeStore(files);
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.targets.size(), 3);

    // Both material folders are refused by the Trash; the staging file goes.
    files->failCall(2, EACCES, FileOperation::trash);
    files->failCall(3, EACCES, FileOperation::trash);
    const StorageCleanupResult result = clean(*store, plan);
    EXPECT_EQ(result.movedCount, 1);
    EXPECT_EQ(result.movedBytes, 5);
    EXPECT_EQ(result.failedCount, 2);
    EXPECT_EQ(result.unverifiedCount, 0);
    EXPECT_EQ(result.snapshot.findMaterial(a)->status, MaterialStatus::takenDown) << "back to its status";
    EXPECT_EQ(result.snapshot.findMaterial(b)->status, MaterialStatus::trashed);
    EXPECT_EQ(result.snapshot.generation, 6u) << "marked twice, then restored once";
    EXPECT_EQ(stateOnDisk(), result.snapshot);

    const CleanupReceipt receipt = receiptAt(result.receiptURL);
    ASSERT_EQ(receipt.outcomes.size(), 3);
    EXPECT_TRUE(receipt.outcomes[0].verified);
    for (int i : {1, 2}) {
        EXPECT_FALSE(receipt.outcomes[i].verified);
        EXPECT_FALSE(receipt.outcomes[i].trashURL);
        ASSERT_TRUE(receipt.outcomes[i].error);
        EXPECT_TRUE(receipt.outcomes[i].error->startsWith(QStringLiteral("EACCES: "))) << receipt.outcomes[i].error->toStdString();
        EXPECT_TRUE(exists(plan.targets[i].relativePath));
    }

    // The next preview proposes both again.
    auto fresh = makeStore();
    EXPECT_EQ(preview(*fresh).materialCount(), 2);
}

TEST_F(StorageCleanupExecutionTest, AnItemThatLeftButDoesNotMatchInTheTrashIsUnverified)
{
    DataRootBuilder& root = builder();
    const QUuid down = root.addMaterial("taken down", MaterialStatus::takenDown).id;
    writeStaging("stray");
    root.writeState();
    auto spoiling = std::make_shared<SpoilingTrash>();
    auto store = makeStore(spoiling);
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.targets.size(), 2);

    StorageCleanupResult result = clean(*store, plan);
    EXPECT_EQ(result.movedCount, 0);
    EXPECT_EQ(result.unverifiedCount, 2);
    EXPECT_EQ(result.failedCount, 0);
    EXPECT_EQ(result.snapshot.findMaterial(down)->status, MaterialStatus::trashed) << "its folder is gone: it stays trashed";
    CleanupReceipt receipt = receiptAt(result.receiptURL);
    ASSERT_EQ(receipt.outcomes.size(), 2);
    for (const CleanupReceipt::Outcome& outcome : receipt.outcomes) {
        EXPECT_FALSE(outcome.verified);
        EXPECT_EQ(outcome.error, u"recoveryRequired");
        ASSERT_TRUE(outcome.trashURL);
        EXPECT_TRUE(QFileInfo::exists(outcome.trashURL->toLocalFile())) << "where the Trash put it";
    }

    // A place that cannot even be asked about after the move is unverified too.
    writeStaging("another");
    spoiling->hideOriginal = true;
    result = clean(*store, preview(*store));
    EXPECT_EQ(result.unverifiedCount, 1);
    receipt = receiptAt(result.receiptURL);
    ASSERT_EQ(receipt.outcomes.size(), 1);
    EXPECT_TRUE(receipt.outcomes[0].error && receipt.outcomes[0].error->startsWith(QStringLiteral("EIO")));
}

TEST_F(StorageCleanupExecutionTest, AFailedReceiptOrMarkingSaveEndsTheCleanupAndUndoesNothing)
{
    const Fixture fixture = buildRealisticRoot();
    const auto receiptsOnly = [](FileOperation operation, const QUrl& url) {
        return operation == FileOperation::writeAtomic && url.toLocalFile().contains(QStringLiteral("/CleanupRecords/"));
    };

    {
        // The first receipt cannot be written: nothing else happens.
        auto files = faultInjecting();
        auto store = makeStore(files);
        const StorageCleanupPlan plan = preview(*store);
        files->reset();
        files->setFilter(receiptsOnly);
        files->failCall(1, ENOSPC);
        EXPECT_TRUE(throwsFileError([&] { clean(*store, plan); }, std::errc::no_space_on_device));
        EXPECT_TRUE(receiptFiles().isEmpty());
        EXPECT_EQ(stateOnDisk().generation, 4u);
        EXPECT_TRUE(exists(QStringLiteral("Materials/") + uuidText(fixture.first)));
    }
    {
        // Marking the materials cannot be saved: the receipt names the
        // targets, holds no outcome, and nothing moved.
        auto files = faultInjecting();
        auto store = makeStore(files);
        const StorageCleanupPlan plan = preview(*store);
        files->reset();
        files->setFilter([](FileOperation operation, const QUrl& url) {
            return operation == FileOperation::writeAtomic && url.fileName() == u"state.json";
        });
        files->failCall(1, EIO);
        EXPECT_TRUE(throwsFileError([&] { clean(*store, plan); }, std::errc::io_error));
        ASSERT_EQ(receiptFiles().size(), 1);
        const CleanupReceipt receipt =
            receiptAt(QUrl::fromLocalFile(path(QStringLiteral("CleanupRecords/") + receiptFiles().first())));
        EXPECT_EQ(receipt.targets, plan.targets);
        EXPECT_TRUE(receipt.outcomes.isEmpty());
        for (const CleanupTarget& target : plan.targets)
            EXPECT_TRUE(exists(target.relativePath));
        EXPECT_EQ(load(*store).generation, 4u) << "the store keeps the snapshot as last saved";
        QDir(path(QStringLiteral("CleanupRecords"))).removeRecursively();
    }
    {
        // A rewrite after the first move fails: that move stays, and so do the marks.
        auto files = faultInjecting();
        auto store = makeStore(files);
        const StorageCleanupPlan plan = preview(*store);
        files->reset();
        files->setFilter(receiptsOnly);
        files->failCall(3, EIO);
        EXPECT_TRUE(throwsFileError([&] { clean(*store, plan); }, std::errc::io_error));
        const CleanupReceipt receipt =
            receiptAt(QUrl::fromLocalFile(path(QStringLiteral("CleanupRecords/") + receiptFiles().first())));
        ASSERT_EQ(receipt.outcomes.size(), 1) << "the move was announced before it was made";
        EXPECT_EQ(receipt.outcomes[0].error, QString::fromLatin1(StorageCleanupExecutor::interruptedError));
        EXPECT_FALSE(exists(plan.targets[0].relativePath));
        EXPECT_TRUE(trashedCopyOf(path(plan.targets[0].relativePath)));
        for (qsizetype i = 1; i < plan.targets.size(); ++i)
            EXPECT_TRUE(exists(plan.targets[i].relativePath));
        const WorkspaceSnapshot saved = stateOnDisk();
        EXPECT_EQ(saved.findMaterial(fixture.first)->status, MaterialStatus::trashed);
        EXPECT_EQ(saved.findMaterial(fixture.second)->status, MaterialStatus::trashed);
    }
}

TEST_F(StorageCleanupExecutionTest, HiddenShelvesAndBusyStoresAreRefusedWithoutAWrite)
{
    buildRealisticRoot();
    auto store = makeStore();
    const StorageCleanupPlan plan = preview(*store);
    ASSERT_EQ(plan.stagingCount(), 1);
    const CleanupTarget staging = plan.targets.first();
    const QString destination = temporary.path() + QStringLiteral("/copy.bin");
    const auto everyOperationFails = [&](StoreError::Code code) {
        return throwsStoreError([&] { preview(*store); }, code)
            && throwsStoreError([&] { waitForResult(store->stagingRecoveryInventory()); }, code)
            && throwsStoreError([&] { clean(*store, plan); }, code)
            && throwsStoreError(
                [&] { waitForResult(store->exportStagingCopy(staging, plan, QUrl::fromLocalFile(destination))); }, code);
    };

    // Another operation holds the store between its awaits.
    QSemaphore inside;
    QSemaphore open;
    struct Hold {};
    using Decision = StoreExecutor::Decision<int, Hold>;
    QFuture<int> holding = store->executor().runSuspending<int, Hold, int>(
        [](StoreContext&) -> Decision { return Hold{}; },
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
    persist(*store, hidden);
    const StorageCleanupPlan samePlan = [&] {
        StorageCleanupPlan copy = plan;
        copy.generation = load(*store).generation;
        return copy;
    }();
    EXPECT_TRUE(everyOperationFails(StoreError::Code::invalidSource));
    EXPECT_TRUE(throwsStoreError([&] { clean(*store, samePlan); }, StoreError::Code::invalidSource));
    EXPECT_FALSE(exists(QStringLiteral("CleanupRecords")));
    EXPECT_FALSE(QFileInfo::exists(destination));
    for (const CleanupTarget& target : plan.targets)
        EXPECT_TRUE(exists(target.relativePath));
}
