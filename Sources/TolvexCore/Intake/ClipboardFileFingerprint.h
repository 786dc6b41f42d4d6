#pragma once

#include "TolvexCore/Files/FileInfo.h"

#include <QString>

namespace tolvex {

// A file found on the clipboard as it was when the clipboard was read; the
// import refuses the file when it no longer matches. Never persisted.
struct ClipboardFileFingerprint {
    FileInfo info;
    // SHA-256 of the bytes read, 64 lower-case hexadecimal digits.
    QString sha256;

    friend bool operator==(const ClipboardFileFingerprint&, const ClipboardFileFingerprint&) = default;
};

} // namespace tolvex
