#pragma once

#include "TolvexCore/Intake/ClipboardFileFingerprint.h"
#include "TolvexCore/Model/ClipboardPreference.h"

#include <QUrl>

namespace tolvex {

class StoreContext;

// The clipboard intake settings in "clipboard-settings.json", with the bytes
// before each save kept in "clipboard-settings.previous.json"; and the
// fingerprint of a clipboard file that the import checks again later.
class ClipboardSettingsFile {
public:
    // Settings files larger than this are not read.
    static constexpr std::int64_t maximumSettingsBytes = 4096;
    // Clipboard files larger than this (or than the per-file budget) are not fingerprinted.
    static constexpr std::int64_t maximumFingerprintBytes = 67108864;

    explicit ClipboardSettingsFile(StoreContext& context) : context_(context) {}

    // Writes the default when there is no settings file: on in a data root
    // that held a workspace, off in a new one. A damaged file is recoveryRequired.
    ClipboardPreference clipboardPreferences();
    // Refuses any version but the current one; never overwrites a damaged file.
    void setClipboardPreferences(const ClipboardPreference& preference);
    bool clipboardEnabled();
    void setClipboardEnabled(bool enabled);

    // Local files only; the file must not change while it is read.
    ClipboardFileFingerprint clipboardFileFingerprint(const QUrl& url);

private:
    StoreContext& context_;
};

} // namespace tolvex
