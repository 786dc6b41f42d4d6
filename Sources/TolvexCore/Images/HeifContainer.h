#pragma once

#include "TolvexCore/Images/ImageSource.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct heif_context;

namespace tolvex {

class ImageBytes;

// A HEIF container (HEIC, HEIF, AVIF) parsed by libheif over ImageBytes.
// libheif reads the item data it needs lazily, through the bytes, so the
// bytes must outlive the container. One container serves one thread; the
// image layer makes a new one for each inspection or decode.
class HeifContainer {
public:
    // nullopt when libheif cannot parse the container.
    static std::unique_ptr<HeifContainer> read(const ImageBytes& bytes);
    ~HeifContainer();
    HeifContainer(const HeifContainer&) = delete;
    HeifContainer& operator=(const HeifContainer&) = delete;

    // The top-level images, the primary one first.
    std::vector<std::uint32_t> imageIds() const;
    // The size after the container's own transformations (rotation, mirror,
    // crop), as the decoded image will have it; nullopt without a handle.
    std::optional<ImageSource::PixelSize> pixelSize(std::uint32_t id) const;
    // Decodes the image to 8-bit RGB(A); a null image on failure or when it
    // has more than maxPixels pixels.
    QImage decode(std::uint32_t id, std::int64_t maxPixels) const;

    // Whether this libheif can decode HEVC (HEIC) or AV1 (AVIF) images.
    static bool canDecodeHevc();
    static bool canDecodeAv1();

private:
    struct Reader;
    HeifContainer();

    std::unique_ptr<Reader> reader_;
    heif_context* context_ = nullptr;
};

} // namespace tolvex
