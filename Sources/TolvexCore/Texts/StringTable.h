#pragma once

#include <QByteArray>
#include <QException>
#include <QHash>
#include <QString>

#include <optional>

namespace tolvex {

// A string table in the classic text format:
//
//     /* comment */
//     "key" = "value";   // comment
//     plain.key = plain/value;
//
// - Encodings: UTF-8 with or without a byte-order mark, UTF-16 little- or
//   big-endian with a byte-order mark. Invalid sequences, unpaired surrogates
//   and NUL characters (other than the escape \0) are refused, so UTF-16
//   without a byte-order mark fails instead of reading as garbage.
// - Quoted strings take the escapes \" \\ \' \n \t \r \0 and \uXXXX / \UXXXX
//   (four hexadecimal digits; a high and a low surrogate escape in a row make
//   one character). A line break may also stand in a quoted string as itself.
// - Unquoted keys and values are runs of A-Z a-z 0-9 _ . $ : / -.
// - Every entry needs its "=" and its ";"; the whole table may be wrapped in
//   one pair of braces.
// - When a key appears twice, the last entry wins.
// It is the only reader of string tables: the localizer and the start-up
// check both use it.
class StringTable {
public:
    class ParseError : public QException {
    public:
        enum class Reason {
            invalidEncoding,
            unterminatedString,
            unterminatedComment,
            invalidEscape,
            missingEquals,
            missingSemicolon,
            unexpectedCharacter,
            unexpectedEnd,
        };

        ParseError(Reason reason, int line) noexcept : reason_(reason), line_(line) {}

        Reason reason() const noexcept { return reason_; }
        // 1-based line of the input where the fault lies; for an unterminated
        // string or comment, the line where it began.
        int line() const noexcept { return line_; }
        // A developer-facing description; never shown to users.
        const char* what() const noexcept override;

        void raise() const override { throw *this; }
        ParseError* clone() const override { return new ParseError(*this); }

    private:
        Reason reason_;
        int line_;
    };

    // Tables larger than this are refused by load() with EFBIG before reading;
    // ours are a few tens of kilobytes.
    static constexpr qint64 maximumFileSize = 16 * 1024 * 1024;

    StringTable() = default;

    // Throws ParseError on malformed input.
    static StringTable parse(const QByteArray& bytes);
    // Reads the whole file and parses it. A file that cannot be opened or read
    // throws std::system_error with the errno (ENOENT, EACCES, EISDIR for a
    // folder, EFBIG beyond maximumFileSize); malformed contents throw ParseError.
    static StringTable load(const QString& filePath);

    std::optional<QString> value(const QString& key) const;
    const QHash<QString, QString>& entries() const { return entries_; }
    qsizetype size() const { return entries_.size(); }
    bool isEmpty() const { return entries_.isEmpty(); }

private:
    QHash<QString, QString> entries_;
};

} // namespace tolvex
