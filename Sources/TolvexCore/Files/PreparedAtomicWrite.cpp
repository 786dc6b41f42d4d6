#include "TolvexCore/Files/PreparedAtomicWrite.h"

#include <utility>

namespace tolvex {

PreparedAtomicWrite::PreparedAtomicWrite(std::function<void()> commit, std::function<void()> discard)
    : commit_(std::move(commit)), discard_(std::move(discard))
{
}

PreparedAtomicWrite::~PreparedAtomicWrite() { discard(); }

PreparedAtomicWrite::PreparedAtomicWrite(PreparedAtomicWrite&& other) noexcept
    : commit_(std::exchange(other.commit_, {})), discard_(std::exchange(other.discard_, {}))
{
}

PreparedAtomicWrite& PreparedAtomicWrite::operator=(PreparedAtomicWrite&& other) noexcept
{
    if (this != &other) {
        discard();
        commit_ = std::exchange(other.commit_, {});
        discard_ = std::exchange(other.discard_, {});
    }
    return *this;
}

void PreparedAtomicWrite::commit()
{
    // Whatever the commit does, nothing is left to discard afterwards: it
    // cleans up after itself when it fails.
    const std::function<void()> commit = std::exchange(commit_, {});
    discard_ = {};
    if (commit)
        commit();
}

void PreparedAtomicWrite::discard() noexcept
{
    commit_ = {};
    if (const std::function<void()> discard = std::exchange(discard_, {})) {
        try {
            discard();
        } catch (...) {
            // A temporary file that cannot be removed is what a crash leaves:
            // the next load clears it.
        }
    }
}

} // namespace tolvex
