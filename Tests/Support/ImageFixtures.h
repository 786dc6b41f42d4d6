#pragma once

// Image fixtures made in the tests: real files written by Qt's encoders (and
// libheif's, where an HEVC encoder is present), and hand-made headers for
// the cases no encoder writes (huge claimed sizes, several frames or pages,
// data placed after the tables).
#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

class QTemporaryDir;

namespace tolvex::test {

// A w x h image with a different colour in each corner region, so that an
// orientation or a mix-up of frames is visible.
QImage patternImage(int width, int height, bool alpha = false);

// Encodes with Qt's writer for the format ("png", "jpeg", "bmp", "tiff",
// "webp"); empty when the writer is missing. quality -1 keeps the default.
QByteArray encodeImage(const QImage& image, const char* format, int quality = -1);

// A JPEG whose Exif orientation tag says "rotate 90 degrees clockwise"
// (orientation 6), built by inserting an APP1 segment after SOI.
QByteArray jpegWithOrientation(const QImage& image, std::uint16_t orientation);

// One PNG chunk with its length and CRC.
QByteArray pngChunk(const char* type, const QByteArray& data);
// The IHDR chunk of an 8-bit RGB image.
QByteArray pngHeader(std::uint32_t width, std::uint32_t height);
// Signature, IHDR of the given size, a tiny IDAT and IEND: a structurally
// whole PNG whose pixels were never written (admission never decodes).
QByteArray craftedPng(std::uint32_t width, std::uint32_t height);

// An animated GIF of solid frames, one palette index per frame (0..3 of the
// palette black, red, green, blue), written with uncompressed LZW codes.
QByteArray gifWithFrames(int width, int height, const std::vector<int>& frameColours);
// A GIF whose logical screen claims width x height, with one 1 x 1 frame.
QByteArray gifClaiming(std::uint16_t width, std::uint16_t height);

// A baseline JPEG header claiming the size, one scan of three bytes, EOI.
QByteArray jpegClaiming(std::uint16_t width, std::uint16_t height);
// A BMP with an RLE8 pixel array of two bytes (end of bitmap) claiming the size.
QByteArray bmpRleClaiming(std::int32_t width, std::int32_t height);
// An extended WebP claiming the canvas size, with a 1 x 1 lossless bitstream.
QByteArray webpClaiming(std::uint32_t width, std::uint32_t height);

// One page of a hand-made little-endian TIFF: 8-bit grey, one strip.
struct TiffPage {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::uint16_t compression = 1; // 1 none, 8 deflate
    QByteArray strip;              // the strip's bytes as stored
    // When set, the strip byte count written into the IFD, instead of the
    // strip's real size.
    std::int64_t claimedStripBytes = -1;
};
// Header, then the pages' IFDs chained in order, then the strips: the data
// comes last, so cutting the file cuts strips while the IFDs stay whole.
QByteArray tiffWithPages(const std::vector<TiffPage>& pages);
// A grey page of the size filled with one value.
TiffPage greyTiffPage(std::uint32_t width, std::uint32_t height, std::uint8_t value);

// An HEIC image encoded with libheif; empty when no HEVC encoder is present.
QByteArray heicImage(const QImage& image);
// An AVIF image encoded with libheif; empty when no AV1 encoder is present.
QByteArray avifImage(const QImage& image);

// A HEIC container whose one item's "ispe" claims ispeWidth x ispeHeight
// while the sequence parameter set of its "hvcC" codes codedWidth x
// codedHeight. The item's data is no real bitstream: it is for the
// structure checks, which never decode.
QByteArray heicClaiming(std::uint32_t ispeWidth, std::uint32_t ispeHeight, std::uint32_t codedWidth,
    std::uint32_t codedHeight);
// A one-page TIFF of width x height whose IFD holds a second ImageWidth tag
// with another value (in place of BitsPerSample, so the entry count stays).
QByteArray tiffWithRepeatedWidth(std::uint32_t width, std::uint32_t height, std::uint32_t secondWidth);

// Writes the bytes to a new file in the folder and returns its path.
QString writeFixture(const QTemporaryDir& folder, const QString& name, const QByteArray& bytes);

} // namespace tolvex::test
