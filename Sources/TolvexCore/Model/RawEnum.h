#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace tolvex {

// String enumerations of the data root: each case is stored as its raw value,
// which is the case's name. A specialisation lists the raw values in
// declaration order; the enum's underlying values are 0, 1, 2... in that order.
template <typename E>
struct RawEnumTraits;

template <typename E>
constexpr std::string_view rawValue(E value)
{
    return RawEnumTraits<E>::rawValues[static_cast<std::size_t>(value)];
}

template <typename E>
constexpr std::optional<E> enumFromRawValue(std::string_view raw)
{
    const auto& values = RawEnumTraits<E>::rawValues;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] == raw)
            return static_cast<E>(i);
    }
    return std::nullopt;
}

} // namespace tolvex
