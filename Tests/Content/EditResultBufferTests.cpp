#include "TolvexCore/Content/EditResultBuffer.h"
#include "TolvexCore/Model/StoreError.h"

#include <QFuture>
#include <QPromise>

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>

#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <stdexcept>

using namespace tolvex;

namespace {

constexpr std::int64_t markupLimit = 268435456;

// QCoro::waitFor never returns when the awaited task throws, so the error is
// caught inside a coroutine and handed out as a value.
// (Wrapped: a task cannot carry an exception_ptr as its value.)
struct Outcome {
    std::exception_ptr error;
};

QCoro::Task<Outcome> capturing(QCoro::Task<void> task)
{
    try {
        co_await task;
    } catch (...) {
        co_return Outcome{std::current_exception()};
    }
    co_return Outcome{};
}

std::exception_ptr run(QCoro::Task<void> task)
{
    return QCoro::waitFor(capturing(std::move(task))).error;
}

std::optional<StoreError::Code> storeErrorCode(const std::exception_ptr& error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const StoreError& storeError) {
        return storeError.code();
    } catch (...) {
    }
    return std::nullopt;
}

std::optional<StoreError::Code> enqueueError(EditResultBuffer& buffer, const QByteArray& data)
{
    try {
        buffer.enqueue(data);
    } catch (const StoreError& error) {
        return error.code();
    }
    return std::nullopt;
}

// A save closure that records what it was handed.
struct RecordingSave {
    std::shared_ptr<QList<QByteArray>> saved = std::make_shared<QList<QByteArray>>();

    std::function<QCoro::Task<void>(QByteArray)> succeeding() const
    {
        return [saved = saved](QByteArray data) -> QCoro::Task<void> {
            saved->append(data);
            co_return;
        };
    }
    std::function<QCoro::Task<void>(QByteArray)> failing() const
    {
        return [saved = saved](QByteArray data) -> QCoro::Task<void> {
            saved->append(data);
            throw StoreError::operationInProgress();
            co_return;
        };
    }
};

} // namespace

TEST(EditResultBufferTest, EnqueueAcceptsUpToTheLimitAndRefusesEmptyOrLarger)
{
    EditResultBuffer buffer(markupLimit);
    EXPECT_FALSE(buffer.pending().has_value());

    // Pages of an uninitialized buffer are never touched, so this stays cheap.
    const QByteArray oversized(markupLimit + 1, Qt::Uninitialized);
    const QByteArray exact = QByteArray::fromRawData(oversized.constData(), markupLimit);
    EXPECT_EQ(enqueueError(buffer, exact), std::nullopt);
    ASSERT_TRUE(buffer.pending().has_value());
    const PendingEditResult accepted = *buffer.pending();
    EXPECT_EQ(accepted.data.size(), markupLimit);

    EXPECT_EQ(enqueueError(buffer, oversized), StoreError::Code::budgetExceeded);
    EXPECT_EQ(buffer.pending(), accepted);
    EXPECT_EQ(enqueueError(buffer, QByteArray()), StoreError::Code::budgetExceeded);
    EXPECT_EQ(buffer.pending(), accepted);

    EditResultBuffer empty(markupLimit);
    EXPECT_EQ(enqueueError(empty, QByteArray()), StoreError::Code::budgetExceeded);
    EXPECT_FALSE(empty.pending().has_value());
}

TEST(EditResultBufferTest, PersistWithNothingPendingFailsWithoutCallingTheSave)
{
    EditResultBuffer buffer(16);
    RecordingSave save;
    EXPECT_EQ(storeErrorCode(run(buffer.persist(save.succeeding()))), StoreError::Code::invalidEdit);
    EXPECT_TRUE(save.saved->isEmpty());
    EXPECT_FALSE(buffer.pending().has_value());
}

TEST(EditResultBufferTest, KeepsOnlyTheNewestResultAndClearsItOnceSaved)
{
    EditResultBuffer buffer(16);
    buffer.enqueue("first");
    const QUuid firstID = buffer.pending()->id;
    buffer.enqueue("second");
    EXPECT_NE(buffer.pending()->id, firstID);

    // An unrelated id does not clear it.
    buffer.acknowledge(firstID);
    ASSERT_TRUE(buffer.pending().has_value());

    RecordingSave save;
    EXPECT_EQ(run(buffer.persist(save.succeeding())), nullptr);
    EXPECT_EQ(*save.saved, QList<QByteArray>{"second"});
    EXPECT_FALSE(buffer.pending().has_value());
}

TEST(EditResultBufferTest, FailingSaveKeepsTheSameResultForARetry)
{
    EditResultBuffer buffer(16);
    buffer.enqueue("image");
    const PendingEditResult before = *buffer.pending();

    RecordingSave save;
    EXPECT_EQ(storeErrorCode(run(buffer.persist(save.failing()))), StoreError::Code::operationInProgress);
    EXPECT_EQ(buffer.pending(), before);

    EXPECT_EQ(run(buffer.persist(save.succeeding())), nullptr);
    EXPECT_EQ(*save.saved, (QList<QByteArray>{"image", "image"}));
    EXPECT_FALSE(buffer.pending().has_value());
}

TEST(EditResultBufferTest, ResultEnqueuedDuringASaveStaysPendingAfterIt)
{
    EditResultBuffer buffer(16);
    buffer.enqueue("older");

    QPromise<void> gate;
    gate.start();
    QFuture<void> opened = gate.future();
    auto saved = std::make_shared<QList<QByteArray>>();
    QCoro::Task<void> saving = buffer.persist([saved, opened](QByteArray data) -> QCoro::Task<void> {
        saved->append(data);
        co_await opened;
    });

    // The save is now suspended; a newer result arrives meanwhile.
    ASSERT_EQ(*saved, QList<QByteArray>{"older"});
    buffer.enqueue("newer");
    const PendingEditResult newer = *buffer.pending();
    gate.finish();
    EXPECT_EQ(run(std::move(saving)), nullptr);
    EXPECT_EQ(buffer.pending(), newer);

    RecordingSave again;
    EXPECT_EQ(run(buffer.persist(again.succeeding())), nullptr);
    EXPECT_EQ(*again.saved, QList<QByteArray>{"newer"});
    EXPECT_FALSE(buffer.pending().has_value());
}

TEST(EditResultBufferTest, BufferGoneDuringASaveIsNotTouchedAfterIt)
{
    auto buffer = std::make_unique<EditResultBuffer>(16);
    buffer->enqueue("image");
    QPromise<void> gate;
    gate.start();
    QFuture<void> opened = gate.future();
    QCoro::Task<void> saving = buffer->persist([opened](QByteArray) -> QCoro::Task<void> { co_await opened; });
    buffer.reset();
    gate.finish();
    EXPECT_EQ(run(std::move(saving)), nullptr);
}
