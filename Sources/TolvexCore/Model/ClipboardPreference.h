#pragma once

#include <cstdint>

namespace tolvex {

struct ImportRequest;

// The clipboard intake settings, stored as "clipboard-settings.json".
struct ClipboardPreference {
    // The only version written; versions 1 and 2 are read.
    static constexpr std::int64_t currentVersion = 2;

    std::int64_t version = currentVersion;
    // Automatic clipboard intake is on.
    bool enabled = false;
    bool images = true;
    bool text = true;
    bool files = true;
    // Content already on the clipboard when intake starts counts as new.
    bool includeExisting = true;

    ClipboardPreference() = default;
    ClipboardPreference(bool enabled, bool images, bool text, bool files, bool includeExisting)
        : enabled(enabled), images(images), text(text), files(files), includeExisting(includeExisting)
    {
    }

    // Whether the request's kind is allowed; `enabled` plays no part.
    bool accepts(const ImportRequest& request) const;

    friend bool operator==(const ClipboardPreference&, const ClipboardPreference&) = default;
};

} // namespace tolvex
