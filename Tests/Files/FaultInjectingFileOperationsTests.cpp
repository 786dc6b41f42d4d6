#include "Support/FaultInjectingFileOperations.h"

#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"

#include <QDir>
#include <QFile>
#include <QFuture>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <system_error>
#include <thread>

using namespace tolvex;

namespace {

QUrl urlOf(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

int errnoOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::system_error& error) {
        return error.code().value();
    } catch (...) {
        return -2;
    }
    return -1;
}

bool crashes(const std::function<void()>& action)
{
    try {
        action();
    } catch (const SimulatedCrash&) {
        return true;
    } catch (...) {
        return false;
    }
    return false;
}

class FaultInjectingFileOperationsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QUrl url(const char* name) const { return urlOf(path(name)); }

    QTemporaryDir dir;
    FaultInjectingFileOperations files{SystemFileOperations::shared()};
};

} // namespace

TEST_F(FaultInjectingFileOperationsTest, CountsAndLogsTheEligibleCalls)
{
    files.createDirectory(url("folder"));
    files.writeAtomic("a", url("folder/a.json"));
    files.copy(url("folder/a.json"), url("folder/b.json"));
    files.move(url("folder/b.json"), url("folder/c.json"));
    EXPECT_EQ(files.read(url("folder/c.json")), "a");
    EXPECT_TRUE(files.inspect(url("folder/a.json")).isRegularFile);
    EXPECT_GT(files.availableBytes(url("folder")), 0);
    EXPECT_EQ(files.list(url("folder")).size(), 2);

    EXPECT_EQ(files.totalCallCount(), 8);
    EXPECT_EQ(files.callCount(FileOperation::writeAtomic), 1);
    EXPECT_EQ(files.callCount(FileOperation::trash), 0);
    const QList<FaultInjectingFileOperations::Call> log = files.log();
    ASSERT_EQ(log.size(), 8);
    EXPECT_EQ(log[2].operation, FileOperation::copy);
    EXPECT_EQ(log[2].url, url("folder/a.json"));
    EXPECT_EQ(log[2].destination, url("folder/b.json"));
    EXPECT_EQ(log[7].operation, FileOperation::list);
    EXPECT_EQ(fileOperationName(log[7].operation), "list");

    // Calls outside the filter run but are neither counted nor open to faults.
    files.reset();
    files.setFilter([](FileOperation operation, const QUrl&) { return operation != FileOperation::inspect; });
    files.failCall(1, EIO);
    EXPECT_TRUE(files.inspect(url("folder/a.json")).isRegularFile);
    EXPECT_EQ(files.totalCallCount(), 0);
    EXPECT_EQ(errnoOf([&] { files.read(url("folder/a.json")); }), EIO);
    EXPECT_EQ(files.totalCallCount(), 1);
    EXPECT_EQ(files.log().size(), 1);
}

TEST_F(FaultInjectingFileOperationsTest, FailsTheChosenCallWithoutPerformingIt)
{
    files.writeAtomic("one", url("state.json"));
    files.failCall(2, ENOSPC, FileOperation::writeAtomic);
    files.createDirectory(url("other"));
    EXPECT_EQ(errnoOf([&] { files.writeAtomic("two", url("state.json")); }), ENOSPC);
    EXPECT_EQ(readFile(path("state.json")), "one");
    files.writeAtomic("three", url("state.json"));
    EXPECT_EQ(readFile(path("state.json")), "three");

    // Counting over every operation: the 5th call overall is a copy.
    files.failCall(5, EXDEV);
    EXPECT_EQ(errnoOf([&] { files.copy(url("state.json"), url("copy.json")); }), EXDEV);
    EXPECT_FALSE(QFile::exists(path("copy.json")));

    files.failCallWith(1, std::make_exception_ptr(StoreError::recoveryRequired()), FileOperation::trash);
    try {
        files.trash(url("state.json"));
        ADD_FAILURE() << "the trash call ran";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.code(), StoreError::Code::recoveryRequired);
    }
    EXPECT_EQ(readFile(path("state.json")), "three");
}

TEST_F(FaultInjectingFileOperationsTest, ACrashStopsEveryLaterCall)
{
    files.setFilter([this](FileOperation, const QUrl& url) { return url.toLocalFile().startsWith(dir.path()); });
    files.writeAtomic("kept", url("state.json"));
    files.crashAtCall(2, FileOperation::writeAtomic);
    EXPECT_TRUE(crashes([&] { files.writeAtomic("lost", url("state.json")); }));
    EXPECT_TRUE(files.hasCrashed());
    EXPECT_EQ(readFile(path("state.json")), "kept");
    EXPECT_EQ(entriesOf(dir.path()), QStringList{QStringLiteral("state.json")});

    // Nothing reaches the disk any more, not even calls outside the filter.
    EXPECT_TRUE(crashes([&] { files.read(url("state.json")); }));
    EXPECT_TRUE(crashes([&] { files.createDirectory(url("later")); }));
    EXPECT_TRUE(crashes([&] { files.availableBytes(urlOf(QDir::rootPath())); }));
    EXPECT_FALSE(QFile::exists(path("later")));

    // The crash crosses a QFuture as itself.
    QFuture<void> future = QtConcurrent::run([&] { files.writeAtomic("x", url("state.json")); });
    EXPECT_TRUE(crashes([&] { future.waitForFinished(); }));

    files.reset();
    EXPECT_FALSE(files.hasCrashed());
    files.writeAtomic("after", url("state.json"));
    EXPECT_EQ(readFile(path("state.json")), "after");
}

TEST_F(FaultInjectingFileOperationsTest, CrashDebrisLooksLikeAnInterruptedWrite)
{
    files.writeAtomic("old contents", url("state.json"));
    files.setCrashLeavesDebris(true);
    files.crashAtCall(2);
    EXPECT_TRUE(crashes([&] { files.writeAtomic("0123456789", url("state.json")); }));
    EXPECT_EQ(readFile(path("state.json")), "old contents");
    const QStringList entries = entriesOf(dir.path());
    ASSERT_EQ(entries.size(), 2);
    const QString debris = entries.first();
    EXPECT_TRUE(isAtomicWriteTemporaryName(QFile::encodeName(debris).toStdString())) << debris.toStdString();
    EXPECT_FALSE(debris.endsWith(QStringLiteral(".json")));
    EXPECT_EQ(readFile(dir.filePath(debris)), "01234");

    files.reset();
    files.setCrashLeavesDebris(true);
    const QByteArray payload(1000, 'p');
    files.writeAtomic(payload, url("payload.bin"));
    files.crashAtCall(1, FileOperation::copy);
    EXPECT_TRUE(crashes([&] { files.copy(url("payload.bin"), url("staged.stage")); }));
    EXPECT_EQ(readFile(path("staged.stage")), payload.left(500));
    EXPECT_EQ(readFile(path("payload.bin")), payload);

    // Without debris a crash leaves nothing at all.
    files.reset();
    files.crashAtCall(1, FileOperation::copy);
    EXPECT_TRUE(crashes([&] { files.copy(url("payload.bin"), url("clean.stage")); }));
    EXPECT_FALSE(QFile::exists(path("clean.stage")));
}

// The save writes its new bytes beside the target on a thread of its own
// and moves them in place later, and makes its previous copy as a copy: each
// step meets the faults a plain atomic write would, and leaves what it would.
TEST_F(FaultInjectingFileOperationsTest, TheSavesOwnStepsFailAndCrashAsAWriteWould)
{
    const QByteArray bytes("0123456789");
    const struct {
        const char* name;
        std::function<void(FaultInjectingFileOperations&)> arm;
        const char* prepared; // the outcome of writing the bytes beside the target
        const char* committed; // of moving them in place; "" when not reached
        QByteArray target;
        QByteArray leftover; // the temporary file that stays; empty: none
    } cases[] = {
        {"no fault", [](auto&) {}, "ok", "ok", bytes, {}},
        {"writing fails", [](auto& f) { f.failCall(1, ENOSPC, FileOperation::writeAtomic); }, "error", "", "old", {}},
        {"the commit fails", [](auto& f) { f.failCall(1, EIO, FileOperation::commitAtomicWrite); }, "ok", "error",
            "old", {}},
        {"crash while writing", [](auto& f) { f.crashAtCall(1, FileOperation::writeAtomic); }, "crash", "", "old", {}},
        {"crash while writing, with debris",
            [](auto& f) {
                f.setCrashLeavesDebris(true);
                f.crashAtCall(1, FileOperation::writeAtomic);
            },
            "crash", "", "old", "01234"},
        {"crash at the commit", [](auto& f) { f.crashAtCall(1, FileOperation::commitAtomicWrite); }, "ok", "crash",
            "old", bytes},
        {"crash in between", [](auto& f) { f.crashAtCall(1, FileOperation::read); }, "ok", "crash", "old", bytes},
    };
    const auto outcome = [](const std::function<void()>& step) -> std::string {
        try {
            step();
            return "ok";
        } catch (const SimulatedCrash&) {
            return "crash";
        } catch (const std::system_error&) {
            return "error";
        }
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QUrl target = urlOf(folder.filePath(QStringLiteral("state.json")));
        SystemFileOperations::shared()->writeAtomic("old", target);
        files.reset();
        c.arm(files);

        std::optional<PreparedAtomicWrite> prepared;
        EXPECT_EQ(outcome([&] { prepared.emplace(files.prepareAtomicWrite(bytes, target)); }), c.prepared);
        std::string committed;
        if (prepared) {
            committed = outcome([&] {
                files.inspect(target);
                files.read(target);
                prepared->commit();
            });
        }
        prepared.reset();
        EXPECT_EQ(committed, c.committed);
        EXPECT_EQ(readFile(target.toLocalFile()), c.target);
        const QStringList entries = entriesOf(folder.path());
        ASSERT_EQ(entries.size(), c.leftover.isEmpty() ? 1 : 2) << entries.join(u' ').toStdString();
        if (!c.leftover.isEmpty()) {
            EXPECT_TRUE(isAtomicWriteTemporaryName(QFile::encodeName(entries.first()).toStdString()));
            EXPECT_EQ(readFile(folder.filePath(entries.first())), c.leftover);
        }
    }

    // The previous copy: one write of its destination.
    files.reset();
    files.writeAtomic("kept", url("state.previous.json"));
    files.writeAtomic("copied", url("state.json"));
    files.failCall(3, ENOSPC);
    EXPECT_EQ(errnoOf([&] { files.writeAtomicCopy(url("state.json"), url("state.previous.json")); }), ENOSPC);
    EXPECT_EQ(readFile(path("state.previous.json")), "kept");
    EXPECT_EQ(files.log().back().operation, FileOperation::writeAtomic);
    EXPECT_EQ(files.log().back().url, url("state.previous.json"));
    files.writeAtomicCopy(url("state.json"), url("state.previous.json"));
    EXPECT_EQ(readFile(path("state.previous.json")), "copied");
}

TEST_F(FaultInjectingFileOperationsTest, HoldsACallWhileOthersRun)
{
    files.writeAtomic("before", url("state.json"));
    files.holdCall(1, FileOperation::move);
    files.writeAtomic("moving", url("journal.json"));

    std::atomic<bool> finished{false};
    std::thread mover([&] {
        files.move(url("journal.json"), url("moved.json"));
        finished = true;
    });
    ASSERT_TRUE(files.waitUntilHeld());
    // While the move waits, other calls go through and the move has not happened.
    files.writeAtomic("during", url("state.json"));
    EXPECT_EQ(readFile(path("state.json")), "during");
    EXPECT_TRUE(QFile::exists(path("journal.json")));
    EXPECT_FALSE(finished.load());

    files.release();
    mover.join();
    EXPECT_TRUE(finished.load());
    EXPECT_EQ(readFile(path("moved.json")), "moving");
    EXPECT_FALSE(files.waitUntilHeld(std::chrono::milliseconds(1)));

    // A crash while a call is held means the held call never runs either.
    files.holdCall(1, FileOperation::trash);
    std::atomic<bool> heldCrashed{false};
    std::thread trasher([&] { heldCrashed = crashes([&] { files.trash(url("moved.json")); }); });
    ASSERT_TRUE(files.waitUntilHeld());
    files.crashAtCall(files.totalCallCount() + 1);
    EXPECT_TRUE(crashes([&] { files.inspect(url("moved.json")); }));
    files.release();
    trasher.join();
    EXPECT_TRUE(heldCrashed.load());
    EXPECT_TRUE(QFile::exists(path("moved.json")));
}

TEST_F(FaultInjectingFileOperationsTest, OverridesTheAvailableSpace)
{
    files.setAvailableBytes(1024);
    EXPECT_EQ(files.availableBytes(url("")), 1024);
    files.setAvailableBytesUnreported();
    try {
        files.availableBytes(urlOf(dir.path()));
        ADD_FAILURE() << "an unreported figure gave a number";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.code(), StoreError::Code::unavailableSpace);
    }
    EXPECT_EQ(files.callCount(FileOperation::availableBytes), 2);
    files.clearAvailableBytesOverride();
    EXPECT_GT(files.availableBytes(urlOf(dir.path())), 1024);
    files.setAvailableBytes(5);
    files.reset();
    EXPECT_GT(files.availableBytes(urlOf(dir.path())), 5);
}
