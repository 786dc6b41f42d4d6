// Staging throughput and memory, measured against the one thing staging cannot
// avoid: hashing the payload. Each case stages a payload through the real file
// layer and, in the same run, times one raw OpenSSL SHA-256 pass over the same
// bytes in memory. The summary prints both throughputs, their ratio, and the
// peak extra memory of one staging, measured in a fresh process per case.
//
//   StagingBenchmark                       all cases and the summary
//   StagingBenchmark --benchmark_filter=…  the usual Google Benchmark options
#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/SystemFileOperations.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>

using namespace tolvex;

namespace {

enum class Case { largeFile, pngFile, pngBytes };
constexpr std::array<Case, 3> allCases{Case::largeFile, Case::pngFile, Case::pngBytes};

const char* caseName(Case c)
{
    switch (c) {
    case Case::largeFile:
        return "file, 256 MiB";
    case Case::pngFile:
        return "file, 5 MB PNG";
    case Case::pngBytes:
        return "image bytes, 5 MB PNG";
    }
    return "";
}

constexpr qint64 largeFileBytes = 256LL * 1024 * 1024;

struct Fixture {
    QString folder;
    QString rootPath;
    QString largePath;
    QString pngPath;
};

// Seconds per operation, summed over the timed iterations.
struct Timing {
    double seconds = 0;
    std::int64_t iterations = 0;
    std::int64_t bytes = 0;
    double megabytesPerSecond() const { return iterations ? bytes * iterations / seconds / 1e6 : 0; }
};

Fixture* fixture = nullptr;
std::map<Case, Timing> stagingTimes;
std::map<Case, Timing> hashTimes;
std::map<Case, Timing> readTimes;
std::map<Case, Timing> copyTimes;

void writeLargeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    std::mt19937_64 random(42);
    QByteArray chunk(4 * 1024 * 1024, Qt::Uninitialized);
    for (qint64 written = 0; written < largeFileBytes; written += chunk.size()) {
        auto* words = reinterpret_cast<std::uint64_t*>(chunk.data());
        for (qsizetype i = 0; i < chunk.size() / 8; ++i)
            words[i] = random();
        file.write(chunk);
    }
}

// Noise does not compress: about 5 MB of PNG.
void writePng(const QString& path)
{
    QImage image(1448, 1152, QImage::Format_RGB888);
    std::mt19937 random(7);
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < image.width() * 3; ++x)
            line[x] = static_cast<uchar>(random());
    }
    if (!image.save(path, "PNG"))
        std::abort();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        std::abort();
    return file.readAll();
}

QString payloadPath(Case c)
{
    return c == Case::largeFile ? fixture->largePath : fixture->pngPath;
}

ImportRequest requestFor(Case c, const QByteArray& pngBytes)
{
    if (c == Case::pngBytes)
        return ImportRequest::imageData(pngBytes, SourceRecord{});
    return ImportRequest::file(QUrl::fromLocalFile(payloadPath(c)), ImportOrigin::fileSelection);
}

void stageOnce(const ContentStore& store, const ImportRequest& request)
{
    const StagedContent staged = store.stage(request);
    benchmark::DoNotOptimize(staged.sha256);
    // Staging deletes nothing by design; the benchmark clears up after itself.
    QFile::remove(staged.stagingURL.toLocalFile());
}

void BM_Stage(benchmark::State& state)
{
    const auto c = static_cast<Case>(state.range(0));
    const ContentStore store(QUrl::fromLocalFile(fixture->rootPath), std::make_shared<SystemFileOperations>());
    const QByteArray pngBytes = c == Case::pngBytes ? readAll(fixture->pngPath) : QByteArray();
    const ImportRequest request = requestFor(c, pngBytes);
    const std::int64_t bytes = QFileInfo(payloadPath(c)).size();

    Timing& timing = stagingTimes[c];
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const StagedContent staged = store.stage(request);
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(staged.sha256);
        state.PauseTiming();
        QFile::remove(staged.stagingURL.toLocalFile());
        state.ResumeTiming();
        timing.seconds += std::chrono::duration<double>(end - start).count();
        ++timing.iterations;
    }
    timing.bytes = bytes;
    state.SetBytesProcessed(state.iterations() * bytes);
    state.SetLabel(caseName(c));
}

void BM_RawSha256(benchmark::State& state)
{
    const auto c = static_cast<Case>(state.range(0));
    const QByteArray bytes = readAll(payloadPath(c));
    Timing& timing = hashTimes[c];
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        unsigned int length = 0;
        EVP_Digest(bytes.constData(), static_cast<std::size_t>(bytes.size()), digest.data(), &length, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(digest);
        timing.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++timing.iterations;
    }
    timing.bytes = bytes.size();
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.SetLabel(caseName(c));
}

// The two file-layer steps staging repeats, timed alone: one whole-file read
// into a fresh buffer, and one copy (durable, like staging's).
void BM_Read(benchmark::State& state)
{
    const auto c = static_cast<Case>(state.range(0));
    const SystemFileOperations files;
    const QUrl url = QUrl::fromLocalFile(payloadPath(c));
    Timing& timing = readTimes[c];
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const QByteArray bytes = files.read(url);
        benchmark::DoNotOptimize(bytes.constData());
        timing.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++timing.iterations;
        timing.bytes = bytes.size();
    }
    state.SetBytesProcessed(state.iterations() * timing.bytes);
    state.SetLabel(caseName(c));
}

void BM_Copy(benchmark::State& state)
{
    const auto c = static_cast<Case>(state.range(0));
    const SystemFileOperations files;
    const QUrl source = QUrl::fromLocalFile(payloadPath(c));
    const QUrl destination = QUrl::fromLocalFile(fixture->rootPath + QStringLiteral("/Transactions/copy.bin"));
    Timing& timing = copyTimes[c];
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        files.copy(source, destination);
        timing.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++timing.iterations;
        state.PauseTiming();
        QFile::remove(destination.toLocalFile());
        state.ResumeTiming();
    }
    timing.bytes = QFileInfo(source.toLocalFile()).size();
    state.SetBytesProcessed(state.iterations() * timing.bytes);
    state.SetLabel(caseName(c));
}

BENCHMARK(BM_Stage)->DenseRange(0, 2)->Iterations(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawSha256)->DenseRange(0, 2)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read)->DenseRange(0, 1)->Iterations(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Copy)->DenseRange(0, 1)->Iterations(4)->Unit(benchmark::kMillisecond)->UseRealTime();

std::optional<std::int64_t> statusKilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return std::nullopt;
}

// Child mode: stage once and print the peak resident memory above what the
// process held just before (kilobytes).
int measureMemory(Case c)
{
    const ContentStore store(QUrl::fromLocalFile(fixture->rootPath), std::make_shared<SystemFileOperations>());
    const QByteArray pngBytes = c == Case::pngBytes ? readAll(fixture->pngPath) : QByteArray();
    const ImportRequest request = requestFor(c, pngBytes);

    // Reset the peak to the current resident size, so the peak that follows is staging's.
    if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", clear);
        std::fclose(clear);
    }
    const auto before = statusKilobytes("VmRSS");
    stageOnce(store, request);
    const auto peak = statusKilobytes("VmHWM");
    if (!before || !peak)
        return 1;
    std::printf("%lld\n", static_cast<long long>(*peak - *before));
    return 0;
}

std::optional<double> extraMegabytesInFreshProcess(Case c)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
        {QStringLiteral("--measure-memory"), QString::number(static_cast<int>(c)), fixture->folder});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return std::nullopt;
    bool ok = false;
    const double kilobytes = child.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? std::optional<double>(kilobytes * 1024 / 1e6) : std::nullopt;
}

void printSummary()
{
    std::printf("\nStaging against one raw SHA-256 pass over the same bytes (MB = 10^6 bytes)\n");
    std::printf("%-24s %10s %13s %13s %7s %14s %10s\n", "case", "payload MB", "staging MB/s", "SHA-256 MB/s",
        "ratio", "peak extra MB", "extra/size");
    for (const Case c : allCases) {
        const Timing& staging = stagingTimes[c];
        const Timing& hash = hashTimes[c];
        if (!staging.iterations || !hash.iterations)
            continue;
        const double payloadMB = staging.bytes / 1e6;
        const auto extra = extraMegabytesInFreshProcess(c);
        std::printf("%-24s %10.1f %13.1f %13.1f %7.3f", caseName(c), payloadMB, staging.megabytesPerSecond(),
            hash.megabytesPerSecond(), staging.megabytesPerSecond() / hash.megabytesPerSecond());
        if (extra)
            std::printf(" %14.1f %10.2f\n", *extra, *extra / payloadMB);
        else
            std::printf(" %14s %10s\n", "n/a", "n/a");
    }

    // What one staging of a file is made of: three whole-file reads, three
    // digests and one copy. Each step's time, as a share of one SHA-256 pass.
    std::printf("\nFile-layer steps, in units of one SHA-256 pass over the same bytes\n");
    std::printf("%-24s %12s %12s %16s %16s\n", "case", "one read", "one copy", "3 reads+3 SHA+copy", "staging");
    for (const Case c : {Case::largeFile, Case::pngFile}) {
        const Timing& read = readTimes[c];
        const Timing& copy = copyTimes[c];
        const Timing& hash = hashTimes[c];
        const Timing& staging = stagingTimes[c];
        if (!read.iterations || !copy.iterations || !hash.iterations || !staging.iterations)
            continue;
        const double pass = hash.seconds / hash.iterations;
        const double readShare = read.seconds / read.iterations / pass;
        const double copyShare = copy.seconds / copy.iterations / pass;
        std::printf("%-24s %12.2f %12.2f %16.2f %16.2f\n", caseName(c), readShare, copyShare,
            3 * readShare + 3 + copyShare, staging.seconds / staging.iterations / pass);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    if (argc == 4 && std::string(argv[1]) == "--measure-memory") {
        QGuiApplication app(argc, argv);
        Fixture child{QString::fromLocal8Bit(argv[3]), {}, {}, {}};
        child.rootPath = child.folder + QStringLiteral("/Tolvex");
        child.largePath = child.folder + QStringLiteral("/large.bin");
        child.pngPath = child.folder + QStringLiteral("/picture.png");
        fixture = &child;
        return measureMemory(static_cast<Case>(std::atoi(argv[2])));
    }

    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    Fixture prepared{QDir(folder.path()).canonicalPath(), {}, {}, {}};
    prepared.rootPath = prepared.folder + QStringLiteral("/Tolvex");
    prepared.largePath = prepared.folder + QStringLiteral("/large.bin");
    prepared.pngPath = prepared.folder + QStringLiteral("/picture.png");
    QDir().mkpath(prepared.rootPath + QStringLiteral("/Transactions"));
    writeLargeFile(prepared.largePath);
    writePng(prepared.pngPath);
    fixture = &prepared;

    benchmark::RunSpecifiedBenchmarks();
    printSummary();
    benchmark::Shutdown();
    return 0;
}
