#pragma once

#include "TolvexCore/Texts/Localizer.h"

#include <QString>

#include <cstdint>

namespace tolvex {

// Every size the windows show goes through this one formatter, so that the
// same file reads the same everywhere: decimal units (1 KB = 1000 bytes),
// sizes under a kilobyte in the language's own words ("size.byte",
// "size.bytes"), KB without decimals, MB with one, GB and above with two,
// trailing zeros dropped, and the decimal sign of the localizer's language
// (not of the system's locale, which may speak another).
QString formatByteCount(std::int64_t bytes, const Localizer& localizer = Localizer::shared());

} // namespace tolvex
