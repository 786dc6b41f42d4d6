#include "CleanupTesting.h"
#include "CrashSweep.h"

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class CleanupCrashSweepTest : public CleanupTestCase {
protected:
    static bool sameFingerprintsAt(const QString& path, const CleanupTarget& target)
    {
        try {
            return fingerprintsAt(path) == target.fingerprints;
        } catch (const std::exception&) {
            return false;
        }
    }
};

} // namespace

// Whatever call of a cleanup fails or "crashes", a new store finds:
// - a receipt that decodes and names the confirmed targets, whose outcomes
//   tell of each target whether it was moved (an "interrupted" one, only the
//   last, says its move was under way: it is in place or in the Trash);
// - every target either in place, unchanged, or in the Trash, unchanged;
// - every material of a target in place with its old status or trashed (the
//   next preview proposes it again), and trashed when its folder is gone;
// - a data root it can load and preview.
TEST_F(CleanupCrashSweepTest, EveryInterruptedCleanupLeavesAReceiptThatTellsTheTruth)
{
    DataRootBuilder& root = builder();
    const QUuid down = root.addMaterial("taken down", MaterialStatus::takenDown).id;
    root.writeFile(QStringLiteral("Materials/") + uuidText(down) + QStringLiteral("/notes/a.txt"), "a");
    root.addMaterial("already trashed", MaterialStatus::trashed);
    const QUuid hanging = root.addMaterial("hanging").id;
    writeExport(QStringLiteral("old.txt"), "old export", Date::now());
    writeExport(QStringLiteral("Bundle/one.txt"), "one", Date::now());
    writeStaging("left by a stopped import");
    const QUuid edited = root.addMaterial("before the edit").id;
    root.writeState(5);

    // Exports count as old against a preview three days ahead: copies of the
    // prepared root get new modification dates.
    const Date later = Date::now().addingSeconds(3 * 86400);
    auto plan = std::make_shared<StorageCleanupPlan>();
    auto before = std::make_shared<WorkspaceSnapshot>();

    QTemporaryDir work;
    CrashSweep sweep;
    sweep.preparedRoot = rootPath;
    sweep.setUp = [&](MaterialStore& store) {
        // A saved edit leaves its session folder behind. Made in each copy:
        // a session records the absolute place of its working file.
        const EditSession session = waitForResult(store.createDerivedVersion(edited, VersionKind::textEdit));
        waitForResult(store.writeEditingResult(session, "after the edit"));
        waitForResult(store.finishEditing(session, EditResult::save(session.workingURL)));
        *before = waitForResult(store.load());
        *plan = waitForResult(store.previewStorageCleanup(later));
        ASSERT_EQ(plan->targets.size(), 6);
    };
    sweep.operation = [&](MaterialStore& store) { waitForResult(store.cleanStorage(*plan)); };

    int completeRuns = 0;
    int interruptedMarks = 0;
    int movedSomewhere = 0;
    sweep.check = [&](const QString& copy, const SweepStep&) {
        MaterialStore store(QUrl::fromLocalFile(copy), SystemFileOperations::shared(), roomyBudget());
        WorkspaceSnapshot loaded;
        ASSERT_NO_THROW(loaded = waitForResult(store.load()));
        for (const QUuid& untouched : {hanging, edited})
            ASSERT_NO_THROW(waitForResult(store.payloadURL(untouched))) << "what was not confirmed is untouched";

        const QStringList receipts = QDir(copy + QStringLiteral("/CleanupRecords")).entryList({QStringLiteral("*.json")}, QDir::Files);
        ASSERT_LE(receipts.size(), 1);
        std::optional<CleanupReceipt> receipt;
        if (!receipts.isEmpty()) {
            QFile file(copy + QStringLiteral("/CleanupRecords/") + receipts.first());
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            ASSERT_NO_THROW(receipt = Json::decode<CleanupReceipt>(file.readAll())) << "the receipt always decodes";
            EXPECT_EQ(receipt->id, plan->id);
            EXPECT_EQ(receipt->targets, plan->targets);
            EXPECT_EQ(receipt->snapshotBefore, *before);
            ASSERT_LE(receipt->outcomes.size(), plan->targets.size());
            if (receipt->outcomes.size() == plan->targets.size()
                && receipt->outcomes.last().error != QString::fromLatin1(StorageCleanupExecutor::interruptedError))
                ++completeRuns;
        }

        QStringList inPlace;
        for (qsizetype i = 0; i < plan->targets.size(); ++i) {
            const CleanupTarget& target = plan->targets[i];
            SCOPED_TRACE(target.relativePath.toStdString());
            const QString place = copy + u'/' + target.relativePath;
            const bool there = QFileInfo::exists(place) || QFileInfo(place).isSymLink();
            const std::optional<CleanupReceipt::Outcome> outcome =
                receipt && i < receipt->outcomes.size() ? std::optional(receipt->outcomes[i]) : std::nullopt;
            const bool interrupted =
                outcome && outcome->error == QString::fromLatin1(StorageCleanupExecutor::interruptedError);
            if (interrupted) {
                EXPECT_EQ(i, receipt->outcomes.size() - 1) << "only the last outcome can be under way";
                ++interruptedMarks;
            }
            if (outcome) {
                EXPECT_EQ(outcome->originalPath, place);
            }

            if (there) {
                inPlace.append(target.relativePath);
                EXPECT_TRUE(sameFingerprintsAt(place, target)) << "unchanged in place";
                EXPECT_TRUE(!outcome || !outcome->trashURL) << "the receipt says it was moved";
            } else {
                ++movedSomewhere;
                ASSERT_TRUE(outcome) << "moved without a word in the receipt";
                const std::optional<QString> trashed =
                    outcome->trashURL ? std::optional(outcome->trashURL->toLocalFile()) : trashedCopyOf(place);
                ASSERT_TRUE(trashed) << "neither in place nor in the Trash";
                EXPECT_TRUE(interrupted || outcome->trashURL) << "a finished outcome of a moved target names the Trash";
                EXPECT_TRUE(sameFingerprintsAt(*trashed, target)) << "unchanged in the Trash";
            }

            if (target.kind == CleanupTarget::Kind::material) {
                const MaterialRecord* record = loaded.findMaterial(*target.materialID);
                ASSERT_TRUE(record);
                if (there)
                    EXPECT_TRUE(record->status == before->findMaterial(record->id)->status
                        || record->status == MaterialStatus::trashed);
                else
                    EXPECT_EQ(record->status, MaterialStatus::trashed);
            }
        }

        // The data root is still one the store understands, and what stayed is proposed again.
        StorageCleanupPlan again;
        ASSERT_NO_THROW(again = waitForResult(store.previewStorageCleanup(later)));
        QStringList proposed = pathsOf(again.targets);
        std::sort(proposed.begin(), proposed.end());
        std::sort(inPlace.begin(), inPlace.end());
        EXPECT_EQ(proposed, inPlace);
    };
    const int calls = sweep.run(work.path());
    RecordProperty("sweptCalls", calls);
    EXPECT_GT(calls, 40);
    EXPECT_GT(completeRuns, 0);
    EXPECT_GT(interruptedMarks, 0) << "some crash fell between a move and its outcome";
    EXPECT_GT(movedSomewhere, 0);
}
