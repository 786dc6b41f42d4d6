// The store's load, save and cleanup over large workspaces, every figure
// against a baseline measured in the same run on the same machine:
// - a save beside a bare durable atomic write of the same bytes, at 1,000,
//   10,000 and 50,000 materials, with the parts of a save;
// - a whole command that saves (the rename of one material) beside a bare
//   durable atomic write of the state.json it saved, at the same sizes;
// - a load (read, parse, decode, validate, journal listing) beside a plain
//   DOM parse of the same bytes by nlohmann, at the same sizes, with the heap
//   the loaded workspace keeps per material;
// - a storage cleanup of 500 taken-down materials in a workspace of 10,000,
//   beside as many bare durable writes of its receipt.
// Figures are medians of several runs; run it on an idle machine. Pass
// "--quick" to leave out the 50,000-material data root and the cleanup.
#include "StoreBenchmarkSupport.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <malloc.h>
#include <memory>

using namespace tolvex;

namespace {

using benchmarks::makeDataRoot;
using benchmarks::medianMilliseconds;

QByteArray readWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

void measureLoad(const QString& root, int count)
{
    const QUrl rootURL = QUrl::fromLocalFile(root);
    const int runs = count > 20000 ? 3 : 7;
    const double load = medianMilliseconds(runs, [&] {
        MaterialStore store(rootURL, SystemFileOperations::shared(), StorageBudget::standard());
        waitForResult(store.load());
    });
    const QByteArray bytes = readWhole(root + QStringLiteral("/state.json"));
    const double dom = medianMilliseconds(runs, [&] {
        const auto document = nlohmann::json::parse(bytes.cbegin(), bytes.cend());
        if (document.size() == 0)
            std::abort();
    });
    const double decode = medianMilliseconds(runs, [&] { Json::decode<WorkspaceSnapshot>(bytes); });

    // What a loaded store keeps on the heap, per material.
    malloc_trim(0);
    const std::size_t heapBefore = mallinfo2().uordblks;
    auto store = std::make_unique<MaterialStore>(rootURL, SystemFileOperations::shared(), StorageBudget::standard());
    waitForResult(store->load());
    const std::size_t heapAfter = mallinfo2().uordblks;
    store.reset();

    std::printf("load %6d materials (%5.1f MB): %7.1f ms; nlohmann DOM parse %7.1f ms; ratio %.2f"
                "  (decoding alone %.1f ms; %.0f bytes of heap per loaded material)\n",
        count, bytes.size() / 1e6, load, dom, load / dom, decode,
        static_cast<double>(heapAfter - heapBefore) / count);
}

void measureSave(const QString& root, int count)
{
    const QUrl rootURL = QUrl::fromLocalFile(root);
    MaterialStore store(rootURL, SystemFileOperations::shared(), StorageBudget::standard());
    WorkspaceSnapshot snapshot = waitForResult(store.load());
    const int runs = count > 20000 ? 5 : 9;

    // Each save changes one material, as a command does.
    int round = 0;
    const double save = medianMilliseconds(runs, [&] {
        MaterialRecord& changed = snapshot.materials[(round * 7919) % snapshot.materials.size()];
        changed.title = QStringLiteral("Renamed in round %1").arg(++round);
        snapshot = waitForResult(store.executor().run([snapshot](StoreContext& context) { return context.persist(snapshot); }));
    });
    const QByteArray encoded = Json::encode(snapshot);
    const QUrl bareURL = QUrl::fromLocalFile(root + QStringLiteral("/bare.bin"));
    const SystemFileOperations files;
    const double bare = medianMilliseconds(runs, [&] { files.writeAtomic(encoded, bareURL); });
    const double encode = medianMilliseconds(runs, [&] { Json::encode(snapshot); });
    const double validate = medianMilliseconds(runs, [&] {
        waitForResult(store.executor().run([snapshot](StoreContext& context) { context.validate(snapshot); }));
    });

    std::printf("save %6d materials (%5.1f MB): %7.1f ms; bare durable atomic write %7.1f ms; ratio %.2f"
                "  (a full encoding %.1f ms = %.2f; validation %.1f ms = %.2f)\n",
        count, encoded.size() / 1e6, save, bare, save / bare, encode, encode / bare, validate, validate / bare);
}

// A whole command that saves, as the shelf sends it: the rename of one
// material, queued on the store and answered. Each command alternates with a
// bare durable write of the bytes it saved, so that both see the same load
// of the machine.
void measureRename(const QString& root, int count)
{
    const QUrl rootURL = QUrl::fromLocalFile(root);
    MaterialStore store(rootURL, SystemFileOperations::shared(), StorageBudget::standard());
    const WorkspaceSnapshot loaded = waitForResult(store.load());
    const QUrl stateURL = QUrl::fromLocalFile(root + QStringLiteral("/state.json"));
    const QUrl bareURL = QUrl::fromLocalFile(root + QStringLiteral("/bare.bin"));
    const SystemFileOperations files;
    using Clock = std::chrono::steady_clock;
    std::vector<double> renames;
    std::vector<double> bares;
    for (int round = 0; round < 21; ++round) {
        const QUuid id = loaded.materials[(round * 7919) % loaded.materials.size()].id;
        auto start = Clock::now();
        waitForResult(store.apply(MaterialCommand::renameMaterial(id, QStringLiteral("Renamed in round %1").arg(round)),
            std::numeric_limits<std::int64_t>::max()));
        renames.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        const QByteArray saved = files.read(stateURL);
        start = Clock::now();
        files.writeAtomic(saved, bareURL);
        bares.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(renames.begin(), renames.end());
    std::sort(bares.begin(), bares.end());
    const double rename = renames[renames.size() / 2];
    const double bare = bares[bares.size() / 2];
    std::printf("rename of one material among %6d: %7.1f ms; bare durable atomic write of the saved state.json"
                " %7.1f ms; ratio %.2f\n",
        count, rename, bare, rename / bare);
}

void measureCleanup(const QString& root, int count, int targets)
{
    const QUrl rootURL = QUrl::fromLocalFile(root);
    MaterialStore store(rootURL, SystemFileOperations::shared(), StorageBudget::standard());
    waitForResult(store.load());
    const StorageCleanupPlan plan = waitForResult(store.previewStorageCleanup(Date::now()));
    if (plan.targets.size() != targets)
        qFatal("the plan has %lld targets", static_cast<long long>(plan.targets.size()));

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const StorageCleanupResult result = waitForResult(store.cleanStorage(plan));
    const double cleanup = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (result.movedCount != targets)
        qFatal("moved %lld of %d targets", static_cast<long long>(result.movedCount), targets);

    const QByteArray receipt = readWhole(result.receiptURL.toLocalFile());
    const QUrl bareURL = QUrl::fromLocalFile(root + QStringLiteral("/bare.bin"));
    const SystemFileOperations files;
    const double bare = medianMilliseconds(5, [&] { files.writeAtomic(receipt, bareURL); });
    std::printf("cleanup of %d targets among %d materials: %8.1f ms (%.1f ms a target); a bare durable write of the"
                " %.1f MB receipt %.1f ms; ratio to one such write per target %.2f\n",
        targets, count, cleanup, cleanup / targets, receipt.size() / 1e6, bare, cleanup / (bare * targets));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    QTemporaryDir folder;
    if (!folder.isValid())
        qFatal("no temporary folder");
    // The cleanup's Trash on the same volume as its data root, never the user's.
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder.path() + QStringLiteral("/share")));

    QList<int> sizes = {1000, 10000};
    if (!quick)
        sizes.append(50000);
    for (const int count : sizes) {
        const QString root = folder.path() + QStringLiteral("/Root%1").arg(count);
        std::printf("writing a data root of %d materials...\n", count);
        makeDataRoot(root, count);
        measureLoad(root, count);
        measureSave(root, count);
        measureRename(root, count);
        std::fflush(stdout);
    }
    if (!quick) {
        const QString root = folder.path() + QStringLiteral("/Cleanup");
        std::printf("writing a data root of 10,000 materials, 500 of them taken down...\n");
        makeDataRoot(root, 10000, 500);
        measureCleanup(root, 10000, 500);
    }
    return 0;
}
