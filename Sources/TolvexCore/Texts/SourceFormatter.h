#pragma once

#include "TolvexCore/Model/SourceRecord.h"

#include <QString>

#include <cstdint>
#include <limits>
#include <optional>

namespace tolvex {

class Localizer;

// The two rules about a material's source that several parts share: the
// one-line provenance text, and the check a source must pass before it is
// stored.
class SourceFormatter {
public:
    SourceFormatter() = delete;

    // Between the parts of the provenance line: space, middle dot, space.
    static QString separator() { return QStringLiteral(" \u00B7 "); }

    static constexpr qsizetype maximumTitleLength = 1024;      // user-perceived characters
    static constexpr qsizetype maximumPageLabelLength = 128;   // user-perceived characters
    // Page indexes from 0 up to, but not including, this value are valid.
    static constexpr std::int64_t pageIndexLimit = std::numeric_limits<std::int64_t>::max();

    // The provenance line, or nothing when the source has nothing to show:
    // the note origin, the manual title, the file path, the web address and
    // the page, joined by the separator, with the "entered by hand" mark last
    // for a printed page label or a manually registered source. Cannot fail.
    static std::optional<QString> describe(const SourceRecord& source, const Localizer& localizer);

    // Throws StoreError::invalidSource() for the first rule the source breaks;
    // the origin, the bookmark and the manual flag are not examined.
    static void validate(const SourceRecord& source);

    // The decimal page number shown for a 0-based index (index + 1); exact for
    // every index of 0 or more, including the largest 64-bit one.
    static QString pageNumberText(std::int64_t index);
};

} // namespace tolvex
