#include "TolvexCore/Model/Json/JsonWriter.h"


#include <charconv>
#include <cmath>

namespace tolvex::Json {

void JsonWriter::separate()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (needsComma_)
        buffer_.append(',');
}

void JsonWriter::beginObject()
{
    separate();
    buffer_.append('{');
    needsComma_ = false;
}

void JsonWriter::endObject()
{
    buffer_.append('}');
    needsComma_ = true;
}

void JsonWriter::beginArray()
{
    separate();
    buffer_.append('[');
    needsComma_ = false;
}

void JsonWriter::endArray()
{
    buffer_.append(']');
    needsComma_ = true;
}

void JsonWriter::key(const char* name)
{
    if (needsComma_)
        buffer_.append(',');
    buffer_.append('"');
    buffer_.append(name);
    buffer_.append("\":");
    afterKey_ = true;
    needsComma_ = true;
}

void JsonWriter::appendEscaped(const char* utf8, qsizetype size)
{
    static const char hex[] = "0123456789abcdef";
    buffer_.append('"');
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        buffer_.append(utf8 + runStart, i - runStart);
        runStart = i + 1;
        switch (c) {
        case '"': buffer_.append("\\\""); break;
        case '\\': buffer_.append("\\\\"); break;
        case '\n': buffer_.append("\\n"); break;
        case '\r': buffer_.append("\\r"); break;
        case '\t': buffer_.append("\\t"); break;
        case '\b': buffer_.append("\\b"); break;
        case '\f': buffer_.append("\\f"); break;
        default: {
            const char escaped[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            buffer_.append(escaped, 6);
        }
        }
    }
    buffer_.append(utf8 + runStart, size - runStart);
    buffer_.append('"');
    needsComma_ = true;
}

void JsonWriter::string(const QString& text)
{
    separate();
    // Most texts of a workspace (paths, digests, titles in Latin script) are
    // plain ASCII that needs no escape: append those directly instead of
    // converting to UTF-8 in a temporary buffer first.
    const QChar* chars = text.constData();
    const qsizetype size = text.size();
    bool plain = true;
    for (qsizetype i = 0; i < size && plain; ++i) {
        const char16_t c = chars[i].unicode();
        plain = c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\';
    }
    if (plain) {
        const qsizetype start = buffer_.size();
        buffer_.resize(start + size + 2);
        char* out = buffer_.data() + start;
        *out++ = '"';
        for (qsizetype i = 0; i < size; ++i)
            *out++ = static_cast<char>(chars[i].unicode());
        *out = '"';
        needsComma_ = true;
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    appendEscaped(utf8.constData(), utf8.size());
}

void JsonWriter::string(const char* text)
{
    separate();
    appendEscaped(text, qstrlen(text));
}

void JsonWriter::number(std::int64_t value)
{
    separate();
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    buffer_.append(digits, result.ptr - digits);
    needsComma_ = true;
}

void JsonWriter::number(std::uint64_t value)
{
    separate();
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    buffer_.append(digits, result.ptr - digits);
    needsComma_ = true;
}

void JsonWriter::number(double value)
{
    separate();
    if (!std::isfinite(value)) {
        // JSON has no text for these; a date never holds one.
        buffer_.append("null");
        needsComma_ = true;
        return;
    }
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    buffer_.append(digits, result.ptr - digits);
    needsComma_ = true;
}

void JsonWriter::boolean(bool value)
{
    separate();
    buffer_.append(value ? "true" : "false");
    needsComma_ = true;
}

void JsonWriter::uuid(const QUuid& id)
{
    separate();
    // The canonical upper-case 8-4-4-4-12 text, written in place: a save
    // writes several per material.
    static const char hex[] = "0123456789ABCDEF";
    const unsigned char bytes[16] = {
        static_cast<unsigned char>(id.data1 >> 24), static_cast<unsigned char>(id.data1 >> 16),
        static_cast<unsigned char>(id.data1 >> 8), static_cast<unsigned char>(id.data1),
        static_cast<unsigned char>(id.data2 >> 8), static_cast<unsigned char>(id.data2),
        static_cast<unsigned char>(id.data3 >> 8), static_cast<unsigned char>(id.data3),
        id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]};
    char text[38];
    char* out = text;
    *out++ = '"';
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            *out++ = '-';
        *out++ = hex[bytes[i] >> 4];
        *out++ = hex[bytes[i] & 0xF];
    }
    *out++ = '"';
    buffer_.append(text, out - text);
    needsComma_ = true;
}

void JsonWriter::url(const QUrl& url)
{
    string(url.toString(QUrl::FullyEncoded));
}

void JsonWriter::data(const QByteArray& bytes)
{
    separate();
    const QByteArray base64 = bytes.toBase64();
    appendEscaped(base64.constData(), base64.size());
}

void JsonWriter::encoded(const QByteArray& value)
{
    separate();
    buffer_.append(value);
    needsComma_ = true;
}

} // namespace tolvex::Json
