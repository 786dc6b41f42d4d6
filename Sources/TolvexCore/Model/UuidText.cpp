#include "TolvexCore/Model/UuidText.h"

namespace tolvex {

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

namespace {

int hexValue(char32_t c)
{
    if (c >= u'0' && c <= u'9')
        return static_cast<int>(c - u'0');
    if (c >= u'a' && c <= u'f')
        return static_cast<int>(c - u'a' + 10);
    if (c >= u'A' && c <= u'F')
        return static_cast<int>(c - u'A' + 10);
    return -1;
}

char32_t unit(QChar c) { return c.unicode(); }
char32_t unit(char c) { return static_cast<unsigned char>(c); }

// Decoded digit by digit: every load reads several UUIDs per material.
template <typename Text>
std::optional<QUuid> parseUuidText(const Text& text)
{
    if (text.size() != 36)
        return std::nullopt;
    uchar bytes[16];
    int at = 0;
    for (qsizetype i = 0; i < 36; i += 2) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (unit(text[i]) != u'-')
                return std::nullopt;
            ++i;
        }
        const int high = hexValue(unit(text[i]));
        const int low = hexValue(unit(text[i + 1]));
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[at++] = static_cast<uchar>(high << 4 | low);
    }
    return QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char*>(bytes), 16));
}

} // namespace

std::optional<QUuid> parseUuid(QStringView text)
{
    return parseUuidText(text);
}

std::optional<QUuid> parseUuid(std::string_view text)
{
    return parseUuidText(text);
}

} // namespace tolvex
