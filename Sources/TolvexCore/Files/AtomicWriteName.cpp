#include "TolvexCore/Files/AtomicWriteName.h"

namespace tolvex {

namespace {

constexpr std::size_t nameMax = 255;
constexpr std::size_t tokenDigits = 16;

bool isLowerHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

std::string_view utf8Prefix(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    // Step back over continuation bytes (10xxxxxx) to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string atomicWriteTemporaryName(std::string_view targetName, std::uint64_t token)
{
    static constexpr char digits[] = "0123456789abcdef";
    const std::size_t room = nameMax - 1 - atomicWriteMarker.size() - tokenDigits;
    std::string name;
    name.reserve(nameMax);
    name += '.';
    name += utf8Prefix(targetName, room);
    name += atomicWriteMarker;
    for (int shift = 60; shift >= 0; shift -= 4)
        name += digits[(token >> shift) & 0xF];
    return name;
}

bool isAtomicWriteTemporaryName(std::string_view name)
{
    if (name.size() < 1 + atomicWriteMarker.size() + tokenDigits || name.front() != '.')
        return false;
    const std::string_view tail = name.substr(name.size() - tokenDigits);
    for (char c : tail) {
        if (!isLowerHex(c))
            return false;
    }
    return name.substr(name.size() - tokenDigits - atomicWriteMarker.size(), atomicWriteMarker.size())
        == atomicWriteMarker;
}

} // namespace tolvex
