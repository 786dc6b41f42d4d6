// The import and the two card commands in a store that holds 1,000
// materials, measured in one run:
// - import latency of a 1 KB text, a 5 MB PNG and a 256 MiB file;
// - the 256 MiB import's throughput beside one raw OpenSSL SHA-256 pass over
//   the same bytes (the import reads and hashes the file several times over),
//   and the staging of that file alone as a share of that pass's throughput;
// - milliseconds per takeDown and per hang (each saves the workspace);
// - the storage budget check an import makes, at 1,000 and 5,000 materials:
//   the walk of every stored file beside the check as imports run it, each
//   with its system calls (where the kernel lets them be counted).
// Figures are medians; run it on an idle machine with 2 GB free in /tmp.
// Pass "--budget" for the budget check alone.
#include "StoreBenchmarkSupport.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/Internal/StorageBudgetCheck.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <limits>

using namespace tolvex;
using benchmarks::medianMilliseconds;

namespace {

constexpr std::int64_t unlimited = std::numeric_limits<std::int64_t>::max();
constexpr qsizetype largeFileBytes = 268435456; // 256 MiB: the standard per-file limit, which passes

SourceRecord clipboardSource()
{
    SourceRecord source;
    source.origin = ImportOrigin::clipboard;
    return source;
}

QByteArray noisePng(quint32 seed)
{
    // Noise does not compress: about 5 MB of PNG.
    QImage image(1320, 1280, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = random.generate();
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", 0);
    return png;
}

double sha256Milliseconds(const QByteArray& bytes)
{
    return medianMilliseconds(3, [&] {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(bytes.constData(), static_cast<std::size_t>(bytes.size()), digest, &length, EVP_sha256(), nullptr);
    });
}

ImportResult importNow(MaterialStore& store, const ImportRequest& request)
{
    const ImportResult result = waitForResult(store.importMaterial(
        request, MatterGroup::ungroupedID(), unlimited, false, std::nullopt, DuplicateImportPolicy::keepExisting));
    if (result.disposition.kind() != ImportDisposition::Case::hanging)
        qFatal("the benchmark's import did not hang a new card");
    return result;
}

// One budget check of the store's, timed and counted on the store's thread.
struct CheckFigures {
    double milliseconds = 0;
    std::array<long long, benchmarks::SyscallCounter::kindCount> calls {};
};

CheckFigures checkOnce(MaterialStore& store, benchmarks::SyscallCounter& counter, StorageBudgetCheck::Count count)
{
    const auto check = [&] {
        waitForResult(store.executor().run([count](StoreContext& context) {
            StorageBudgetCheck(context).checkBudget(1, count);
        }));
    };
    CheckFigures figures;
    figures.milliseconds = medianMilliseconds(1, check);
    // Counted on a second run, which finds the folders as the first left them.
    figures.calls = counter.count(check);
    return figures;
}

void printCheck(const char* name, const CheckFigures& figures)
{
    std::printf("  %-34s %8.2f ms;", name, figures.milliseconds);
    if (figures.calls[0] < 0) {
        std::printf(" system calls not countable here\n");
        return;
    }
    std::printf(" %6lld system calls: %6lld stat, %5lld readlink, %4lld getdents, %4lld open\n", figures.calls[0],
        figures.calls[1], figures.calls[2], figures.calls[3], figures.calls[4]);
}

// The budget check as each import makes it: after an import, what the next
// import's check costs, by the walk of every stored file and by the check
// as imports run it. Medians over several imports.
void measureBudget(const QString& folderPath, int count)
{
    const QString root = folderPath + QStringLiteral("/Budget%1").arg(count);
    std::printf("writing a data root of %d materials...\n", count);
    benchmarks::makeDataRoot(root, count);
    // The folders of a library in use are older than the few seconds a
    // folder's listing needs to settle before it is kept.
    QThread::sleep(4);
    MaterialStore store(QUrl::fromLocalFile(root), SystemFileOperations::shared(), StorageBudget::standard());
    waitForResult(store.load());
    const pid_t storeThread = waitForResult(store.executor().run([](StoreContext&) { return ::gettid(); }));
    benchmarks::SyscallCounter counter(storeThread);

    std::vector<CheckFigures> walks;
    std::vector<CheckFigures> checks;
    for (int round = 0; round < 9; ++round) {
        importNow(store, ImportRequest::text(QStringLiteral("budget round %1").arg(round), clipboardSource()));
        checks.push_back(checkOnce(store, counter, StorageBudgetCheck::Count::remembered));
        walks.push_back(checkOnce(store, counter, StorageBudgetCheck::Count::fullWalk));
    }
    const auto median = [](std::vector<CheckFigures> figures) {
        std::sort(figures.begin(), figures.end(), [](const auto& a, const auto& b) { return a.milliseconds < b.milliseconds; });
        return figures[figures.size() / 2];
    };
    const CheckFigures walk = median(walks);
    const CheckFigures check = median(checks);
    std::printf("budget check after an import, %d materials:\n", count);
    printCheck("walk of every stored file", walk);
    printCheck("check as imports run it", check);
    std::printf("  walk / check = %.1f\n", walk.milliseconds / check.milliseconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        qFatal("no temporary folder");
    if (argc > 1 && std::strcmp(argv[1], "--budget") == 0) {
        for (const int count : {1000, 5000})
            measureBudget(folder.path(), count);
        return 0;
    }
    const QString root = folder.path() + QStringLiteral("/Tolvex");
    std::printf("writing a data root of 1,000 materials...\n");
    const WorkspaceSnapshot initial = benchmarks::makeDataRoot(root, 1000);
    MaterialStore store(QUrl::fromLocalFile(root), SystemFileOperations::shared(), StorageBudget::standard());
    waitForResult(store.load());

    int serial = 0;
    const double text = medianMilliseconds(15, [&] {
        QString words = QStringLiteral("text %1 ").arg(++serial);
        words += QString(1024 - words.size(), u'x');
        importNow(store, ImportRequest::text(words, clipboardSource()));
    });

    std::vector<QByteArray> pngs;
    for (quint32 i = 0; i < 5; ++i)
        pngs.push_back(noisePng(i + 1));
    std::size_t nextPng = 0;
    const double png = medianMilliseconds(5, [&] {
        importNow(store, ImportRequest::imageData(pngs[nextPng++], clipboardSource()));
    });

    // The large file: other first bytes before every run, so that it is no duplicate.
    const QString largePath = folder.path() + QStringLiteral("/large.bin");
    QByteArray large(largeFileBytes, '\0');
    for (qsizetype i = 0; i < large.size(); i += 4096)
        large[i] = static_cast<char>(i / 4096);
    double largeImport = 0;
    {
        std::vector<double> times;
        for (int run = 0; run < 3; ++run) {
            large[0] = static_cast<char>('a' + run);
            benchmarks::writeWhole(largePath, large);
            times.push_back(medianMilliseconds(1, [&] {
                importNow(store, ImportRequest::file(QUrl::fromLocalFile(largePath), ImportOrigin::fileSelection));
            }));
        }
        std::sort(times.begin(), times.end());
        largeImport = times[1];
    }
    // Staging alone, of the same file, into the same data root.
    double staging = 0;
    {
        const ContentStore content(QUrl::fromLocalFile(root), SystemFileOperations::shared());
        std::vector<double> times;
        for (int run = 0; run < 3; ++run) {
            QUrl staged;
            times.push_back(medianMilliseconds(1, [&] {
                staged = content.stage(ImportRequest::file(QUrl::fromLocalFile(largePath), ImportOrigin::fileSelection))
                             .stagingURL;
            }));
            QFile::remove(staged.toLocalFile());
        }
        std::sort(times.begin(), times.end());
        staging = times[1];
    }
    const double hash = sha256Milliseconds(large);
    const double mebibytes = largeFileBytes / 1048576.0;

    // Taken down and hung again in turn, each timed on its own.
    const QUuid card = initial.materials[1].id; // hanging
    std::vector<double> downs;
    std::vector<double> hangs;
    for (int i = 0; i < 15; ++i) {
        downs.push_back(medianMilliseconds(1, [&] { waitForResult(store.apply(MaterialCommand::takeDown(card), unlimited)); }));
        hangs.push_back(medianMilliseconds(1, [&] { waitForResult(store.apply(MaterialCommand::hang(card), unlimited)); }));
    }
    std::sort(downs.begin(), downs.end());
    std::sort(hangs.begin(), hangs.end());
    const double takeDown = downs[downs.size() / 2];
    const double hang = hangs[hangs.size() / 2];

    const int materials = static_cast<int>(waitForResult(store.load()).materials.size());
    std::printf("import into a store of 1,000 materials (%d after the runs):\n", materials);
    std::printf("  1 KB text:             %8.1f ms\n", text);
    std::printf("  5 MB PNG (%.1f MB):     %8.1f ms\n", pngs[0].size() / 1e6, png);
    std::printf("  256 MiB file:          %8.1f ms  = %.0f MiB/s\n", largeImport, mebibytes / (largeImport / 1000));
    std::printf("  one SHA-256 pass over the same 256 MiB in memory: %.1f ms = %.0f MiB/s; import / pass = %.1f\n",
        hash, mebibytes / (hash / 1000), largeImport / hash);
    std::printf("  staging the 256 MiB file alone: %.1f ms = %.0f MiB/s; staging / SHA-256 throughput = %.3fx\n",
        staging, mebibytes / (staging / 1000), hash / staging);
    std::printf("commands with 1,000 materials (each saves the workspace):\n");
    std::printf("  takeDown:              %8.2f ms\n", takeDown);
    std::printf("  hang:                  %8.2f ms  (checks the card's payload, then saves)\n", hang);
    std::fflush(stdout);
    for (const int count : {1000, 5000})
        measureBudget(folder.path(), count);
    return 0;
}
