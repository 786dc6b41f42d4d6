// The shelf's first render of a large data root, measured in a fresh process
// per figure (so that each resident size is the process's own), each run once:
// - 1,000 materials: 600 PNG screenshots of 2560 x 1440, 200 JPEG photos,
//   150 texts, 50 PDFs (800 large pictures);
// - 5,000 materials: those 1,000, then 4,000 more of which every fifth is a
//   PNG screenshot of 1280 x 800 and the rest are texts.
// Each root is started twice: with an empty thumbnail cache, then again with
// the cache the first start left. Per start:
// - time from Line::load() to the first published cards;
// - time to every picture of the cards in view (a strip 2560 wide) shown;
// - the longest stall of the GUI thread until then (largest gap of a 1 ms
//   heartbeat timer);
// - resident memory two seconds after the pictures in view are shown;
// - the median re-render after renaming one material.
// Goals: first cards within 0.5 s of load(); 110 MiB at 1,000 materials and
// 200 MiB at 5,000; no stall over 50 ms. Run it on an idle machine.
#include "GuiBenchmarkSupport.h"
#include "Support/DataRootBuilder.h"
#include "Support/ImageFixtures.h"
#include "Support/MemoryUserDefaults.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

using namespace tolvex;
using namespace tolvex::benchmarks;

namespace {

QByteArray encode(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// Something like a desktop screenshot: flat panels, bars and lines of text.
QImage screenshot(int seed)
{
    QImage image(2560, 1440, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    image.fill(QColor::fromHsv(random.bounded(360), 30, 235));
    QPainter painter(&image);
    for (int i = 0; i < 40; ++i) {
        painter.fillRect(random.bounded(2400), random.bounded(1300), 100 + random.bounded(900), 40 + random.bounded(500),
            QColor::fromHsv(random.bounded(360), random.bounded(120), 150 + random.bounded(100)));
    }
    QFont font = painter.font();
    font.setPixelSize(18);
    painter.setFont(font);
    for (int line = 0; line < 60; ++line)
        painter.drawText(40 + random.bounded(600), 30 + line * 23,
            QStringLiteral("Line %1 of a window with some words that wrap across the screen %2").arg(line).arg(seed));
    return image;
}

// Something like a photo: smooth gradients with noise.
QImage photo(int seed)
{
    QImage image(4032, 3024, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = static_cast<int>(random.bounded(24));
            row[x] = qRgb((x * 255 / image.width() + noise) & 0xFF, (y * 255 / image.height() + noise) & 0xFF,
                (seed * 40 + noise) & 0xFF);
        }
    }
    return image;
}

// The same pixels with different bytes, so every material has its own digest.
QByteArray pngVariant(const QByteArray& png, int index)
{
    const QByteArray chunk = test::pngChunk("tEXt", QByteArray("Comment") + '\0' + QByteArray::number(index));
    // After the signature (8 bytes) and the IHDR chunk (25 bytes).
    return png.left(33) + chunk + png.mid(33);
}

QByteArray jpegVariant(const QByteArray& jpeg, int index)
{
    const QByteArray comment = "variant " + QByteArray::number(index);
    const int length = comment.size() + 2;
    return jpeg.left(2) + QByteArray("\xFF\xFE", 2) + char(length >> 8) + char(length & 0xFF) + comment + jpeg.mid(2);
}

QByteArray pdfDocument(int index)
{
    const QByteArray content = "BT /F1 24 Tf 72 720 Td (Document " + QByteArray::number(index) + ") Tj ET 0 0 1 rg 72 72 200 200 re f";
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

void buildDataRoot(testing::DataRootBuilder& builder, int materials)
{
    // A few distinct pictures, encoded in parallel; the variants differ in bytes only.
    const QList<int> pngSeeds{1, 2, 3, 4, 5, 6, 7, 8};
    const QList<QByteArray> pngs = QtConcurrent::blockingMapped(pngSeeds, [](int seed) { return encode(screenshot(seed), "png"); });
    const QList<int> jpegSeeds{11, 12, 13, 14};
    const QList<QByteArray> jpegs = QtConcurrent::blockingMapped(jpegSeeds, [](int seed) { return encode(photo(seed), "jpeg", 85); });

    const auto add = [&](const QByteArray& payload, const char* extension, MaterialKind kind) {
        MaterialRecord& record = builder.addMaterial(payload, MaterialStatus::hanging, QString::fromLatin1(extension));
        record.kind = kind;
    };
    // Interleaved, as a shelf fills over time.
    int png = 0, jpeg = 0, text = 0, pdf = 0;
    for (int i = 0; i < 1000; ++i) {
        if (i % 20 < 12 && png < 600)
            add(pngVariant(pngs[png % pngs.size()], png), "png", MaterialKind::image), ++png;
        else if (i % 20 < 16 && jpeg < 200)
            add(jpegVariant(jpegs[jpeg % jpegs.size()], jpeg), "jpg", MaterialKind::image), ++jpeg;
        else if (i % 20 < 19 && text < 150)
            add(QByteArray("Note ") + QByteArray::number(text) + ' ' + QByteArray("some words of a note ").repeated(50 + text * 3),
                "txt", MaterialKind::text), ++text;
        else if (pdf < 50)
            add(pdfDocument(pdf), "pdf", MaterialKind::pdf), ++pdf;
        else
            add(pngVariant(pngs[png % pngs.size()], png), "png", MaterialKind::image), ++png;
    }
    // Beyond the first thousand: a smaller screenshot now and then among notes.
    const QByteArray small = encode(screenshot(9).scaled(1280, 800, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "png");
    for (int i = 1000; i < materials; ++i) {
        if (i % 5 == 0)
            add(pngVariant(small, png), "png", MaterialKind::image), ++png;
        else
            add(QByteArray("Note ") + QByteArray::number(i) + QByteArray(": a line of text on the shelf."), "txt",
                MaterialKind::text), ++text;
    }
    builder.writeState();
    std::printf("data root of %d: %d PNG (%.1f MB at most), %d JPEG (%.1f MB each), %d texts, %d PDFs\n", materials, png,
        pngs.first().size() / 1e6, jpeg, jpegs.first().size() / 1e6, text, pdf);
}

long residentKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Every card in view shows its picture: none is still a placeholder (the
// only one-bit pictures on this shelf).
bool picturesInViewShown(const Line& line, double width)
{
    const QList<Pegged>& cards = line.items();
    bool any = false;
    for (int i = 0; i < cards.size(); ++i) {
        const double x = line.cardX(i, width);
        if (x + 75 <= 0 || x - 75 >= width)
            continue;
        any = true;
        if (cards[i].thumb.isNull() || cards[i].thumb.format() == QImage::Format_Mono)
            return false;
    }
    return any;
}

// One start over the root: prints "first visible stall rss peak rerender".
int runChild(int argc, char** argv, const QString& root)
{
    QApplication app(argc, argv);
    constexpr double width = 2560;
    MaterialStore store(QUrl::fromLocalFile(root), SystemFileOperations::shared(), StorageBudget::standard());
    MaterialLineStore lineStore(store);
    testing::MemoryUserDefaults defaults;
    Line line(lineStore, defaults);
    line.resizeViewport(width);

    // The heartbeat: the largest gap between two ticks is the longest stall.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    qint64 firstItems = -1;
    Subscription watch = line.items.subscribe([&](const QList<Pegged>& cards) {
        if (firstItems < 0 && !cards.isEmpty())
            firstItems = clock.nsecsElapsed();
    });

    clock.start();
    heartbeat.start();
    QCoro::Task<void> loading = line.load();
    const bool shown = runEventsUntil([&] { return loading.isReady() && picturesInViewShown(line, width); }, 300000);
    const qint64 visibleAt = clock.nsecsElapsed();
    heartbeat.stop();
    if (!shown || line.items->isEmpty())
        return 1;
    runEventsUntil([] { return false; }, 2000);
    const long rss = residentKiB("VmRSS:");

    // Rename one material, then re-render.
    const QUuid renamed = line.items->at(line.items->size() / 2).id;
    std::vector<double> rerenders;
    for (int round = 0; round < 7; ++round) {
        const WorkspaceSnapshot snapshot = waitForResult(store.apply(
            MaterialCommand::renameMaterial(renamed, QStringLiteral("Renamed %1").arg(round)), Line::maxItems));
        QElapsedTimer rerender;
        rerender.start();
        QCoro::waitFor(line.render(snapshot));
        rerenders.push_back(rerender.nsecsElapsed() / 1e6);
    }
    std::sort(rerenders.begin(), rerenders.end());
    std::printf("%.1f %.1f %.1f %.1f %.1f %.2f\n", firstItems / 1e6, visibleAt / 1e6, longestGap / 1e6, rss / 1024.0,
        residentKiB("VmHWM:") / 1024.0, rerenders[rerenders.size() / 2]);
    std::fflush(stdout);
    Line::finishBackgroundWork();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return runChild(argc, argv, QString::fromLocal8Bit(argv[2]));

    QApplication app(argc, argv);
    std::printf("%d cores\n", QThread::idealThreadCount());
    std::printf("materials  cache  first cards(ms)  pictures in view(ms)  longest stall(ms)  RSS(MiB)  peak RSS(MiB)"
                "  re-render(ms)\n");
    for (const int materials : {1000, 5000}) {
        QTemporaryDir folder;
        {
            testing::DataRootBuilder builder(folder.filePath(QStringLiteral("Tolvex")));
            buildDataRoot(builder, materials);
        }
        for (const char* cache : {"empty", "warm"}) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_CACHE_HOME"), folder.filePath(QStringLiteral("cache")));
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), folder.filePath(QStringLiteral("Tolvex"))});
            child.waitForFinished(600000);
            const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
            if (figures.size() != 6) {
                std::printf("%9d  %5s  (the run failed)\n", materials, cache);
                continue;
            }
            std::printf("%9d  %5s  %15s  %20s  %17s  %8s  %13s  %13s\n", materials, cache, figures[0].constData(),
                figures[1].constData(), figures[2].constData(), figures[3].constData(), figures[4].constData(),
                figures[5].constData());
            std::fflush(stdout);
        }
    }
    return 0;
}
