// What the fuzz targets share: quiet standard output and a scratch folder for the files a target
// writes. A run that cannot go on throws RunError, which the targets catch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "io/run_error.h"

// Standard output goes to /dev/null: the program talks a lot and the fuzzer must not slow down.
inline void PrepareFuzzing()
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
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
