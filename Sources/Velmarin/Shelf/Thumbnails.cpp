#include "Velmarin/Shelf/Thumbnails.h"

#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageSource.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace tolvex::Thumbnails {

namespace {

constexpr double pdfSideLimit = 14400;
// The end of a PDF holds its last trailer; where "startxref" points, the
// cross-reference section whose dictionary names the encryption.
constexpr qint64 pdfTailBytes = 65536;
constexpr qint64 pdfSectionBytes = 8192;

// `name` ("/Encrypt") as a whole PDF name: not the start of a longer one
// such as "/EncryptMetadata".
bool containsName(const QByteArray& bytes, QByteArrayView name)
{
    for (qsizetype at = bytes.indexOf(name); at >= 0; at = bytes.indexOf(name, at + 1)) {
        const qsizetype next = at + name.size();
        // Whitespace (NUL included) and the delimiters end a name.
        if (next == bytes.size() || bytes[next] == '\0'
            || std::string_view(" \t\r\n\f()<>[]{}/%").find(bytes[next]) != std::string_view::npos)
            return true;
    }
    return false;
}

QByteArray readAt(QFile& file, qint64 offset, qint64 count)
{
    if (offset < 0 || !file.seek(offset))
        return {};
    return file.read(count);
}

// Whether the document is encrypted, even with an empty password that
// opens it without asking. The encryption dictionary is named by the
// trailer, or by the dictionary of a cross-reference stream, neither of
// which is ever encrypted; inside encrypted strings and streams the name
// cannot appear by chance.
bool isEncryptedPdf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    const QByteArray tail = readAt(file, std::max<qint64>(0, size - pdfTailBytes), pdfTailBytes);
    if (containsName(tail, "/Encrypt"))
        return true;
    const qsizetype keyword = tail.lastIndexOf("startxref");
    if (keyword < 0)
        return false;
    const QByteArray rest = tail.mid(keyword + 9).trimmed();
    qsizetype digits = 0;
    while (digits < rest.size() && digits < 18 && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    bool parsed = false;
    const qint64 section = rest.left(digits).toLongLong(&parsed);
    return parsed && section < size && containsName(readAt(file, section, pdfSectionBytes), "/Encrypt");
}

std::optional<QImage> pdfThumbnail(const QString& path, int maxPixels)
{
    if (maxPixels < 1)
        return std::nullopt;
    // A document that needs a password fails to load; one encrypted with an
    // empty password would load, and has no thumbnail either.
    if (isEncryptedPdf(path))
        return std::nullopt;
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1)
        return std::nullopt;
    // QtPdf reports the page's size with its rotation already applied, and
    // no origin: the size is checked, the origin cannot be.
    const QSizeF size = document.pagePointSize(0);
    const double width = size.width();
    const double height = size.height();
    if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1 || width > pdfSideLimit
        || height > pdfSideLimit)
        return std::nullopt;

    const double side = std::min(maxPixels, pdfMaxPixels);
    const double scale = side / std::max(width, height);
    const int pixelWidth = std::max(1L, std::lround(width * scale));
    const int pixelHeight = std::max(1L, std::lround(height * scale));

    const QImage page = document.render(0, QSize(pixelWidth, pixelHeight));
    if (page.isNull())
        return std::nullopt;
    QImage image(pixelWidth, pixelHeight, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.drawImage(QRect(0, 0, pixelWidth, pixelHeight), page);
    painter.end();
    return image;
}

constexpr QLatin1StringView pngType("public.png");

// Qt's PNG reader scales row by row while decoding, which costs more than the
// decode itself; a whole decode scaled once is faster.
QImage scaledWholeDecode(const QImage& decoded, int maxPixels)
{
    if (!decoded.isNull() && std::max(decoded.width(), decoded.height()) > maxPixels)
        return decoded.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return decoded;
}

std::optional<QImage> imageThumbnail(const QUrl& url, const QString& path, int maxPixels)
{
    try {
        ImageAdmission::validate(url);
    } catch (...) {
        return std::nullopt;
    }
    const std::optional<ImageSource> source = ImageSource::create(path);
    if (!source || maxPixels < 1)
        return std::nullopt;
    QImage image;
    if (source->typeIdentifier() == pngType) {
        image = scaledWholeDecode(source->decodeImage(0), maxPixels);
    } else {
        image = source->thumbnail(0, maxPixels);
    }
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace

std::optional<QImage> makeThumbnail(const QUrl& url, int maxPixels)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const QString path = url.toLocalFile();
    if (QFileInfo(path).suffix().toLower() == QLatin1String("pdf"))
        return pdfThumbnail(path, maxPixels);
    return imageThumbnail(url, path, maxPixels);
}

bool isMadeFromWholeDecode(const QString& typeIdentifier)
{
    return typeIdentifier == pngType;
}

std::optional<QImage> thumbnailOfDecode(const QString& typeIdentifier, const QImage& decoded, int maxPixels)
{
    if (!isMadeFromWholeDecode(typeIdentifier) || decoded.isNull() || maxPixels < 1)
        return std::nullopt;
    return scaledWholeDecode(decoded, maxPixels);
}

std::optional<QSize> pictureSize(const QUrl& url, int maxPixels)
{
    if (!url.isLocalFile() || maxPixels < 1)
        return std::nullopt;
    QImageReader reader(url.toLocalFile());
    QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return std::nullopt;
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    if (std::max(size.width(), size.height()) > maxPixels)
        size = size.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio);
    return size;
}

QString decodeUtf8Prefix(const QByteArray& bytes)
{
    // Find a lead byte in the last three bytes whose sequence runs past the end.
    qsizetype cut = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: keep looking for its lead
        int length = 0;
        if ((byte & 0xE0) == 0xC0)
            length = 2;
        else if ((byte & 0xF0) == 0xE0)
            length = 3;
        else if ((byte & 0xF8) == 0xF0)
            length = 4;
        if (length > back)
            cut = bytes.size() - back;
        break;
    }
    QString text = QString::fromUtf8(bytes.constData(), cut);
    if (cut < bytes.size())
        text.append(QChar::ReplacementCharacter);
    return text;
}

std::optional<QString> textPreview(MaterialKind kind, const QUrl& url)
{
    if (kind != MaterialKind::text || !url.isLocalFile())
        return std::nullopt;
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(previewBytes);
    if (bytes.isEmpty())
        return std::nullopt;
    return decodeUtf8Prefix(bytes);
}

} // namespace tolvex::Thumbnails
