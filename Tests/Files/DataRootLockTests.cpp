#include "TolvexCore/Files/DataRootLock.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <system_error>

using namespace tolvex;

namespace {

std::errc lockError(const QString& path)
{
    try {
        DataRootLock::acquire(path);
    } catch (const std::system_error& error) {
        return static_cast<std::errc>(error.code().value());
    }
    return std::errc{};
}

} // namespace

TEST(DataRootLockTest, OneHolderAtATimeUntilTheHolderIsGone)
{
    QTemporaryDir temporary;
    const QString root = temporary.path() + QStringLiteral("/a/b/Tolvex");

    std::optional<DataRootLock> first(DataRootLock::acquire(root));
    EXPECT_TRUE(QFileInfo(root).isDir()) << "a missing root is made, with the folders above it";
    EXPECT_TRUE(QDir(root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        << "the lock adds no file to the root";
    EXPECT_EQ(lockError(root), std::errc::operation_would_block);

    // Moving the claim keeps it; the moved-from holder gives nothing up.
    std::optional<DataRootLock> moved(std::move(*first));
    EXPECT_FALSE(first->isHeld());
    first.reset();
    EXPECT_TRUE(moved->isHeld());
    EXPECT_EQ(moved->path(), root);
    EXPECT_EQ(lockError(root), std::errc::operation_would_block);

    moved.reset();
    EXPECT_EQ(lockError(root), std::errc{}) << "destroying the holder ends the claim";

    EXPECT_EQ(lockError(QStringLiteral("relative/Tolvex")), std::errc::invalid_argument);
    EXPECT_EQ(lockError(temporary.path() + QStringLiteral("/a")), std::errc{}) << "another folder is another claim";
}
