#include "StoreTesting.h"

#include "Support/ForwardingFileOperations.h"
#include "Support/LookAlikeNames.h"
#include "TolvexCore/Files/LocalPathEncoding.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

// The real file layer, with a hook on the first look at one file and a
// count of what was read of it.
class WatchedSource final : public ForwardingFileOperations {
public:
    explicit WatchedSource(QString path) : path_(std::move(path)) {}

    FileInfo inspect(const QUrl& url) const override
    {
        const FileInfo info = inner->inspect(url);
        if (url.toLocalFile() == path_ && afterFirstLook && !looked_.exchange(true))
            afterFirstLook();
        return info;
    }
    using ForwardingFileOperations::inspect;
    void read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const override
    {
        starting(file);
        std::int64_t count = 0;
        const auto counting = [&](const char* data, std::size_t size) {
            count += std::int64_t(size);
            consume(data, size);
        };
        try {
            inner->read(file, counting, maximumBytes);
        } catch (...) {
            note(file, count);
            throw;
        }
        note(file, count);
    }
    OpenFile copy(const OpenFile& source, const QUrl& folder, const QString& relativePath, MissingFolders missing,
        std::int64_t maximumBytes) const override
    {
        starting(source);
        OpenFile copied = inner->copy(source, folder, relativePath, missing, maximumBytes);
        note(source, inner->inspect(copied).byteCount);
        return copied;
    }

    // The most bytes one read or copy of the file took.
    std::int64_t mostRead() const { return mostRead_; }

    std::function<void()> afterFirstLook;
    // Before each read or copy of the open file, with its count from 1.
    std::function<void(int)> beforeReading;

private:
    void starting(const OpenFile& file) const
    {
        if (file.url().toLocalFile() == path_ && beforeReading)
            beforeReading(++reads_);
    }

    void note(const OpenFile& file, std::int64_t count) const
    {
        if (file.url().toLocalFile() != path_)
            return;
        std::int64_t seen = mostRead_;
        while (count > seen && !mostRead_.compare_exchange_weak(seen, count)) {
        }
    }

    QString path_;
    mutable std::atomic<bool> looked_{false};
    mutable std::atomic<int> reads_{0};
    mutable std::atomic<std::int64_t> mostRead_{0};
};

// What reads a user's file through the store: the clipboard's fingerprint
// and the import (hashed, then copied into staging and hashed again).
// A store operation under way, whatever it answers.
struct Pending {
    std::function<bool()> isFinished;
    // Waits for it and passes its error on.
    std::function<void()> wait;
};

template <typename T>
Pending pending(QFuture<T> future)
{
    return {[future] { return future.isFinished(); }, [future] { waitForResult(future); }};
}

// Each reads the file so many times (a read or a copy of the open file).
struct Reader {
    const char* name;
    std::function<Pending(MaterialStore&, const QUrl&)> read;
    int reads;
};

const Reader readers[] = {
    {"fingerprint", [](MaterialStore& store, const QUrl& url) { return pending(store.clipboardFileFingerprint(url)); }, 1},
    {"import", [](MaterialStore& store, const QUrl& url) {
         return pending(store.importMaterial(ImportRequest::file(url, ImportOrigin::drop), MatterGroup::ungroupedID(),
             unlimitedCapacity, true, std::nullopt, DuplicateImportPolicy::rehangTakenDown));
     }, 4},
};

std::optional<StoreError::Code> storeErrorOf(const Pending& operation)
{
    try {
        operation.wait();
    } catch (const StoreError& error) {
        return error.code();
    } catch (...) {
    }
    return std::nullopt;
}

class UserFileReadingTest : public StoreTestCase {
protected:
    QStringList stagingFiles() const { return QDir(path("Transactions")).entryList({"*.stage"}, QDir::Files); }

    QByteArray payloadBytes(MaterialStore& store, const QUuid& id)
    {
        QFile payload(waitForResult(store.payloadURL(id)).toLocalFile());
        return payload.open(QIODevice::ReadOnly) ? payload.readAll() : QByteArray();
    }
};

} // namespace

TEST_F(UserFileReadingTest, ANameThatIsNotUtf8ReachesItsOwnFileAndIsRecordedAsItReads)
{
    const test::LookAlikeNames names = test::LookAlikeNames::make(temporary.path());
    const QString readableName = QStringLiteral("\uFFFD\uFFFD.png");
    auto store = makeStore();

    // The URL as a URI list carries it, and as the clipboard's reader makes it.
    for (const QUrl& url : {QUrl(QString::fromLatin1(names.uri)), *localFileURL(names.uri)}) {
        SCOPED_TRACE(url.toString().toStdString());
        EXPECT_EQ(waitForResult(store->clipboardFileFingerprint(url)).sha256, DataRootBuilder::digest(names.rawBytes));
    }
    const ImportResult raw = waitForResult(store->importMaterial(
        ImportRequest::file(QUrl(QString::fromLatin1(names.uri)), ImportOrigin::clipboard), MatterGroup::ungroupedID(),
        unlimitedCapacity, true, std::nullopt, DuplicateImportPolicy::keepExisting));
    ASSERT_EQ(raw.disposition.kind(), ImportDisposition::Case::hanging);
    EXPECT_EQ(payloadBytes(*store, raw.disposition.id()), names.rawBytes);
    const MaterialRecord rawRecord = *raw.snapshot.findMaterial(raw.disposition.id());
    EXPECT_EQ(rawRecord.title, readableName);
    EXPECT_EQ(rawRecord.source.filePath, names.lookAlikePath);

    // The look-alike reads the same, but it is another file: a card of its own.
    const ImportResult twin = importFile(*store, names.lookAlikePath, ImportOrigin::clipboard);
    ASSERT_EQ(twin.disposition.kind(), ImportDisposition::Case::hanging);
    EXPECT_NE(twin.disposition.id(), raw.disposition.id());
    EXPECT_EQ(payloadBytes(*store, twin.disposition.id()), names.lookAlikeBytes);
    // And the first file again is the first card's duplicate, by its bytes.
    const ImportResult again =
        waitForResult(store->importMaterial(ImportRequest::file(*localFileURL(names.uri), ImportOrigin::clipboard),
            MatterGroup::ungroupedID(), unlimitedCapacity, true, std::nullopt, DuplicateImportPolicy::keepExisting));
    EXPECT_EQ(again.disposition, ImportDisposition::duplicate(raw.disposition.id()));

    // What was recorded is what a later start reads back.
    store.reset();
    auto reopened = makeStore();
    const WorkspaceSnapshot loaded = load(*reopened);
    ASSERT_NE(loaded.findMaterial(raw.disposition.id()), nullptr);
    EXPECT_EQ(*loaded.findMaterial(raw.disposition.id()), rawRecord);
}

TEST_F(UserFileReadingTest, AFileThatGrowsWhileReadIsReadNoFurtherThanItsSizeAndOneByte)
{
    // Grown to 64 MiB (sparse) at each moment a reader may meet it: after it
    // was checked, and as each read of the open file begins.
    const QByteArray original(100000, 'x');
    for (const Reader& reader : readers) {
        for (int moment = 0; moment <= reader.reads; ++moment) {
            SCOPED_TRACE(std::string(reader.name) + ", grown at moment " + std::to_string(moment));
            const QString file = writeOutside(QStringLiteral("growing-%1-%2.bin").arg(reader.name).arg(moment), original);
            auto files = std::make_shared<WatchedSource>(file);
            const auto grow = [file] { ASSERT_EQ(::truncate(QFile::encodeName(file).constData(), 64 << 20), 0); };
            if (moment == 0)
                files->afterFirstLook = grow;
            else
                files->beforeReading = [grow, moment](int read) {
                    if (read == moment)
                        grow();
                };
            auto store = makeStore(files);

            const std::optional<StoreError::Code> refused = storeErrorOf(reader.read(*store, QUrl::fromLocalFile(file)));
            EXPECT_EQ(refused, StoreError::Code::sourceChanged);
            EXPECT_LE(files->mostRead(), original.size() + 1);
            for (const QString& staged : stagingFiles())
                EXPECT_LE(QFileInfo(path(QStringLiteral("Transactions/") + staged)).size(), original.size() + 1);
        }
    }
}

TEST_F(UserFileReadingTest, AFifoSwappedInAfterTheCheckIsRefusedWithoutWaitingForAWriter)
{
    for (const Reader& reader : readers) {
        SCOPED_TRACE(reader.name);
        const QString file = writeOutside(QStringLiteral("swapped-%1.png").arg(reader.name), "a regular file");
        auto files = std::make_shared<WatchedSource>(file);
        files->afterFirstLook = [file] {
            const QByteArray path = QFile::encodeName(file);
            ASSERT_EQ(::unlink(path.constData()), 0);
            ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
        };
        auto store = makeStore(files);

        const Pending reading = reader.read(*store, QUrl::fromLocalFile(file));
        for (int tick = 0; tick < 3000 && !reading.isFinished(); ++tick)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const bool waited = !reading.isFinished();
        if (waited) {
            // A writer releases the stuck reader, so that the store can end.
            const int writer = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
        const std::optional<StoreError::Code> refused = storeErrorOf(reading);
        EXPECT_FALSE(waited) << "the store waited in open() for the FIFO's writer";
        EXPECT_TRUE(refused == StoreError::Code::sourceChanged || refused == StoreError::Code::invalidSource);
        // The store is free for what comes next.
        EXPECT_EQ(importText(*store, QString::fromLatin1(reader.name)).disposition.kind(), ImportDisposition::Case::hanging);
    }
}
