#include "Velmarin/Shelf/ThumbnailDiskCache.h"

#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Files/ReadOnlyFile.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/Date.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QtEndian>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>
#include <system_error>

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
// The longest header: the mark, the digest, the longest kind, five numbers,
// the largest colour table.
constexpr qint64 maxHeaderBytes = 16 + 4 + 64 + 4 + 32 + 5 * 4 + 4 * maxColours;
// A temporary file this old was left by a writer that died: a picture is
// written in a moment, even on a slow disk under load.
constexpr double abandonedWriteSeconds = 3600;
const QString entrySuffix = QStringLiteral(".thumb");
constexpr QFileDevice::Permissions privateFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
// The mode's bits; QFileInfo adds those of the current user besides.
constexpr QFileDevice::Permissions modeBits = QFileDevice::Permissions(0x7077);

// A data root's folder in "Thumbnails": named from its path, standardized so
// that every spelling of the root the program is given finds it. Paths
// that differ name different folders, so no two roots ever share one.
QString rootFolderName(const QUrl& dataRoot)
{
    const QByteArray path = QDir::cleanPath(dataRoot.toLocalFile()).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(32));
}

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

// The bytes of the regular file at `path`, at most `limit` of them: its
// beginning when `whole` is false, else nothing when it is longer. Anything
// but a regular file there reads as absent, and its name goes.
std::optional<QByteArray> readPlainFile(const QString& path, qint64 limit, bool whole)
{
    try {
        // Opening a FIFO for reading would wait for a writer for ever, and a
        // link leads out of the cache: neither is followed.
        const ReadOnlyFile file = ReadOnlyFile::open(path, ReadOnlyFile::FinalLink::refuse);
        if (!file.isRegularFile()) {
            // Only the name is ours; a picture written later replaces it anyway.
            QFile::remove(path);
            return std::nullopt;
        }
        if (whole && file.size() > limit)
            return std::nullopt;
        QByteArray bytes(qsizetype(std::min<qint64>(file.size(), limit)), Qt::Uninitialized);
        bytes.truncate(qsizetype(file.readAt(0, bytes.data(), bytes.size())));
        return bytes;
    } catch (const std::system_error& error) {
        // A link (refused), or a socket (which no one can open).
        if (error.code() == std::errc::too_many_symbolic_link_levels
            || error.code() == std::errc::no_such_device_or_address)
            QFile::remove(path);
        return std::nullopt;
    }
}

// An entry read and its header checked.
struct ReadEntry {
    QByteArray bytes;
    Header header;
    // Where the header ends: the compressed size follows.
    qint64 headerEnd = 0;
};

std::optional<ReadEntry> readEntry(
    const QString& path, const QString& digest, const QString& kind, qint64 limit, bool whole)
{
    std::optional<QByteArray> bytes = readPlainFile(path, limit, whole);
    if (!bytes)
        return std::nullopt;
    QDataStream in(*bytes);
    in.setVersion(streamVersion);
    std::optional<Header> header = readHeader(in, digest, kind);
    if (!header)
        return std::nullopt;
    const qint64 headerEnd = in.device()->pos();
    return ReadEntry{std::move(*bytes), std::move(*header), headerEnd};
}

} // namespace

std::shared_ptr<ThumbnailDiskCache> ThumbnailDiskCache::standard(const QUrl& dataRoot)
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache) || !dataRoot.isLocalFile()
        || !QDir::isAbsolutePath(dataRoot.toLocalFile()))
        return nullptr;
    return std::make_shared<ThumbnailDiskCache>(cache + QStringLiteral("/Tolvex"), dataRoot);
}

ThumbnailDiskCache::ThumbnailDiskCache(QString folder, const QUrl& dataRoot)
    : folder_(std::move(folder)), thumbnails_(folder_ + QStringLiteral("/Thumbnails")),
      entries_(thumbnails_ + QLatin1Char('/') + rootFolderName(dataRoot)), files_(SystemFileOperations::shared())
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
    return entries_ + QLatin1Char('/') + digest + QLatin1Char('.') + kind + entrySuffix;
}

bool ThumbnailDiskCache::ensureFolders() const
{
    if (!QDir().mkpath(QFileInfo(folder_).path()))
        return false;
    for (const QString& path : {folder_, thumbnails_, entries_}) {
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

std::optional<QSize> ThumbnailDiskCache::size(const QString& digest, const QString& kind) const
{
    const QString path = entryPath(digest, kind);
    if (path.isEmpty() || !ensureFolders())
        return std::nullopt;
    const std::optional<ReadEntry> entry = readEntry(path, digest, kind, maxHeaderBytes, false);
    if (!entry)
        return std::nullopt;
    return QSize(int(entry->header.width), int(entry->header.height));
}

std::optional<QImage> ThumbnailDiskCache::read(const QString& digest, const QString& kind) const
{
    const QString path = entryPath(digest, kind);
    if (path.isEmpty() || !ensureFolders())
        return std::nullopt;
    const std::optional<ReadEntry> entry = readEntry(path, digest, kind, maxEntryBytes, true);
    if (!entry)
        return std::nullopt;
    const Header& header = entry->header;
    const QByteArray& bytes = entry->bytes;
    const qint64 at = entry->headerEnd + qint64(sizeof(quint64));
    if (bytes.size() < at)
        return std::nullopt;
    const quint64 compressedSize = qFromBigEndian<quint64>(bytes.constData() + entry->headerEnd);
    if (compressedSize < 4 || compressedSize != quint64(bytes.size() - at))
        return std::nullopt;
    const auto* compressed = reinterpret_cast<const uchar*>(bytes.constData() + at);
    const quint64 rowBytes = quint64(header.bytesPerLine) * header.height;
    // qCompress leads with the length it will give back: check it before
    // anything is allocated for it.
    if (qFromBigEndian<quint32>(compressed) != rowBytes)
        return std::nullopt;
    const QByteArray rows = qUncompress(compressed, qsizetype(compressedSize));
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

    QByteArray bytes;
    bytes.reserve(qsizetype(maxHeaderBytes + 8) + compressed.size());
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(streamVersion);
    out.writeRawData(magic.data(), int(magic.size()));
    out << digest.toLatin1() << kind.toLatin1() << quint32(image.width()) << quint32(image.height())
        << quint32(image.format()) << quint32(image.bytesPerLine()) << quint32(image.colorCount());
    for (const QRgb colour : image.colorTable())
        out << quint32(colour);
    out << quint64(compressed.size());
    out.writeRawData(compressed.constData(), int(compressed.size()));
    if (out.status() != QDataStream::Ok)
        return false;
    try {
        files_->writeAtomic(bytes, QUrl::fromLocalFile(path));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void ThumbnailDiskCache::forgetAllBut(const QSet<QString>& liveDigests) const
{
    if (!ensureFolders())
        return;
    // Loose in "Thumbnails": the pictures of the time before each root had a
    // folder. The folders are the roots' own and stay.
    const QDir shared(thumbnails_);
    const auto everything = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (const QFileInfo& item : shared.entryInfoList(everything)) {
        if (!item.isDir() || item.isSymLink())
            QFile::remove(item.filePath());
    }

    const QDir folder(entries_);
    const Date abandoned = Date::now().addingSeconds(-abandonedWriteSeconds);
    for (const QString& name : folder.entryList(everything)) {
        const QString path = folder.filePath(name);
        if (isAtomicWriteTemporaryName(QFile::encodeName(name).toStdString())) {
            // A picture still being written, here or in another thread; only
            // one whose writer died long ago goes.
            try {
                if (files_->inspect(QUrl::fromLocalFile(path)).modificationDate > abandoned)
                    continue;
            } catch (const std::exception&) {
                continue;
            }
        } else if (name.size() > 65 + entrySuffix.size() && name.at(64) == QLatin1Char('.')
            && name.endsWith(entrySuffix)) {
            const QString digest = name.left(64);
            const QString kind = name.mid(65, name.size() - 65 - entrySuffix.size());
            if (liveDigests.contains(digest) && entryPath(digest, kind) == path)
                continue;
        }
        // Never followed: a link goes, not what it names; a folder stays.
        QFile::remove(path);
    }
}

} // namespace tolvex
