// The signals that interrupt a run, for the handler that ends it and for the threads that hold
// them back while they write.
#pragma once

#include <csignal>

// The interrupts that end a run (after its temporary files are removed), here and nowhere else.
inline constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Adds the interrupts to `set`, for holding them back.
inline void AddInterruptSignals(sigset_t* set)
{
    for (int signal : kInterruptSignals) sigaddset(set, signal);
}
