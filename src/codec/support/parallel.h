// A parallel-for over [0, count) for codec loops whose items are independent.
// Work is handed out in chunks of `grain` items from a shared counter rather than
// cut into equal slices up front, because items differ in cost (an encoder that
// refits only its hard blocks) and the other core may be busy with someone else.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tplforge {

// 0 asks for one thread per core.
inline unsigned resolveThreads(unsigned threads) {
    if (threads == 0) threads = std::thread::hardware_concurrency();
    return std::max(threads, 1u);
}

// Calls body(begin, end) on disjoint sub-ranges covering [0, count), on up to
// `threads` threads counting the caller. The first exception a call throws stops
// the hand-out and is rethrown here once every thread has finished.
template <class Body>
void parallelFor(std::size_t count, unsigned threads, std::size_t grain, Body&& body) {
    if (count == 0) return;
    grain = std::max<std::size_t>(grain, 1);
    const std::size_t chunks = (count + grain - 1) / grain;
    const std::size_t workers = std::min<std::size_t>(resolveThreads(threads), chunks);
    if (workers <= 1) {
        body(std::size_t{0}, count);
        return;
    }

    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        for (;;) {
            const std::size_t chunk = next.fetch_add(1, std::memory_order_relaxed);
            if (chunk >= chunks) return;
            try {
                body(chunk * grain, std::min(count, (chunk + 1) * grain));
            } catch (...) {
                const std::lock_guard lock(failureLock);
                if (!failure) failure = std::current_exception();
                next.store(chunks, std::memory_order_relaxed);
            }
        }
    };

    {
        std::vector<std::jthread> pool;
        pool.reserve(workers - 1);
        try {
            for (std::size_t i = 1; i < workers; ++i) pool.emplace_back(work);
        } catch (const std::system_error&) {
            // Fewer threads than asked for is still a correct run.
        }
        work();
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace tplforge
