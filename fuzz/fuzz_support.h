// What the fuzz targets share: the run's end turned into an exception, quiet standard output and
// a scratch folder for the files a target writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct RunEnded {
    int status;
};

// Makes every early end of the run throw RunEnded instead of ending the process.
void InterceptEndOfRun();

// Sends standard output to /dev/null: the program talks a lot and the fuzzer must not slow down.
void SilenceStandardOutput();

// Writes `size` bytes to a file of the given name in the scratch folder and returns its path.
std::string WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size);

// Makes the scratch folder the current folder.
void EnterScratchFolder();
