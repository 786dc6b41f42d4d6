#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex {

// The hidden sibling that an atomic write fills before renaming it over its
// target: ".<target name>.tolvex-tmp-<16 hex digits>". It starts with a dot
// and ends in hex digits, so it is never taken for a record (".json") or a
// staged payload (".stage") by anything that lists a folder, also when a
// crash leaves it behind.
inline constexpr std::string_view atomicWriteMarker = ".tolvex-tmp-";

// The name for one attempt; `token` makes it unique. A long target name is
// shortened (on a UTF-8 character boundary) so the result fits in 255 bytes.
std::string atomicWriteTemporaryName(std::string_view targetName, std::uint64_t token);

// Whether a folder entry is such a leftover temporary file.
bool isAtomicWriteTemporaryName(std::string_view name);

// The longest prefix of `text` of at most `limit` bytes that does not cut a
// UTF-8 sequence in two.
std::string_view utf8Prefix(std::string_view text, std::size_t limit);

} // namespace tolvex
