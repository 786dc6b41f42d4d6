#include "TolvexCore/Images/HeifContainer.h"

#include "TolvexCore/Images/ImageStructure.h"

#include <libheif/heif.h>

#include <cstring>
#include <mutex>

namespace tolvex {

namespace {

// libheif counts its users; the layer holds one reference for the life of
// the process, taken before the first call.
void ensureLibheif()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;

} // namespace

// What libheif's reader callbacks see: the bytes and a read position.
struct HeifContainer::Reader {
    const ImageBytes* bytes = nullptr;
    std::int64_t position = 0;

    static std::int64_t getPosition(void* self) { return static_cast<Reader*>(self)->position; }

    static int read(void* data, size_t size, void* self)
    {
        auto* reader = static_cast<Reader*>(self);
        if (!reader->bytes->readExact(reader->position, data, static_cast<std::int64_t>(size)))
            return 1;
        reader->position += static_cast<std::int64_t>(size);
        return 0;
    }

    static int seek(std::int64_t position, void* self)
    {
        auto* reader = static_cast<Reader*>(self);
        if (position < 0 || position > reader->bytes->size())
            return 1;
        reader->position = position;
        return 0;
    }

    static heif_reader_grow_status waitForFileSize(std::int64_t target, void* self)
    {
        // The data does not grow while it is read: what is missing now stays missing.
        return target <= static_cast<Reader*>(self)->bytes->size() ? heif_reader_grow_status_size_reached
                                                                    : heif_reader_grow_status_size_beyond_eof;
    }
};

HeifContainer::HeifContainer() = default;

HeifContainer::~HeifContainer()
{
    if (context_)
        heif_context_free(context_);
}

std::unique_ptr<HeifContainer> HeifContainer::read(const ImageBytes& bytes)
{
    ensureLibheif();
    static const heif_reader callbacks{1, &Reader::getPosition, &Reader::read, &Reader::seek, &Reader::waitForFileSize};

    std::unique_ptr<HeifContainer> container(new HeifContainer());
    container->reader_ = std::make_unique<Reader>();
    container->reader_->bytes = &bytes;
    container->context_ = heif_context_alloc();
    if (!container->context_)
        return nullptr;
    // Grid tiles decode on the calling thread: callers already run the layer
    // on worker threads, and the HEVC decoder has threads of its own.
    heif_context_set_max_decoding_threads(container->context_, 0);
    const heif_error error = heif_context_read_from_reader(container->context_, &callbacks, container->reader_.get(), nullptr);
    if (error.code != heif_error_Ok)
        return nullptr;
    heif_item_id primary = 0;
    if (heif_context_get_primary_image_ID(container->context_, &primary).code != heif_error_Ok)
        return nullptr;
    return container;
}

std::vector<std::uint32_t> HeifContainer::imageIds() const
{
    std::vector<std::uint32_t> result;
    heif_item_id primary = 0;
    if (heif_context_get_primary_image_ID(context_, &primary).code != heif_error_Ok)
        return result;
    result.push_back(primary);
    const int count = heif_context_get_number_of_top_level_images(context_);
    if (count <= 0)
        return result;
    std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
    const int filled = heif_context_get_list_of_top_level_image_IDs(context_, ids.data(), count);
    for (int i = 0; i < filled; ++i) {
        if (ids[static_cast<std::size_t>(i)] != primary)
            result.push_back(ids[static_cast<std::size_t>(i)]);
    }
    return result;
}

std::optional<ImageSource::PixelSize> HeifContainer::pixelSize(std::uint32_t id) const
{
    heif_image_handle* raw = nullptr;
    if (heif_context_get_image_handle(context_, id, &raw).code != heif_error_Ok || !raw)
        return std::nullopt;
    const Handle handle(raw);
    return ImageSource::PixelSize{heif_image_handle_get_width(raw), heif_image_handle_get_height(raw)};
}

QImage HeifContainer::decode(std::uint32_t id, std::int64_t maxPixels) const
{
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_image_handle(context_, id, &rawHandle).code != heif_error_Ok || !rawHandle)
        return {};
    const Handle handle(rawHandle);
    const std::int64_t width = heif_image_handle_get_width(rawHandle);
    const std::int64_t height = heif_image_handle_get_height(rawHandle);
    if (width < 1 || height < 1 || width * height > maxPixels)
        return {};
    const bool alpha = heif_image_handle_has_alpha_channel(rawHandle) != 0;

    const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (options && options->version >= 2)
        options->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    const heif_error error = heif_decode_image(rawHandle, &rawImage, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    if (error.code != heif_error_Ok || !rawImage)
        return {};
    const std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(rawImage, heif_channel_interleaved, &stride);
    const int planeWidth = heif_image_get_width(rawImage, heif_channel_interleaved);
    const int planeHeight = heif_image_get_height(rawImage, heif_channel_interleaved);
    if (!plane || planeWidth < 1 || planeHeight < 1 || heif_image_get_bits_per_pixel_range(rawImage, heif_channel_interleaved) != 8)
        return {};
    // The decoded planes can be larger than the handle said; the copy for
    // the caller is bounded all the same.
    if (std::int64_t(planeWidth) * planeHeight > maxPixels)
        return {};
    QImage result(planeWidth, planeHeight, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (result.isNull())
        return {};
    const std::size_t rowBytes = static_cast<std::size_t>(planeWidth) * (alpha ? 4 : 3);
    if (static_cast<std::size_t>(stride) < rowBytes)
        return {};
    for (int y = 0; y < planeHeight; ++y)
        std::memcpy(result.scanLine(y), plane + static_cast<std::ptrdiff_t>(y) * stride, rowBytes);
    return result;
}

bool HeifContainer::canDecodeHevc()
{
    ensureLibheif();
    return heif_have_decoder_for_format(heif_compression_HEVC) != 0;
}

bool HeifContainer::canDecodeAv1()
{
    ensureLibheif();
    return heif_have_decoder_for_format(heif_compression_AV1) != 0;
}

} // namespace tolvex
