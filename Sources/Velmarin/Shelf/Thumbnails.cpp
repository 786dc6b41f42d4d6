#include "Velmarin/Shelf/Thumbnails.h"

#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageSource.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfDocument>

#include <algorithm>
#include <cmath>

namespace tolvex::Thumbnails {

namespace {

constexpr double pdfSideLimit = 14400;

std::optional<QImage> pdfThumbnail(const QString& path, int maxPixels)
{
    if (maxPixels < 1)
        return std::nullopt;
    QPdfDocument document;
    // A password-protected document fails to load here.
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
    if (source->typeIdentifier() == QLatin1String("public.png")) {
        // Qt's PNG reader scales row by row while decoding, which costs more
        // than the decode itself; a whole decode scaled once is faster.
        image = source->decodeImage(0);
        if (!image.isNull() && std::max(image.width(), image.height()) > maxPixels)
            image = image.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
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
