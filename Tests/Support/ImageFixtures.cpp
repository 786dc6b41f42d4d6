#include "ImageFixtures.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>

#include <libheif/heif.h>

#include <array>
#include <cstring>
#include <stdexcept>

namespace tolvex::test {

namespace {

void appendBe32(QByteArray& out, std::uint32_t value)
{
    out.append(char(value >> 24)).append(char(value >> 16)).append(char(value >> 8)).append(char(value));
}
void appendBe16(QByteArray& out, std::uint16_t value)
{
    out.append(char(value >> 8)).append(char(value));
}
void appendLe16(QByteArray& out, std::uint16_t value)
{
    out.append(char(value)).append(char(value >> 8));
}
void appendLe32(QByteArray& out, std::uint32_t value)
{
    appendLe16(out, std::uint16_t(value));
    appendLe16(out, std::uint16_t(value >> 16));
}
std::uint32_t crc32(const QByteArray& bytes)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (char byte : bytes) {
        c ^= std::uint8_t(byte);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

} // namespace

QImage patternImage(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, QColor(220, 20, 20));
    painter.fillRect(width / 2, 0, width - width / 2, height / 2, QColor(20, 200, 20));
    painter.fillRect(0, height / 2, width / 2, height - height / 2, QColor(20, 20, 220));
    if (alpha)
        painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, QColor(0, 0, 0, 0));
    return image;
}

QByteArray encodeImage(const QImage& image, const char* format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0)
        writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    return bytes;
}

QByteArray jpegWithOrientation(const QImage& image, std::uint16_t orientation)
{
    const QByteArray jpeg = encodeImage(image, "jpeg", 95);
    // Exif APP1: "Exif\0\0", a big-endian TIFF header, IFD0 with one entry.
    QByteArray tiff("MM\0*", 4);
    appendBe32(tiff, 8);
    appendBe16(tiff, 1);          // one entry
    appendBe16(tiff, 0x0112);     // Orientation
    appendBe16(tiff, 3);          // SHORT
    appendBe32(tiff, 1);          // count
    appendBe16(tiff, orientation);
    appendBe16(tiff, 0);          // padding of the value field
    appendBe32(tiff, 0);          // no next IFD
    QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    appendBe16(segment, std::uint16_t(payload.size() + 2));
    segment += payload;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray pngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk;
    appendBe32(chunk, std::uint32_t(data.size()));
    const QByteArray body = QByteArray(type, 4) + data;
    chunk += body;
    appendBe32(chunk, crc32(body));
    return chunk;
}

QByteArray pngHeader(std::uint32_t width, std::uint32_t height)
{
    QByteArray ihdr;
    appendBe32(ihdr, width);
    appendBe32(ihdr, height);
    ihdr.append(char(8)).append(char(2)).append(char(0)).append(char(0)).append(char(0));
    return pngChunk("IHDR", ihdr);
}

QByteArray craftedPng(std::uint32_t width, std::uint32_t height)
{
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngHeader(width, height)
        + pngChunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + pngChunk("IEND", {});
}

QByteArray gifWithFrames(int width, int height, const std::vector<int>& frameColours)
{
    QByteArray gif("GIF89a");
    appendLe16(gif, std::uint16_t(width));
    appendLe16(gif, std::uint16_t(height));
    gif.append(char(0x91)).append(char(0)).append(char(0)); // 4-entry global table
    gif.append(QByteArray("\x00\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 12));
    for (int colour : frameColours) {
        // Graphic control: no transparency, a delay of 10 hundredths.
        gif.append(QByteArray("\x21\xF9\x04\x04\x0A\x00\x00\x00", 8));
        gif.append(char(0x2C));
        appendLe16(gif, 0);
        appendLe16(gif, 0);
        appendLe16(gif, std::uint16_t(width));
        appendLe16(gif, std::uint16_t(height));
        gif.append(char(0));
        gif.append(char(2)); // minimum code size: codes of 3 bits, clear 4, end 5
        // A clear code before every two pixels keeps the table from growing,
        // so every code stays 3 bits wide.
        QByteArray data;
        std::uint32_t bits = 0;
        int bitCount = 0;
        const auto put = [&](std::uint32_t code) {
            bits |= code << bitCount;
            bitCount += 3;
            while (bitCount >= 8) {
                data.append(char(bits & 0xFF));
                bits >>= 8;
                bitCount -= 8;
            }
        };
        const int pixels = width * height;
        for (int i = 0; i < pixels; ++i) {
            if (i % 2 == 0)
                put(4);
            put(std::uint32_t(colour));
        }
        put(5);
        if (bitCount > 0)
            data.append(char(bits & 0xFF));
        for (qsizetype at = 0; at < data.size(); at += 255) {
            const QByteArray block = data.mid(at, 255);
            gif.append(char(block.size()));
            gif.append(block);
        }
        gif.append(char(0));
    }
    gif.append(char(0x3B));
    return gif;
}

QByteArray gifClaiming(std::uint16_t width, std::uint16_t height)
{
    QByteArray gif = gifWithFrames(1, 1, {1});
    gif[6] = char(width & 0xFF);
    gif[7] = char(width >> 8);
    gif[8] = char(height & 0xFF);
    gif[9] = char(height >> 8);
    return gif;
}

QByteArray jpegClaiming(std::uint16_t width, std::uint16_t height)
{
    QByteArray jpeg("\xFF\xD8", 2);
    jpeg.append("\xFF\xC0", 2);
    appendBe16(jpeg, 17);
    jpeg.append(char(8));
    appendBe16(jpeg, height);
    appendBe16(jpeg, width);
    jpeg.append(char(3));
    jpeg.append(QByteArray("\x01\x22\x00\x02\x11\x01\x03\x11\x01", 9));
    jpeg.append("\xFF\xDA", 2);
    appendBe16(jpeg, 12);
    jpeg.append(char(3));
    jpeg.append(QByteArray("\x01\x00\x02\x11\x03\x11\x00\x3F\x00", 9));
    jpeg.append(QByteArray("\x12\x34\x56", 3));
    jpeg.append("\xFF\xD9", 2);
    return jpeg;
}

QByteArray bmpRleClaiming(std::int32_t width, std::int32_t height)
{
    QByteArray bmp("BM");
    const std::uint32_t offset = 14 + 40 + 4 * 2; // a two-colour palette
    appendLe32(bmp, offset + 2);
    appendLe32(bmp, 0);
    appendLe32(bmp, offset);
    appendLe32(bmp, 40);
    appendLe32(bmp, std::uint32_t(width));
    appendLe32(bmp, std::uint32_t(height));
    appendLe16(bmp, 1);
    appendLe16(bmp, 8);
    appendLe32(bmp, 1); // RLE8
    appendLe32(bmp, 2); // image size
    appendLe32(bmp, 2835);
    appendLe32(bmp, 2835);
    appendLe32(bmp, 2);
    appendLe32(bmp, 0);
    bmp.append(QByteArray("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8));
    bmp.append(QByteArray("\x00\x01", 2)); // end of bitmap
    return bmp;
}

QByteArray webpClaiming(std::uint32_t width, std::uint32_t height)
{
    QByteArray vp8x;
    vp8x.append(char(0)).append(3, char(0));
    const std::uint32_t w = width - 1, h = height - 1;
    vp8x.append(char(w)).append(char(w >> 8)).append(char(w >> 16));
    vp8x.append(char(h)).append(char(h >> 8)).append(char(h >> 16));
    QByteArray body("WEBP");
    body.append("VP8X");
    appendLe32(body, std::uint32_t(vp8x.size()));
    body.append(vp8x);
    const QByteArray lossless("\x2F\x00\x00\x00\x00\x00\x00\x00", 8); // 1 x 1 header and a few bits
    body.append("VP8L");
    appendLe32(body, std::uint32_t(lossless.size()));
    body.append(lossless);
    QByteArray riff("RIFF");
    appendLe32(riff, std::uint32_t(body.size()));
    return riff + body;
}

TiffPage greyTiffPage(std::uint32_t width, std::uint32_t height, std::uint8_t value)
{
    TiffPage page;
    page.width = width;
    page.height = height;
    page.strip = QByteArray(qsizetype(width) * height, char(value));
    return page;
}

QByteArray tiffWithPages(const std::vector<TiffPage>& pages)
{
    constexpr int kEntries = 9;
    constexpr int kIfdSize = 2 + kEntries * 12 + 4;
    QByteArray tiff("II*\0", 4);
    appendLe32(tiff, 8);
    std::uint32_t dataOffset = 8 + std::uint32_t(pages.size()) * kIfdSize;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const TiffPage& page = pages[i];
        const std::uint32_t stripBytes = page.claimedStripBytes >= 0 ? std::uint32_t(page.claimedStripBytes)
                                                                     : std::uint32_t(page.strip.size());
        const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
            appendLe16(tiff, tag);
            appendLe16(tiff, type);
            appendLe32(tiff, 1);
            if (type == 3) {
                appendLe16(tiff, std::uint16_t(value));
                appendLe16(tiff, 0);
            } else {
                appendLe32(tiff, value);
            }
        };
        appendLe16(tiff, kEntries);
        entry(256, 4, page.width);
        entry(257, 4, page.height);
        entry(258, 3, 8);
        entry(259, 3, page.compression);
        entry(262, 3, 1);
        entry(273, 4, dataOffset);
        entry(277, 3, 1);
        entry(278, 4, page.height);
        entry(279, 4, stripBytes);
        const bool last = i + 1 == pages.size();
        appendLe32(tiff, last ? 0 : std::uint32_t(8 + (i + 1) * kIfdSize));
        dataOffset += std::uint32_t(page.strip.size());
    }
    for (const TiffPage& page : pages)
        tiff.append(page.strip);
    return tiff;
}

namespace {

QByteArray heifImage(const QImage& source, heif_compression_format compression)
{
    heif_init(nullptr);
    struct Deinit {
        ~Deinit() { heif_deinit(); }
    } deinit;
    if (!heif_have_encoder_for_format(compression))
        return {};
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* picture = nullptr;
    QByteArray result;
    if (heif_context_get_encoder_for_format(context, compression, &encoder).code == heif_error_Ok
        && heif_image_create(image.width(), image.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture).code
            == heif_error_Ok
        && heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), 8).code == heif_error_Ok) {
        int stride = 0;
        std::uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(plane + y * stride, image.constScanLine(y), std::size_t(image.width()) * 3);
        heif_encoder_set_lossy_quality(encoder, 90);
        if (heif_context_encode_image(context, picture, encoder, nullptr, nullptr).code == heif_error_Ok) {
            heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* userdata) {
                                   static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
                                   return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
                               }};
            if (heif_context_write(context, &writer, &result).code != heif_error_Ok)
                result.clear();
        }
    }
    if (picture)
        heif_image_release(picture);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    return result;
}

} // namespace

QByteArray heicImage(const QImage& image)
{
    return heifImage(image, heif_compression_HEVC);
}

QByteArray avifImage(const QImage& image)
{
    return heifImage(image, heif_compression_AV1);
}

QString writeFixture(const QTemporaryDir& folder, const QString& name, const QByteArray& bytes)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write fixture");
    return path;
}

namespace {

// Writes an H.265 RBSP bit by bit, with Exp-Golomb codes.
class BitWriter {
public:
    void bits(std::uint64_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            current_ = std::uint8_t((current_ << 1) | ((value >> i) & 1));
            if (++filled_ == 8) {
                bytes_.append(char(current_));
                current_ = 0;
                filled_ = 0;
            }
        }
    }
    void unsignedGolomb(std::uint64_t value)
    {
        const std::uint64_t code = value + 1;
        int length = 0;
        while ((code >> length) > 1)
            ++length;
        bits(0, length);
        bits(code, length + 1);
    }
    // The stop bit and the zero padding, then emulation prevention.
    QByteArray finish()
    {
        bits(1, 1);
        while (filled_ != 0)
            bits(0, 1);
        QByteArray escaped;
        int zeros = 0;
        for (const char c : bytes_) {
            const auto byte = std::uint8_t(c);
            if (zeros >= 2 && byte <= 3) {
                escaped.append(char(3));
                zeros = 0;
            }
            escaped.append(c);
            zeros = byte == 0 ? zeros + 1 : 0;
        }
        return escaped;
    }

private:
    QByteArray bytes_;
    std::uint8_t current_ = 0;
    int filled_ = 0;
};

QByteArray box(const char* type, const QByteArray& payload)
{
    QByteArray out;
    appendBe32(out, std::uint32_t(8 + payload.size()));
    out.append(type, 4);
    return out + payload;
}

QByteArray fullBox(const char* type, std::uint8_t version, const QByteArray& payload)
{
    QByteArray head(4, '\0');
    head[0] = char(version);
    return box(type, head + payload);
}

QByteArray hevcParameterSet(std::uint32_t width, std::uint32_t height)
{
    BitWriter w;
    w.bits(0, 4);          // video parameter set id
    w.bits(0, 3);          // one sub-layer
    w.bits(1, 1);          // temporal id nesting
    w.bits(1, 8);          // profile space, tier, Main profile
    w.bits(0x60000000, 32); // compatibility flags
    w.bits(0, 48);         // constraint flags
    w.bits(90, 8);         // level 3
    w.unsignedGolomb(0);   // sequence parameter set id
    w.unsignedGolomb(1);   // 4:2:0
    w.unsignedGolomb(width);
    w.unsignedGolomb(height);
    w.bits(0, 1);          // no conformance window
    w.unsignedGolomb(0);   // 8-bit luma
    w.unsignedGolomb(0);   // 8-bit chroma
    return QByteArray("\x42\x01", 2) + w.finish();
}

} // namespace

QByteArray heicClaiming(std::uint32_t ispeWidth, std::uint32_t ispeHeight, std::uint32_t codedWidth,
    std::uint32_t codedHeight)
{
    const QByteArray sps = hevcParameterSet(codedWidth, codedHeight);
    QByteArray hvcc("\x01\x01\x60\x00\x00\x00\x00\x00\x00\x00\x00\x00\x5A\xF0\x00\xFC\xFD\xF8\xF8\x00\x00\x0F",
        22);
    hvcc.append(char(1));    // one array
    hvcc.append(char(0xA1)); // complete, sequence parameter sets
    appendBe16(hvcc, 1);
    appendBe16(hvcc, std::uint16_t(sps.size()));
    hvcc.append(sps);

    QByteArray ispe;
    appendBe32(ispe, ispeWidth);
    appendBe32(ispe, ispeHeight);
    QByteArray association;
    appendBe32(association, 1);
    appendBe16(association, 1);
    association.append(char(2));
    association.append(char(0x81)); // hvcC, essential
    association.append(char(0x02)); // ispe
    const QByteArray iprp =
        box("iprp", box("ipco", box("hvcC", hvcc) + fullBox("ispe", 0, ispe)) + fullBox("ipma", 0, association));

    QByteArray handler(4, '\0');
    handler.append("pict", 4);
    handler.append(QByteArray(13, '\0'));
    QByteArray primary;
    appendBe16(primary, 1);
    QByteArray info;
    appendBe16(info, 1);
    appendBe16(info, 0);
    info.append("hvc1", 4);
    info.append('\0');
    QByteArray infos;
    appendBe16(infos, 1);
    infos.append(fullBox("infe", 2, info));

    const QByteArray data(32, '\x11');
    const auto meta = [&](std::uint32_t dataOffset) {
        QByteArray location("\x44\x00", 2); // 4-byte offsets and lengths, no base offset
        appendBe16(location, 1);
        appendBe16(location, 1); // item 1
        appendBe16(location, 0); // this file
        appendBe16(location, 1); // one extent
        appendBe32(location, dataOffset);
        appendBe32(location, std::uint32_t(data.size()));
        return fullBox("meta", 0,
            fullBox("hdlr", 0, handler) + fullBox("pitm", 0, primary) + fullBox("iinf", 0, infos)
                + fullBox("iloc", 0, location) + iprp);
    };
    QByteArray ftyp("heic", 4);
    appendBe32(ftyp, 0);
    ftyp.append("mif1heic", 8);
    const QByteArray head = box("ftyp", ftyp);
    const std::uint32_t dataOffset = std::uint32_t(head.size() + meta(0).size() + 8);
    return head + meta(dataOffset) + box("mdat", data);
}

QByteArray tiffWithRepeatedWidth(std::uint32_t width, std::uint32_t height, std::uint32_t secondWidth)
{
    // The strip holds what the second width would need, as a file written
    // to fool a check that reads the last tag would.
    QByteArray tiff = tiffWithPages({TiffPage{width, height, 1, QByteArray(qsizetype(secondWidth) * height, 9)}});
    // The third entry (BitsPerSample, 8) becomes ImageWidth = secondWidth.
    const qsizetype entry = 8 + 2 + 2 * 12;
    tiff[entry] = char(0x00);
    tiff[entry + 1] = char(0x01);
    tiff[entry + 2] = char(4);
    tiff[entry + 3] = char(0);
    for (int i = 0; i < 4; ++i)
        tiff[entry + 8 + i] = char((secondWidth >> (8 * i)) & 0xFF);
    return tiff;
}

} // namespace tolvex::test
