#include "TolvexCore/Images/ImageSource.h"

#include "TolvexCore/Files/ReadOnlyFile.h"
#include "TolvexCore/Images/HeifContainer.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageStructure.h"
#include "TolvexCore/Images/UniformType.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace tolvex {

struct ImageSource::Data {
    QByteArray bytes;  // when made from bytes
    QString filePath;  // when made from a file
    ImageStructure structure;
};

namespace {

using Format = ImageStructure::Format;

QByteArray qtFormatName(Format format)
{
    switch (format) {
    case Format::png: return QByteArrayLiteral("png");
    case Format::jpeg: return QByteArrayLiteral("jpeg");
    case Format::gif: return QByteArrayLiteral("gif");
    case Format::bmp: return QByteArrayLiteral("bmp");
    case Format::webp: return QByteArrayLiteral("webp");
    case Format::tiff: return QByteArrayLiteral("tiff");
    case Format::heif: return {};
    }
    return {};
}

// Whether a decoder for the structure's format is present: Qt's built-in
// readers and plug-ins (TIFF and WebP come from a separate package), or
// libheif with the codec the brand names.
bool hasDecoder(const ImageStructure& structure)
{
    if (structure.format == Format::heif) {
        if (structure.typeIdentifier == QString::fromUtf16(UniformTypeIdentifier::avif))
            return HeifContainer::canDecodeAv1();
        return HeifContainer::canDecodeHevc();
    }
    static const QList<QByteArray> supported = QImageReader::supportedImageFormats();
    return supported.contains(qtFormatName(structure.format));
}

void ensureAllocationLimit()
{
    // Set once, before the first decode; the value is process-wide in Qt.
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(ImageSource::decodeAllocationLimitMiB); });
}

// The size a thumbnail is decoded at: the longer side brought down to the
// maximum, the shorter one in proportion (at least 1 pixel); the full size
// when it is already small enough.
QSize thumbnailSize(std::int64_t width, std::int64_t height, int maxPixelSize)
{
    const std::int64_t longer = std::max(width, height);
    if (longer <= maxPixelSize)
        return QSize(int(width), int(height));
    const double scale = double(maxPixelSize) / double(longer);
    const auto side = [&](std::int64_t value) {
        return std::clamp<int>(int(std::lround(double(value) * scale)), 1, maxPixelSize);
    };
    return QSize(side(width), side(height));
}

bool withinBudget(std::int64_t width, std::int64_t height)
{
    std::int64_t pixels = 0;
    return width >= 1 && height >= 1 && width <= std::numeric_limits<int>::max()
        && height <= std::numeric_limits<int>::max() && !__builtin_mul_overflow(width, height, &pixels)
        && pixels <= ImageAdmission::pixelBudget;
}

} // namespace

ImageSource::ImageSource(std::shared_ptr<const Data> data) : d(std::move(data)) {}

std::optional<ImageSource> ImageSource::create(const QByteArray& bytes)
{
    const MemoryImageBytes reader(bytes);
    std::optional<ImageStructure> structure = ImageStructure::inspect(reader);
    if (!structure || !hasDecoder(*structure))
        return std::nullopt;
    auto data = std::make_shared<Data>();
    data->bytes = bytes;
    data->structure = std::move(*structure);
    return ImageSource(std::move(data));
}

std::optional<ImageSource> ImageSource::create(const QString& filePath)
{
    try {
        return open(filePath);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

std::optional<ImageSource> ImageSource::open(const QString& filePath)
{
    const ReadOnlyFile file = ReadOnlyFile::open(filePath);
    // A directory, FIFO or device is no image, and reading a FIFO could block.
    if (!file.isRegularFile())
        return std::nullopt;
    const FileImageBytes reader(file.descriptor(), file.size());
    std::optional<ImageStructure> structure = ImageStructure::inspect(reader);
    if (!structure || !hasDecoder(*structure))
        return std::nullopt;
    auto data = std::make_shared<Data>();
    data->filePath = filePath;
    data->structure = std::move(*structure);
    return ImageSource(std::move(data));
}

std::optional<QString> ImageSource::typeIdentifier() const
{
    return d->structure.typeIdentifier;
}

ImageSource::Status ImageSource::status() const
{
    return d->structure.status;
}

int ImageSource::imageCount() const
{
    return int(d->structure.images.size());
}

ImageSource::Status ImageSource::imageStatus(int index) const
{
    if (index < 0 || index >= imageCount())
        return Status::invalid;
    return d->structure.images[std::size_t(index)].status;
}

std::optional<ImageSource::PixelSize> ImageSource::pixelSize(int index) const
{
    if (index < 0 || index >= imageCount())
        return std::nullopt;
    const ImageStructure::Image& image = d->structure.images[std::size_t(index)];
    if (image.width < 1 || image.height < 1)
        return std::nullopt;
    return PixelSize{image.width, image.height};
}

bool ImageSource::hasImage(int index) const
{
    return imageStatus(index) != Status::invalid && pixelSize(index).has_value()
        && d->structure.images[std::size_t(index)].decodable
        && (d->structure.format != Format::heif || std::size_t(index) < d->structure.heifItemIds.size());
}

bool ImageSource::isFile() const
{
    return !d->filePath.isEmpty();
}

QImage ImageSource::decodeImage(int index) const
{
    return decode(index, 0);
}

QImage ImageSource::thumbnail(int index, int maxPixelSize) const
{
    if (maxPixelSize < 1)
        return {};
    return decode(index, maxPixelSize);
}

// maxPixelSize 0: full size.
QImage ImageSource::decode(int index, int maxPixelSize) const
{
    if (!hasImage(index))
        return {};
    const std::optional<PixelSize> stored = pixelSize(index);
    // Every decode keeps the pixel budget itself, whether or not its caller
    // admitted the image: a header that lies must not buy a huge allocation.
    if (!withinBudget(stored->width, stored->height))
        return {};
    ensureAllocationLimit();

    // Each decode reads the data anew: from the shared bytes, or from the
    // file opened once more (without blocking, and only if it is still a
    // regular file).
    std::optional<ReadOnlyFile> file;
    std::unique_ptr<ImageBytes> bytes;
    if (isFile()) {
        try {
            file.emplace(ReadOnlyFile::open(d->filePath));
        } catch (const std::system_error&) {
            return {};
        }
        if (!file->isRegularFile())
            return {};
    }

    if (d->structure.format == Format::heif) {
        if (file)
            bytes = std::make_unique<FileImageBytes>(file->descriptor(), file->size());
        else
            bytes = std::make_unique<MemoryImageBytes>(d->bytes);
        const std::unique_ptr<HeifContainer> container = HeifContainer::read(*bytes);
        if (!container)
            return {};
        const QImage image = container->decode(d->structure.heifItemIds[std::size_t(index)], ImageAdmission::pixelBudget);
        if (image.isNull() || maxPixelSize == 0)
            return image;
        // HEVC has no reduced-scale decode; embedded thumbnails are not used,
        // since a thumbnail must show (and prove decodable) the image itself.
        const QSize target = thumbnailSize(image.width(), image.height(), maxPixelSize);
        if (target == image.size())
            return image;
        return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }

    QBuffer buffer;
    QFile device;
    QIODevice* input = nullptr;
    if (file) {
        // QFile takes its own descriptor so that ours closes independently.
        const int descriptor = ::fcntl(file->descriptor(), F_DUPFD_CLOEXEC, 0);
        if (descriptor < 0 || !device.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            if (descriptor >= 0)
                ::close(descriptor);
            return {};
        }
        input = &device;
    } else {
        buffer.setData(d->bytes);
        if (!buffer.open(QIODevice::ReadOnly))
            return {};
        input = &buffer;
    }

    QImageReader reader(input, qtFormatName(d->structure.format));
    // The format was decided from the content; never let Qt guess another.
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(true);
    QImage image;
    if (index > 0 && !reader.jumpToImage(index)) {
        // Readers that only go forward (GIF) are stepped frame by frame.
        for (int skipped = 0; skipped < index; ++skipped) {
            if (!reader.read(&image))
                return {};
        }
    }
    // The size the reader itself will allocate for, known before it reads
    // (TIFF, for one, takes the first of repeated size tags). Asked only
    // once the reader stands at the image: asking earlier pins some readers
    // to the first image.
    if (const QSize announced = reader.size(); announced.isValid() && !withinBudget(announced.width(), announced.height()))
        return {};
    if (maxPixelSize > 0) {
        // The scaled size is in the stored orientation; the transform is
        // applied after scaling, and rotation keeps the longer side's length.
        reader.setScaledSize(thumbnailSize(stored->width, stored->height, maxPixelSize));
    }
    if (!reader.read(&image) || !withinBudget(image.width(), image.height()))
        return {};
    return image;
}

} // namespace tolvex
