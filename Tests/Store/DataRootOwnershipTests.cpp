#include "StoreTesting.h"

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
