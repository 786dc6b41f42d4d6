#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstddef>

namespace tolvex::UnicodeText {

// Texts are equal when they are canonically equivalent: "é" typed as one code
// point equals "e" followed by the combining accent.
bool canonicallyEqual(const QString& a, const QString& b);

// User-perceived characters (extended grapheme clusters), not code units.
qsizetype graphemeCount(const QString& text);
// The first `count` user-perceived characters of `text`.
QString graphemePrefix(const QString& text, qsizetype count);

// Space separators (Zs) and the tab.
bool isWhitespace(char32_t c);
// U+000A to U+000D, U+0085, U+2028, U+2029.
bool isNewline(char32_t c);
// Whitespace, newlines and every other separator (Zs, Zl, Zp, tab, U+000A-U+000D, U+0085).
bool isWhitespaceOrNewline(char32_t c);

// Trims code points from both ends.
QString trimmedWhitespace(const QString& text);
QString trimmedWhitespaceAndNewlines(const QString& text);

// The length of the valid UTF-8 sequence at `p` (strict: no overlong forms,
// no surrogates, nothing above U+10FFFF), 0 when there is none.
std::size_t utf8SequenceLength(const unsigned char* p, std::size_t available);
// Whether all of `bytes` is strict UTF-8, checked without decoding.
bool isStrictUtf8(const QByteArray& bytes);

} // namespace tolvex::UnicodeText
