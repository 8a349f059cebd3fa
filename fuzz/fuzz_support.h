// What the fuzz targets share: quiet standard output, one core, and a scratch folder for the files
// a target writes. A run that cannot go on throws RunError, which the targets catch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <string>
#include <unistd.h>

#include "io/run_error.h"

// Standard output goes to /dev/null: the program talks a lot and the fuzzer must not slow down.
// The process keeps to the core it starts on. The coverage tables the instrumentation writes at
// every comparison are shared by all threads: threads on two cores fight over their cache lines,
// and a glitch spectrum's dips, 2 s of work on one core, took 4 to 16 s on two. On one core the
// threads still run (and interleave) but in turn.
inline void PrepareFuzzing()
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    cpu_set_t one;
    CPU_ZERO(&one);
    const int core = ::sched_getcpu();
    CPU_SET(core >= 0 ? core : 0, &one);
    ::sched_setaffinity(0, sizeof one, &one);  // where it cannot, the fuzzer runs as before
}

inline const std::string& ScratchFolder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/kelto-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::abort();
        return std::string(pattern);
    }();
    return folder;
}

// Writes the bytes to a file of the given name in the scratch folder and returns its path.
inline std::string WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size)
{
    const std::string path = ScratchFolder() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) std::abort();
    return path;
}
