// What admitting an image costs against decoding it: admission reads the
// structure only (and, for a PNG file, its last 12 bytes), so its time should
// stay far below a decode and grow with the number of chunks or segments
// rather than with the pixels.
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageSource.h"

#include "Support/ImageFixtures.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

using namespace tolvex;

namespace {

struct Fixtures {
    QTemporaryDir folder;
    QByteArray png;
    QByteArray jpeg;
    QString pngPath;
    QString jpegPath;
    QString tinyChunksPath;

    Fixtures()
    {
        // Noise, so that the files are as large as photographs of this size.
        QImage image(4000, 3000, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                line[x] = random.generate() | 0xFF000000u;
        }
        png = test::encodeImage(image, "png");
        jpeg = test::encodeImage(image, "jpeg", 90);
        pngPath = test::writeFixture(folder, QStringLiteral("large.png"), png);
        jpegPath = test::writeFixture(folder, QStringLiteral("large.jpg"), jpeg);
        // A million empty ancillary chunks before the image data: a walk with
        // one read per chunk would take seconds.
        const QByteArray craft = test::craftedPng(64, 64);
        const QByteArray empty = test::pngChunk("zzZz", {});
        QByteArray tiny = craft.left(33);
        tiny.reserve(33 + 1000000 * empty.size() + craft.size());
        for (int i = 0; i < 1000000; ++i)
            tiny += empty;
        tiny += craft.mid(33);
        tinyChunksPath = test::writeFixture(folder, QStringLiteral("tiny-chunks.png"), tiny);
    }
};

Fixtures& fixtures()
{
    static Fixtures instance;
    return instance;
}

void admitPngFile(benchmark::State& state)
{
    const QUrl url = QUrl::fromLocalFile(fixtures().pngPath);
    for (auto _ : state)
        ImageAdmission::validate(url);
    state.SetLabel(std::to_string(fixtures().png.size()) + " bytes");
}

void admitPngFileOfTinyChunks(benchmark::State& state)
{
    const QUrl url = QUrl::fromLocalFile(fixtures().tinyChunksPath);
    for (auto _ : state)
        ImageAdmission::validate(url);
    state.SetLabel("1,000,000 chunks");
}

void admitJpegFile(benchmark::State& state)
{
    const QUrl url = QUrl::fromLocalFile(fixtures().jpegPath);
    for (auto _ : state)
        ImageAdmission::validate(url);
    state.SetLabel(std::to_string(fixtures().jpeg.size()) + " bytes");
}

void admitJpegBytes(benchmark::State& state)
{
    for (auto _ : state)
        ImageAdmission::validate(fixtures().jpeg);
}

void thumbnailJpegFile(benchmark::State& state)
{
    const auto source = ImageSource::create(fixtures().jpegPath);
    for (auto _ : state)
        benchmark::DoNotOptimize(source->thumbnail(0, 480));
}

void decodePngFile(benchmark::State& state)
{
    const auto source = ImageSource::create(fixtures().pngPath);
    for (auto _ : state)
        benchmark::DoNotOptimize(source->decodeImage(0));
}

} // namespace

BENCHMARK(admitPngFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(admitPngFileOfTinyChunks)->Unit(benchmark::kMillisecond);
BENCHMARK(admitJpegFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(admitJpegBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(thumbnailJpegFile)->Unit(benchmark::kMillisecond);
BENCHMARK(decodePngFile)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
