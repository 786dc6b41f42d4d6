#include "StoreTesting.h"

#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/GuardedPathCache.h"

#include <QFileInfo>

#include <filesystem>
#include <functional>
#include <vector>

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
    // Nothing of a refused save is left anywhere, though its bytes were
    // written beside "state.json" while it was validated.
    const QMap<QString, QByteArray> before = contents();
    broken.selectedMatterID = QUuid::createUuid();
    EXPECT_TRUE(throwsStoreError([&] { persist(*store, broken); }, StoreError::Code::invalidSnapshot));
    WorkspaceSnapshot linked = load(*store);
    linked.materials[0].versions[0].relativePath = QStringLiteral("Materials/x");
    EXPECT_TRUE(throwsStoreError([&] { persist(*store, linked); }, StoreError::Code::invalidSnapshot));
    EXPECT_EQ(bytes("state.json"), state);
    EXPECT_EQ(bytes("state.previous.json"), "older");
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(load(*store).generation, 3u);

    // The generation may not reach the largest value.
    WorkspaceSnapshot last = builder().snapshot();
    last.generation = std::numeric_limits<std::uint64_t>::max() - 1;
    builder().writeStateBytes(Json::encode(last));
    store.reset();
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
    const QStringList entriesBefore = entries();

    WorkspaceSnapshot changed = loaded;
    changed.privacyHidden = true;
    // The new "state.json" is written beside the old one first (its own
    // first atomic write), then the previous copy is made, then the new one
    // is moved in place.
    const struct {
        const char* name;
        FileOperation operation;
        int error;
    } faults[] = {
        {"writing the new bytes, disk full", FileOperation::writeAtomic, ENOSPC},
        {"moving them in place", FileOperation::commitAtomicWrite, EIO},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.name);
        files->reset();
        files->failCall(1, fault.error, fault.operation);
        EXPECT_TRUE(throwsFileError([&] { persist(*store, changed); }, static_cast<std::errc>(fault.error)));
        EXPECT_EQ(load(*store), loaded);
        EXPECT_EQ(bytes("state.json"), fifth);
        EXPECT_EQ(bytes("state.previous.json"), fifth) << "the previous copy was made before the write failed";
        QStringList expected = entriesBefore;
        if (!expected.contains(QStringLiteral("state.previous.json")))
            expected.append(QStringLiteral("state.previous.json"));
        expected.sort();
        QStringList left = entries();
        left.sort();
        EXPECT_EQ(left, expected) << "no temporary file is left beside them";
    }

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

    // Many paths at once, enough to be looked at on several threads: the
    // answer is the guard's for the first path it refuses, also when
    // "Materials" was listed ahead and the paths below it go first.
    for (const bool prepared : {false, true}) {
        for (const QString& relative : paths) {
            std::vector<const QString*> many(700, &plainPath);
            many.insert(many.begin() + 350, &relative);
            many.insert(many.begin() + 500, &filePath);
            const std::string expected = outcome([&] {
                guard.url(relative);
                guard.url(filePath);
            });
            EXPECT_EQ(outcome([&] {
                GuardedPathCache cache(guard);
                if (prepared)
                    cache.prepareTopFolder(QStringLiteral("Materials"));
                cache.checkAll(many);
            }),
                expected)
                << relative.toStdString() << (prepared ? ", listed ahead" : "");
        }
    }
}

// Validation looks at the stored paths after the rules that need no file
// system, yet must answer as a check of each record in turn.
TEST_F(StoreSavingTest, TheFirstRecordInOrderDecidesTheValidationError)
{
    DataRootBuilder& root = builder();
    for (int i = 0; i < 600; ++i)
        root.addMaterial("plain");
    root.writeState(1);
    auto store = makeStore();
    const WorkspaceSnapshot loaded = load(*store);

    const auto linkAt = [&](WorkspaceSnapshot& snapshot, int index) {
        const MaterialVersion& version = snapshot.materials[index].versions[0];
        QFile::remove(root.path(version.relativePath));
        std::filesystem::create_symlink("elsewhere", root.path(version.relativePath).toStdString());
    };
    const auto badDigestAt = [](WorkspaceSnapshot& snapshot, int index) { snapshot.materials[index].versions[0].sha256.chop(1); };
    const auto lostGroupAt = [](WorkspaceSnapshot& snapshot, int index) { snapshot.materials[index].matterID = QUuid::createUuid(); };
    const struct {
        const char* name;
        std::function<void(WorkspaceSnapshot&)> spoil;
        const char* error;
    } cases[] = {
        {"a link before a broken rule", [&](auto& s) { linkAt(s, 100); badDigestAt(s, 500); }, "invalidPath"},
        {"a broken rule before a link", [&](auto& s) { badDigestAt(s, 100); linkAt(s, 500); }, "invalidSnapshot"},
        {"a link before a lost group", [&](auto& s) { linkAt(s, 10); lostGroupAt(s, 11); }, "invalidPath"},
        {"a lost group before a link", [&](auto& s) { lostGroupAt(s, 10); linkAt(s, 11); }, "invalidSnapshot"},
        {"a link in the first record", [&](auto& s) { linkAt(s, 0); }, "invalidPath"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WorkspaceSnapshot spoiled = loaded;
        c.spoil(spoiled);
        EXPECT_EQ(outcome([&] { persist(*store, spoiled); }), c.error);
        // Put the payloads back for the next case.
        for (const MaterialRecord& record : loaded.materials) {
            const QString path = root.path(record.versions[0].relativePath);
            if (QFileInfo(path).isSymLink()) {
                QFile::remove(path);
                root.writeFile(record.versions[0].relativePath, "payload");
            }
        }
    }
}
