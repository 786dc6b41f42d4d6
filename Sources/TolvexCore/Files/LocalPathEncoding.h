#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <optional>
#include <string_view>

namespace tolvex {

// File names on Linux are bytes, and nothing makes them UTF-8. A name that is
// not would come back from a lossy decoding as another name (U+FFFD in place
// of each bad byte), and every later call on it would miss the file, or reach
// a file that really is named so. So each byte of an invalid sequence becomes
// the lone surrogate U+DC80 + (byte - 0x80) and turns back into that byte on
// encoding: every name survives the trip through QString and QUrl exactly.
// Valid UTF-8 decodes as usual.
QString decodeLocalPath(std::string_view bytes);
QByteArray encodeLocalPath(const QString& path);

// The exact path a local file URL names: that of a URL made by
// QUrl::fromLocalFile from an exactly decoded path, and that of a URL parsed
// from text, whose percent escapes stand for bytes ("%FF" is the byte 0xFF,
// never U+FFFD, which QUrl::toLocalFile would make of it). Nothing for
// another scheme, a host other than "localhost", a relative path, or a path
// no file can have (an escaped "/" or NUL inside a name).
std::optional<QString> exactLocalPath(const QUrl& url);

// The file URL of one entry of a URI list ("text/uri-list",
// "x-special/gnome-copied-files") as the bytes it came in, for the exact path
// it names; nothing when it is not one (see exactLocalPath). Bytes outside
// ASCII, which some programs put there unescaped, count as themselves.
std::optional<QUrl> localFileURL(QByteArrayView uri);

// The path as people read it and as a JSON text can hold it: each byte that
// is not UTF-8 shown as U+FFFD. Several files may read the same, and a file
// named with U+FFFD itself reads so too: this form is for showing and
// recording, never for reaching the file again.
QString readableLocalPath(const QString& path);
// Whether the path holds a byte that is not UTF-8, so that its readable form
// is not itself.
bool hasUndecodedBytes(const QString& path);

} // namespace tolvex
