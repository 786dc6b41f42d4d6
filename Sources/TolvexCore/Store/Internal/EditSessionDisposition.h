#pragma once

namespace tolvex {

// Whether an edit session on disk still holds wanted work.
enum class EditSessionDisposition {
    // It can still be resumed and saved; its working file is wanted content.
    pending,
    // Its save is durably done; its folder is spare.
    completed,
};

} // namespace tolvex
