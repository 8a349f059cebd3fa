// Work on independent items spread over the machine's cores: the strengths of a glitch map, each
// with the anomalous scattering factors of its own energy, are the engine's costliest step.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "scan/cancellation.h"

// Calls work(i) for every i below `count`, on up to one thread per core.
// `work` must touch nothing that another item's work touches. The first exception a share throws
// is thrown again once all shares are done. Shares whose thread cannot be started (too little
// address space for its stack, too many threads) are done on the calling thread.
// `worthAThread` is the number of items below which one thread is quicker (small items by default;
// 1 for items that are each a large piece of work). Each item polls the caller's cancellation flag.
template <typename Work>
void ParallelFor(std::size_t count, Work&& work, std::size_t worthAThread = 2048)
{
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t shares = std::min<std::size_t>({cores, 8, count, count / worthAThread + 1});
    if (shares <= 1) {
        for (std::size_t i = 0; i < count; ++i) PollCancellation(), work(i);
        return;
    }
    std::vector<std::exception_ptr> failures(shares);
    std::vector<std::thread> threads;
    const std::atomic<bool>* cancel = CancellationFlag();
    // Items are handed out in small runs as threads come free, so that costly items bunched at
    // one end of the list (the deep glitches of low energies) do not leave one thread working alone.
    const std::size_t run = std::max<std::size_t>(1, count / (shares * 16));
    std::atomic<std::size_t> next{0};
    const auto share = [&](std::size_t s) {
        try {
            const CancellationScope scope(cancel);
            for (std::size_t from = next.fetch_add(run); from < count; from = next.fetch_add(run)) {
                for (std::size_t i = from; i < std::min(count, from + run); ++i) PollCancellation(), work(i);
            }
        } catch (...) {
            failures[s] = std::current_exception();
        }
    };
    threads.reserve(shares - 1);
    std::size_t started = 1;
    for (; started < shares; ++started) {
        try {
            threads.emplace_back(share, started);
        } catch (const std::system_error&) {
            break;
        }
    }
    share(0);
    for (std::size_t s = started; s < shares; ++s) share(s);
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}
