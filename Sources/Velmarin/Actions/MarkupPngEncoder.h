#pragma once

#include <QByteArray>
#include <QDeadlineTimer>

class QImage;

namespace tolvex {

// The PNG the markup session writes when the program is terminated, made to
// be done within the termination's bound rather than to be small: Qt's
// writer spends seconds on a large photo, longer than a termination may
// take. The rows are filtered with the "up" filter and deflated at zlib's
// fastest level in bands, on every core at once; the bands' streams are
// joined into one (each but the last ends on a byte boundary with a sync
// flush), so the file is an ordinary 8-bit PNG that any reader takes.
namespace MarkupPngEncoder {

// `image` as an 8-bit RGB PNG, or RGBA when it has an alpha channel. A band
// begun once `compressUntil` has passed is stored as it is, so a machine too
// slow to compress in time still finishes in about the time of a copy. Empty
// for a null image.
QByteArray encode(const QImage& image, QDeadlineTimer compressUntil = QDeadlineTimer(QDeadlineTimer::Forever));

} // namespace MarkupPngEncoder

} // namespace tolvex
