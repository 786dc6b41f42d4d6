#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QUrl>

#include <cstdint>

namespace tolvex {

// The ready-made workspace a new data root starts with: three example cards
// (a note, an image and a PDF) hanging in the ungrouped group, their payloads
// and default clipboard settings. It has exactly the layout of a data root.
//
// Every file inside a workspace folder is reached through OwnedPaths, so no
// symbolic link is ever followed. Errors: StoreError, the decoding errors of
// the JSON coding, ImageAdmissionError, and file errors as std::system_error.
class StarterWorkspaceBootstrap {
public:
    StarterWorkspaceBootstrap() = delete;

    static constexpr std::int64_t maxPayloadBytes = 67'108'864;
    static constexpr std::int64_t maxClipboardSettingsBytes = 4'096;
    // Prefix of the folder, next to the data root, in which an installation is
    // built before it is published.
    static constexpr const char* stagingPrefix = ".tolvex-starter-";

    // Proves that `starter` is a complete starter workspace and returns its
    // snapshot. Nothing else than the listed files may be present, apart from
    // files named ".DS_Store" and empty folders.
    static WorkspaceSnapshot validate(const QUrl& starter);

    // Installs the starter as the data root when nothing exists at that path
    // yet, and answers whether it did. The copy is built and validated in a
    // hidden staging folder beside the data root and published by one rename
    // that never replaces: of two processes starting at once, exactly one
    // publishes and the other removes its staging folder and answers false.
    // An existing data root, of any kind, is never inspected or changed. A
    // failed attempt leaves its staging folder behind; it never becomes the
    // data root.
    static bool installIfAbsent(const QUrl& starter, const QUrl& dataRoot);

    // The publishing step on its own: moves `staging` to `dataRoot` unless
    // something already exists there (then false, and nothing changes).
    // Other failures throw std::system_error with the errno.
    static bool publish(const QUrl& staging, const QUrl& dataRoot);

    // A folder is anchored when it is not itself a symbolic link: its path
    // with every link resolved is its resolved parent followed by its name.
    static bool isAnchored(const QUrl& folder);
};

} // namespace tolvex
