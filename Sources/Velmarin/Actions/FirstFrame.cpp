#include "Velmarin/Actions/FirstFrame.h"

#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageSource.h"

#include <QBuffer>
#include <QImageWriter>

namespace tolvex {

namespace {

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image) || bytes.isEmpty())
        throw ImageAdmissionError::invalidImage();
    return bytes;
}

} // namespace

FirstFrameRepresentations firstFrameRepresentations(const QUrl& contentsOf, bool withTiff)
{
    ImageAdmission::validate(contentsOf);
    const std::optional<ImageSource> source = ImageSource::create(contentsOf.toLocalFile());
    if (!source)
        throw ImageAdmissionError::invalidImage();
    const QImage frame = source->decodeImage(0);
    if (frame.isNull())
        throw ImageAdmissionError::invalidImage();
    FirstFrameRepresentations result;
    result.png = encode(frame, "png");
    if (withTiff)
        result.tiff = encode(frame, "tiff");
    return result;
}

} // namespace tolvex
