// Clipboard intake end to end on a real X server, measured in one run:
// - latency from starting an xclip write of the clipboard to the material
//   hanging in the store, for a 1 KB text and a 5 MB PNG, with the service
//   polled every 0.5 s as the shell polls it (each write starts at a random
//   point of the poll cycle, so a latency includes up to one interval);
// - the GUI thread's longest stall meanwhile, from a 1 ms heartbeat timer.
// Needs a display: scripts/test-desktop.sh run -- <build>/benchmarks/ClipboardIntakeBenchmark
#include "StoreBenchmarkSupport.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/SystemPasteboard.h"

#include <QBuffer>
#include <QCoro/QCoroTask>
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
#include <vector>

using namespace tolvex;

namespace {

constexpr int runs = 9;

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

QByteArray kilobyteText(int run)
{
    QByteArray text = QByteArrayLiteral("Clipboard benchmark text, run ") + QByteArray::number(run) + '\n';
    while (text.size() < 1024)
        text += "lorem ipsum dolor sit amet ";
    return text.left(1024);
}

struct Figures {
    std::vector<double> latencies;
    double longestStall = 0;
};

class Bench {
public:
    explicit Bench(const QString& folder) : folder_(folder)
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

        poller_.setInterval(ClipboardImportService::pollInterval);
        QObject::connect(&poller_, &QTimer::timeout, [this] { service_->poll(); });
        poller_.start();

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
        QEventLoop pause;
        QTimer::singleShot(static_cast<int>(phase_.bounded(static_cast<int>(ClipboardImportService::pollInterval.count()))), &pause,
            &QEventLoop::quit);
        pause.exec();

        const int before = imported_;
        QProcess xclip;
        xclip.setStandardInputFile(file);
        measuring_ = true;
        const qint64 start = clock_.nsecsElapsed();
        xclip.start(QStringLiteral("xclip"),
            {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), type,
                QStringLiteral("-quiet")});
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(30000);
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (imported_ > before)
                loop.quit();
        });
        check.start(0);
        loop.exec();
        const double latency = (clock_.nsecsElapsed() - start) / 1e6;
        measuring_ = false;
        if (imported_ == before)
            qFatal("the %s write was never imported", qPrintable(type));
        xclip.kill();
        xclip.waitForFinished();
        return latency;
    }

    Figures series(const QString& type, const std::function<QByteArray(int)>& content)
    {
        Figures figures;
        longestStall_ = 0;
        for (int run = 0; run < runs; ++run) {
            const QByteArray bytes = content(run);
            figures.latencies.push_back(measure(type, bytes, run));
        }
        figures.longestStall = longestStall_;
        std::sort(figures.latencies.begin(), figures.latencies.end());
        return figures;
    }

private:
    QString folder_;
    std::unique_ptr<MaterialStore> store_;
    std::shared_ptr<SystemPasteboard> pasteboard_;
    std::unique_ptr<ClipboardImportService> service_;
    QTimer poller_;
    QTimer heartbeat_;
    QElapsedTimer clock_;
    qint64 lastBeat_ = 0;
    bool measuring_ = false;
    double longestStall_ = 0;
    int imported_ = 0;
    QRandomGenerator phase_{42};
};

void print(const char* name, const Figures& figures)
{
    std::printf("%-12s latency ms: median %7.1f  min %7.1f  max %7.1f   longest GUI stall %6.1f ms\n", name,
        figures.latencies[figures.latencies.size() / 2], figures.latencies.front(), figures.latencies.back(),
        figures.longestStall);
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "No display: run it as scripts/test-desktop.sh run -- %s\n", argv[0]);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QTemporaryDir folder;
    if (!folder.isValid())
        qFatal("no temporary folder");
    // Settings and caches stay out of the real account.
    ::setenv("HOME", qPrintable(folder.path()), 1);
    QGuiApplication app(argc, argv);

    std::vector<QByteArray> images;
    for (int run = 0; run < runs; ++run)
        images.push_back(noisePng(static_cast<quint32>(run + 1)));

    Bench bench(folder.path());
    std::printf("Clipboard intake, %d writes each, polled every %lld ms\n", runs,
        static_cast<long long>(ClipboardImportService::pollInterval.count()));
    print("1 KB text", bench.series(QStringLiteral("UTF8_STRING"), kilobyteText));
    print("5 MB PNG", bench.series(QStringLiteral("image/png"), [&](int run) { return images[run]; }));
    std::printf("(PNG size %.1f MB)\n", images.front().size() / 1e6);
    return 0;
}
