#include "CrashSweep.h"
#include "EditTesting.h"

#include "TolvexCore/Files/DataRootLock.h"

#include <chrono>
#include <future>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class DataRootOwnershipTest : public EditTestCase {};

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

namespace {

bool isWrite(FileOperation operation)
{
    switch (operation) {
    case FileOperation::createDirectory:
    case FileOperation::copy:
    case FileOperation::move:
    case FileOperation::writeAtomic:
    case FileOperation::commitAtomicWrite:
    case FileOperation::trash:
    case FileOperation::removeAtomicWriteLeftover:
        return true;
    default:
        return false;
    }
}

} // namespace

// The root replaced by a copy (a backup restored) right before each write
// of an operation in flight: the write lands in the folder the store holds,
// now moved away, or the operation is refused; the folder now at the path,
// which another program may hold by then, keeps every byte it had. The
// store refuses its next operation as ever.
TEST_F(DataRootOwnershipTest, AWriteInFlightWhenTheRootIsReplacedNeverLandsInTheFolderNowAtThePath)
{
    const MaterialRecord text = addText("base text");
    builder().writeState(3);
    builder().writePreviousState(builder().snapshot());

    // What each case keeps between its setUp and its check.
    struct Run {
        EditSession session;
        QUuid draft;
    };
    const struct {
        const char* name;
        std::function<void(MaterialStore&, Run&)> setUp;
        std::function<void(MaterialStore&, Run&)> operation;
        // What the held folder shows when the operation succeeded.
        std::function<void(const WorkspaceSnapshot&)> check;
    } cases[] = {
        {"a save", [](MaterialStore&, Run&) {},
            [&](MaterialStore& store, Run&) { apply(store, MaterialCommand::renameMaterial(text.id, QStringLiteral("renamed"))); },
            [&](const WorkspaceSnapshot& held) { EXPECT_EQ(held.findMaterial(text.id)->title, QStringLiteral("renamed")); }},
        {"an import", [](MaterialStore&, Run&) {}, [](MaterialStore& store, Run&) { importText(store, QStringLiteral("imported")); },
            [](const WorkspaceSnapshot& held) { EXPECT_EQ(held.materials.size(), 2); }},
        {"a note publication",
            [](MaterialStore& store, Run& run) {
                run.draft = createNote(store).id;
                updateNote(store, run.draft, QStringLiteral("a note"));
            },
            [](MaterialStore& store, Run& run) { publishNote(store, run.draft); },
            [](const WorkspaceSnapshot& held) { EXPECT_EQ(held.materials.size(), 2); }},
        {"an edit's finish",
            [&](MaterialStore& store, Run& run) {
                run.session = create(store, text.id, VersionKind::textEdit);
                write(store, run.session, "edited text");
            },
            [](MaterialStore& store, Run& run) { save(store, run.session); },
            [&](const WorkspaceSnapshot& held) { EXPECT_EQ(held.findMaterial(text.id)->versions.size(), 2); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir work;
        int writes = 0;
        for (int index = 0; index == 0 || index <= writes; ++index) {
            const QString root = work.filePath(QStringLiteral("run-%1/Tolvex").arg(index));
            CrashSweep::copyTree(rootPath, root);
            auto files = faultInjecting();
            auto store = std::make_unique<MaterialStore>(QUrl::fromLocalFile(root), files, roomyBudget());
            load(*store);
            Run run;
            c.setUp(*store, run);
            files->reset();
            files->setFilter([](FileOperation operation, const QUrl&) { return isWrite(operation); });
            if (index == 0) {
                // The first run counts the writes.
                c.operation(*store, run);
                writes = files->totalCallCount();
                ASSERT_GT(writes, 0);
                continue;
            }
            SCOPED_TRACE("replaced before write " + std::to_string(index));
            files->holdCall(index);
            std::future<std::exception_ptr> running = std::async(std::launch::async, [&]() -> std::exception_ptr {
                try {
                    c.operation(*store, run);
                    return nullptr;
                } catch (...) {
                    return std::current_exception();
                }
            });
            bool held = false;
            while (!held && running.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
                held = files->waitUntilHeld(std::chrono::milliseconds(10));
            ASSERT_TRUE(held) << "the write was reached";
            const QString moved = replaceRoot(root, Replacement::byteCopy);
            const QMap<QString, QByteArray> atPath = contentsOf(root);
            files->release();
            const std::exception_ptr failure = running.get();

            EXPECT_EQ(contentsOf(root), atPath) << "nothing written in the folder now at the path";
            if (failure) {
                EXPECT_TRUE(throwsStoreError([&] { std::rethrow_exception(failure); }, StoreError::Code::rootReplaced));
            }
            EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::takeDown(text.id)); }, StoreError::Code::rootReplaced));
            EXPECT_EQ(contentsOf(root), atPath);
            store.reset();

            MaterialStore heldStore(QUrl::fromLocalFile(moved), SystemFileOperations::shared(), roomyBudget());
            WorkspaceSnapshot kept;
            ASSERT_NO_THROW(kept = load(heldStore)) << "the held folder stays whole";
            if (!failure)
                c.check(kept);
        }
    }
}
