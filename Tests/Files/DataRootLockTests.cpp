#include "FilesTesting.h"
#include "Support/FolderContents.h"

#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Files/DataRootLock.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>

using namespace tolvex;
using namespace tolvex::testing;

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

// A held folder moved away and a copy put at its path (a backup restored):
// every call below the path still reaches the held folder, so a write in
// flight lands there and never in the copy, which another program may hold.
TEST(DataRootLockTest, EveryFileCallBelowAHeldPathReachesTheHeldFolderWhereverItLies)
{
    const std::string leftover = atomicWriteTemporaryName("state.json", 0x0123456789abcdefULL);
    const struct {
        const char* name;
        std::function<void(const QString& root)> call;
        // What the held folder, now at "<root>.moved", shows afterwards.
        std::function<void(const QString& held)> check;
    } cases[] = {
        {"an atomic write", [](const QString& root) { files().writeAtomic("new", urlOf(root + "/state.json")); },
            [](const QString& held) { EXPECT_EQ(readFile(held + "/state.json"), "new"); }},
        {"a prepared write committed", [](const QString& root) {
             files().prepareAtomicWrite("new", urlOf(root + "/state.json")).commit();
         }, [](const QString& held) { EXPECT_EQ(readFile(held + "/state.json"), "new"); }},
        {"the previous copy", [](const QString& root) {
             files().writeAtomicCopy(urlOf(root + "/state.json"), urlOf(root + "/state.previous.json"));
         }, [](const QString& held) { EXPECT_EQ(readFile(held + "/state.previous.json"), "old"); }},
        {"a separate copy", [](const QString& root) {
             files().writeAtomicSeparateCopy(urlOf(root + "/marker"), urlOf(root + "/copied"));
         }, [](const QString& held) { EXPECT_EQ(readFile(held + "/copied"), "held"); }},
        {"a copy", [](const QString& root) { files().copy(urlOf(root + "/marker"), urlOf(root + "/copied")); },
            [](const QString& held) { EXPECT_EQ(readFile(held + "/copied"), "held"); }},
        {"a copy of an open file", [](const QString& root) {
             files().sync(files().copy(files().open(urlOf(root + "/marker")), urlOf(root + "/Exports"),
                 QStringLiteral("new/copied"), FileOperations::MissingFolders::create, 4));
         }, [](const QString& held) { EXPECT_EQ(readFile(held + "/Exports/new/copied"), "held"); }},
        {"a move", [](const QString& root) {
             files().move(urlOf(root + "/marker"), urlOf(root + "/Exports/marker"));
         }, [](const QString& held) {
             EXPECT_EQ(readFile(held + "/Exports/marker"), "held");
             EXPECT_FALSE(exists(held + "/marker"));
         }},
        {"a new folder", [](const QString& root) { files().createDirectory(urlOf(root + "/Drafts/new")); },
            [](const QString& held) { EXPECT_TRUE(QFileInfo(held + "/Drafts/new").isDir()); }},
        {"a leftover's removal", [&](const QString& root) {
             files().removeAtomicWriteLeftover(urlOf(root + u'/' + QString::fromStdString(leftover)));
         }, [&](const QString& held) { EXPECT_FALSE(exists(held + u'/' + QString::fromStdString(leftover))); }},
        {"a move to the Trash", [](const QString& root) {
             const QUrl trashed = files().trash(urlOf(root + "/Exports"));
             EXPECT_EQ(readFile(trashed.toLocalFile() + "/inside"), "exported");
         }, [](const QString& held) { EXPECT_FALSE(exists(held + "/Exports")); }},
        {"reads and looks", [](const QString& root) {
             EXPECT_EQ(files().read(urlOf(root + "/marker")), "held");
             EXPECT_TRUE(files().inspect(urlOf(root + "/marker")).isRegularFile);
             EXPECT_TRUE(files().listNames(urlOf(root)).contains(QStringLiteral("marker")));
         }, [](const QString&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir temporary;
        const QString root = temporary.path() + QStringLiteral("/Tolvex");
        const QString held = root + QStringLiteral(".moved");
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Exports")));
        writeFile(root + QStringLiteral("/state.json"), "old");
        writeFile(root + QStringLiteral("/Exports/inside"), "exported");
        writeFile(root + u'/' + QString::fromStdString(leftover), "torn");
        std::optional<DataRootLock> lock(DataRootLock::acquire(root));

        ASSERT_TRUE(QDir().rename(root, held));
        std::filesystem::copy(held.toStdString(), root.toStdString(), std::filesystem::copy_options::recursive);
        // Only the held folder has it: a read that finds it read the held folder.
        writeFile(held + QStringLiteral("/marker"), "held");
        const QMap<QString, QByteArray> atPath = folderContents(root);

        c.call(root);
        c.check(held);
        EXPECT_EQ(folderContents(root), atPath) << "the folder now at the path is untouched";

        // Once the claim ends, the path is a path like any other.
        lock.reset();
        files().writeAtomic("after", urlOf(root + QStringLiteral("/state.json")));
        EXPECT_EQ(readFile(root + QStringLiteral("/state.json")), "after");
    }
}
