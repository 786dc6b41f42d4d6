#pragma once

#include <cstdint>

namespace tolvex {

// The fixed limits of clipboard and manual intake. The gateway applies them
// while reading, and the import service again to each whole batch before
// anything of it may wait for import.
namespace ClipboardLimits {

// Requests in one batch, and items on one pasteboard.
inline constexpr std::int64_t items = 32;
// UTF-8 bytes of one text.
inline constexpr std::int64_t textBytes = 1048576;
// Bytes of one image.
inline constexpr std::int64_t imageBytes = 16777216;
// Bytes of one batch: images, texts and files together.
inline constexpr std::int64_t batchBytes = 67108864;
// Bytes of one file.
inline constexpr std::int64_t fileBytes = 67108864;
// Pixels of one image. Image admission enforces it; nobody else counts pixels.
inline constexpr std::int64_t imagePixels = 33554432;

} // namespace ClipboardLimits
} // namespace tolvex
