#include "TolvexCore/Texts/StringTable.h"

#include "TolvexCore/Files/ReadOnlyFile.h"

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace tolvex {

namespace {

using Reason = StringTable::ParseError::Reason;

[[noreturn]] void fail(Reason reason, int line)
{
    throw StringTable::ParseError(reason, line);
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF, no
// NUL). Reports the line of the first bad byte.
void validateUtf8(const unsigned char* data, qsizetype size)
{
    int line = 1;
    qsizetype i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            // No text file holds a NUL byte; it is what UTF-16 without a
            // byte-order mark looks like when read as UTF-8.
            if (lead == 0)
                fail(Reason::invalidEncoding, line);
            if (lead == '\n' || (lead == '\r' && (i + 1 == size || data[i + 1] != '\n')))
                ++line;
            ++i;
            continue;
        }
        int length = 0;
        char32_t minimum = 0;
        char32_t codePoint = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
            codePoint = lead & 0x07;
        } else {
            fail(Reason::invalidEncoding, line);
        }
        if (size - i < length)
            fail(Reason::invalidEncoding, line);
        for (int k = 1; k < length; ++k) {
            const unsigned char next = data[i + k];
            if ((next & 0xC0) != 0x80)
                fail(Reason::invalidEncoding, line);
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            fail(Reason::invalidEncoding, line);
        i += length;
    }
}

QString decodeUtf16(const QByteArray& bytes, qsizetype offset, bool bigEndian)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype unitCount = (bytes.size() - offset) / 2;
    QString text(unitCount, Qt::Uninitialized);
    QChar* out = text.data();
    int line = 1;
    bool expectLowSurrogate = false;
    for (qsizetype u = 0; u < unitCount; ++u) {
        const unsigned char first = data[offset + 2 * u];
        const unsigned char second = data[offset + 2 * u + 1];
        const char16_t unit = bigEndian ? char16_t((first << 8) | second) : char16_t((second << 8) | first);
        const bool isHigh = QChar::isHighSurrogate(unit);
        const bool isLow = QChar::isLowSurrogate(unit);
        if (expectLowSurrogate != isLow || unit == 0)
            fail(Reason::invalidEncoding, line);
        expectLowSurrogate = isHigh;
        if (unit == u'\n')
            ++line;
        out[u] = QChar(unit);
    }
    // A dangling high surrogate or an odd trailing byte.
    if (expectLowSurrogate || (bytes.size() - offset) % 2 != 0)
        fail(Reason::invalidEncoding, line);
    return text;
}

QString decode(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE)
        return decodeUtf16(bytes, 2, false);
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF)
        return decodeUtf16(bytes, 2, true);
    qsizetype offset = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        offset = 3;
    validateUtf8(data + offset, size - offset);
    return QString::fromUtf8(bytes.constData() + offset, size - offset);
}

bool isUnquotedCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_' || u == '.'
        || u == '$' || u == ':' || u == '/' || u == '-';
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

class Parser {
public:
    explicit Parser(const QString& text) : text_(text) {}

    QHash<QString, QString> parseTable()
    {
        QHash<QString, QString> entries;
        skipTrivia();
        const bool braced = peek() == u'{';
        if (braced) {
            advance();
        }
        while (true) {
            skipTrivia();
            if (atEnd()) {
                if (braced)
                    fail(Reason::unexpectedEnd, line_);
                break;
            }
            if (braced && peek() == u'}') {
                advance();
                skipTrivia();
                if (!atEnd())
                    fail(Reason::unexpectedCharacter, line_);
                break;
            }
            QString key = parseString();
            int endLine = line_;
            skipTrivia();
            if (peek() != u'=')
                fail(Reason::missingEquals, endLine);
            advance();
            skipTrivia();
            QString value = parseString();
            endLine = line_;
            skipTrivia();
            if (peek() != u';')
                fail(Reason::missingSemicolon, endLine);
            advance();
            entries.insert(std::move(key), std::move(value));
        }
        return entries;
    }

private:
    bool atEnd() const { return position_ >= text_.size(); }
    // U+FFFF never appears in valid text, so it serves as the end marker.
    QChar peek(qsizetype ahead = 0) const
    {
        const qsizetype at = position_ + ahead;
        return at < text_.size() ? text_[at] : QChar(0xFFFF);
    }

    // Moves past one code unit, counting a line at "\n" and at a "\r" not
    // followed by "\n".
    QChar advance()
    {
        const QChar c = text_[position_++];
        if (c == u'\n' || (c == u'\r' && peek() != u'\n'))
            ++line_;
        return c;
    }

    void skipTrivia()
    {
        while (!atEnd()) {
            const QChar c = peek();
            if (c.isSpace() || c == QChar(0xFEFF)) {
                advance();
            } else if (c == u'/' && peek(1) == u'*') {
                const int startLine = line_;
                advance();
                advance();
                while (true) {
                    if (atEnd())
                        fail(Reason::unterminatedComment, startLine);
                    if (peek() == u'*' && peek(1) == u'/') {
                        advance();
                        advance();
                        break;
                    }
                    advance();
                }
            } else if (c == u'/' && peek(1) == u'/') {
                while (!atEnd() && peek() != u'\n' && peek() != u'\r')
                    advance();
            } else {
                break;
            }
        }
    }

    QString parseString()
    {
        if (atEnd())
            fail(Reason::unexpectedEnd, line_);
        if (peek() == u'"')
            return parseQuoted();
        if (!isUnquotedCharacter(peek()))
            fail(Reason::unexpectedCharacter, line_);
        const qsizetype start = position_;
        while (!atEnd() && isUnquotedCharacter(peek()))
            advance();
        return text_.mid(start, position_ - start);
    }

    QString parseQuoted()
    {
        const int startLine = line_;
        advance(); // the opening quote
        QString result;
        while (true) {
            if (atEnd())
                fail(Reason::unterminatedString, startLine);
            const QChar c = advance();
            if (c == u'"')
                return result;
            if (c != u'\\') {
                result.append(c);
                continue;
            }
            if (atEnd())
                fail(Reason::unterminatedString, startLine);
            const QChar escape = advance();
            switch (escape.unicode()) {
            case u'"':
            case u'\\':
            case u'\'':
                result.append(escape);
                break;
            case u'n':
                result.append(QChar(u'\n'));
                break;
            case u't':
                result.append(QChar(u'\t'));
                break;
            case u'r':
                result.append(QChar(u'\r'));
                break;
            case u'0':
                // Only a bare \0 is NUL: an octal escape such as \012 is not
                // supported, and reading it as NUL followed by "12" would
                // silently change the text.
                if (!atEnd() && peek().isDigit())
                    fail(Reason::invalidEscape, line_);
                result.append(QChar(u'\0'));
                break;
            case u'u':
            case u'U':
                appendUnicodeEscape(result);
                break;
            default:
                fail(Reason::invalidEscape, line_);
            }
        }
    }

    // After "\u": four hex digits; a high surrogate must be followed at once by
    // the escape of a low surrogate.
    void appendUnicodeEscape(QString& result)
    {
        const char16_t unit = readHexUnit();
        if (QChar::isLowSurrogate(unit))
            fail(Reason::invalidEscape, line_);
        if (!QChar::isHighSurrogate(unit)) {
            result.append(QChar(unit));
            return;
        }
        if (peek() != u'\\' || (peek(1) != u'u' && peek(1) != u'U'))
            fail(Reason::invalidEscape, line_);
        advance();
        advance();
        const char16_t low = readHexUnit();
        if (!QChar::isLowSurrogate(low))
            fail(Reason::invalidEscape, line_);
        result.append(QChar(unit));
        result.append(QChar(low));
    }

    char16_t readHexUnit()
    {
        char16_t unit = 0;
        for (int k = 0; k < 4; ++k) {
            const int digit = hexValue(peek());
            if (digit < 0)
                fail(Reason::invalidEscape, line_);
            advance();
            unit = char16_t((unit << 4) | digit);
        }
        return unit;
    }

    const QString& text_;
    qsizetype position_ = 0;
    int line_ = 1;
};

} // namespace

const char* StringTable::ParseError::what() const noexcept
{
    switch (reason_) {
    case Reason::invalidEncoding:
        return "string table: invalid text encoding";
    case Reason::unterminatedString:
        return "string table: unterminated string";
    case Reason::unterminatedComment:
        return "string table: unterminated comment";
    case Reason::invalidEscape:
        return "string table: invalid escape sequence";
    case Reason::missingEquals:
        return "string table: expected '=' after a key";
    case Reason::missingSemicolon:
        return "string table: expected ';' after a value";
    case Reason::unexpectedCharacter:
        return "string table: unexpected character";
    case Reason::unexpectedEnd:
        return "string table: unexpected end of input";
    }
    return "string table: parse error";
}

StringTable StringTable::parse(const QByteArray& bytes)
{
    const QString text = decode(bytes);
    StringTable table;
    table.entries_ = Parser(text).parseTable();
    return table;
}

StringTable StringTable::load(const QString& filePath)
{
    const ReadOnlyFile file = ReadOnlyFile::open(filePath);
    if (file.isDirectory())
        throw std::system_error(EISDIR, std::generic_category(), "read string table");
    // A FIFO or a device would block or never end: only a plain file is a table.
    if (!file.isRegularFile())
        throw std::system_error(EINVAL, std::generic_category(), "read string table");
    if (file.size() > maximumFileSize)
        throw std::system_error(EFBIG, std::generic_category(), "read string table");

    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(file.size()));
    char buffer[16384];
    while (true) {
        const std::int64_t count = file.readAt(bytes.size(), buffer, sizeof buffer);
        if (count == 0)
            break;
        // The file may grow while it is read; the limit holds for what is read.
        if (bytes.size() + count > maximumFileSize)
            throw std::system_error(EFBIG, std::generic_category(), "read string table");
        bytes.append(buffer, count);
    }
    return parse(bytes);
}

std::optional<QString> StringTable::value(const QString& key) const
{
    const auto found = entries_.constFind(key);
    if (found == entries_.constEnd())
        return std::nullopt;
    return *found;
}

} // namespace tolvex
