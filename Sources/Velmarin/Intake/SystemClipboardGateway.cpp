#include "Velmarin/Intake/SystemClipboardGateway.h"

#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Files/VolumeLocality.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Images/UniformType.h"
#include "TolvexCore/Intake/ClipboardLimits.h"
#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Platform/MimeDataPasteboard.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

namespace tolvex {

namespace {

const QString fileURLType = QString::fromUtf16(PasteboardType::fileURL);
const QString stringType = QString::fromUtf16(PasteboardType::string);
const QString ownCopyType = QString::fromUtf16(PasteboardType::ownCopy);
// In the order they are tried.
const QStringList imageTypes{QString::fromUtf16(PasteboardType::png), QString::fromUtf16(PasteboardType::tiff),
    QString::fromUtf16(PasteboardType::jpeg), QString::fromUtf16(PasteboardType::heic)};

enum class Kind { files, images, text };

SourceRecord clipboardSource()
{
    SourceRecord source;
    source.origin = ImportOrigin::clipboard;
    source.isManuallyRegistered = false;
    return source;
}

bool hasImageType(const PasteboardItem& item)
{
    for (const QString& type : imageTypes) {
        if (item.hasType(type))
            return true;
    }
    return false;
}

// Text that is not valid UTF-8 is refused rather than imported with
// replacement characters, which would lose the bytes the user copied.
QString decodeUTF8(const QByteArray& bytes)
{
    // A leading byte-order mark is kept as a character: the text keeps every byte.
    QStringDecoder decoder(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw StoreError::invalidSource();
    return text;
}

// The local file a URI-list entry names, with the exact bytes of its path
// (an escape such as "%FF" is that byte); invalidPath for anything else.
QUrl localFile(const std::optional<QByteArray>& urlString)
{
    if (!urlString || urlString->isEmpty())
        throw StoreError::invalidPath();
    const std::optional<QUrl> url = localFileURL(*urlString);
    if (!url)
        throw StoreError::invalidPath();
    return *url;
}

bool isImageFile(const QString& path)
{
    if (const auto type = UniformType::forFilenameExtension(QFileInfo(path).suffix()); type && type->conformsToImage)
        return true;
    const std::optional<ImageSource> source = ImageSource::create(path);
    if (!source)
        return false;
    const std::optional<QString> identifier = source->typeIdentifier();
    if (!identifier)
        return false;
    const auto type = UniformType::withIdentifier(*identifier);
    return type && type->conformsToImage;
}

ImportRequest readFile(const PasteboardItem& item)
{
    const QUrl url = localFile(item.data(fileURLType, MimeDataPasteboard::uriListBytes));
    const QString path = url.toLocalFile();
    // The entry itself, links not followed: nothing is opened, so a FIFO or
    // a device cannot block the read.
    const FileInfo info = SystemFileOperations::shared()->inspect(url);
    const bool local = VolumeLocality::volumeIsLocal(path);
    if (!local || !info.isRegularFile || info.isSymbolicLink)
        throw StoreError::invalidSource();
    if (isImageFile(path))
        ImageAdmission::validate(url);
    return ImportRequest::file(url, ImportOrigin::clipboard);
}

// One pass over the items: requests of a single kind within the limits, or
// an error. Runs wherever the pasteboard reads its items.
void readContents(const QList<PasteboardItem>& all, const ClipboardPreference& allowing, ClipboardContents& contents)
{
    if (all.size() > ClipboardLimits::items)
        throw StoreError::budgetExceeded();
    QList<PasteboardItem> items = all;
    items.removeIf([](const PasteboardItem& item) { return item.hasType(ownCopyType); });
    if (!all.isEmpty() && items.isEmpty()) {
        contents.isSelfProduced = true;
        return;
    }

    // One kind for the whole read; a kind that is switched off never falls
    // back to a lower one.
    Kind kind = Kind::text;
    if (std::any_of(items.begin(), items.end(), [](const PasteboardItem& item) { return item.hasType(fileURLType); }))
        kind = Kind::files;
    else if (std::any_of(items.begin(), items.end(), hasImageType))
        kind = Kind::images;
    const bool allowed = kind == Kind::files ? allowing.files : kind == Kind::images ? allowing.images : allowing.text;
    if (!allowed)
        return;

    std::int64_t total = 0;
    for (const PasteboardItem& item : items) {
        switch (kind) {
        case Kind::files:
            if (item.hasType(fileURLType))
                contents.requests.append(readFile(item));
            break;
        case Kind::images: {
            const auto type = std::find_if(
                imageTypes.begin(), imageTypes.end(), [&](const QString& image) { return item.hasType(image); });
            if (type == imageTypes.end())
                break;
            // One byte past the limit tells an image over it without reading the rest.
            const std::optional<QByteArray> bytes = item.data(*type, ClipboardLimits::imageBytes + 1);
            if (!bytes || bytes->isEmpty() || bytes->size() > ClipboardLimits::imageBytes)
                throw StoreError::invalidSource();
            ImageAdmission::validate(*bytes);
            if (total + bytes->size() > ClipboardLimits::batchBytes)
                throw StoreError::budgetExceeded();
            total += bytes->size();
            contents.requests.append(ImportRequest::imageData(*bytes, clipboardSource()));
            break;
        }
        case Kind::text: {
            const std::optional<QByteArray> bytes = item.data(stringType, ClipboardLimits::textBytes + 1);
            if (!bytes)
                break;
            // Before decoding: a text cut at the limit may end inside a character.
            const std::int64_t length = bytes->size();
            if (length > ClipboardLimits::textBytes)
                throw StoreError::budgetExceeded();
            const QString text = decodeUTF8(*bytes);
            if (text.trimmed().isEmpty())
                break;
            if (total + length > ClipboardLimits::batchBytes)
                throw StoreError::budgetExceeded();
            total += length;
            contents.requests.append(ImportRequest::text(text, clipboardSource()));
            break;
        }
        }
    }
}

} // namespace

SystemClipboardGateway::SystemClipboardGateway(std::shared_ptr<Pasteboard> pasteboard)
    : pasteboard_(std::move(pasteboard))
{
}

std::int64_t SystemClipboardGateway::changeCount() const
{
    return pasteboard_->changeCount();
}

QFuture<ClipboardContents> SystemClipboardGateway::readSnapshot()
{
    ClipboardPreference everything;
    everything.images = everything.text = everything.files = true;
    return readSnapshot(everything);
}

QFuture<ClipboardContents> SystemClipboardGateway::readSnapshot(const ClipboardPreference& allowing)
{
    auto contents = std::make_shared<ClipboardContents>();
    contents->revision = pasteboard_->changeCount();
    QFuture<void> reading = pasteboard_->readItems(
        [contents, allowing](const QList<PasteboardItem>& items) { readContents(items, allowing, *contents); });
    return reading.then([contents] { return std::move(*contents); });
}

} // namespace tolvex
