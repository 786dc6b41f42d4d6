#include "ShelfTesting.h"

#include "Support/DataRootBuilder.h"
#include "Support/ForwardingFileOperations.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"

#include <QFile>

#include <system_error>

namespace tolvex {
namespace {

using namespace testing;

// Counts the store's reads of payload files: each one is a proof.
class CountingReads final : public ForwardingFileOperations {
public:
    CountingReads() : ForwardingFileOperations(SystemFileOperations::shared()) {}
    QByteArray read(const QUrl& url) const override
    {
        if (url.path().contains(u'/' + DataRoot::materialsFolder() + u'/'))
            ++payloadReads;
        return ForwardingFileOperations::read(url);
    }
    mutable std::atomic<int> payloadReads{0};
};

// A remembered proof is used only while the file is untouched; any change
// sends it back to the store, which then reports what it finds.
TEST(MaterialLineStoreTests, ProvenPayloadsAreRememberedOnlyWhileTheFileIsUntouched)
{
    QTemporaryDir folder;
    DataRootBuilder builder(folder.filePath(QStringLiteral("Tolvex")));
    const QByteArray payload("remembered payload");
    const MaterialRecord record = builder.addMaterial(payload);
    builder.writeState();
    const QString file = builder.path(record.versions.first().relativePath);

    auto files = std::make_shared<CountingReads>();
    MaterialStore store(builder.rootURL(), files, StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
    waitForResult(store.load());
    MaterialLineStore lineStore(store, std::chrono::nanoseconds(0));

    const auto rewrite = [&](const QByteArray& bytes) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    };
    const struct {
        const char* name;
        std::function<void()> before;
        int reads;     // proofs so far
        bool succeeds; // else the store's error comes through
    } steps[] = {
        {"first sight", [] {}, 1, true},
        {"untouched", [] {}, 1, true},
        {"same size, other bytes", [&] { rewrite(QByteArray(payload.size(), 'x')); }, 2, false},
        {"put back", [&] { rewrite(payload); }, 3, true},
        {"untouched again", [] {}, 3, true},
        {"removed", [&] { QFile::remove(file); }, 3, false},
    };
    for (const auto& step : steps) {
        step.before();
        // Answered through the GUI thread's event loop: wait by running it.
        const QFuture<PresentationPayloads> asked = lineStore.presentationPayloads({record});
        ASSERT_TRUE(waitUntil([&] { return asked.isFinished(); })) << step.name;
        const PresentationPayloads payloads = asked.result();
        ASSERT_EQ(payloads.size(), 1) << step.name;
        const PayloadLocation& location = payloads.value(record.id);
        EXPECT_EQ(location.succeeded(), step.succeeds) << step.name;
        if (step.succeeds) {
            EXPECT_EQ(location.url, QUrl::fromLocalFile(file)) << step.name;
        }
        EXPECT_EQ(files->payloadReads.load(), step.reads) << step.name;
    }
}

// A shelf large enough that the remembered files are checked in several
// pieces: exactly the touched files, wherever they fall, go back to the store.
TEST(MaterialLineStoreTests, EveryPieceOfALargeShelfSendsBackExactlyItsTouchedFiles)
{
    QTemporaryDir folder;
    DataRootBuilder builder(folder.filePath(QStringLiteral("Tolvex")));
    QList<MaterialRecord> records;
    for (int i = 0; i < 700; ++i)
        records.append(builder.addMaterial("payload " + QByteArray::number(i)));
    builder.writeState();

    auto files = std::make_shared<CountingReads>();
    MaterialStore store(builder.rootURL(), files, StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
    waitForResult(store.load());
    MaterialLineStore lineStore(store, std::chrono::nanoseconds(0));
    const auto ask = [&] {
        const QFuture<PresentationPayloads> asked = lineStore.presentationPayloads(records);
        EXPECT_TRUE(waitUntil([&] { return asked.isFinished(); }));
        return asked.result();
    };
    ask();
    ASSERT_EQ(files->payloadReads.load(), 700);

    // The first and last of the shelf, and either side of each piece's edge
    // (700 files are checked in two, four or five pieces, by the cores).
    const QList<int> touched{0, 139, 140, 174, 175, 349, 350, 699};
    for (int index : touched) {
        QFile out(builder.path(records[index].versions.first().relativePath));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(QByteArray(records[index].versions.first().byteCount, 'x'));
    }
    const PresentationPayloads payloads = ask();
    EXPECT_EQ(files->payloadReads.load(), 700 + touched.size());
    ASSERT_EQ(payloads.size(), records.size());
    for (int i = 0; i < records.size(); ++i)
        EXPECT_EQ(payloads.value(records[i].id).succeeded(), !touched.contains(i)) << i;
}

} // namespace
} // namespace tolvex
