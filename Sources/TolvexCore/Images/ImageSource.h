#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace tolvex {

struct ImageStructure;

// An image source: what the image decoder layer knows of some bytes or of a
// file. Creating one reads only the structure of the data (signature,
// header, chunk or box tables, the end markers), never pixels, so the type,
// the completeness and the pixel size of each image are known before anything
// is decoded. Decoding goes through QImageReader (PNG, JPEG, GIF, BMP, WebP,
// TIFF) or libheif (HEIC, HEIF, AVIF) on demand. Nothing is cached: each
// decode opens its own reader.
//
// A source is an immutable value; copies share the same bytes, and every
// member may be called from any thread at once. A file source keeps only the
// path: each decode opens the file again and reads it from the file itself,
// never into one big buffer.
//
// Recognised formats are exactly those whose completeness can be decided from
// their structure and for which a decoder is present here; any other data
// (text, PDF, an icon, a format whose plug-in is missing) makes no source.
class ImageSource {
public:
    enum class Status { complete, incomplete, invalid };
    struct PixelSize {
        std::int64_t width = 0;
        std::int64_t height = 0;
        friend bool operator==(const PixelSize&, const PixelSize&) = default;
    };

    // The process-wide QImageReader allocation limit the layer sets before its
    // first decode: enough for the largest admitted image (33,554,432 pixels)
    // at 8 bytes per pixel, so no admitted image is refused and no decoder
    // allocates far beyond it.
    static constexpr int decodeAllocationLimitMiB = 256;

    // nullopt when no decoder recognises the bytes.
    static std::optional<ImageSource> create(const QByteArray& bytes);
    // nullopt when the file cannot be opened, is not a regular file or no
    // decoder recognises its contents.
    static std::optional<ImageSource> create(const QString& filePath);
    // Like create(filePath), but a file that cannot be opened or read raises
    // std::system_error with the errno instead of giving nullopt.
    static std::optional<ImageSource> open(const QString& filePath);
    // A string literal would be taken for bytes by one overload and for a path
    // by the other: say which with QByteArray or QString.
    static std::optional<ImageSource> create(const char*) = delete;

    // The uniform type identifier of the detected format ("public.png").
    std::optional<QString> typeIdentifier() const;
    // Of the whole source: complete only when the data is structurally whole.
    Status status() const;
    int imageCount() const;
    // invalid for an index out of range.
    Status imageStatus(int index) const;
    // From the header only; the size as stored, before any orientation is
    // applied (the pixel count is the same either way). HEIF reports the size
    // after its own transformations, since those are part of its images.
    std::optional<PixelSize> pixelSize(int index) const;
    // An image can be made at this index: it exists, its header is sound and
    // its sides are within what the decoder takes. An image whose data is cut
    // short still counts (its decode gives what is there, or nothing); callers
    // that need a whole image check imageStatus or admit first. No pixel is
    // decoded.
    bool hasImage(int index) const;
    // Full decode, with the image's orientation applied; a null image on any
    // failure. Callers admit the source first (see ImageAdmission).
    QImage decodeImage(int index) const;
    // Decoded scaled down so that the longer side is at most maxPixelSize
    // (never scaled up), with the orientation applied; JPEG decodes at a
    // reduced scale directly. A null image when maxPixelSize < 1 or on failure.
    QImage thumbnail(int index, int maxPixelSize) const;

    // True when the source was made from a file.
    bool isFile() const;

private:
    struct Data;
    explicit ImageSource(std::shared_ptr<const Data> data);
    QImage decode(int index, int maxPixelSize) const;

    std::shared_ptr<const Data> d;
};

} // namespace tolvex
