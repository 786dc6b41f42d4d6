#include "TolvexCore/Images/UniformType.h"

#include <array>

namespace tolvex {

namespace {

// Up to four entries; unused ones are null.
using Names = std::array<const char16_t*, 4>;

struct TypeEntry {
    const char16_t* identifier;
    // Filename extensions, preferred first; lower-case.
    Names extensions;
    // MIME types, preferred first; lower-case, without parameters.
    Names mimeTypes;
    // Every type this one conforms to besides itself, flattened.
    Names supertypes;
};

constexpr const char16_t* kData = UniformTypeIdentifier::data;
constexpr const char16_t* kImage = UniformTypeIdentifier::image;
constexpr const char16_t* kText = u"public.text";
constexpr const char16_t* kPlainText = UniformTypeIdentifier::plainText;

// The table. Each extension and each MIME type appears once, so a lookup has
// exactly one answer.
constexpr std::array<TypeEntry, 19> kTable{{
        {kData, {}, {u"application/octet-stream"}, {}},
        {kImage, {}, {}, {kData}},
        {UniformTypeIdentifier::png, {u"png"}, {u"image/png"}, {kImage, kData}},
        {UniformTypeIdentifier::jpeg, {u"jpeg", u"jpg", u"jpe", u"jfif"}, {u"image/jpeg", u"image/jpg", u"image/pjpeg"},
            {kImage, kData}},
        {UniformTypeIdentifier::heic, {u"heic"}, {u"image/heic"}, {kImage, kData}},
        {UniformTypeIdentifier::heif, {u"heif", u"hif"}, {u"image/heif"}, {kImage, kData}},
        {UniformTypeIdentifier::avif, {u"avif"}, {u"image/avif"}, {kImage, kData}},
        {UniformTypeIdentifier::tiff, {u"tiff", u"tif"}, {u"image/tiff", u"image/x-tiff"}, {kImage, kData}},
        {UniformTypeIdentifier::gif, {u"gif"}, {u"image/gif"}, {kImage, kData}},
        {UniformTypeIdentifier::webp, {u"webp"}, {u"image/webp"}, {kImage, kData}},
        {UniformTypeIdentifier::bmp, {u"bmp", u"dib"}, {u"image/bmp", u"image/x-bmp", u"image/x-ms-bmp"},
            {kImage, kData}},
        {UniformTypeIdentifier::pdf, {u"pdf"}, {u"application/pdf", u"application/x-pdf"}, {kData}},
        {kText, {}, {}, {kData}},
        {kPlainText, {u"txt", u"text"}, {u"text/plain"}, {kText, kData}},
        // Reached only through "text/plain;charset=utf-8" (see forMimeType).
        {UniformTypeIdentifier::utf8PlainText, {}, {}, {kPlainText, kText, kData}},
        {u"net.daringfireball.markdown", {u"md", u"markdown"}, {u"text/markdown"}, {kPlainText, kText, kData}},
        {u"public.comma-separated-values-text", {u"csv"}, {u"text/csv"}, {kText, kData}},
        {u"public.json", {u"json"}, {u"application/json"}, {kText, kData}},
        {u"public.log", {u"log"}, {}, {kPlainText, kText, kData}},
    }};

const std::array<TypeEntry, 19>& table()
{
    return kTable;
}

QString text(const char16_t* value)
{
    return QString::fromUtf16(value);
}

UniformType makeType(const TypeEntry& entry)
{
    UniformType type;
    type.identifier = text(entry.identifier);
    type.preferredFilenameExtension = entry.extensions[0] ? text(entry.extensions[0]) : QString();
    type.preferredMimeType = entry.mimeTypes[0] ? text(entry.mimeTypes[0]) : QString();
    type.conformsToImage = type.identifier == text(kImage);
    for (const char16_t* super : entry.supertypes)
        type.conformsToImage = type.conformsToImage || (super && text(super) == text(kImage));
    return type;
}

const TypeEntry* entryWithIdentifier(const QString& identifier)
{
    for (const TypeEntry& entry : table()) {
        if (identifier.compare(text(entry.identifier), Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

} // namespace

std::optional<UniformType> UniformType::withIdentifier(const QString& identifier)
{
    // Type identifiers compare without regard to case.
    if (const TypeEntry* entry = entryWithIdentifier(identifier))
        return makeType(*entry);
    return std::nullopt;
}

std::optional<UniformType> UniformType::forFilenameExtension(const QString& extension)
{
    if (extension.isEmpty())
        return std::nullopt;
    const QString lowered = extension.toLower();
    for (const TypeEntry& entry : table()) {
        for (const char16_t* candidate : entry.extensions) {
            if (candidate && lowered == text(candidate))
                return makeType(entry);
        }
    }
    return std::nullopt;
}

std::optional<UniformType> UniformType::forMimeType(const QString& mimeType)
{
    const QStringList parts = mimeType.split(u';');
    const QString essence = parts.first().trimmed().toLower();
    if (essence.isEmpty())
        return std::nullopt;
    if (essence == u"text/plain") {
        // The clipboard names its UTF-8 text "text/plain;charset=utf-8".
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QString parameter = parts[i].trimmed().toLower().remove(u'"');
            if (parameter == u"charset=utf-8" || parameter == u"charset=utf8")
                return withIdentifier(text(UniformTypeIdentifier::utf8PlainText));
        }
    }
    for (const TypeEntry& entry : table()) {
        for (const char16_t* candidate : entry.mimeTypes) {
            if (candidate && essence == text(candidate))
                return makeType(entry);
        }
    }
    return std::nullopt;
}

bool UniformType::conformsTo(const QString& otherIdentifier) const
{
    if (identifier.compare(otherIdentifier, Qt::CaseInsensitive) == 0)
        return true;
    const TypeEntry* entry = entryWithIdentifier(identifier);
    if (!entry)
        return false;
    for (const char16_t* super : entry->supertypes) {
        if (super && otherIdentifier.compare(text(super), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QStringList UniformType::filenameExtensions() const
{
    QStringList result;
    if (const TypeEntry* entry = entryWithIdentifier(identifier)) {
        for (const char16_t* extension : entry->extensions) {
            if (extension)
                result.append(text(extension));
        }
    }
    return result;
}

} // namespace tolvex
