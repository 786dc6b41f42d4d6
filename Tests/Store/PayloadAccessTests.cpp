#include "StoreTesting.h"

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class PayloadAccessTest : public StoreTestCase {
protected:
    QUrl payload(MaterialStore& store, const QUuid& id, std::optional<QUuid> version = std::nullopt)
    {
        return waitForResult(store.payloadURL(id, version));
    }
};

} // namespace

TEST_F(PayloadAccessTest, HandsOutOnlyTheExactRecordedBytes)
{
    const MaterialRecord first = builder().addMaterial("version one");
    const MaterialVersion second = builder().addVersion(first.id, "version two");
    const MaterialRecord altered = builder().addMaterial("altered");
    const MaterialRecord trashed = builder().addMaterial("trashed", MaterialStatus::trashed);
    const MaterialRecord grown = builder().addMaterial("grown");
    const MaterialRecord linked = builder().addMaterial("linked");
    builder().writeState();

    builder().alterPayload(altered.versions[0]);
    builder().writeFile(grown.versions[0].relativePath, "grown bigger");

    auto store = makeStore();
    load(*store);
    // A payload replaced by a link after the load (a load would refuse the workspace).
    const QString linkedPath = path(linked.versions[0].relativePath);
    QFile::rename(linkedPath, linkedPath + ".real");
    std::filesystem::create_symlink((linkedPath + ".real").toStdString(), linkedPath.toStdString());
    // No version id: the active one; an explicit older one: that one.
    EXPECT_EQ(payload(*store, first.id), builder().url(second.relativePath));
    EXPECT_EQ(payload(*store, first.id, first.versions[0].id), builder().url(first.versions[0].relativePath));

    EXPECT_TRUE(throwsStoreError([&] { payload(*store, altered.id); }, StoreError::Code::recoveryRequired));
    EXPECT_TRUE(throwsStoreError([&] { payload(*store, grown.id); }, StoreError::Code::recoveryRequired));
    EXPECT_TRUE(throwsStoreError([&] { payload(*store, linked.id); }, StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { payload(*store, trashed.id); }, StoreError::Code::notFound));
    EXPECT_TRUE(throwsStoreError([&] { payload(*store, QUuid::createUuid()); }, StoreError::Code::notFound));
    EXPECT_TRUE(throwsStoreError([&] { payload(*store, first.id, QUuid::createUuid()); }, StoreError::Code::notFound));

    QFile::remove(path(first.versions[0].relativePath));
    EXPECT_TRUE(throwsFileError([&] { payload(*store, first.id, first.versions[0].id); },
        std::errc::no_such_file_or_directory));
}

TEST_F(PayloadAccessTest, AFileAboveThePerFileBudgetIsNotHandedOut)
{
    const MaterialRecord small = builder().addMaterial("1234");
    const MaterialRecord large = builder().addMaterial("12345");
    builder().writeState();
    StorageBudget budget = roomyBudget();
    budget.maxFileBytes = 4;
    auto store = makeStore(SystemFileOperations::shared(), budget);
    EXPECT_NO_THROW(payload(*store, small.id));
    EXPECT_TRUE(throwsStoreError([&] { payload(*store, large.id); }, StoreError::Code::recoveryRequired));
}

TEST_F(PayloadAccessTest, PresentationPayloadsNeverFailAndKeepOneEntryPerId)
{
    const MaterialRecord good = builder().addMaterial("good");
    const MaterialRecord missing = builder().addMaterial("missing");
    const MaterialVersion newer = builder().addVersion(good.id, "newer");
    builder().writeState();
    QFile::remove(path(missing.versions[0].relativePath));

    auto store = makeStore();
    // The version asked for is the record's own active version as given:
    // `good` as it was before its newer version.
    const PresentationPayloads payloads =
        waitForResult(store->presentationPayloads({good, missing, builder().material(good.id)}));
    ASSERT_EQ(payloads.size(), 2);
    ASSERT_TRUE(payloads[good.id].succeeded()) << "the later record replaced the earlier";
    EXPECT_EQ(payloads[good.id].url, builder().url(newer.relativePath));
    ASSERT_FALSE(payloads[missing.id].succeeded());
    EXPECT_TRUE(throwsFileError([&] { rethrowUnwrapped(payloads[missing.id].error); }, std::errc::no_such_file_or_directory));

    const PresentationPayloads older = waitForResult(store->presentationPayloads({good}));
    EXPECT_EQ(older[good.id].url, builder().url(good.versions[0].relativePath));

    // Even a workspace that does not load is an answer per record.
    builder().writeStateBytes("damaged");
    auto broken = makeStore();
    const PresentationPayloads none = waitForResult(broken->presentationPayloads({good}));
    ASSERT_EQ(none.size(), 1);
    EXPECT_TRUE(throwsStoreError([&] { std::rethrow_exception(none[good.id].error); }, StoreError::Code::recoveryRequired));
}

TEST_F(PayloadAccessTest, PayloadsAnswerWhileTheStoreIsHeld)
{
    const MaterialRecord material = builder().addMaterial("shown while busy");
    builder().writeState();
    auto store = makeStore();
    load(*store);
    waitForResult(store->executor().run([](StoreContext& context) { context.busy = true; }));
    EXPECT_EQ(payload(*store, material.id), builder().url(material.versions[0].relativePath));
    EXPECT_EQ(waitForResult(store->presentationPayloads({material})).size(), 1);
    EXPECT_TRUE(throwsStoreError([&] { load(*store); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->restorePreviousSnapshot()); }, StoreError::Code::operationInProgress));
}
