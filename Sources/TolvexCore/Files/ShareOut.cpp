#include "TolvexCore/Files/ShareOut.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace tolvex {

void shareOut(std::size_t count, std::size_t parallelThreshold, const std::function<void(std::size_t)>& work)
{
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        constexpr std::size_t batch = 64;
        for (std::size_t start = next.fetch_add(batch); start < count; start = next.fetch_add(batch)) {
            for (std::size_t i = start; i < std::min(start + batch, count); ++i)
                work(i);
        }
    };
    if (count < parallelThreshold) {
        worker();
        return;
    }
    const unsigned helpers = std::min(3u, std::max(1u, std::thread::hardware_concurrency()) - 1);
    std::vector<std::jthread> threads;
    threads.reserve(helpers);
    try {
        for (unsigned i = 0; i < helpers; ++i)
            threads.emplace_back(worker);
    } catch (const std::system_error&) {
        // No more threads to be had: those running and this one finish the work.
    }
    worker();
}

} // namespace tolvex
