#include "CrashSweep.h"

#include "TolvexCore/Files/DataRootLock.h"

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class DataRootOwnershipTest : public StoreTestCase {};

} // namespace

// A second store over a root another store owns must not read or write it:
// its saves would silently undo the owner's confirmed changes.
TEST_F(DataRootOwnershipTest, ASecondStoreOverAnOwnedRootTouchesNothingUntilTheOwnerIsGone)
{
    const MaterialRecord record = builder().addMaterial("kept");
    builder().writeState(3);
    builder().writePreviousState(builder().snapshot());
    builder().interruptedImport("replayed", StoreJournal::Phase::contentCommitted);

    auto owner = makeStore();
    const WorkspaceSnapshot loaded = load(*owner);
    const QMap<QString, QByteArray> before = contents();

    auto second = makeStore();
    const std::vector<std::pair<const char*, std::function<void()>>> operations{
        {"load", [&] { load(*second); }},
        {"payloadURL", [&] { waitForResult(second->payloadURL(record.id)); }},
        {"clipboardPreferences", [&] { waitForResult(second->clipboardPreferences()); }},
        {"setClipboardEnabled", [&] { waitForResult(second->setClipboardEnabled(false)); }},
        {"restorePreviousSnapshot", [&] { waitForResult(second->restorePreviousSnapshot()); }},
        {"importMaterial", [&] { importText(*second, QStringLiteral("new")); }},
        {"apply", [&] { apply(*second, MaterialCommand::takeDown(record.id)); }},
        {"createNoteDraft", [&] { createNote(*second); }},
        {"previewStorageCleanup", [&] { waitForResult(second->previewStorageCleanup()); }},
    };
    for (const auto& [name, work] : operations)
        EXPECT_TRUE(throwsFileError(work, std::errc::operation_would_block)) << name;
    EXPECT_EQ(contents(), before) << "the refused store read and wrote nothing in the root";

    // Once refused, the store stays out even after the owner is gone: it
    // never loaded, so it has nothing it could save.
    owner.reset();
    EXPECT_TRUE(throwsFileError([&] { load(*second); }, std::errc::operation_would_block));
    second.reset();

    auto next = makeStore();
    EXPECT_EQ(load(*next), loaded) << "a new store loads once the owner is gone";
}

TEST_F(DataRootOwnershipTest, AStoreOverAHeldLockKeepsItForItsLife)
{
    // The lock makes the missing root, and the store loads that empty folder
    // as it would have loaded a missing root: a new workspace, in which the
    // clipboard intake starts switched off.
    auto store = std::make_unique<MaterialStore>(
        rootURL, SystemFileOperations::shared(), roomyBudget(), DataRootLock::acquire(rootPath));
    EXPECT_EQ(load(*store), WorkspaceSnapshot());
    EXPECT_FALSE(waitForResult(store->clipboardEnabled()));
    EXPECT_TRUE(throwsFileError([&] { DataRootLock::acquire(rootPath); }, std::errc::operation_would_block));

    store.reset();
    EXPECT_NO_THROW(DataRootLock::acquire(rootPath)) << "the store gives the lock up when it goes away";
}

namespace {

// How the user replaced the data root while a store held it: the folder was
// moved away (to "<root>.moved") and this was put at its path.
enum class Replacement { byteCopy, nothing, linkToTheMovedFolder };

QString replaceRoot(const QString& root, Replacement replacement)
{
    const QString moved = root + QStringLiteral(".moved");
    EXPECT_TRUE(QDir().rename(root, moved));
    switch (replacement) {
    case Replacement::byteCopy:
        CrashSweep::copyTree(moved, root);
        break;
    case Replacement::nothing:
        break;
    case Replacement::linkToTheMovedFolder:
        EXPECT_TRUE(QFile::link(moved, root));
        break;
    }
    return moved;
}

} // namespace

// A folder moved away stays locked wherever it goes, while whatever now
// stands at its path is free for another program: a store that went on
// writing by path would undo that program's commands, or write into a copy
// the user put back. It refuses instead, and writes nothing in either folder.
TEST_F(DataRootOwnershipTest, AStoreWhoseRootWasReplacedRefusesEveryOperationAndWritesNothing)
{
    for (const auto& [name, replacement] : {std::pair("a byte copy put back", Replacement::byteCopy),
             std::pair("nothing put back", Replacement::nothing),
             std::pair("a link to the moved folder put back", Replacement::linkToTheMovedFolder)}) {
        SCOPED_TRACE(name);
        QTemporaryDir folder;
        const QString root = folder.filePath(QStringLiteral("Tolvex"));
        DataRootBuilder built(root);
        const MaterialRecord record = built.addMaterial("kept");
        built.writeState(3);
        built.writePreviousState(built.snapshot());

        MaterialStore store(QUrl::fromLocalFile(root), SystemFileOperations::shared(), roomyBudget());
        apply(store, MaterialCommand::renameMaterial(record.id, QStringLiteral("renamed before")));

        const QString moved = replaceRoot(root, replacement);
        const QMap<QString, QByteArray> atPath = contentsOf(root);
        const QMap<QString, QByteArray> away = contentsOf(moved);
        const std::vector<std::pair<const char*, std::function<void()>>> operations{
            {"apply", [&] { apply(store, MaterialCommand::takeDown(record.id)); }},
            {"apply again", [&] { apply(store, MaterialCommand::renameMaterial(record.id, QStringLiteral("lost"))); }},
            {"load", [&] { load(store); }},
            {"importMaterial", [&] { importText(store, QStringLiteral("new")); }},
            {"setClipboardEnabled", [&] { waitForResult(store.setClipboardEnabled(false)); }},
            {"createNoteDraft", [&] { createNote(store); }},
            {"payloadURL", [&] { waitForResult(store.payloadURL(record.id)); }},
            {"restorePreviousSnapshot", [&] { waitForResult(store.restorePreviousSnapshot()); }},
            {"previewStorageCleanup", [&] { waitForResult(store.previewStorageCleanup()); }},
        };
        for (const auto& [operation, work] : operations)
            EXPECT_TRUE(throwsStoreError(work, StoreError::Code::rootReplaced)) << operation;
        EXPECT_EQ(contentsOf(root), atPath) << "nothing written at the path";
        EXPECT_EQ(contentsOf(moved), away) << "nothing written in the moved folder";
        if (replacement == Replacement::nothing) {
            EXPECT_FALSE(QFileInfo::exists(root)) << "the root is not made again";
        }
    }
}

// Two programs, one replaced root: the first keeps refusing, a second start
// claims the folder now at the path (nobody holds it), and every command
// either counts once in the state that stays or is refused.
TEST_F(DataRootOwnershipTest, AfterTheRootIsReplacedOnlyTheNewOwnerWritesAndEachCommandCountsOnce)
{
    const MaterialRecord first = builder().addMaterial("first");
    const MaterialRecord second = builder().addMaterial("second");
    const MaterialRecord third = builder().addMaterial("third");
    builder().writeState(1);

    auto earlier = makeStore();
    apply(*earlier, MaterialCommand::renameMaterial(first.id, QStringLiteral("renamed by the earlier program")));
    const QString moved = replaceRoot(rootPath, Replacement::byteCopy);

    auto later = makeStore();
    EXPECT_EQ(load(*later).generation, 2u) << "the copy holds the earlier program's command";
    apply(*later, MaterialCommand::takeDown(second.id));
    EXPECT_TRUE(throwsStoreError([&] { apply(*earlier, MaterialCommand::renameMaterial(third.id, QStringLiteral("lost"))); },
        StoreError::Code::rootReplaced));
    apply(*later, MaterialCommand::renameMaterial(third.id, QStringLiteral("renamed by the later program")));
    EXPECT_TRUE(throwsStoreError([&] { apply(*earlier, MaterialCommand::renameMaterial(first.id, QStringLiteral("lost"))); },
        StoreError::Code::rootReplaced));
    EXPECT_TRUE(throwsFileError([&] { DataRootLock::acquire(rootPath); }, std::errc::operation_would_block));
    earlier.reset();
    later.reset();

    const WorkspaceSnapshot kept = load(*makeStore());
    EXPECT_EQ(kept.generation, 4u) << "three commands saved, each once";
    EXPECT_EQ(kept.findMaterial(first.id)->title, QStringLiteral("renamed by the earlier program"));
    EXPECT_EQ(kept.findMaterial(second.id)->status, MaterialStatus::takenDown);
    EXPECT_EQ(kept.findMaterial(third.id)->title, QStringLiteral("renamed by the later program"));
    EXPECT_EQ(Json::decode<WorkspaceSnapshot>(contentsOf(moved).value(QStringLiteral("state.json"))).generation, 2u)
        << "the moved folder kept what it held when it was moved";
}

// A root given as a link is refused by the store, so its lock is not taken
// either, by the store or before it at start-up: the folder behind the link
// stays free for a start that names it.
TEST_F(DataRootOwnershipTest, ARootThatIsALinkIsNotLocked)
{
    const QString real = temporary.path() + QStringLiteral("/Real");
    const QString link = temporary.path() + QStringLiteral("/Link");
    ASSERT_TRUE(QDir().mkpath(real));
    ASSERT_TRUE(QFile::link(real, link));

    EXPECT_TRUE(throwsStoreError([&] { MaterialStore::lockDataRoot(QUrl::fromLocalFile(link)); },
        StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsFileError([&] { DataRootLock::acquire(link); }, std::errc::not_a_directory));
    EXPECT_TRUE(MaterialStore::lockDataRoot(QUrl::fromLocalFile(real)).isHeldFolder(real));
}
