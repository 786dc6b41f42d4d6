#include "TolvexCore/Files/LocalPathEncoding.h"

#include "TolvexCore/Model/UnicodeText.h"

namespace tolvex {

namespace {

constexpr char16_t escapeBase = 0xDC00;

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
        const std::size_t length = UnicodeText::utf8SequenceLength(p + at, bytes.size() - at);
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
