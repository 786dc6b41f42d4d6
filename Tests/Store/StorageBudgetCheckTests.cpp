#include "StoreTesting.h"

#include "Support/ForwardingFileOperations.h"
#include "TolvexCore/Store/Internal/StorageBudgetCheck.h"

#include <QThread>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

using namespace tolvex;
using namespace tolvex::testing;
namespace fs = std::filesystem;

namespace {

using Count = StorageBudgetCheck::Count;

constexpr std::int64_t hourNanoseconds = std::int64_t{3600} * 1000000000;

// Counts the folders listed by name; looks at the disk like the real layer.
class ListingCounter final : public ForwardingFileOperations {
public:
    QStringList listNames(const QUrl& url) const override
    {
        {
            const std::scoped_lock lock(mutex_);
            listed_.append(url.fileName());
        }
        return inner->listNames(url);
    }
    std::optional<std::vector<ItemLook>> inspectBelow(const QUrl& folder, const QStringList& paths) const override
    {
        return inner->inspectBelow(folder, paths);
    }
    QStringList takeListed() const
    {
        const std::scoped_lock lock(mutex_);
        return std::exchange(listed_, {});
    }

private:
    mutable std::mutex mutex_;
    mutable QStringList listed_;
};

class StorageBudgetCheckTest : public StoreTestCase {
protected:
    // A data root of every kind of thing the budget counts or passes over,
    // below "<tmp>/<name>/Tolvex"; returns the root.
    QString makeRoot(const QString& name) const
    {
        const QString root = temporary.path() + u'/' + name + QStringLiteral("/Tolvex");
        write(root, "Materials/A/1.txt", "alpha");
        write(root, "Materials/A/sub/deep.bin", QByteArray(300, 'd'));
        write(root, "Materials/B/2.png", QByteArray(1000, 'b'));
        write(root, "Materials/C/3.txt", "gamma gamma");
        write(root, "Drafts/D/note.json", "{\"text\":\"draft\"}");
        write(root, "Drafts/D/working.txt", "working copy");
        write(root, "Exports/copy.txt", QByteArray(77, 'e'));
        write(root, "Transactions/S.stage", QByteArray(10, 's'));
        write(root, "Transactions/J.json", QByteArray(5000, 'j'));
        return root;
    }

    static void write(const QString& root, const char* relativePath, const QByteArray& bytes, bool append = false)
    {
        const QString file = root + u'/' + QString::fromUtf8(relativePath);
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        ASSERT_TRUE(out.open(append ? QIODevice::Append : (QIODevice::WriteOnly | QIODevice::Truncate)));
        out.write(bytes);
    }

    // The used bytes one way of counting gives, or its error.
    static std::string outcome(MaterialStore& store, Count count)
    {
        return waitForResult(store.executor().run([count](StoreContext& context) -> std::string {
            try {
                return std::to_string(StorageBudgetCheck(context).usedBytes(count));
            } catch (const StoreError& error) {
                return "StoreError " + std::string(error.caseName());
            } catch (const std::system_error& error) {
                return "file error " + error.code().message();
            }
        }));
    }

    // Every folder the check counts looks settled to the next check.
    static void settleEverything(MaterialStore& store)
    {
        waitForResult(store.executor().run([](StoreContext& context) {
            context.budgetFolders.clock = [] { return BudgetFolderCache::systemClock() + hourNanoseconds; };
        }));
    }

    // Waits until the file system stamps a change later than every stamp
    // the check kept, so that a change made now gives its folder new times
    // (the stamps come from a clock that moves in ticks).
    static void waitForNewStamps(MaterialStore& store, const QString& probeFolder)
    {
        const std::int64_t latest = waitForResult(store.executor().run([](StoreContext& context) {
            std::int64_t latest = 0;
            for (const BudgetFolderCache::Folder& folder : context.budgetFolders.folders)
                latest = std::max({latest, folder.identity.changeTime, folder.identity.modificationTime});
            return latest;
        }));
        const std::string probe = (probeFolder + QStringLiteral("/probe")).toStdString();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            fs::remove(probe);
            fs::create_directory(probe);
            struct stat status {};
            ASSERT_EQ(::stat(probe.c_str(), &status), 0);
            if (status.st_ctim.tv_sec * std::int64_t{1000000000} + status.st_ctim.tv_nsec > latest)
                break;
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the file system's stamps do not move on";
            QThread::msleep(5);
        }
        fs::remove(probe);
    }
};

} // namespace

// Whatever changed since the last check, the check that keeps listings
// counts (or fails) exactly as a walk of every folder does.
TEST_F(StorageBudgetCheckTest, KeptListingsCountAndFailAsTheFullWalk)
{
    using Alteration = std::function<void(const QString& root)>;
    const auto path = [](const QString& root, const char* relative) { return (root + u'/' + QString::fromUtf8(relative)).toStdString(); };
    const auto setModificationTime = [](const std::string& file, fs::file_time_type time) { fs::last_write_time(file, time); };
    const std::pair<const char*, Alteration> alterations[] = {
        {"nothing", [](const QString&) {}},
        {"a file added", [](const QString& root) { write(root, "Materials/A/4.txt", "added"); }},
        {"a file grown", [](const QString& root) { write(root, "Materials/B/2.png", QByteArray(24, 'g'), true); }},
        {"a file shrunk", [&](const QString& root) { fs::resize_file(path(root, "Materials/B/2.png"), 10); }},
        {"a file removed", [&](const QString& root) { fs::remove(path(root, "Materials/C/3.txt")); }},
        {"a deep file grown", [](const QString& root) { write(root, "Materials/A/sub/deep.bin", "more", true); }},
        {"a draft grown", [](const QString& root) { write(root, "Drafts/D/working.txt", "more", true); }},
        {"an export added", [](const QString& root) { write(root, "Exports/second.txt", "second"); }},
        {"a size changed, its modification time put back", [&](const QString& root) {
             const std::string file = path(root, "Materials/C/3.txt");
             const fs::file_time_type before = fs::last_write_time(file);
             fs::resize_file(file, 0);
             write(root, "Materials/C/3.txt", QByteArray(4000, 'x'));
             setModificationTime(file, before);
         }},
        {"a file added, its folder's modification time put back", [&](const QString& root) {
             const std::string folder = path(root, "Materials/C");
             const fs::file_time_type before = fs::last_write_time(folder);
             write(root, "Materials/C/hidden.bin", QByteArray(123, 'h'));
             setModificationTime(folder, before);
         }},
        {"a file replaced by a link", [&](const QString& root) {
             fs::remove(path(root, "Materials/C/3.txt"));
             fs::create_symlink(path(root, "Materials/B/2.png"), path(root, "Materials/C/3.txt"));
         }},
        {"a folder replaced by a link", [&](const QString& root) {
             fs::remove_all(path(root, "Materials/C"));
             fs::create_directory_symlink(path(root, "Materials/B"), path(root, "Materials/C"));
         }},
        {"a link planted deep", [&](const QString& root) {
             fs::create_symlink(path(root, "Exports/copy.txt"), path(root, "Materials/A/sub/link.bin"));
         }},
        {"a folder renamed", [&](const QString& root) { fs::rename(path(root, "Materials/B"), path(root, "Materials/E")); }},
        {"a folder replaced by another of the same names", [&](const QString& root) {
             fs::remove_all(path(root, "Materials/A"));
             write(root, "Materials/A/1.txt", "alpha, longer");
             write(root, "Materials/A/sub/deep.bin", "short");
         }},
        {"a folder emptied", [&](const QString& root) { fs::remove_all(path(root, "Materials/A/sub")); }},
        {"a pipe planted", [&](const QString& root) { ASSERT_EQ(::mkfifo(path(root, "Materials/B/pipe").c_str(), 0600), 0); }},
        {"a leftover of an atomic write", [](const QString& root) { write(root, "Drafts/D/.note.json.tolvex-tmp-0123456789abcdef", "half"); }},
        {"a staging file added", [](const QString& root) { write(root, "Transactions/T.stage", QByteArray(40, 't')); }},
        {"a staging file grown", [](const QString& root) { write(root, "Transactions/S.stage", "more", true); }},
        {"a journal added", [](const QString& root) { write(root, "Transactions/K.json", "{}"); }},
        {"a staging entry that is a folder", [&](const QString& root) { fs::create_directory(path(root, "Transactions/F.stage")); }},
        {"a top folder replaced by a link", [&](const QString& root) {
             fs::remove_all(path(root, "Exports"));
             fs::create_directory_symlink(path(root, "Drafts"), path(root, "Exports"));
         }},
        {"a top folder removed", [&](const QString& root) { fs::remove_all(path(root, "Drafts")); }},
    };

    int row = 0;
    for (const auto& [name, alter] : alterations) {
        SCOPED_TRACE(name);
        const QString root = makeRoot(QStringLiteral("row%1").arg(row++));
        MaterialStore store(QUrl::fromLocalFile(root), SystemFileOperations::shared(), roomyBudget());
        settleEverything(store);
        ASSERT_EQ(outcome(store, Count::remembered), outcome(store, Count::fullWalk));
        waitForNewStamps(store, QFileInfo(root).path());

        alter(root);
        const std::string walked = outcome(store, Count::fullWalk);
        EXPECT_EQ(outcome(store, Count::remembered), walked);
        // And again, from what this check kept.
        EXPECT_EQ(outcome(store, Count::remembered), walked);
    }
}

// Listings are kept only for folders whose times had settled when they were
// looked at, and a kept listing serves until its folder changes.
TEST_F(StorageBudgetCheckTest, OnlySettledUnchangedFoldersAreNotListedAgain)
{
    const auto files = std::make_shared<ListingCounter>();
    int run = 0;
    const auto listedAtSecondCheck = [&](bool settled, const std::function<void(const QString& root, MaterialStore&)>& between) {
        const QString root = makeRoot(QStringLiteral("run%1").arg(run++));
        MaterialStore store(QUrl::fromLocalFile(root), files, roomyBudget());
        if (settled) {
            settleEverything(store);
        } else {
            // The moment the folders were just made, however long the check then takes.
            const std::int64_t now = BudgetFolderCache::systemClock();
            waitForResult(store.executor().run([now](StoreContext& context) { context.budgetFolders.clock = [now] { return now; }; }));
        }
        outcome(store, Count::remembered);
        between(root, store);
        files->takeListed();
        outcome(store, Count::remembered);
        QStringList listed = files->takeListed();
        listed.sort();
        return listed.join(u' ').toStdString();
    };
    const auto nothing = [](const QString&, MaterialStore&) {};
    EXPECT_EQ(listedAtSecondCheck(true, nothing), "");
    EXPECT_EQ(listedAtSecondCheck(false, nothing), "A B C D Drafts Exports Materials Transactions sub")
        << "folders stamped just now may still change within their stamp";
    EXPECT_EQ(listedAtSecondCheck(true,
                  [this](const QString& root, MaterialStore& store) {
                      waitForNewStamps(store, QFileInfo(root).path());
                      write(root, "Materials/B/new.txt", "new");
                      write(root, "Materials/C/3.txt", "grown", true);
                  }),
        "B");
}
