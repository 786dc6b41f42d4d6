#include "Velmarin/Actions/MarkupPngEncoder.h"

#include <QColorSpace>
#include <QImage>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tolvex::MarkupPngEncoder {

namespace {

// About this many bytes of rows per band: enough bands to keep every core
// busy to the end, few enough that restarting the compressor costs nothing.
constexpr qsizetype bandBytes = qsizetype(4) << 20;
constexpr char upFilter = 2;

void putUInt32(char* at, quint32 value)
{
    at[0] = char(value >> 24);
    at[1] = char(value >> 16);
    at[2] = char(value >> 8);
    at[3] = char(value);
}

void appendChunk(QByteArray& png, const char* type, const QByteArray& data)
{
    char length[4];
    putUInt32(length, quint32(data.size()));
    png.append(length, 4);
    const qsizetype typeAt = png.size();
    png.append(type, 4);
    png.append(data);
    const auto* typed = reinterpret_cast<const Bytef*>(png.constData() + typeAt);
    char crc[4];
    putUInt32(crc, quint32(crc32_z(0, typed, std::size_t(4 + data.size()))));
    png.append(crc, 4);
}

// Rows [first, first + rows) of the image, made into one IDAT chunk whole.
struct Band {
    int first = 0;
    int rows = 0;
    QByteArray chunk;
    // Of the filtered rows, which the zlib stream's trailer sums up.
    uLong adler = 0;
    qsizetype filteredBytes = 0;
    bool failed = false;
};

// The band's rows, each with the "up" filter against the row above (zeros
// above the image's first row).
QByteArray filteredRows(const QImage& source, QImage::Format target, qsizetype rowBytes, const Band& band)
{
    const int above = band.first > 0 ? 1 : 0;
    // The rows in place, converted to the file's pixel layout (a copy only
    // where the layout differs).
    const QImage rows = QImage(source.constScanLine(band.first - above), source.width(), band.rows + above,
        source.bytesPerLine(), source.format())
                            .convertToFormat(target);
    QByteArray filtered(band.rows * (rowBytes + 1), Qt::Uninitialized);
    const std::vector<uchar> zeros(above ? 0 : std::size_t(rowBytes), 0);
    const uchar* previous = above ? rows.constScanLine(0) : zeros.data();
    auto* out = reinterpret_cast<uchar*>(filtered.data());
    for (int y = 0; y < band.rows; ++y) {
        const uchar* current = rows.constScanLine(y + above);
        *out++ = upFilter;
        for (qsizetype i = 0; i < rowBytes; ++i)
            out[i] = uchar(current[i] - previous[i]);
        out += rowBytes;
        previous = current;
    }
    return filtered;
}

// Deflates the band's rows into its chunk: a raw stream that ends on a byte
// boundary without closing (sync flush), so that the next band's stream
// continues it; the last band closes it. The first carries the zlib header.
void encodeBand(const QImage& source, QImage::Format target, qsizetype rowBytes, bool last, bool compress, Band& band)
{
    const QByteArray filtered = filteredRows(source, target, rowBytes, band);
    band.filteredBytes = filtered.size();
    band.adler = adler32_z(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(filtered.constData()),
        std::size_t(filtered.size()));

    z_stream stream{};
    if (deflateInit2(&stream, compress ? Z_BEST_SPEED : Z_NO_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
            Z_DEFAULT_STRATEGY)
        != Z_OK) {
        band.failed = true;
        return;
    }
    const qsizetype header = band.first == 0 ? 2 : 0;
    // Length and type, the data, and the CRC.
    const qsizetype bound = qsizetype(deflateBound(&stream, uLong(filtered.size())));
    band.chunk = QByteArray(8 + header + bound + 4, Qt::Uninitialized);
    if (header) {
        // Deflate with a 32 KiB window, the fastest level.
        band.chunk[8] = char(0x78);
        band.chunk[9] = char(0x01);
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(filtered.constData()));
    stream.avail_in = uInt(filtered.size());
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    bool whole = false;
    while (true) {
        const qsizetype at = 8 + header + qsizetype(stream.total_out);
        stream.next_out = reinterpret_cast<Bytef*>(band.chunk.data() + at);
        stream.avail_out = uInt(band.chunk.size() - 4 - at);
        const int status = deflate(&stream, flush);
        if (status == Z_STREAM_ERROR)
            break;
        // Done when all went in and, for a sync flush, room was left over
        // (zlib's bound covers a finished stream, not the flush's marker).
        if (stream.avail_in == 0 && (last ? status == Z_STREAM_END : stream.avail_out > 0)) {
            whole = true;
            break;
        }
        if (stream.avail_out > 0)
            break;
        band.chunk.resize(band.chunk.size() + 4096);
    }
    const qsizetype written = header + qsizetype(stream.total_out);
    deflateEnd(&stream);
    if (!whole) {
        band.failed = true;
        return;
    }
    band.chunk.truncate(8 + written + 4);
    putUInt32(band.chunk.data(), quint32(written));
    std::memcpy(band.chunk.data() + 4, "IDAT", 4);
    putUInt32(band.chunk.data() + 8 + written,
        quint32(crc32_z(0, reinterpret_cast<const Bytef*>(band.chunk.constData() + 4), std::size_t(4 + written))));
}

} // namespace

QByteArray encode(const QImage& image, QDeadlineTimer compressUntil)
{
    if (image.isNull())
        return {};
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format target = alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    const qsizetype rowBytes = qsizetype(image.width()) * (alpha ? 4 : 3);
    // Rows are taken in place, band by band; those of an image with a colour
    // table would lose it, so such an image is converted once, whole.
    const QImage source = image.colorCount() > 0 || image.depth() < 8
        ? image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32)
        : image;

    std::vector<Band> bands;
    const int rowsPerBand = int(std::clamp<qsizetype>(bandBytes / (rowBytes + 1), 1, source.height()));
    for (int first = 0; first < source.height(); first += rowsPerBand) {
        Band& band = bands.emplace_back();
        band.first = first;
        band.rows = std::min(rowsPerBand, source.height() - first);
    }
    const Band* last = &bands.back();
    QThreadPool pool;
    pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    QtConcurrent::blockingMap(&pool, bands, [&](Band& band) {
        encodeBand(source, target, rowBytes, &band == last, !compressUntil.hasExpired(), band);
    });

    qsizetype size = 8 + 25 + 16 + 12;
    for (const Band& band : bands) {
        if (band.failed)
            return {};
        size += band.chunk.size();
    }
    QByteArray png;
    png.reserve(size);
    png.append("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, '\0');
    putUInt32(header.data(), quint32(source.width()));
    putUInt32(header.data() + 4, quint32(source.height()));
    header[8] = 8;               // bits per sample
    header[9] = alpha ? 6 : 2;   // RGBA or RGB; compression, filtering and interlace 0
    appendChunk(png, "IHDR", header);
    // The colours keep their meaning, as Qt's writer keeps them.
    if (const QColorSpace space = image.colorSpace(); space.isValid()) {
        const QByteArray profile = space.iccProfile();
        if (!profile.isEmpty()) {
            QByteArray iccp("ICC Profile");
            iccp.append('\0').append('\0').append(qCompress(profile).mid(4));
            appendChunk(png, "iCCP", iccp);
        }
    }
    uLong adler = adler32(0, nullptr, 0);
    for (const Band& band : bands) {
        png.append(band.chunk);
        adler = adler32_combine(adler, band.adler, z_off_t(band.filteredBytes));
    }
    QByteArray trailer(4, '\0');
    putUInt32(trailer.data(), quint32(adler));
    appendChunk(png, "IDAT", trailer);
    appendChunk(png, "IEND", {});
    return png;
}

} // namespace tolvex::MarkupPngEncoder
