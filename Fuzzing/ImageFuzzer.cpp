// Feeds arbitrary bytes to image admission and decodes whatever it admits,
// in full and as a thumbnail: no decode may ever produce (and so allocate)
// more pixels than the budget, whatever the headers claim.
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Images/ImageSource.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tolvex;

namespace {

void checkBudget(const QImage& image, const char* what)
{
    if (image.isNull())
        return;
    const std::int64_t pixels = std::int64_t(image.width()) * image.height();
    if (pixels > ImageAdmission::pixelBudget) {
        std::fprintf(stderr, "%s decoded %dx%d, above the budget\n", what, image.width(), image.height());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Image plug-ins (TIFF, WebP) are found through the application object.
    static QGuiApplication* application = [&] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // The decoders' warnings about damaged data are expected by the
        // thousand and would only slow the run down.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return new QGuiApplication(*argc, *argv);
    }();
    (void)application;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<ImageSource> source = ImageSource::create(bytes);
    if (source) {
        // Decoding is guarded on its own, admitted or not: callers such as
        // thumbnails of stored payloads decode without admitting again.
        checkBudget(source->decodeImage(0), "decode");
        checkBudget(source->thumbnail(0, 256), "thumbnail");
    }
    try {
        ImageAdmission::validate(bytes);
    } catch (const ImageAdmissionError&) {
        return 0;
    }
    if (!source) {
        std::fprintf(stderr, "admitted without an image source\n");
        std::abort();
    }
    return 0;
}
