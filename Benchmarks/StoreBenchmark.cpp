// The store's load and save of large workspaces, measured in one run:
// - loading and validating a data root of 10,000 materials;
// - one save with 1,000 and with 10,000 materials beside a bare durable
//   atomic write of the same bytes, with their ratio;
// - the parts of a save (encoding, validation with and without the shared
//   resolution of folders) to show where the time goes.
// Figures are medians of several runs; run it on an idle machine.
#include "StoreBenchmarkSupport.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace tolvex;

namespace {

using benchmarks::makeDataRoot;
using benchmarks::medianMilliseconds;

void measureLoad(const QString& root)
{
    const QUrl rootURL = QUrl::fromLocalFile(root);
    const double load = medianMilliseconds(5, [&] {
        MaterialStore store(rootURL, SystemFileOperations::shared(), StorageBudget::standard());
        waitForResult(store.load());
    });
    QFile stateFile(root + QStringLiteral("/state.json"));
    stateFile.open(QIODevice::ReadOnly);
    const QByteArray bytes = stateFile.readAll();
    const double decode = medianMilliseconds(5, [&] { Json::decode<WorkspaceSnapshot>(bytes); });
    std::printf("load + validate, 10,000 materials:     %8.1f ms  (decoding alone %.1f ms, %.1f MB)\n", load, decode,
        bytes.size() / 1e6);
}

void measureSave(const QString& root, int count)
{
    const QUrl rootURL = QUrl::fromLocalFile(root);
    MaterialStore store(rootURL, SystemFileOperations::shared(), StorageBudget::standard());
    WorkspaceSnapshot snapshot = waitForResult(store.load());

    const double save = medianMilliseconds(9, [&] {
        snapshot = waitForResult(store.executor().run([snapshot](StoreContext& context) { return context.persist(snapshot); }));
    });
    const QByteArray encoded = Json::encode(snapshot);
    const QUrl bareURL = QUrl::fromLocalFile(root + QStringLiteral("/bare.bin"));
    const SystemFileOperations files;
    const double bare = medianMilliseconds(9, [&] { files.writeAtomic(encoded, bareURL); });

    const double encode = medianMilliseconds(9, [&] { Json::encode(snapshot); });
    const double validateCached = medianMilliseconds(9, [&] {
        waitForResult(store.executor().run([snapshot](StoreContext& context) { context.validate(snapshot); }));
    });
    const double validatePerPath = medianMilliseconds(5, [&] {
        waitForResult(store.executor().run([snapshot](StoreContext& context) {
            for (const MaterialRecord& record : snapshot.materials)
                context.validateRecord(record);
        }));
    });

    std::printf("save, %5d materials:                  %8.1f ms  bare atomic write of the same %.2f MB %6.1f ms  ratio %.2f\n",
        count, save, encoded.size() / 1e6, bare, save / bare);
    std::printf("  of which: encoding %.1f ms, validation %.1f ms (each path through the guard: %.1f ms)\n", encode,
        validateCached, validatePerPath);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        qFatal("no temporary folder");
    const QString large = folder.path() + QStringLiteral("/Large");
    const QString small = folder.path() + QStringLiteral("/Small");
    std::printf("writing data roots of 10,000 and 1,000 materials...\n");
    makeDataRoot(large, 10000);
    makeDataRoot(small, 1000);

    measureLoad(large);
    measureSave(small, 1000);
    measureSave(large, 10000);
    return 0;
}
