#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

namespace tolvex {

// Every size the windows show goes through this one formatter, so that the
// same file reads the same everywhere: decimal units (1 KB = 1000 bytes),
// "0 bytes" and "1 byte" spelt out as numbers, KB without decimals, MB with
// one, GB and above with two, trailing zeros dropped, and the locale's
// decimal sign.
QString formatByteCount(std::int64_t bytes, const QLocale& locale = QLocale());

} // namespace tolvex
