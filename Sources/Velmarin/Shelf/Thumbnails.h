#pragma once

#include "TolvexCore/Model/MaterialEnums.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QUrl>

#include <optional>

namespace tolvex {

// Card pictures and text beginnings. Both read the payload file and decode,
// so they run on worker threads (never on the GUI thread); both may be called
// from several threads at once.
namespace Thumbnails {

// Longest side of any PDF thumbnail, whatever is asked.
inline constexpr int pdfMaxPixels = 480;
// Bytes of a text material read for its preview.
inline constexpr qint64 previewBytes = 4096;

// A picture of the file whose longest side is at most `maxPixels` (PDFs at
// most 480): the first page of a ".pdf", else the first image after
// admission, with its orientation applied. Nothing when the file is not one
// we can draw safely.
std::optional<QImage> makeThumbnail(const QUrl& url, int maxPixels);

// makeThumbnail's picture of an image file, made from image 0 of its bytes
// already decoded whole (orientation applied) instead of from the file, when
// its picture is made that way: for PNG alone. Nothing for another type
// (decoded at a reduced scale, whose picture a whole decode cannot give
// exactly) or a null image.
std::optional<QImage> thumbnailOfDecode(const QString& typeIdentifier, const QImage& decoded, int maxPixels);
bool isMadeFromWholeDecode(const QString& typeIdentifier);

// The size makeThumbnail's picture of an image file will have, read from
// the file's header alone (orientation applied), so that a card can take its
// proportions before the picture is made. Nothing for a file whose header
// says nothing; a picture later made may differ by a pixel of rounding.
std::optional<QSize> pictureSize(const QUrl& url, int maxPixels);

// The first 4,096 bytes of a text material as UTF-8; an invalid or cut
// sequence becomes U+FFFD. Other kinds, and unreadable or empty files, have
// none.
std::optional<QString> textPreview(MaterialKind kind, const QUrl& url);

// UTF-8 decoding of a prefix: a multi-byte character cut at the end becomes
// exactly one U+FFFD.
QString decodeUtf8Prefix(const QByteArray& bytes);

} // namespace Thumbnails

} // namespace tolvex
