// A long calculation stopped from outside (an interrupt typed in Python while the engine computes
// on a worker thread): the caller sets a flag, the engine's loops poll it and throw Cancelled, and
// the partial results unwind with the stack. The flag is the calling thread's, handed on to the
// threads of ParallelFor; a thread without one is never cancelled.
#pragma once

#include <atomic>
#include <stdexcept>

struct Cancelled : std::runtime_error {
    Cancelled() : std::runtime_error("the calculation was cancelled") {}
};

inline const std::atomic<bool>*& CancellationFlag()
{
    thread_local const std::atomic<bool>* flag = nullptr;
    return flag;
}

// Throws Cancelled once the flag of this thread is set.
inline void PollCancellation()
{
    const std::atomic<bool>* flag = CancellationFlag();
    if (flag != nullptr && flag->load(std::memory_order_relaxed)) throw Cancelled();
}

// Makes `flag` this thread's for the scope's lifetime.
class CancellationScope {
public:
    explicit CancellationScope(const std::atomic<bool>* flag) : previous_(CancellationFlag()) { CancellationFlag() = flag; }
    ~CancellationScope() { CancellationFlag() = previous_; }
    CancellationScope(const CancellationScope&) = delete;
    CancellationScope& operator=(const CancellationScope&) = delete;

private:
    const std::atomic<bool>* previous_;
};
