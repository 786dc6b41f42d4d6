#include "TolvexCore/Texts/MessageKey.h"

namespace tolvex {

namespace {

constexpr std::array<MessageKey, messageKeyCount> makeAllMessageKeys()
{
    std::array<MessageKey, messageKeyCount> keys{};
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i] = static_cast<MessageKey>(i);
    return keys;
}

constexpr std::array<MessageKey, messageKeyCount> allKeys = makeAllMessageKeys();

// The keys are ASCII, so a byte-wise comparison with the UTF-16 text is exact.
bool equals(std::string_view key, QStringView text)
{
    if (static_cast<qsizetype>(key.size()) != text.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (text[static_cast<qsizetype>(i)].unicode() != static_cast<unsigned char>(key[i]))
            return false;
    }
    return true;
}

} // namespace

static_assert(messageKeyCount == 251);
static_assert(messageKeyRawValue(MessageKey::privacyHide) == "privacyHide");
static_assert(messageKeyRawValue(MessageKey::contentHidden) == "privacy.hidden");
static_assert(messageKeyRawValue(MessageKey::retryLater) == "markup.retryLater");

QString messageKeyString(MessageKey key)
{
    const std::string_view raw = messageKeyRawValue(key);
    return QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size()));
}

std::optional<MessageKey> messageKeyFromRawValue(std::string_view raw)
{
    return enumFromRawValue<MessageKey>(raw);
}

std::optional<MessageKey> messageKeyFromRawValue(QStringView raw)
{
    const auto& values = RawEnumTraits<MessageKey>::rawValues;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (equals(values[i], raw))
            return static_cast<MessageKey>(i);
    }
    return std::nullopt;
}

const std::array<MessageKey, messageKeyCount>& allMessageKeys()
{
    return allKeys;
}

} // namespace tolvex
