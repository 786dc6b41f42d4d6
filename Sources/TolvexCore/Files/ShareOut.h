#pragma once

#include <cstddef>
#include <functional>

namespace tolvex {

// Runs work(0) .. work(count - 1), each once, in small batches: on this
// thread alone below `parallelThreshold` items, else also on up to three
// helper threads (fewer where the machine or the system gives fewer). For
// items that each mostly wait on the kernel, such as one look at a file.
// Returns when every item is done; `work` must not throw.
void shareOut(std::size_t count, std::size_t parallelThreshold, const std::function<void(std::size_t)>& work);

} // namespace tolvex
