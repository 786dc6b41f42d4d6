#include "StoreTesting.h"

#include "TolvexCore/Model/UuidText.h"

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class SnapshotRestoreTest : public StoreTestCase {
protected:
    WorkspaceSnapshot restore(MaterialStore& store) { return waitForResult(store.restorePreviousSnapshot()); }
    ::testing::AssertionResult restoreFails(StoreError::Code expected)
    {
        auto store = makeStore();
        return throwsStoreError([&] { restore(*store); }, expected);
    }
    QStringList damagedCopies() const
    {
        return QDir(rootPath).entryList({QStringLiteral("state.damaged.*")}, QDir::Files);
    }
    // The data root's top level and its contents, to show nothing changed.
    QList<QPair<QString, QByteArray>> topLevel() const
    {
        QList<QPair<QString, QByteArray>> result;
        for (const QString& name : QDir(rootPath).entryList(QDir::Files | QDir::Hidden, QDir::Name))
            result.append({name, bytes(name)});
        return result;
    }
};

} // namespace

TEST_F(SnapshotRestoreTest, ADamagedStateIsSetAsideAndThePreviousCopyTakesItsPlace)
{
    builder().addMaterial("one");
    builder().writeDamagedStateWithPrevious(12);
    const QByteArray damaged = bytes("state.json");
    const QByteArray previous = bytes("state.previous.json");
    // An import interrupted after the previous copy was made is taken in again.
    const MaterialRecord interrupted = builder().interruptedImport("late", StoreJournal::Phase::contentCommitted);

    auto store = makeStore();
    EXPECT_TRUE(throwsStoreError([&] { load(*store); }, StoreError::Code::recoveryRequired));
    const WorkspaceSnapshot restored = restore(*store);
    EXPECT_EQ(restored.generation, 12u) << "the restore keeps the previous copy's generation";
    ASSERT_EQ(restored.materials.size(), 2);
    EXPECT_EQ(restored.materials[1].id, interrupted.id);
    EXPECT_EQ(restored.materials[1].status, MaterialStatus::needsReview);

    EXPECT_EQ(bytes("state.json"), previous);
    EXPECT_EQ(bytes("state.previous.json"), previous);
    const QStringList copies = damagedCopies();
    ASSERT_EQ(copies.size(), 1);
    const QString id = copies[0].mid(QStringLiteral("state.damaged.").size(), 36);
    EXPECT_EQ(copies[0], QStringLiteral("state.damaged.") + id + QStringLiteral(".json"));
    ASSERT_TRUE(parseUuid(id).has_value());
    EXPECT_EQ(uuidText(*parseUuid(id)), id) << "an upper-case UUID";
    EXPECT_EQ(bytes(copies[0]), damaged);

    // The workspace is loaded now; the next save counts on from the previous copy.
    EXPECT_EQ(load(*store), restored);
    EXPECT_EQ(persist(*store, restored).generation, 13u);
    EXPECT_TRUE(throwsStoreError([&] { restore(*store); }, StoreError::Code::operationInProgress))
        << "a restore under a loaded workspace";
}

TEST_F(SnapshotRestoreTest, WhatHappensToTheCurrentStateDependsOnItsSchema)
{
    builder().addMaterial("one");
    builder().writePreviousState(builder().snapshot());

    // Valid JSON of schema 1 whose records break a rule is set aside too.
    WorkspaceSnapshot broken = builder().snapshot();
    broken.selectedMatterID = QUuid::createUuid();
    builder().writeStateBytes(Json::encode(broken));
    {
        auto store = makeStore();
        EXPECT_TRUE(throwsStoreError([&] { load(*store); }, StoreError::Code::invalidSnapshot));
    }
    EXPECT_NO_THROW({
        auto store = makeStore();
        restore(*store);
    });
    EXPECT_EQ(damagedCopies().size(), 1);

    // Another schema is a newer program's workspace: left alone.
    builder().writeSchemaVersion2();
    const auto before = topLevel();
    EXPECT_TRUE(restoreFails(StoreError::Code::unsupportedSchema));
    EXPECT_EQ(topLevel(), before);

    // No "state.json": nothing is moved, the copy is put in place.
    QFile::remove(path("state.json"));
    for (const QString& name : damagedCopies())
        QFile::remove(path(name));
    auto store = makeStore();
    EXPECT_EQ(restore(*store).materials.size(), 1);
    EXPECT_TRUE(damagedCopies().isEmpty());
    EXPECT_EQ(bytes("state.json"), bytes("state.previous.json"));
}

TEST_F(SnapshotRestoreTest, APreviousCopyThatCannotBeTrustedChangesNothing)
{
    const MaterialRecord kept = builder().addMaterial("kept");
    const MaterialRecord& trashed = builder().addMaterial("trashed", MaterialStatus::trashed);
    const QString trashedPayload = trashed.versions[0].relativePath;
    builder().writeDamagedStateWithPrevious(3);
    const QByteArray good = bytes("state.previous.json");

    // A missing payload of a trashed material does not matter...
    QFile::remove(path(trashedPayload));
    // ... but an altered or missing payload of any other material does.
    builder().alterPayload(kept.versions[0]);
    auto before = topLevel();
    EXPECT_TRUE(restoreFails(StoreError::Code::recoveryRequired));
    EXPECT_EQ(topLevel(), before);
    QFile::remove(path(kept.versions[0].relativePath));
    {
        auto store = makeStore();
        EXPECT_TRUE(throwsFileError([&] { restore(*store); }, std::errc::no_such_file_or_directory));
    }
    EXPECT_EQ(topLevel(), before);
    builder().writeFile(kept.versions[0].relativePath, "kept");

    builder().writePreviousStateBytes(good.left(10));
    before = topLevel();
    EXPECT_TRUE(restoreFails(StoreError::Code::recoveryRequired));
    EXPECT_EQ(topLevel(), before);

    WorkspaceSnapshot broken = Json::decode<WorkspaceSnapshot>(good);
    broken.matters.append(broken.matters[0]);
    builder().writePreviousState(broken);
    EXPECT_TRUE(restoreFails(StoreError::Code::invalidSnapshot));

    QFile::remove(path("state.previous.json"));
    {
        auto store = makeStore();
        EXPECT_TRUE(throwsFileError([&] { restore(*store); }, std::errc::no_such_file_or_directory));
    }
    QDir().mkpath(path("state.previous.json"));
    EXPECT_TRUE(restoreFails(StoreError::Code::recoveryRequired));
    QDir(path("state.previous.json")).removeRecursively();
    std::filesystem::create_symlink(path("state.json").toStdString(), path("state.previous.json").toStdString());
    EXPECT_TRUE(restoreFails(StoreError::Code::invalidPath));
    QFile::remove(path("state.previous.json"));

    builder().writePreviousStateBytes(good);
    auto store = makeStore();
    EXPECT_EQ(restore(*store).materials.size(), 2);
}

// A load that fails on a journal fails the same way over the previous copy:
// offering the restore would only set a healthy "state.json" aside, and every
// start with another try would add one more damaged copy.
TEST_F(SnapshotRestoreTest, ARestoreOnlyHappensWhenItsLoadWouldSucceed)
{
    const MaterialRecord kept = builder().addMaterial("kept");
    builder().writeState(5);
    builder().writePreviousState(builder().snapshot());
    const MaterialRecord interrupted = builder().interruptedImport("late", StoreJournal::Phase::contentCommitted);
    builder().alterPayload(interrupted.versions[0]);

    const QMap<QString, QByteArray> before = contents();
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto store = makeStore();
        EXPECT_TRUE(throwsStoreError([&] { load(*store); }, StoreError::Code::recoveryRequired));
        EXPECT_FALSE(waitForResult(store->canRestorePreviousSnapshot()));
        EXPECT_TRUE(throwsStoreError([&] { restore(*store); }, StoreError::Code::recoveryRequired));
        EXPECT_EQ(contents(), before) << "attempt " << attempt << " changed the data root";
    }

    // A damaged "state.json" over a healthy previous copy: offered, and it works.
    builder().writeFile(interrupted.versions[0].relativePath, "late");
    builder().writeStateBytes("{\"schemaVersion\":1,");
    const QMap<QString, QByteArray> damaged = contents();
    auto store = makeStore();
    EXPECT_TRUE(throwsStoreError([&] { load(*store); }, StoreError::Code::recoveryRequired));
    EXPECT_TRUE(waitForResult(store->canRestorePreviousSnapshot()));
    EXPECT_EQ(contents(), damaged) << "asking changes nothing";
    EXPECT_EQ(restore(*store).materials.size(), 2) << "the journal's material is taken in";
    EXPECT_FALSE(waitForResult(store->canRestorePreviousSnapshot())) << "a loaded workspace is not restored";
    EXPECT_EQ(damagedCopies().size(), 1);
    EXPECT_EQ(load(*store).findMaterial(kept.id)->status, MaterialStatus::hanging);
}

TEST_F(SnapshotRestoreTest, AFailedMoveOrCopyLeavesTheStateAsItWas)
{
    builder().addMaterial("one");
    builder().writeDamagedStateWithPrevious(2);
    const QByteArray damaged = bytes("state.json");
    auto files = faultInjecting();
    files->failCall(1, EIO, FileOperation::move);
    auto store = makeStore(files);
    EXPECT_TRUE(throwsFileError([&] { restore(*store); }, std::errc::io_error));
    EXPECT_EQ(bytes("state.json"), damaged);

    // The copy fails after the move: the damaged file goes back to its name,
    // and the restore can be asked for again.
    files->reset();
    files->failCall(1, EIO, FileOperation::copy);
    EXPECT_TRUE(throwsFileError([&] { restore(*store); }, std::errc::io_error));
    EXPECT_EQ(bytes("state.json"), damaged);
    EXPECT_TRUE(damagedCopies().isEmpty());
    files->reset();
    EXPECT_EQ(restore(*store).generation, 2u);
}
