// What keeping the marks costs when the program is terminated, on a picture
// as large as the pixel budget allows (8192 x 4096, 33,554,432 pixels, a
// photo's noise over gradients): the marks drawn in at full size, the quick
// PNG, and its write into the session's working file through the store,
// all of which must end within the editors' share of the termination's
// bound. The encodings alone follow, ours against Qt's PNG writer (which
// the keep used before) at its default level and at zlib's fastest: the
// latter is still about twice as slow as ours on two cores, and cannot be
// cut short when the termination's time runs out.
#include "Support/DataRootBuilder.h"
#include "Support/EventLoopWait.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MarkupMarks.h"
#include "Velmarin/Actions/MarkupPngEncoder.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Shell/AppDelegate.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

using namespace tolvex;

namespace {

constexpr int pictureWidth = 8192;
constexpr int pictureHeight = 4096;

QImage photo()
{
    QImage image(pictureWidth, pictureHeight, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(24));
            line[x] = qRgb((x * 255 / pictureWidth + noise) & 255, (y * 255 / pictureHeight + noise) & 255,
                ((x + y) * 255 / (pictureWidth + pictureHeight)) & 255);
        }
    }
    return image;
}

// Three strokes across the picture, as a user draws them.
QList<MarkupMark> strokes()
{
    QList<MarkupMark> marks;
    for (int i = 0; i < 3; ++i) {
        MarkupMark mark;
        mark.width = 12;
        for (int p = 0; p <= 40; ++p)
            mark.points.append(QPointF(400 + p * 180, 1000 + i * 900 + (p % 2) * 60));
        marks.append(mark);
    }
    return marks;
}

// The editor as the session sees it: open, holding the strokes.
class HoldingEditor final : public MarkupService {
public:
    explicit HoldingEditor(QImage image) : image_(std::move(image)) {}
    bool canPerform(const QUrl&) const override { return true; }
    void perform(const QUrl&, DidShare, DidFail) override { performed = true; }
    std::function<QImage()> keptImage() const override
    {
        return [image = image_, marks = strokes()] { return renderMarks(image, marks); };
    }
    bool performed = false;

private:
    QImage image_;
};

struct Fixture {
    QTemporaryDir folder;
    QImage picture = photo();
    QByteArray original = MarkupPngEncoder::encode(picture);
    std::unique_ptr<MaterialStore> store;
    EditSession session;
};

Fixture* fixture = nullptr;

QCoro::Task<void> keep(Markup& markup, bool* done)
{
    auto keeping = markup.keepForTermination(QDeadlineTimer(AppDelegate::terminationKeepBound));
    co_await std::move(keeping);
    *done = true;
}

void keepMarks(benchmark::State& state)
{
    auto editor = std::make_shared<HoldingEditor>(fixture->picture);
    Markup markup({}, {}, Markup::defaultPersist(), [editor] { return editor; });
    markup.edit(fixture->session, *fixture->store, [](EditResult) {});
    if (!testing::waitUntil([&] { return editor->performed; })) {
        state.SkipWithError("the session did not open");
        return;
    }
    for (auto _ : state) {
        bool done = false;
        launchTask(keep(markup, &done), {});
        testing::waitUntil([&] { return done; }, 60000);
    }
    QFile working(fixture->session.workingURL.toLocalFile());
    if (!working.open(QIODevice::ReadOnly) || working.readAll() == fixture->original)
        state.SkipWithError("the marks were not kept");
    state.SetLabel(std::to_string(working.size() / 1000000) + " MB written");
    markup.abandon();
}

void quickPng(benchmark::State& state)
{
    const QImage marked = renderMarks(fixture->picture, strokes());
    qsizetype size = 0;
    for (auto _ : state)
        size = MarkupPngEncoder::encode(marked).size();
    state.SetLabel(std::to_string(size / 1000000) + " MB");
}

// Qt's writer at its default level (-1), and at zlib's fastest, level 1
// (Qt maps a compression of 11 to 20 out of 100 onto level 1).
void qtPngWriter(benchmark::State& state)
{
    const QImage marked = renderMarks(fixture->picture, strokes());
    qsizetype size = 0;
    for (auto _ : state) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setCompression(int(state.range(0)));
        writer.write(marked);
        size = bytes.size();
    }
    state.SetLabel(std::to_string(size / 1000000) + " MB");
}

} // namespace

BENCHMARK(keepMarks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(quickPng)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(qtPngWriter)->Arg(-1)->Arg(15)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    Fixture prepared;
    const QString root = prepared.folder.filePath(QStringLiteral("Tolvex"));
    QUuid materialID;
    {
        testing::DataRootBuilder builder(root);
        MaterialRecord& record = builder.addMaterial(prepared.original, MaterialStatus::hanging, QStringLiteral("png"));
        record.kind = MaterialKind::image;
        materialID = record.id;
        builder.writeState();
    }
    prepared.store = std::make_unique<MaterialStore>(QUrl::fromLocalFile(root),
        std::make_shared<SystemFileOperations>(),
        StorageBudget{AppDelegate::maxFileBytes, AppDelegate::maxMaterialBytes, 0});
    prepared.session = waitForResult(prepared.store->createDerivedVersion(materialID, VersionKind::markup));
    fixture = &prepared;

    std::printf("%d x %d picture, %lld bytes as PNG\n", pictureWidth, pictureHeight,
        static_cast<long long>(prepared.original.size()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
