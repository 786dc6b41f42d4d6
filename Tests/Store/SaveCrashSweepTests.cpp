#include "CrashSweep.h"

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class SaveCrashSweepTest : public StoreTestCase {};

} // namespace

TEST_F(SaveCrashSweepTest, EverySaveCrashLeavesTheOldOrTheNewSnapshotWhole)
{
    DataRootBuilder& root = builder();
    root.addMaterial("first");
    root.addMaterial("second", MaterialStatus::takenDown);
    root.addMaterial("third");
    WorkspaceSnapshot fourth = root.snapshot();
    fourth.generation = 4;
    fourth.materials.removeLast();
    root.writePreviousState(fourth);
    root.writeState(5);
    const QByteArray fifthBytes = root.readFile("state.json");
    const QByteArray fourthBytes = root.readFile("state.previous.json");

    WorkspaceSnapshot fifth = Json::decode<WorkspaceSnapshot>(fifthBytes);
    WorkspaceSnapshot sixth = fifth;
    sixth.generation = 6;
    sixth.privacyHidden = true;
    sixth.materials[1].status = MaterialStatus::hanging;
    sixth.materials[2].title = QStringLiteral("renamed");

    QTemporaryDir work;
    CrashSweep sweep;
    sweep.preparedRoot = rootPath;
    sweep.operation = [&](MaterialStore& store) {
        const WorkspaceSnapshot saved = persist(store, sixth);
        EXPECT_EQ(saved, sixth);
    };
    int olds = 0;
    int news = 0;
    sweep.check = [&](const QString& copy, const SweepStep&) {
        MaterialStore store(QUrl::fromLocalFile(copy), SystemFileOperations::shared(), roomyBudget());
        WorkspaceSnapshot loaded;
        ASSERT_NO_THROW(loaded = waitForResult(store.load()));
        QFile previous(copy + QStringLiteral("/state.previous.json"));
        ASSERT_TRUE(previous.open(QIODevice::ReadOnly)) << "the previous copy is never lost";
        const QByteArray previousBytes = previous.readAll();
        if (loaded == fifth) {
            ++olds;
            EXPECT_TRUE(previousBytes == fourthBytes || previousBytes == fifthBytes);
        } else {
            ++news;
            EXPECT_EQ(loaded, sixth) << "neither the old nor the new snapshot";
            EXPECT_EQ(previousBytes, fifthBytes);
        }
        // Whatever is left beside the two files is no JSON document the store reads.
        for (const QString& name : QDir(copy).entryList(QDir::Files | QDir::Hidden)) {
            if (name.endsWith(QStringLiteral(".json"))) {
                EXPECT_TRUE(name == u"state.json" || name == u"state.previous.json") << name.toStdString();
            }
        }
        // And the workspace still saves.
        EXPECT_NO_THROW(persist(store, loaded));
    };
    const int calls = sweep.run(work.path());
    RecordProperty("calls", calls);
    EXPECT_GE(calls, 4) << "inspect, read, and two atomic writes at least";
    EXPECT_GT(olds, 0);
    EXPECT_EQ(olds + news, calls * 3);
}

TEST_F(SaveCrashSweepTest, TheFirstSaveOfANewRootLeavesAnEmptyOrTheNewWorkspace)
{
    QDir().mkpath(rootPath);
    WorkspaceSnapshot first;
    first.generation = 1;
    first.privacyHidden = true;

    QTemporaryDir work;
    CrashSweep sweep;
    sweep.preparedRoot = rootPath;
    sweep.operation = [&](MaterialStore& store) { persist(store, first); };
    sweep.check = [&](const QString& copy, const SweepStep&) {
        MaterialStore store(QUrl::fromLocalFile(copy), SystemFileOperations::shared(), roomyBudget());
        WorkspaceSnapshot loaded;
        ASSERT_NO_THROW(loaded = waitForResult(store.load()));
        EXPECT_TRUE(loaded == WorkspaceSnapshot() || loaded == first);
    };
    sweep.run(work.path());
}
