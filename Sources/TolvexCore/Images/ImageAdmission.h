#pragma once

#include "TolvexCore/Images/ImageAdmissionError.h"

#include <QByteArray>
#include <QUrl>

#include <cstdint>

namespace tolvex {

class ImageSource;

// Decides whether bytes or a file are an image the program takes: of a known
// image type, structurally complete, with a first image of at least 1 x 1 and
// at most `pixelBudget` pixels. Nothing is decoded: the type, the status and
// the size come from the header and the structure (see ImageSource), so a
// small file that claims a huge image is refused before a pixel is allocated.
// Only image 0 of a multi-image file is examined.
//
// Stateless; every function may be called from any thread at once.
namespace ImageAdmission {

// 2^25 pixels: 8192 x 4096 passes, one pixel more does not.
inline constexpr std::int64_t pixelBudget = 33554432;

// Admits an image held in memory, or throws ImageAdmissionError. A PNG must
// moreover be at least 20 bytes long and end with the 12-byte IEND chunk.
void validate(const QByteArray& bytes);

// Admits an image file, or throws. The URL must be a file URL whose host is
// empty or "localhost" (else invalidImage, and nothing is looked up). A file
// that cannot be opened, or whose size or last bytes cannot be read, raises
// std::system_error with the errno; a path that is not a regular file is
// invalidImage. For a PNG only the last 12 bytes are read for the trailer
// test, besides the structure.
void validate(const QUrl& contentsOf);

// The size rules alone, for an image whose size is already known:
// a side below 1 is invalidImage; a product that overflows or exceeds the
// budget is pixelBudgetExceeded.
void validate(std::int64_t width, std::int64_t height);

// The checks shared by both forms, on a source already made: a known image
// type, the source and image 0 complete, the size rules on image 0, and
// image 0 within the decoder's limits on each side.
void validate(const ImageSource& source);

} // namespace ImageAdmission

} // namespace tolvex
