#pragma once

#include "TolvexCore/Images/ImageSource.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace tolvex {

// Random access to the bytes of an image, in memory or in an open file.
class ImageBytes {
public:
    virtual ~ImageBytes() = default;
    virtual std::int64_t size() const = 0;
    // Copies up to `length` bytes at `offset`; returns how many were copied:
    // fewer only at the end of the data or when the file cannot be read.
    virtual std::int64_t readAt(std::int64_t offset, void* buffer, std::int64_t length) const = 0;
    // The whole data when it is in memory, else null.
    virtual const std::uint8_t* memory() const { return nullptr; }

    bool readExact(std::int64_t offset, void* buffer, std::int64_t length) const;
};

class MemoryImageBytes final : public ImageBytes {
public:
    explicit MemoryImageBytes(QByteArray bytes) : bytes_(std::move(bytes)) {}
    std::int64_t size() const override { return bytes_.size(); }
    std::int64_t readAt(std::int64_t offset, void* buffer, std::int64_t length) const override;
    const std::uint8_t* memory() const override { return reinterpret_cast<const std::uint8_t*>(bytes_.constData()); }

private:
    QByteArray bytes_;
};

// Reads an open file descriptor with pread; does not own the descriptor.
// The size is fixed when made, so a file that grows meanwhile is seen as it
// was (a file still being written is judged on what was there).
class FileImageBytes final : public ImageBytes {
public:
    FileImageBytes(int descriptor, std::int64_t size) : descriptor_(descriptor), size_(size) {}
    std::int64_t size() const override { return size_; }
    std::int64_t readAt(std::int64_t offset, void* buffer, std::int64_t length) const override;

private:
    int descriptor_;
    std::int64_t size_;
};

// The structure of an image file, read without decoding a pixel: the format,
// whether the data is whole, and each image's size as its header states it.
struct ImageStructure {
    enum class Format { png, jpeg, gif, bmp, webp, tiff, heif };
    using Status = ImageSource::Status;

    struct Image {
        Status status = Status::invalid;
        std::int64_t width = 0;
        std::int64_t height = 0;
        // False when a side exceeds what the decoder accepts (libpng's
        // 1,000,000, libjpeg's 65,500, libwebp's 16,384), however few pixels
        // the image has.
        bool decodable = true;
    };

    Format format = Format::png;
    QString typeIdentifier;
    Status status = Status::invalid;
    // In index order. Empty when not even the first image's header is there.
    std::vector<Image> images;
    // HEIF only: libheif's item ids of the images in index order, the primary
    // image first.
    std::vector<std::uint32_t> heifItemIds;

    // The format the signature names, with its type identifier; nullopt when
    // the bytes start like no format of ours.
    static std::optional<std::pair<Format, QString>> detect(const ImageBytes& bytes);
    // nullopt when the bytes start like no format of ours.
    static std::optional<ImageStructure> inspect(const ImageBytes& bytes);
};

} // namespace tolvex
