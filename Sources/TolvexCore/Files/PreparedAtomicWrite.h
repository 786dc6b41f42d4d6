#pragma once

#include <functional>

namespace tolvex {

// The second half of an atomic write whose bytes are already on the disk
// under a temporary name beside the target (FileOperations::prepareAtomicWrite):
// commit() puts them in place; destroying it without commit() removes the
// temporary file, and the target stays as it was. Move-only; committed at
// most once.
class PreparedAtomicWrite {
public:
    // `commit` replaces the target; `discard` (optional) undoes the preparation.
    PreparedAtomicWrite(std::function<void()> commit, std::function<void()> discard);
    ~PreparedAtomicWrite();

    PreparedAtomicWrite(PreparedAtomicWrite&& other) noexcept;
    PreparedAtomicWrite& operator=(PreparedAtomicWrite&& other) noexcept;
    PreparedAtomicWrite(const PreparedAtomicWrite&) = delete;
    PreparedAtomicWrite& operator=(const PreparedAtomicWrite&) = delete;

    // Throws what the rest of writeAtomic would throw; after a failure the
    // target is as it was and nothing is left beside it.
    void commit();

private:
    void discard() noexcept;

    std::function<void()> commit_;
    std::function<void()> discard_;
};

} // namespace tolvex
