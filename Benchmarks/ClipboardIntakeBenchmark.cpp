// Clipboard intake end to end on a real X server, measured in one run:
// - copy-to-card latency: from starting an xclip write of the clipboard to
//   the material hanging in the store, 20 copies of a 1 KB text each
//   starting at a random point of the 0.5 s poll cycle, median and p90:
//   before (the shell's timer alone) and after (the timer and the change
//   notices that poll at once), and the same for a 5 MB PNG after;
// - the same copies taken by CopyQ (Debian's copyq, a clipboard manager, as
//   the yardstick), from starting xclip to the text being its newest item,
//   and our figure as a ratio of CopyQ's;
// - the GUI thread's longest stall meanwhile, from a 1 ms heartbeat timer.
// Needs a display and copyq: scripts/clipboard-benchmark.sh <build> runs it.
#include "StoreBenchmarkSupport.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/ClipboardPollTrigger.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/SystemPasteboard.h"

#include <QBuffer>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

using namespace tolvex;

namespace {

constexpr int samples = 20;
constexpr int imageSamples = 9;

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

// Different for every series and run, so that no copy is a duplicate.
QByteArray kilobyteText(const char* series, int run)
{
    QByteArray text = QByteArrayLiteral("Clipboard benchmark text, ") + series + ", run " + QByteArray::number(run) + '\n';
    while (text.size() < 1024)
        text += "lorem ipsum dolor sit amet ";
    return text.left(1024);
}

struct Figures {
    std::vector<double> latencies;
    double longestStall = 0;

    double median() const { return latencies[latencies.size() / 2]; }
    double p90() const { return latencies[std::min(latencies.size() - 1, latencies.size() * 9 / 10)]; }
};

// Runs the event loop until `done` or the deadline; false at the deadline.
bool spinUntil(const std::function<bool()>& done, int milliseconds)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(milliseconds);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(0);
    loop.exec();
    return done();
}

void pause(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

QProcess* startXclip(const QString& file, const QString& type)
{
    auto* xclip = new QProcess;
    xclip->setStandardInputFile(file);
    xclip->start(QStringLiteral("xclip"),
        {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), type, QStringLiteral("-quiet")});
    return xclip;
}

void endXclip(QProcess* xclip)
{
    xclip->kill();
    xclip->waitForFinished();
    delete xclip;
}

class Bench {
public:
    Bench(const QString& folder, bool notices) : folder_(folder)
    {
        const QString root = folder + QStringLiteral("/Tolvex");
        store_ = std::make_unique<MaterialStore>(
            QUrl::fromLocalFile(root), SystemFileOperations::shared(), StorageBudget{1LL << 32, 1LL << 40, 0});
        waitForResult(store_->setClipboardPreferences(ClipboardPreference(true, true, true, true, false)));
        pasteboard_ = std::make_shared<SystemPasteboard>();
        service_ = std::make_unique<ClipboardImportService>(std::make_shared<SystemClipboardGateway>(pasteboard_),
            *store_, [] { return std::numeric_limits<std::int64_t>::max(); }, [] { return true; });
        service_->onImported = [this](const QUuid&, const WorkspaceSnapshot&) -> QCoro::Task<void> {
            ++imported_;
            co_return;
        };
        QCoro::waitFor(service_->start());

        // As the shell wires it.
        poller_.setInterval(ClipboardImportService::pollInterval);
        QObject::connect(&poller_, &QTimer::timeout, [this] { service_->poll(); });
        poller_.start();
        if (notices) {
            trigger_.emplace(ClipboardPollTrigger::pollOf([this] { return service_.get(); }));
            QObject::connect(pasteboard_.get(), &SystemPasteboard::changed, &*trigger_, &ClipboardPollTrigger::request);
        }

        heartbeat_.setTimerType(Qt::PreciseTimer);
        heartbeat_.setInterval(1);
        QObject::connect(&heartbeat_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (measuring_ && lastBeat_ > 0)
                longestStall_ = std::max(longestStall_, (now - lastBeat_) / 1e6);
            lastBeat_ = now;
        });
        clock_.start();
        heartbeat_.start();
    }

    // One xclip write; returns the milliseconds until the material hung.
    double measure(const QString& type, const QByteArray& content, int run)
    {
        const QString file = folder_ + QStringLiteral("/content-%1").arg(run);
        benchmarks::writeWhole(file, content);
        // A write lands at a random point of the poll cycle, as a user's copy does;
        // right after an import it would always wait almost a whole interval.
        pause(static_cast<int>(phase_.bounded(static_cast<int>(ClipboardImportService::pollInterval.count()))));

        const int before = imported_;
        measuring_ = true;
        const qint64 start = clock_.nsecsElapsed();
        QProcess* xclip = startXclip(file, type);
        spinUntil([&] { return imported_ > before; }, 30000);
        const double latency = (clock_.nsecsElapsed() - start) / 1e6;
        measuring_ = false;
        if (imported_ == before)
            qFatal("the %s write was never imported", qPrintable(type));
        endXclip(xclip);
        return latency;
    }

    Figures series(const QString& type, int count, const std::function<QByteArray(int)>& content)
    {
        Figures figures;
        longestStall_ = 0;
        for (int run = 0; run < count; ++run)
            figures.latencies.push_back(measure(type, content(run), run));
        figures.longestStall = longestStall_;
        std::sort(figures.latencies.begin(), figures.latencies.end());
        return figures;
    }

private:
    QString folder_;
    std::unique_ptr<MaterialStore> store_;
    std::shared_ptr<SystemPasteboard> pasteboard_;
    std::unique_ptr<ClipboardImportService> service_;
    std::optional<ClipboardPollTrigger> trigger_;
    QTimer poller_;
    QTimer heartbeat_;
    QElapsedTimer clock_;
    qint64 lastBeat_ = 0;
    bool measuring_ = false;
    double longestStall_ = 0;
    int imported_ = 0;
    QRandomGenerator phase_{42};
};

// CopyQ's server in the same session, asked through its command line.
class CopyQ {
public:
    explicit CopyQ(const QString& folder) : folder_(folder)
    {
        server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server_.start(QStringLiteral("copyq"), {});
        if (!server_.waitForStarted())
            qFatal("copyq does not start: install it (scripts/clipboard-benchmark.sh does)");
        if (!spinUntil([this] { return command({QStringLiteral("count")}).has_value(); }, 30000))
            qFatal("the copyq server never answered");
    }
    ~CopyQ()
    {
        command({QStringLiteral("exit")});
        if (!server_.waitForFinished(10000)) {
            server_.kill();
            server_.waitForFinished();
        }
    }

    // From starting xclip to the text being CopyQ's newest item, at a random
    // point in time as ours; a script inside CopyQ watches its first item
    // every millisecond and tells the wall-clock time it changed.
    Figures series(int count)
    {
        Figures figures;
        for (int run = 0; run < count; ++run) {
            const QByteArray text = kilobyteText("copyq", run);
            const QString file = folder_ + QStringLiteral("/copyq-%1").arg(run);
            benchmarks::writeWhole(file, text);
            // Base64: copyq's command line turns escapes such as "\n" into characters.
            QProcess watcher;
            watcher.start(QStringLiteral("copyq"), {QStringLiteral("eval"),
                QStringLiteral("while (str(toBase64(read(0))) != '%1') sleep(1); print(Date.now())")
                    .arg(QString::fromLatin1(text.toBase64()))});
            if (!watcher.waitForStarted())
                qFatal("copyq eval does not start");
            // Time for the script to be running before the copy.
            pause(300 + static_cast<int>(phase_.bounded(static_cast<int>(ClipboardImportService::pollInterval.count()))));
            const qint64 start = QDateTime::currentMSecsSinceEpoch();
            QProcess* xclip = startXclip(file, QStringLiteral("UTF8_STRING"));
            if (!spinUntil([&] { return watcher.state() == QProcess::NotRunning; }, 30000))
                qFatal("copyq never took copy %d", run);
            bool parsed = false;
            const qint64 seen = watcher.readAllStandardOutput().trimmed().toLongLong(&parsed);
            if (!parsed)
                qFatal("copyq's watcher said nothing useful: %s", watcher.readAllStandardError().constData());
            figures.latencies.push_back(static_cast<double>(seen - start));
            endXclip(xclip);
        }
        std::sort(figures.latencies.begin(), figures.latencies.end());
        return figures;
    }

private:
    std::optional<QByteArray> command(const QStringList& arguments)
    {
        QProcess client;
        client.start(QStringLiteral("copyq"), arguments);
        if (!client.waitForFinished(5000) || client.exitStatus() != QProcess::NormalExit || client.exitCode() != 0)
            return std::nullopt;
        return client.readAllStandardOutput();
    }

    QString folder_;
    QProcess server_;
    QRandomGenerator phase_{7};
};

void print(const char* name, const Figures& figures, bool stall = true)
{
    std::printf("%-34s median %7.1f ms  p90 %7.1f ms  min %7.1f  max %7.1f", name, figures.median(), figures.p90(),
        figures.latencies.front(), figures.latencies.back());
    if (stall)
        std::printf("   longest GUI stall %6.1f ms", figures.longestStall);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "No display: run it as scripts/clipboard-benchmark.sh <build folder>\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QTemporaryDir folder;
    if (!folder.isValid())
        qFatal("no temporary folder");
    // Settings and caches (ours and CopyQ's) stay out of the real account.
    ::setenv("HOME", qPrintable(folder.path()), 1);
    ::setenv("XDG_CONFIG_HOME", qPrintable(folder.filePath(QStringLiteral(".config"))), 1);
    ::setenv("XDG_DATA_HOME", qPrintable(folder.filePath(QStringLiteral(".local/share"))), 1);
    QGuiApplication app(argc, argv);

    std::vector<QByteArray> images;
    for (int run = 0; run < imageSamples; ++run)
        images.push_back(noisePng(static_cast<quint32>(run + 1)));

    std::printf("Clipboard intake, copy to card, %d copies of 1 KB text at random points of the %lld ms poll cycle\n",
        samples, static_cast<long long>(ClipboardImportService::pollInterval.count()));
    Figures before;
    Figures after;
    Figures image;
    {
        Bench bench(folder.filePath(QStringLiteral("before")), false);
        before = bench.series(QStringLiteral("UTF8_STRING"), samples, [](int run) { return kilobyteText("before", run); });
    }
    {
        Bench bench(folder.filePath(QStringLiteral("after")), true);
        after = bench.series(QStringLiteral("UTF8_STRING"), samples, [](int run) { return kilobyteText("after", run); });
        image = bench.series(QStringLiteral("image/png"), imageSamples, [&](int run) { return images[run]; });
    }
    Figures copyq;
    {
        CopyQ manager(folder.path());
        copyq = manager.series(samples);
    }
    print("before: timer alone", before);
    print("after: timer and change notices", after);
    print("CopyQ", copyq, false);
    std::printf("ratio to CopyQ (median): before %.2fx, after %.2fx (goal: at most 1.5x)\n",
        before.median() / copyq.median(), after.median() / copyq.median());
    std::printf("ratio to CopyQ (p90):    before %.2fx, after %.2fx\n", before.p90() / copyq.p90(),
        after.p90() / copyq.p90());
    print("after, 5 MB PNG", image);
    std::printf("(PNG size %.1f MB, %d copies)\n", images.front().size() / 1e6, imageSamples);
    return 0;
}
