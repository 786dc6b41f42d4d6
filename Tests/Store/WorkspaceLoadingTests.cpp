#include "StoreTesting.h"

#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/SchemaVersionProbe.h"

#include <QRegularExpression>

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class WorkspaceLoadingTest : public StoreTestCase {
protected:
    ::testing::AssertionResult loadFails(StoreError::Code expected)
    {
        auto store = makeStore();
        return throwsStoreError([&] { load(*store); }, expected);
    }
};

QByteArray replaced(QByteArray bytes, const QByteArray& from, const QByteArray& to)
{
    const qsizetype at = bytes.indexOf(from);
    EXPECT_GE(at, 0) << from.constData();
    return bytes.replace(at, from.size(), to);
}

} // namespace

TEST(SchemaVersionProbeTest, ReadsOnlyAnExactTopLevelInteger)
{
    EXPECT_EQ(probeSchemaVersion(R"({"schemaVersion":1,"materials":[]})"), 1);
    EXPECT_EQ(probeSchemaVersion(R"({"a":{"schemaVersion":5},"schemaVersion":2})"), 2);
    EXPECT_EQ(probeSchemaVersion(R"({"schemaVersion":1.0})"), 1);
    EXPECT_EQ(probeSchemaVersion(R"({"schemaVersion":-3})"), -3);
    EXPECT_EQ(probeSchemaVersion(R"({"schemaVersion":9223372036854775807})"), std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(probeSchemaVersion(R"({"schemaVersion":9223372036854775808})"));
    EXPECT_FALSE(probeSchemaVersion(R"({"schemaVersion":1.5})"));
    EXPECT_FALSE(probeSchemaVersion(R"({"schemaVersion":"1"})"));
    EXPECT_FALSE(probeSchemaVersion(R"({"schemaVersion":[1]})"));
    EXPECT_FALSE(probeSchemaVersion(R"({"a":{"schemaVersion":1}})"));
    EXPECT_FALSE(probeSchemaVersion(R"([{"schemaVersion":1}])"));
    EXPECT_FALSE(probeSchemaVersion(R"({"schemaVersion":1)")) << "the whole text must be JSON";
    EXPECT_FALSE(probeSchemaVersion(R"({"schemaVersion":1} x)"));
    EXPECT_FALSE(probeSchemaVersion(""));
}

TEST_F(WorkspaceLoadingTest, ANewDataRootIsCreatedOnFirstUseAndNothingIsWritten)
{
    auto files = faultInjecting();
    auto store = makeStore(files);
    EXPECT_FALSE(QFileInfo::exists(rootPath)) << "making a store touches nothing";

    const WorkspaceSnapshot snapshot = load(*store);
    EXPECT_EQ(snapshot, WorkspaceSnapshot());
    EXPECT_EQ(entries(), (QStringList{"Drafts", "Exports", "Materials", "Transactions"}));

    QStringList created;
    for (const auto& call : files->log()) {
        EXPECT_NE(call.operation, FileOperation::writeAtomic);
        if (call.operation == FileOperation::createDirectory)
            created.append(QFileInfo(call.url.toLocalFile()).fileName());
    }
    // The root first, then the four folders in their order (the guard checks each).
    EXPECT_EQ(created, (QStringList{"Tolvex", "Materials", "Drafts", "Transactions", "Exports"}));
    // A new workspace: clipboard intake starts switched off.
    EXPECT_FALSE(waitForResult(store->clipboardEnabled()));

    // A second load answers from memory: no file call at all.
    const int callsBefore = files->totalCallCount();
    EXPECT_EQ(load(*store), snapshot);
    EXPECT_EQ(files->totalCallCount(), callsBefore);
}

TEST_F(WorkspaceLoadingTest, AStateFileThatCannotBeTrustedIsNeverReplaced)
{
    builder().addMaterial("hello");
    builder().writeState(3);
    const QByteArray good = bytes("state.json");

    builder().writeSchemaVersion2();
    EXPECT_TRUE(loadFails(StoreError::Code::unsupportedSchema));
    builder().writeStateBytes(replaced(good, "\"schemaVersion\":1", "\"schemaVersion\":\"1\""));
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired));
    builder().writeStateBytes(replaced(good, "\"schemaVersion\":1,", ""));
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired));
    builder().writeStateBytes(replaced(good, "\"materials\":", "\"materialz\":"));
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired)) << "schema 1 but no materials key";
    builder().writeStateBytes(good.left(good.size() - 1));
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired));
    builder().writeStateBytes("[]");
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired));

    // In every case the file is left as it was for the user to restore.
    EXPECT_EQ(bytes("state.json"), "[]");

    // Not a regular file.
    QFile::remove(path("state.json"));
    QDir().mkpath(path("state.json"));
    EXPECT_TRUE(loadFails(StoreError::Code::invalidPath));
    QDir(path("state.json")).removeRecursively();
    std::filesystem::create_symlink(path("Exports").toStdString(), path("state.json").toStdString());
    EXPECT_TRUE(loadFails(StoreError::Code::invalidPath));
    QFile::remove(path("state.json"));

    builder().writeStateBytes(good);
    auto store = makeStore();
    EXPECT_EQ(load(*store).generation, 3u);
    EXPECT_TRUE(waitForResult(store->clipboardEnabled())) << "an existing workspace keeps intake on";
}

TEST_F(WorkspaceLoadingTest, OnlyAPreviousCopyIsRecoveryNotAnEmptyWorkspace)
{
    builder().addMaterial("kept in the previous copy");
    builder().writeOnlyPreviousState(4);
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired));
    EXPECT_FALSE(exists("state.json"));
    EXPECT_EQ(entries().filter(QRegularExpression("^[^/]+$")),
        (QStringList{"Drafts", "Exports", "Materials", "Transactions", "state.previous.json"}));
}

TEST_F(WorkspaceLoadingTest, SnapshotRulesAreCheckedOnLoad)
{
    struct Case {
        const char* name;
        std::function<void(WorkspaceSnapshot&)> breakIt;
        StoreError::Code expected;
    };
    const std::vector<Case> cases = {
        {"selected group missing", [](WorkspaceSnapshot& s) { s.selectedMatterID = QUuid::createUuid(); },
            StoreError::Code::invalidSnapshot},
        {"no ungrouped group",
            [](WorkspaceSnapshot& s) {
                s.matters[0].id = QUuid::createUuid();
                s.selectedMatterID = s.matters[0].id;
                for (MaterialRecord& m : s.materials)
                    m.matterID = s.matters[0].id;
            },
            StoreError::Code::invalidSnapshot},
        {"two materials of one id", [](WorkspaceSnapshot& s) { s.materials[1].id = s.materials[0].id; },
            StoreError::Code::invalidSnapshot},
        {"two groups of one id", [](WorkspaceSnapshot& s) { s.matters.append(s.matters[0]); },
            StoreError::Code::invalidSnapshot},
        {"material of an unknown group", [](WorkspaceSnapshot& s) { s.materials[0].matterID = QUuid::createUuid(); },
            StoreError::Code::invalidSnapshot},
        {"version under another material's folder",
            [](WorkspaceSnapshot& s) { s.materials[0].versions[0].relativePath = s.materials[1].versions[0].relativePath; },
            StoreError::Code::invalidSnapshot},
        {"version in a subfolder",
            [](WorkspaceSnapshot& s) {
                MaterialVersion& v = s.materials[0].versions[0];
                v.relativePath.insert(v.relativePath.lastIndexOf(u'/'), QStringLiteral("/sub"));
            },
            StoreError::Code::invalidSnapshot},
        {"file not named by its version", [](WorkspaceSnapshot& s) { s.materials[0].versions[0].id = QUuid::createUuid(); s.materials[0].originalVersionID = s.materials[0].activeVersionID = s.materials[0].versions[0].id; },
            StoreError::Code::invalidSnapshot},
        {"digest of 63 characters", [](WorkspaceSnapshot& s) { s.materials[0].versions[0].sha256.chop(1); },
            StoreError::Code::invalidSnapshot},
        {"digest with a non-hex digit", [](WorkspaceSnapshot& s) { s.materials[0].versions[0].sha256[5] = u'g'; },
            StoreError::Code::invalidSnapshot},
        {"negative order", [](WorkspaceSnapshot& s) { s.materials[0].order = -1; }, StoreError::Code::invalidSnapshot},
        {"negative page", [](WorkspaceSnapshot& s) { s.materials[0].source.locator = PageLocator::pdfIndex(-1); },
            StoreError::Code::invalidSnapshot},
        {"original version of another kind", [](WorkspaceSnapshot& s) { s.materials[0].versions[0].kind = VersionKind::markup; },
            StoreError::Code::invalidSnapshot},
        {"active version missing", [](WorkspaceSnapshot& s) { s.materials[0].activeVersionID = QUuid::createUuid(); },
            StoreError::Code::invalidSnapshot},
        {"negative byte count", [](WorkspaceSnapshot& s) { s.materials[0].versions[0].byteCount = -1; },
            StoreError::Code::invalidSnapshot},
        {"the largest generation", [](WorkspaceSnapshot& s) { s.generation = std::numeric_limits<std::uint64_t>::max(); },
            StoreError::Code::invalidSnapshot},
        {"a path that leaves the root",
            [](WorkspaceSnapshot& s) {
                MaterialVersion& v = s.materials[0].versions[0];
                v.relativePath = QStringLiteral("Materials/") + uuidText(s.materials[0].id) + QStringLiteral("/../")
                    + uuidText(s.materials[0].id) + u'/' + uuidText(v.id) + QStringLiteral(".txt");
            },
            StoreError::Code::invalidPath},
    };

    builder().addMaterial("first");
    builder().addMaterial("second");
    for (const Case& c : cases) {
        WorkspaceSnapshot broken = builder().snapshot();
        c.breakIt(broken);
        builder().writeStateBytes(Json::encode(broken));
        EXPECT_TRUE(loadFails(c.expected)) << c.name;
    }

    // An upper-case digest is within the rules (though it never matches a payload).
    WorkspaceSnapshot upper = builder().snapshot();
    upper.materials[0].versions[0].sha256 = upper.materials[0].versions[0].sha256.toUpper();
    builder().writeStateBytes(Json::encode(upper));
    auto store = makeStore();
    EXPECT_EQ(load(*store).materials.size(), 2);
}

TEST_F(WorkspaceLoadingTest, ALinkBelowTheRootOrAtTheRootIsRefused)
{
    const MaterialRecord material = builder().addMaterial("behind a link");
    builder().writeState();
    builder().plantMaterialsLink(material.id);
    EXPECT_TRUE(loadFails(StoreError::Code::invalidPath));

    // A data root that is itself a link is refused before anything is read or made.
    QTemporaryDir other;
    const QString linkedRoot = other.path() + QStringLiteral("/Linked");
    std::filesystem::create_directory_symlink(rootPath.toStdString(), linkedRoot.toStdString());
    auto files = faultInjecting();
    MaterialStore linked(QUrl::fromLocalFile(linkedRoot), files, roomyBudget());
    EXPECT_TRUE(throwsStoreError([&] { load(linked); }, StoreError::Code::invalidPath));
    EXPECT_EQ(files->totalCallCount(), 0);

    // Links in the folders above the root are fine.
    QDir(rootPath + QStringLiteral(".outside")).removeRecursively();
    QFile::remove(path("Materials/" + uuidText(material.id)));
    const QString realParent = other.path() + QStringLiteral("/real");
    QDir().mkpath(realParent);
    const QString linkedParent = other.path() + QStringLiteral("/parent");
    std::filesystem::create_directory_symlink(realParent.toStdString(), linkedParent.toStdString());
    MaterialStore belowLink(QUrl::fromLocalFile(linkedParent + QStringLiteral("/Tolvex")), SystemFileOperations::shared(), roomyBudget());
    EXPECT_EQ(load(belowLink), WorkspaceSnapshot());
    EXPECT_TRUE(QFileInfo(realParent + QStringLiteral("/Tolvex/Materials")).isDir());
}

TEST_F(WorkspaceLoadingTest, InterruptedImportsAreTakenInWhenTheirPayloadArrived)
{
    const MaterialRecord existing = builder().addMaterial("already here");
    builder().writeState(7);
    const MaterialRecord ready = builder().interruptedImport("ready and moved", StoreJournal::Phase::contentReady);
    const MaterialRecord committed = builder().interruptedImport("committed", StoreJournal::Phase::contentCommitted);
    const MaterialRecord neverMoved =
        builder().interruptedImport("never moved", StoreJournal::Phase::contentReady, /*payloadMoved=*/false);
    builder().writeFile("Transactions/notes.txt", "not a journal");

    const QByteArray stateBefore = bytes("state.json");
    auto store = makeStore();
    const WorkspaceSnapshot snapshot = load(*store);
    EXPECT_EQ(snapshot.generation, 7u);
    ASSERT_EQ(snapshot.materials.size(), 3);
    EXPECT_EQ(snapshot.materials[0], existing);
    QSet<QUuid> taken;
    for (qsizetype i = 1; i < snapshot.materials.size(); ++i) {
        const MaterialRecord& material = snapshot.materials[i];
        EXPECT_EQ(material.status, MaterialStatus::needsReview);
        MaterialRecord expected = material.id == ready.id ? ready : committed;
        expected.status = MaterialStatus::needsReview;
        EXPECT_EQ(material, expected) << "every field but the status comes from the journal";
        taken.insert(material.id);
    }
    EXPECT_EQ(taken, (QSet<QUuid>{ready.id, committed.id}));
    EXPECT_FALSE(snapshot.findMaterial(neverMoved.id));
    EXPECT_EQ(bytes("state.json"), stateBefore) << "the repair is not saved by the load";

    // The repair is saved by the next save and is then part of the workspace.
    const WorkspaceSnapshot saved = persist(*store, snapshot);
    EXPECT_EQ(saved.generation, 8u);
    store.reset();
    auto again = makeStore();
    EXPECT_EQ(load(*again).materials, saved.materials);
}

TEST_F(WorkspaceLoadingTest, AnInterruptedEditBecomesTheActiveVersionForReview)
{
    MaterialRecord& material = builder().addMaterial("version one");
    material.pinned = true;
    const MaterialRecord before = material;
    builder().writeState();
    const MaterialVersion edit = builder().interruptedEdit(before.id, "version two");

    auto files = faultInjecting();
    auto store = makeStore(files);
    const WorkspaceSnapshot snapshot = load(*store);
    ASSERT_EQ(snapshot.materials.size(), 1);
    const MaterialRecord& repaired = snapshot.materials[0];
    EXPECT_EQ(repaired.status, MaterialStatus::needsReview);
    EXPECT_EQ(repaired.activeVersionID, edit.id);
    ASSERT_EQ(repaired.versions.size(), 2);
    EXPECT_EQ(repaired.versions[0], before.versions[0]);
    EXPECT_EQ(repaired.versions[1], edit);
    EXPECT_TRUE(repaired.pinned);
    EXPECT_EQ(repaired.order, before.order);
    EXPECT_EQ(repaired.title, before.title);

    // Loaded once: a second load reads no journal again.
    const int reads = files->callCount(FileOperation::read);
    EXPECT_EQ(load(*store), snapshot);
    EXPECT_EQ(files->callCount(FileOperation::read), reads);
}

TEST_F(WorkspaceLoadingTest, JournalsThatDoNotApplyAreSkipped)
{
    MaterialRecord& trashed = builder().addMaterial("trashed", MaterialStatus::trashed);
    const QUuid trashedID = trashed.id;
    const MaterialRecord& plain = builder().addMaterial("plain");
    const QUuid plainID = plain.id;
    builder().writeState();

    builder().interruptedEdit(trashedID, "edit of a trashed material");
    // An edit whose base is no longer the active version.
    StoreJournal stale;
    stale.id = QUuid::createUuid();
    stale.phase = StoreJournal::Phase::contentCommitted;
    stale.record = builder().material(plainID);
    stale.baseVersionID = QUuid::createUuid();
    builder().writeJournal(stale);
    // An edit whose payload never reached "Materials".
    builder().interruptedEdit(plainID, "never moved", StoreJournal::Phase::contentReady, /*payloadMoved=*/false);
    // A journal of a material that the snapshot holds, without a base (an import already saved).
    StoreJournal saved{QUuid::createUuid(), StoreJournal::Phase::contentCommitted, builder().material(plainID), std::nullopt};
    builder().writeJournal(saved);

    auto store = makeStore();
    EXPECT_EQ(load(*store).materials, builder().snapshot().materials);
}

TEST_F(WorkspaceLoadingTest, BadJournalsFailTheLoad)
{
    builder().writeState();
    const MaterialRecord altered = builder().interruptedImport("payload", StoreJournal::Phase::contentCommitted);
    builder().alterPayload(altered.versions[0]);
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired)) << "a payload that is not the recorded one";
    builder().writeFile(altered.versions[0].relativePath, "payload");

    // An interrupted edit whose new payload has the wrong size.
    const MaterialRecord& material = builder().addMaterial("base");
    const QUuid materialID = material.id;
    builder().writeState();
    const MaterialVersion edit = builder().interruptedEdit(materialID, "edited");
    builder().writeFile(edit.relativePath, "edited, longer");
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired));
    builder().writeFile(edit.relativePath, "edited");

    const StoreJournal misnamed{QUuid::createUuid(), StoreJournal::Phase::contentReady, altered, std::nullopt};
    const QString wrongName = uuidText(QUuid::createUuid()) + QStringLiteral(".json");
    builder().writeJournal(misnamed, wrongName);
    EXPECT_TRUE(loadFails(StoreError::Code::invalidPath));
    // Named by its id in lower case is a wrong name too.
    QFile::rename(path("Transactions/" + wrongName), path("Transactions/" + uuidText(misnamed.id).toLower() + ".json"));
    EXPECT_TRUE(loadFails(StoreError::Code::invalidPath));
    QFile::remove(path("Transactions/" + uuidText(misnamed.id).toLower() + ".json"));
    {
        auto store = makeStore();
        EXPECT_EQ(load(*store).materials.size(), 2) << "the remaining journals are all fine";
    }

    builder().writeFile("Transactions/" + uuidText(QUuid::createUuid()) + ".json", "{not json");
    EXPECT_TRUE(loadFails(StoreError::Code::recoveryRequired));
}

TEST_F(WorkspaceLoadingTest, ARepairedRecordMustKeepTheRules)
{
    builder().writeState();
    // An interrupted import into a group the snapshot does not have.
    builder().interruptedImport("orphan", StoreJournal::Phase::contentCommitted, true, QUuid::createUuid());
    EXPECT_TRUE(loadFails(StoreError::Code::invalidSnapshot));
}
