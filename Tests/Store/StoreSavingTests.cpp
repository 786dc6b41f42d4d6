#include "StoreTesting.h"

#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/GuardedPathCache.h"

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class StoreSavingTest : public StoreTestCase {};

// Whether `work` throws, and with what, as one comparable text.
template <typename Work>
std::string outcome(Work&& work)
{
    try {
        work();
        return "accepted";
    } catch (const StoreError& error) {
        return std::string(error.caseName());
    } catch (const std::exception& error) {
        return error.what();
    }
}

} // namespace

TEST_F(StoreSavingTest, GenerationsCountFromTheLoadedSnapshotAndThePreviousCopyFollows)
{
    {
        auto store = makeStore();
        WorkspaceSnapshot snapshot = load(*store);
        snapshot.privacyHidden = true;
        snapshot.generation = 41; // the caller's generation never counts
        const WorkspaceSnapshot saved = persist(*store, snapshot);
        EXPECT_EQ(saved.generation, 1u);
        EXPECT_EQ(stateOnDisk(), saved);
        EXPECT_FALSE(exists("state.previous.json")) << "the first save has nothing to keep";
        EXPECT_EQ(load(*store), saved);
    }

    builder().addMaterial("a material");
    builder().writeState(7);
    const QByteArray seventh = bytes("state.json");
    auto store = makeStore();
    WorkspaceSnapshot snapshot = load(*store);
    snapshot.generation = 100;
    snapshot.materials[0].title = QStringLiteral("renamed");
    const WorkspaceSnapshot eighth = persist(*store, snapshot);
    EXPECT_EQ(eighth.generation, 8u);
    EXPECT_EQ(bytes("state.previous.json"), seventh);
    EXPECT_EQ(stateOnDisk(), eighth);
    EXPECT_EQ(persist(*store, eighth).generation, 9u);
    EXPECT_EQ(stateOnDisk("state.previous.json"), eighth);
}

TEST_F(StoreSavingTest, ASnapshotThatBreaksARuleIsNotWritten)
{
    builder().addMaterial("kept");
    builder().writeState(3);
    builder().writePreviousStateBytes("older");
    const QByteArray state = bytes("state.json");

    auto store = makeStore();
    WorkspaceSnapshot broken = load(*store);
    broken.selectedMatterID = QUuid::createUuid();
    EXPECT_TRUE(throwsStoreError([&] { persist(*store, broken); }, StoreError::Code::invalidSnapshot));
    WorkspaceSnapshot linked = load(*store);
    linked.materials[0].versions[0].relativePath = QStringLiteral("Materials/x");
    EXPECT_TRUE(throwsStoreError([&] { persist(*store, linked); }, StoreError::Code::invalidSnapshot));
    EXPECT_EQ(bytes("state.json"), state);
    EXPECT_EQ(bytes("state.previous.json"), "older");
    EXPECT_EQ(load(*store).generation, 3u);

    // The generation may not reach the largest value.
    WorkspaceSnapshot last = builder().snapshot();
    last.generation = std::numeric_limits<std::uint64_t>::max() - 1;
    builder().writeStateBytes(Json::encode(last));
    auto nearEnd = makeStore();
    EXPECT_TRUE(throwsStoreError([&] { persist(*nearEnd, load(*nearEnd)); }, StoreError::Code::invalidSnapshot));
}

TEST_F(StoreSavingTest, AFailedSaveLeavesTheLoadedWorkspaceAsItWas)
{
    builder().addMaterial("kept");
    builder().writeState(5);
    const QByteArray fifth = bytes("state.json");
    auto files = faultInjecting();
    auto store = makeStore(files);
    const WorkspaceSnapshot loaded = load(*store);

    WorkspaceSnapshot changed = loaded;
    changed.privacyHidden = true;
    files->reset();
    files->failCall(2, EIO, FileOperation::writeAtomic); // "state.json" itself, after the previous copy
    EXPECT_TRUE(throwsFileError([&] { persist(*store, changed); }, std::errc::io_error));
    EXPECT_EQ(load(*store), loaded);
    EXPECT_EQ(bytes("state.json"), fifth);
    EXPECT_EQ(bytes("state.previous.json"), fifth) << "the previous copy was made before the write failed";

    files->reset();
    EXPECT_EQ(persist(*store, changed).generation, 6u);
}

TEST_F(StoreSavingTest, ExistenceIsTrueForAnyItemFalseWhenMissingAndOtherErrorsPassThrough)
{
    auto files = faultInjecting();
    auto store = makeStore(files);
    load(*store);
    auto existsAt = [&](const QString& relative) {
        return waitForResult(store->executor().run(
            [relative](StoreContext& context) { return context.exists(context.url(relative)); }));
    };
    EXPECT_TRUE(existsAt("Materials"));
    EXPECT_FALSE(existsAt("state.json"));
    EXPECT_FALSE(existsAt("Materials/none/below"));
    builder().writeFile("Exports/file", "x");
    EXPECT_FALSE(existsAt("Exports/file/below")) << "a file on the way counts as missing";

    files->reset();
    files->failCall(1, EACCES, FileOperation::inspect);
    EXPECT_TRUE(throwsFileError([&] { existsAt("Materials"); }, std::errc::permission_denied));
}

TEST_F(StoreSavingTest, TheValidationCacheAnswersAsThePathGuardDoes)
{
    DataRootBuilder& root = builder();
    const MaterialRecord plain = root.addMaterial("plain");
    const MaterialRecord linkedFile = root.addMaterial("file link");
    const MaterialRecord linkedFolder = root.addMaterial("folder link");
    const QString plainPath = plain.versions[0].relativePath;
    const QString filePath = linkedFile.versions[0].relativePath;
    QFile::remove(root.path(filePath));
    std::filesystem::create_symlink(root.path(plainPath).toStdString(), root.path(filePath).toStdString());
    root.plantMaterialsLink(linkedFolder.id);
    QDir().mkpath(root.path("Materials/AFILE"));
    root.writeFile("Materials/regular", "a file where a folder is expected");

    const QStringList paths = {plainPath, filePath, linkedFolder.versions[0].relativePath,
        "Materials/" + uuidText(QUuid::createUuid()) + "/missing.txt", "Materials/regular/below", "Materials/AFILE/x",
        "Materials//x", "Materials/./x", "Materials/../state.json", "/Materials/x", "Materials/x/", "Materials",
        "state.json", QStringLiteral("Materials/a") + QChar(u'\0') + QStringLiteral("b/c"), "Materials/AFILE/..",
        "Materials/AFILE/."};
    const OwnedPaths guard(root.rootURL());
    GuardedPathCache cache(guard);
    for (int pass = 0; pass < 2; ++pass) { // the second pass answers from the cache
        for (const QString& relative : paths) {
            EXPECT_EQ(outcome([&] { cache.check(relative); }), outcome([&] { guard.url(relative); })) << relative.toStdString();
        }
    }
    EXPECT_EQ(outcome([&] { cache.check(plainPath); }), "accepted");
    EXPECT_EQ(outcome([&] { cache.check(filePath); }), "invalidPath");
}
