#include "StoreTesting.h"

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class MaterialCommandTest : public StoreTestCase {
protected:
    void SetUp() override
    {
        other = builder().addMatter("other");
        hanging = builder().addMaterial("hanging").id;
        MaterialRecord& pinnedRecord = builder().addMaterial("pinned");
        pinnedRecord.pinned = true;
        pinned = pinnedRecord.id;
        down = builder().addMaterial("down", MaterialStatus::takenDown).id;
        archived = builder().addMaterial("archived", MaterialStatus::archived).id;
        review = builder().addMaterial("review", MaterialStatus::needsReview).id;
        trashed = builder().addMaterial("trashed", MaterialStatus::trashed).id;
        elsewhere = builder().addMaterial("elsewhere", MaterialStatus::hanging, "txt", other.id).id;
        builder().writeState(10);
    }

    std::int64_t largestOtherOrder(const WorkspaceSnapshot& snapshot, const QUuid& except) const
    {
        std::int64_t largest = -1;
        for (const MaterialRecord& material : snapshot.materials) {
            if (material.matterID == MatterGroup::ungroupedID() && material.id != except)
                largest = std::max(largest, material.order);
        }
        return largest;
    }

    MatterGroup other;
    QUuid hanging, pinned, down, archived, review, trashed, elsewhere;
};

} // namespace

TEST_F(MaterialCommandTest, HangRehangsAnyCardThatIsDownAndLeavesAHangingOneAlone)
{
    auto files = faultInjecting();
    auto store = makeStore(files);
    const WorkspaceSnapshot loaded = load(*store);
    files->reset();
    EXPECT_EQ(apply(*store, MaterialCommand::hang(hanging)), loaded);
    EXPECT_EQ(files->callCount(FileOperation::writeAtomic), 0) << "nothing is saved";

    std::uint64_t generation = loaded.generation;
    for (const QUuid& id : {down, archived, review}) {
        const MaterialRecord before = *load(*store).findMaterial(id);
        const WorkspaceSnapshot after = apply(*store, MaterialCommand::hang(id));
        EXPECT_EQ(after.generation, ++generation);
        const MaterialRecord& hung = after.materials.last();
        EXPECT_EQ(hung.id, id) << "moved to the end";
        EXPECT_EQ(hung.status, MaterialStatus::hanging);
        EXPECT_EQ(hung.order, largestOtherOrder(after, id) + 1);
        EXPECT_EQ(hung.pinned, before.pinned);
        EXPECT_EQ(hung.title, before.title);
        EXPECT_EQ(hung.versions, before.versions);
    }
    EXPECT_EQ(stateOnDisk(), load(*store));
}

TEST_F(MaterialCommandTest, HangRefusesABrokenPayloadAndAFullShelf)
{
    const MaterialRecord downRecord = builder().material(down);
    builder().alterPayload(downRecord.versions[0]);
    auto store = makeStore();
    const WorkspaceSnapshot loaded = load(*store);
    EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::hang(down)); }, StoreError::Code::recoveryRequired));
    QFile::remove(path(builder().material(archived).versions[0].relativePath));
    EXPECT_TRUE(throwsFileError([&] { apply(*store, MaterialCommand::hang(archived)); }, std::errc::no_such_file_or_directory));
    EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::hang(review), 0); }, StoreError::Code::budgetExceeded))
        << "no room is reported as the budget, not as a full shelf";
    EXPECT_EQ(load(*store), loaded);
    EXPECT_EQ(stateOnDisk().generation, 10u);
}

TEST_F(MaterialCommandTest, TakingDownSavesEvenWhenNothingChanges)
{
    auto store = makeStore();
    const WorkspaceSnapshot first = apply(*store, MaterialCommand::takeDown(down));
    EXPECT_EQ(first.generation, 11u);
    EXPECT_EQ(first.findMaterial(down)->status, MaterialStatus::takenDown);
    for (const QUuid& id : {hanging, archived, review}) {
        const WorkspaceSnapshot after = apply(*store, MaterialCommand::takeDown(id));
        EXPECT_EQ(after.findMaterial(id)->status, MaterialStatus::takenDown);
    }

    const WorkspaceSnapshot unpinned = apply(*store, MaterialCommand::hang(hanging));
    const WorkspaceSnapshot result = apply(*store, MaterialCommand::takeDownUnpinned(MatterGroup::ungroupedID()));
    EXPECT_EQ(result.findMaterial(hanging)->status, MaterialStatus::takenDown);
    EXPECT_EQ(result.findMaterial(pinned)->status, MaterialStatus::hanging);
    EXPECT_EQ(result.findMaterial(elsewhere)->status, MaterialStatus::hanging);
    EXPECT_EQ(result.generation, unpinned.generation + 1);
    EXPECT_EQ(apply(*store, MaterialCommand::takeDownUnpinned(QUuid::createUuid())).generation, result.generation + 1)
        << "an unknown group still saves";
    EXPECT_EQ(apply(*store, MaterialCommand::setPrivacyHidden(false)).generation, result.generation + 2);
    EXPECT_TRUE(apply(*store, MaterialCommand::setPrivacyHidden(true)).privacyHidden);
}

TEST_F(MaterialCommandTest, RenamingTrimsAndLimitsTheTitle)
{
    auto store = makeStore();
    EXPECT_EQ(apply(*store, MaterialCommand::renameMaterial(hanging, "  A title \n")).findMaterial(hanging)->title, "A title");
    const QString limit = QString(1023, u'x') + QStringLiteral("e\u0301");
    EXPECT_EQ(apply(*store, MaterialCommand::renameMaterial(hanging, limit)).findMaterial(hanging)->title, limit)
        << "1,024 user-perceived characters";
    const WorkspaceSnapshot before = load(*store);
    EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::renameMaterial(hanging, QString(1025, u'x'))); },
        StoreError::Code::invalidSource));
    EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::renameMaterial(hanging, " \t\n ")); },
        StoreError::Code::invalidSource));
    EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::renameMaterial(trashed, "name")); },
        StoreError::Code::invalidSource));
    EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::renameMaterial(QUuid::createUuid(), "name")); },
        StoreError::Code::invalidSource));
    EXPECT_EQ(load(*store), before);
}

TEST_F(MaterialCommandTest, UnknownAndTrashedMaterialsAreNotFound)
{
    auto store = makeStore();
    for (const QUuid& id : {trashed, QUuid::createUuid()}) {
        EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::takeDown(id)); }, StoreError::Code::notFound));
        EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::hang(id)); }, StoreError::Code::notFound));
        EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::setSource(id, sourceOf(ImportOrigin::drop))); },
            StoreError::Code::notFound));
    }
    SourceRecord invalid = sourceOf(ImportOrigin::drop);
    invalid.filePath = QStringLiteral("relative/path");
    EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::setSource(QUuid::createUuid(), invalid)); },
        StoreError::Code::invalidSource)) << "the source is checked first";

    SourceRecord source = sourceOf(ImportOrigin::fileSelection);
    source.webURL = QUrl(QStringLiteral("https://example.com/a"));
    source.locator = PageLocator::printedPage(QStringLiteral("iv"));
    source.isManuallyRegistered = true;
    EXPECT_EQ(apply(*store, MaterialCommand::setSource(hanging, source)).findMaterial(hanging)->source, source);
    EXPECT_EQ(stateOnDisk().findMaterial(hanging)->source, source);
}

TEST_F(MaterialCommandTest, TheCaptureFolderMustBeAnAbsolutePathWithABookmark)
{
    auto store = makeStore();
    const CaptureFolderSetting setting{QByteArray("bookmark"), QStringLiteral("/home/user/Screenshots"), true};
    EXPECT_EQ(apply(*store, MaterialCommand::setCaptureFolder(setting)).captureFolder, setting);
    const WorkspaceSnapshot before = load(*store);
    for (const CaptureFolderSetting& bad : {CaptureFolderSetting{QByteArray("b"), QStringLiteral("Screenshots"), true},
             CaptureFolderSetting{QByteArray("b"), QString(), true},
             CaptureFolderSetting{QByteArray(), QStringLiteral("/home/user"), false}}) {
        EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::setCaptureFolder(bad)); }, StoreError::Code::invalidPath));
    }
    EXPECT_EQ(load(*store), before);
    const WorkspaceSnapshot cleared = apply(*store, MaterialCommand::setCaptureFolder(std::nullopt));
    EXPECT_FALSE(cleared.captureFolder.has_value());
    EXPECT_EQ(cleared.generation, before.generation + 1);
}

TEST_F(MaterialCommandTest, SevenCommandsAreRefusedWhateverTheyCarry)
{
    auto files = faultInjecting();
    auto store = makeStore(files);
    const WorkspaceSnapshot loaded = load(*store);
    files->reset();
    const QList<MaterialCommand> refused = {MaterialCommand::archive(hanging), MaterialCommand::pin(hanging, true),
        MaterialCommand::createMatter("new"), MaterialCommand::renameMatter(other.id, "renamed"),
        MaterialCommand::selectMatter(other.id), MaterialCommand::moveToMatter(hanging, other.id),
        MaterialCommand::trash(hanging)};
    for (const MaterialCommand& command : refused)
        EXPECT_TRUE(throwsStoreError([&] { apply(*store, command); }, StoreError::Code::invalidSource));
    EXPECT_EQ(files->callCount(FileOperation::writeAtomic), 0);
    EXPECT_EQ(load(*store), loaded);
}

TEST_F(MaterialCommandTest, CommandsSentInARowRunInThatOrder)
{
    auto store = makeStore();
    QList<QFuture<WorkspaceSnapshot>> sent;
    for (int i = 0; i < 20; ++i) {
        sent.append(store->apply(MaterialCommand::takeDown(hanging), unlimitedCapacity));
        sent.append(store->apply(MaterialCommand::hang(hanging), unlimitedCapacity));
    }
    for (qsizetype i = 0; i < sent.size(); ++i) {
        const WorkspaceSnapshot result = waitForResult(sent[i]);
        EXPECT_EQ(result.generation, 11u + static_cast<std::uint64_t>(i));
        EXPECT_EQ(result.findMaterial(hanging)->status, i % 2 ? MaterialStatus::hanging : MaterialStatus::takenDown);
    }
    EXPECT_EQ(stateOnDisk().generation, 50u);
}
