// A small text file a user hands kelto (a measured scan, a table), read whole.
#pragma once

#include <cstddef>
#include <string>

// The text of the file at `path`, called `what` in the refusal (RunError) thrown when it cannot be
// opened or read, or is larger than `largest` bytes (then "is larger than N MiB: `notOne`").
std::string ReadTextFile(const std::string& path, const char* what, std::size_t largest, const char* notOne);
