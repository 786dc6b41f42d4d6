#include "Velmarin/Shelf/ThumbnailDiskCache.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstring>

namespace tolvex {

namespace {

// The layout of an entry, big-endian (QDataStream):
//   16 bytes "TolvexThumbnail1", the digest and the kind (QByteArray each),
//   width, height, QImage::Format, bytes per line, colour count (quint32),
//   the colour table (quint32 each), the compressed size (quint64), then the
//   rows as qCompress wrote them: nothing may follow.
constexpr QByteArrayView magic("TolvexThumbnail1");
constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_0;
// Shelf pictures are at most 480 on their longest side; anything far beyond
// is not one of ours.
constexpr quint32 maxSide = 2048;
constexpr quint32 maxColours = 256;
constexpr qint64 maxEntryBytes = 32 << 20;
const QString entrySuffix = QStringLiteral(".thumb");
constexpr QFileDevice::Permissions privateFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
// The mode's bits; QFileInfo adds those of the current user besides.
constexpr QFileDevice::Permissions modeBits = QFileDevice::Permissions(0x7077);

bool isPlainName(const QString& kind)
{
    if (kind.isEmpty() || kind.size() > 32)
        return false;
    for (const QChar c : kind) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-'))
            return false;
    }
    return true;
}

struct Header {
    quint32 width = 0;
    quint32 height = 0;
    QImage::Format format = QImage::Format_Invalid;
    quint32 bytesPerLine = 0;
    QList<QRgb> colours;
};

// Reads and checks the header; the stream then stands at the compressed size.
std::optional<Header> readHeader(QDataStream& in, const QString& digest, const QString& kind)
{
    QByteArray start(magic.size(), Qt::Uninitialized);
    if (in.readRawData(start.data(), int(start.size())) != start.size() || start != magic)
        return std::nullopt;
    QByteArray storedDigest;
    QByteArray storedKind;
    in >> storedDigest >> storedKind;
    if (in.status() != QDataStream::Ok || storedDigest != digest.toLatin1() || storedKind != kind.toLatin1())
        return std::nullopt;
    Header header;
    quint32 format = 0;
    quint32 colourCount = 0;
    in >> header.width >> header.height >> format >> header.bytesPerLine >> colourCount;
    if (in.status() != QDataStream::Ok || header.width < 1 || header.height < 1 || header.width > maxSide
        || header.height > maxSide || format <= QImage::Format_Invalid || format >= QImage::NImageFormats
        || colourCount > maxColours)
        return std::nullopt;
    header.format = static_cast<QImage::Format>(format);
    // QImage's rows are 32-bit aligned.
    const quint64 bits = quint64(header.width) * QImage::toPixelFormat(header.format).bitsPerPixel();
    if (header.bytesPerLine != ((bits + 31) >> 5) << 2)
        return std::nullopt;
    for (quint32 i = 0; i < colourCount; ++i) {
        quint32 colour = 0;
        in >> colour;
        header.colours.append(colour);
    }
    if (in.status() != QDataStream::Ok)
        return std::nullopt;
    return header;
}

} // namespace

std::shared_ptr<ThumbnailDiskCache> ThumbnailDiskCache::standard()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        return nullptr;
    return std::make_shared<ThumbnailDiskCache>(cache + QStringLiteral("/Tolvex"));
}

ThumbnailDiskCache::ThumbnailDiskCache(QString folder)
    : folder_(std::move(folder)), thumbnails_(folder_ + QStringLiteral("/Thumbnails"))
{
}

bool ThumbnailDiskCache::isDigest(const QString& digest)
{
    if (digest.size() != 64)
        return false;
    for (const QChar c : digest) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

QString ThumbnailDiskCache::entryPath(const QString& digest, const QString& kind) const
{
    if (!isDigest(digest) || !isPlainName(kind))
        return {};
    return thumbnails_ + QLatin1Char('/') + digest + QLatin1Char('.') + kind + entrySuffix;
}

bool ThumbnailDiskCache::ensureFolders() const
{
    if (!QDir().mkpath(QFileInfo(folder_).path()))
        return false;
    for (const QString& path : {folder_, thumbnails_}) {
        // Created private, so no other user ever sees a picture in it.
        if (!QFileInfo::exists(path))
            QDir().mkdir(path, privateFolder);
        const QFileInfo info(path);
        // A link could lead the pictures anywhere: only a real folder is used.
        if (!info.isDir() || info.isSymLink())
            return false;
        if ((info.permissions() & modeBits) != privateFolder && !QFile::setPermissions(path, privateFolder))
            return false;
    }
    return true;
}

// An entry open for reading, its header checked; the stream stands at the
// compressed size.
struct ThumbnailDiskCache::OpenEntry {
    QFile file;
    QDataStream in;
    Header header;
};

std::unique_ptr<ThumbnailDiskCache::OpenEntry> ThumbnailDiskCache::openEntry(
    const QString& digest, const QString& kind) const
{
    const QString path = entryPath(digest, kind);
    if (path.isEmpty() || !ensureFolders())
        return nullptr;
    auto entry = std::make_unique<OpenEntry>();
    entry->file.setFileName(path);
    if (!entry->file.open(QIODevice::ReadOnly))
        return nullptr;
    entry->in.setDevice(&entry->file);
    entry->in.setVersion(streamVersion);
    std::optional<Header> header = readHeader(entry->in, digest, kind);
    if (!header)
        return nullptr;
    entry->header = std::move(*header);
    return entry;
}

std::optional<QSize> ThumbnailDiskCache::size(const QString& digest, const QString& kind) const
{
    const std::unique_ptr<OpenEntry> entry = openEntry(digest, kind);
    if (!entry)
        return std::nullopt;
    return QSize(int(entry->header.width), int(entry->header.height));
}

std::optional<QImage> ThumbnailDiskCache::read(const QString& digest, const QString& kind) const
{
    const std::unique_ptr<OpenEntry> entry = openEntry(digest, kind);
    if (!entry || entry->file.size() > maxEntryBytes)
        return std::nullopt;
    QFile& file = entry->file;
    QDataStream& in = entry->in;
    const Header& header = entry->header;
    quint64 compressedSize = 0;
    in >> compressedSize;
    if (in.status() != QDataStream::Ok || compressedSize < 4 || compressedSize != quint64(file.size() - file.pos()))
        return std::nullopt;
    const QByteArray compressed = file.read(qint64(compressedSize));
    const quint64 rowBytes = quint64(header.bytesPerLine) * header.height;
    // qCompress leads with the length it will give back: check it before
    // anything is allocated for it.
    const auto* lead = reinterpret_cast<const uchar*>(compressed.constData());
    if (compressed.size() != qsizetype(compressedSize)
        || (quint64(lead[0]) << 24 | quint64(lead[1]) << 16 | quint64(lead[2]) << 8 | lead[3]) != rowBytes)
        return std::nullopt;
    const QByteArray rows = qUncompress(compressed);
    if (quint64(rows.size()) != rowBytes)
        return std::nullopt;
    QImage image(int(header.width), int(header.height), header.format);
    if (image.isNull() || quint32(image.bytesPerLine()) != header.bytesPerLine)
        return std::nullopt;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), rows.constData() + qsizetype(y) * header.bytesPerLine, header.bytesPerLine);
    if (!header.colours.isEmpty())
        image.setColorTable(header.colours);
    return image;
}

bool ThumbnailDiskCache::write(const QString& digest, const QString& kind, const QImage& image) const
{
    const QString path = entryPath(digest, kind);
    if (path.isEmpty() || image.isNull() || quint32(image.width()) > maxSide || quint32(image.height()) > maxSide
        || image.colorCount() > int(maxColours) || !ensureFolders())
        return false;
    QByteArray rows;
    rows.reserve(image.bytesPerLine() * image.height());
    for (int y = 0; y < image.height(); ++y)
        rows.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.bytesPerLine());
    // The fastest level: pictures are written while the next ones decode.
    const QByteArray compressed = qCompress(rows, 1);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setVersion(streamVersion);
    out.writeRawData(magic.data(), int(magic.size()));
    out << digest.toLatin1() << kind.toLatin1() << quint32(image.width()) << quint32(image.height())
        << quint32(image.format()) << quint32(image.bytesPerLine()) << quint32(image.colorCount());
    for (const QRgb colour : image.colorTable())
        out << quint32(colour);
    out << quint64(compressed.size());
    out.writeRawData(compressed.constData(), int(compressed.size()));
    if (out.status() != QDataStream::Ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void ThumbnailDiskCache::forgetAllBut(const QSet<QString>& liveDigests) const
{
    if (!ensureFolders())
        return;
    QDir folder(thumbnails_);
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool keep = false;
        if (name.size() > 65 + entrySuffix.size() && name.at(64) == QLatin1Char('.') && name.endsWith(entrySuffix)) {
            const QString digest = name.left(64);
            const QString kind = name.mid(65, name.size() - 65 - entrySuffix.size());
            keep = liveDigests.contains(digest) && entryPath(digest, kind) == folder.filePath(name);
        }
        if (!keep)
            folder.remove(name);
    }
}

} // namespace tolvex
