#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tolvex {

// A type identifier of the fixed table of types the program meets: the image
// formats the image layer decodes, PDF, the plain-text family and the generic
// data types. Lookups return a copy of the table's entry; an identifier,
// extension or MIME type outside the table gives nullopt (there are no
// dynamic types). The table is immutable, so every lookup is safe from any
// thread.
//
// Only formats that ImageSource can open are image types here: a file whose
// extension names an image type is refused when it does not decode, so an
// image format we cannot read (an icon, a vector drawing) must not be listed
// as one, or a perfectly good file of that kind could never be kept.
struct UniformType {
    QString identifier;                 // "public.png", "com.adobe.pdf", ...
    QString preferredFilenameExtension; // without the dot; empty when none
    bool conformsToImage = false;       // conforms to "public.image"
    QString preferredMimeType;          // empty when none

    static std::optional<UniformType> withIdentifier(const QString& identifier);
    // The type a filename extension (without the dot) names, looked up as a
    // data type, case-insensitively ("JPG" gives public.jpeg).
    static std::optional<UniformType> forFilenameExtension(const QString& extension);
    // The type of a MIME type, ignoring parameters other than a UTF-8 charset
    // on text/plain and ignoring case ("image/png", "text/plain;charset=utf-8").
    static std::optional<UniformType> forMimeType(const QString& mimeType);

    // True when this type is the given one or one of its supertypes
    // ("public.jpeg" conforms to "public.image" and "public.data").
    bool conformsTo(const QString& otherIdentifier) const;
    // Every filename extension that names this type, the preferred one first.
    QStringList filenameExtensions() const;

    friend bool operator==(const UniformType& a, const UniformType& b) { return a.identifier == b.identifier; }
};

namespace UniformTypeIdentifier {
inline constexpr char16_t image[] = u"public.image";
inline constexpr char16_t data[] = u"public.data";
inline constexpr char16_t png[] = u"public.png";
inline constexpr char16_t jpeg[] = u"public.jpeg";
inline constexpr char16_t heic[] = u"public.heic";
inline constexpr char16_t heif[] = u"public.heif";
inline constexpr char16_t avif[] = u"public.avif";
inline constexpr char16_t tiff[] = u"public.tiff";
inline constexpr char16_t gif[] = u"com.compuserve.gif";
inline constexpr char16_t webp[] = u"org.webmproject.webp";
inline constexpr char16_t bmp[] = u"com.microsoft.bmp";
inline constexpr char16_t pdf[] = u"com.adobe.pdf";
inline constexpr char16_t plainText[] = u"public.plain-text";
inline constexpr char16_t utf8PlainText[] = u"public.utf8-plain-text";
} // namespace UniformTypeIdentifier

} // namespace tolvex
