#include "TolvexCore/Files/LocalPathEncoding.h"

namespace tolvex {

namespace {

constexpr char16_t escapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at `p` (strict: no overlong forms,
// no surrogates, nothing above U+10FFFF), 0 when there is none.
std::size_t validSequenceLength(const unsigned char* p, std::size_t available)
{
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

QString decodeLocalPath(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    QString result;
    std::size_t runStart = 0;
    std::size_t at = 0;
    const auto flush = [&] {
        if (at > runStart)
            result += QString::fromUtf8(bytes.data() + runStart, static_cast<qsizetype>(at - runStart));
    };
    while (at < bytes.size()) {
        const std::size_t length = validSequenceLength(p + at, bytes.size() - at);
        if (length > 0) {
            at += length;
            continue;
        }
        flush();
        result += QChar(char16_t(escapeBase + p[at]));
        runStart = ++at;
    }
    flush();
    return result;
}

QByteArray encodeLocalPath(const QString& path)
{
    QByteArray result;
    result.reserve(path.size());
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        if (end > runStart)
            result += QStringView(path).mid(runStart, end - runStart).toUtf8();
    };
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        const bool escaped = unit >= escapeBase + 0x80 && unit <= escapeBase + 0xFF
            && (i == 0 || !QChar::isHighSurrogate(path[i - 1].unicode()));
        if (!escaped)
            continue;
        flush(i);
        result += char(unit - escapeBase);
        runStart = i + 1;
    }
    flush(path.size());
    return result;
}

} // namespace tolvex
