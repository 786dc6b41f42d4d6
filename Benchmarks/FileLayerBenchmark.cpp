// What a durable atomic write costs: writeAtomic of a 10 MB buffer (hidden
// temporary file, write, fsync, rename, fsync of the folder) beside a plain
// open/write/close of the same bytes that leaves them in the page cache,
// once over the same file and once into a new file.
// Prints both times and their ratio, measured in the same run, in the
// temporary folder ($TMPDIR or /tmp).
#include "TolvexCore/Files/SystemFileOperations.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qsizetype payloadSize = 10 * 1000 * 1000;

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

const QByteArray& payload()
{
    static const QByteArray bytes = [] {
        QByteArray data(payloadSize, Qt::Uninitialized);
        QRandomGenerator generator(42);
        generator.fillRange(reinterpret_cast<quint32*>(data.data()), payloadSize / 4);
        return data;
    }();
    return bytes;
}

void writeAtomic10MB(benchmark::State& state)
{
    const auto files = tolvex::SystemFileOperations::shared();
    const QUrl url = QUrl::fromLocalFile(folder().filePath(QStringLiteral("atomic.bin")));
    for (auto _ : state)
        files->writeAtomic(payload(), url);
    state.SetBytesProcessed(state.iterations() * payloadSize);
}

bool plainWrite(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const char* data = payload().constData();
    qsizetype left = payloadSize;
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
    return ::close(fd) == 0 && left == 0;
}

// Rewriting one file in place, as a non-atomic save would: truncating a file
// whose previous bytes are still being written back waits for them.
void plainWrite10MB(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(folder().filePath(QStringLiteral("plain.bin")));
    for (auto _ : state) {
        if (!plainWrite(path)) {
            state.SkipWithError("write failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * payloadSize);
}

// A new file each time (the previous one is removed outside the timing): the
// bytes only reach the page cache.
void plainWriteNewFile10MB(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(folder().filePath(QStringLiteral("fresh.bin")));
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(path.constData());
        state.ResumeTiming();
        if (!plainWrite(path)) {
            state.SkipWithError("write failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * payloadSize);
}

BENCHMARK(writeAtomic10MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(plainWrite10MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(plainWriteNewFile10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's wall time per iteration so the ratio comes from this run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds[run.benchmark_name()] = run.real_accumulated_time / static_cast<double>(run.iterations);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!folder().isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    payload();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto atomic = reporter.seconds.find("writeAtomic10MB/real_time");
    if (atomic == reporter.seconds.end())
        return 0;
    std::printf("\nwriteAtomic of 10 MB: %.2f ms (in %s)\n", atomic->second * 1e3, qPrintable(folder().path()));
    for (const char* baseline : {"plainWrite10MB/real_time", "plainWriteNewFile10MB/real_time"}) {
        const auto plain = reporter.seconds.find(baseline);
        if (plain != reporter.seconds.end() && plain->second > 0)
            std::printf("  against %s: %.2f ms, ratio %.2fx\n", baseline, plain->second * 1e3,
                atomic->second / plain->second);
    }
    return 0;
}
