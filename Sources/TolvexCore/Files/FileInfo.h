#pragma once

#include "TolvexCore/Model/Date.h"

#include <cstdint>

namespace tolvex {

// What the file layer reports of one item, without following a link at its end.
struct FileInfo {
    bool isRegularFile = false;
    bool isSymbolicLink = false;
    // 0 when no size is reported.
    std::int64_t byteCount = 0;
    // The distant past when no date is reported.
    Date modificationDate = Date::distantPast();

    friend bool operator==(const FileInfo&, const FileInfo&) = default;
};

} // namespace tolvex
