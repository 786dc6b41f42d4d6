#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

namespace tolvex {

// File names on Linux are bytes, and nothing makes them UTF-8. A name that is
// not would come back from a lossy decoding as another name (U+FFFD in place
// of each bad byte), and every later call on it would miss the file. So each
// byte of an invalid sequence becomes the lone surrogate U+DC80 + (byte -
// 0x80) and turns back into that byte on encoding: every name survives the
// trip through QString and QUrl exactly. Valid UTF-8 decodes as usual.
QString decodeLocalPath(std::string_view bytes);
QByteArray encodeLocalPath(const QString& path);

} // namespace tolvex
