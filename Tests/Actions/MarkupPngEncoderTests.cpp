#include "Support/ImageFixtures.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "Velmarin/Actions/MarkupPngEncoder.h"

#include <QBuffer>
#include <QtEndian>
#include <QColorSpace>
#include <QImageReader>
#include <QPainter>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// A picture whose rows differ from each other (so that the "up" filter has
// work) and that spans more than one band of the encoder.
QImage picture(QImage::Format format)
{
    const bool alpha = format == QImage::Format_ARGB32_Premultiplied;
    QImage image = test::patternImage(1024, 1500, alpha)
                       .convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        painter.setPen(QPen(QColor::fromHsv(i * 9, 200, 220, 120 + i * 3), 3 + i % 7));
        painter.drawLine(i * 25, 0, 1024 - i * 20, 1500);
    }
    painter.end();
    return image.convertToFormat(format);
}

// The image data of a PNG: its IDAT chunks' contents, joined.
QByteArray imageData(const QByteArray& png)
{
    QByteArray data;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const auto* length = reinterpret_cast<const uchar*>(png.constData() + at);
        const qsizetype size = qsizetype(length[0]) << 24 | length[1] << 16 | length[2] << 8 | length[3];
        if (png.mid(at + 4, 4) == "IDAT")
            data += png.mid(at + 8, size);
        at += 12 + size;
    }
    return data;
}

// What the termination's quick PNG holds is the picture, pixel for pixel, as
// Qt's reader (libpng, which checks every CRC and the stream's checksum)
// and the store's admission take it: compressed or, past the time to
// compress, stored; with and without alpha; with the colour space it had.
TEST(MarkupPngEncoder, WritesThePictureExactly)
{
    const struct {
        const char* name;
        QImage::Format format;
        bool compress;
        QColorSpace space;
    } cases[] = {
        {"opaque, compressed", QImage::Format_RGB32, true, {}},
        {"opaque, stored", QImage::Format_RGB32, false, {}},
        {"translucent, premultiplied", QImage::Format_ARGB32_Premultiplied, true, {}},
        {"translucent, stored", QImage::Format_ARGB32_Premultiplied, false, {}},
        {"indexed", QImage::Format_Indexed8, true, {}},
        {"in Display P3", QImage::Format_RGB32, true, QColorSpace(QColorSpace::DisplayP3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QImage image = picture(c.format);
        if (c.space.isValid())
            image.setColorSpace(c.space);
        const QByteArray png
            = MarkupPngEncoder::encode(image, c.compress ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(0));
        ASSERT_FALSE(png.isEmpty());
        EXPECT_NO_THROW(ImageAdmission::validate(png));

        QBuffer buffer;
        buffer.setData(png);
        QImageReader reader(&buffer, "png");
        const QImage decoded = reader.read();
        ASSERT_FALSE(decoded.isNull()) << reader.errorString().toStdString();
        const QImage::Format compared = image.hasAlphaChannel() ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
        EXPECT_EQ(decoded.hasAlphaChannel(), image.hasAlphaChannel());
        EXPECT_TRUE(decoded.convertToFormat(compared) == image.convertToFormat(compared));
        EXPECT_EQ(decoded.colorSpace(), image.colorSpace());
        // One zlib stream, its checksum whole (Qt's reader only warns of a
        // wrong one): a filter byte and the pixels of every row.
        const qsizetype raw = qsizetype(image.width()) * image.height() * (image.hasAlphaChannel() ? 4 : 3);
        const qsizetype filtered = raw + image.height();
        QByteArray sized(4, '\0');
        qToBigEndian(quint32(filtered), sized.data());
        EXPECT_EQ(qUncompress(sized + imageData(png)).size(), filtered);
        // Stored, the rows take their full size; compressed, far less.
        EXPECT_EQ(png.size() > raw, !c.compress);
    }
    EXPECT_TRUE(MarkupPngEncoder::encode(QImage()).isEmpty());
}

} // namespace
} // namespace tolvex
