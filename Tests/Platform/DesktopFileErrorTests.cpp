#include "Velmarin/Platform/NoApplicationError.h"
#include "Velmarin/Platform/OpenFailedError.h"
#include "Velmarin/Platform/RevealFailedError.h"

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// Thrown on a worker thread, caught from its future by type, with its file.
template <typename Failure>
void expectCrossesAFutureAsItself()
{
    SCOPED_TRACE(Failure(QUrl()).what());
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/home/user/Exports/Quarterly figures.pdf"));
    QFuture<void> future = QtConcurrent::run([file] { throw Failure(file); });
    try {
        future.waitForFinished();
        ADD_FAILURE() << "nothing thrown";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.file(), file);
    } catch (...) {
        ADD_FAILURE() << "caught as something else";
    }
}

// Callers tell the desktop's failures apart by their type, which each must
// keep across the thread its work ran on.
TEST(DesktopFileError, EachFailureCrossesAFutureAsItself)
{
    expectCrossesAFutureAsItself<NoApplicationError>();
    expectCrossesAFutureAsItself<OpenFailedError>();
    expectCrossesAFutureAsItself<RevealFailedError>();
}

} // namespace
} // namespace tolvex
