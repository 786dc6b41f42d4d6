#include "TolvexCore/Images/ImageAdmission.h"

#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/ReadOnlyFile.h"
#include "TolvexCore/Images/UniformType.h"

#include <cstring>
#include <optional>

namespace tolvex::ImageAdmission {

namespace {

// An empty IEND chunk with its CRC, as every complete PNG ends.
constexpr char kPngTrailer[12] = {0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44,
    static_cast<char>(0xAE), 0x42, 0x60, static_cast<char>(0x82)};
constexpr std::int64_t kMinimumPngBytes = 20;

[[noreturn]] void refuse()
{
    throw ImageAdmissionError::invalidImage();
}

bool isPng(const ImageSource& source)
{
    return source.typeIdentifier() == QString::fromUtf16(UniformTypeIdentifier::png);
}

} // namespace

void validate(std::int64_t width, std::int64_t height)
{
    if (width < 1 || height < 1)
        refuse();
    std::int64_t pixels = 0;
    if (__builtin_mul_overflow(width, height, &pixels) || pixels > pixelBudget)
        throw ImageAdmissionError::pixelBudgetExceeded();
}

void validate(const ImageSource& source)
{
    const std::optional<QString> identifier = source.typeIdentifier();
    if (!identifier)
        refuse();
    const std::optional<UniformType> type = UniformType::withIdentifier(*identifier);
    if (!type || !type->conformsToImage)
        refuse();
    if (source.status() != ImageSource::Status::complete || source.imageCount() < 1
        || source.imageStatus(0) != ImageSource::Status::complete)
        refuse();
    const std::optional<ImageSource::PixelSize> size = source.pixelSize(0);
    if (!size)
        refuse();
    validate(size->width, size->height);
    // Within the budget but beyond what the decoder takes on one side (a
    // 1,000,001 x 1 PNG): no image could be made of it.
    if (!source.hasImage(0))
        refuse();
}

void validate(const QByteArray& bytes)
{
    const std::optional<ImageSource> source = ImageSource::create(bytes);
    if (!source)
        refuse();
    validate(*source);
    if (isPng(*source)) {
        // A PNG cut anywhere loses its IEND chunk; this is the last line of
        // defence even where the chunk walk could not tell.
        if (bytes.size() < kMinimumPngBytes || std::memcmp(bytes.constData() + bytes.size() - 12, kPngTrailer, 12) != 0)
            refuse();
    }
}

void validate(const QUrl& contentsOf)
{
    // Only local files, a remote host refused without any look-up; and the
    // exact path: a name that is not UTF-8 must not be read as another.
    const std::optional<QString> exactPath = exactLocalPath(contentsOf);
    if (!exactPath)
        refuse();
    const QString& path = *exactPath;

    const std::optional<ImageSource> source = ImageSource::open(path);
    if (!source)
        refuse();
    validate(*source);
    if (isPng(*source)) {
        // Opened again for the trailer: its size from the file system, then
        // the last 12 bytes only. The file closes on every way out.
        const ReadOnlyFile file = ReadOnlyFile::open(path);
        if (!file.isRegularFile() || file.size() < kMinimumPngBytes)
            refuse();
        char tail[12] = {};
        const std::int64_t count = file.readAt(file.size() - 12, tail, sizeof tail);
        if (count != 12 || std::memcmp(tail, kPngTrailer, 12) != 0)
            refuse();
    }
}

} // namespace tolvex::ImageAdmission
