// Fuzzes the coefficient-file reader: arbitrary bytes as the file, an arbitrary crystal symbol.
// Input layout: the first byte gives the symbol length (at most 79), then the symbol, then the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "fuzz_support.h"
#include "setup/factor_file.h"
#include "setup/input_struct.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InterceptEndOfRun();
    SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::size_t symbolLength = std::min<std::size_t>(data[0] % 80, size - 1);
    InputStruct record{};
    std::memcpy(record.symbol, data + 1, symbolLength);
    const std::string path = WriteScratchFile("coefficients.txt", data + 1 + symbolLength,
                                              size - 1 - symbolLength);
    std::snprintf(record.factorFile, sizeof record.factorFile, "%s", path.c_str());

    try {
        const int result = ReadFParam(&record);
        // A successful lookup leaves a symbol that equals its own upper-case form.
        if (result == 0) {
            char upper[80];
            std::memcpy(upper, record.symbol, sizeof upper);
            if (std::strcmp(StrUpper(upper), record.symbol) != 0) __builtin_trap();
        }
    } catch (const RunEnded&) {
        // The file exists, so the reader must never end the run by itself.
        __builtin_trap();
    }
    return 0;
}
