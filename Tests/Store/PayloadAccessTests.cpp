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
    store.reset();
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

// Enough bytes that the digests run on helper threads: every record still
// gets exactly the outcome the one-by-one check gives it.
TEST_F(PayloadAccessTest, PresentationPayloadsOfALargeShelfMatchTheOneByOneCheck)
{
    const QByteArray block(512 * 1024, 'x');
    QList<MaterialRecord> records;
    for (int i = 0; i < 16; ++i)
        records.append(builder().addMaterial(block + QByteArray::number(i)));
    records.append(builder().addMaterial("trashed", MaterialStatus::trashed));
    builder().writeState();
    builder().alterPayload(records[3].versions[0]);
    builder().alterPayload(records[11].versions[0]);
    builder().writeFile(records[5].versions[0].relativePath, "shorter");
    QFile::remove(path(records[8].versions[0].relativePath));
    MaterialRecord unknown = records[0];
    unknown.id = QUuid::createUuid();
    records.append(unknown);
    records.append(records[3]); // a repeated id keeps one entry

    auto store = makeStore();
    const PresentationPayloads payloads = waitForResult(store->presentationPayloads(records));
    ASSERT_EQ(payloads.size(), records.size() - 1);
    for (const MaterialRecord& record : records) {
        SCOPED_TRACE(record.id.toString().toStdString());
        const PayloadLocation& location = payloads[record.id];
        std::exception_ptr expected;
        QUrl expectedURL;
        try {
            expectedURL = payload(*store, record.id, record.activeVersionID);
        } catch (...) {
            expected = std::current_exception();
        }
        ASSERT_EQ(location.succeeded(), !expected);
        if (!expected) {
            EXPECT_EQ(location.url, expectedURL);
            continue;
        }
        try {
            rethrowUnwrapped(expected);
        } catch (const StoreError& error) {
            EXPECT_TRUE(throwsStoreError([&] { rethrowUnwrapped(location.error); }, error.code()));
        } catch (const std::system_error& error) {
            EXPECT_TRUE(throwsFileError([&] { rethrowUnwrapped(location.error); }, std::errc(error.code().value())));
        }
    }
    EXPECT_FALSE(payloads[records[3].id].succeeded());
    EXPECT_FALSE(payloads[records[8].id].succeeded());
    EXPECT_TRUE(payloads[records[15].id].succeeded());
}
