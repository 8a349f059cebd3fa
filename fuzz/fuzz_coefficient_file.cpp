// Fuzzes the coefficient-file reader: arbitrary bytes as the file, an arbitrary crystal symbol.
// Input layout: the first byte gives the symbol length (at most 79), then the symbol, then the file.
// A record that is found must hold nine numbers that really stand, after its key, on its own
// lines of the file; a broken one may only end the run with status 1.
#include <cstring>
#include <iterator>
#include <sstream>
#include <vector>

#include "fuzz_support.h"
#include "setup/factor_file.h"

namespace {

// True when, on lines `first` to `last` (from 1) of `text`, a word equal to `key` without regard
// to case is followed by the nine numbers, bit for bit.
bool FoundOnItsOwnLines(const std::string& text, const CoefficientLookup& lookup, const char* key)
{
    std::istringstream lines(text);
    std::string line, span;
    for (long n = 1; std::getline(lines, line) && n <= lookup.lastLine; ++n) {
        if (n >= lookup.keyLine) span += line + "\n";
    }
    std::istringstream in(span);
    std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    for (std::size_t i = 0; i + 9 < words.size(); ++i) {
        if (std::strcmp(StrUpper(words[i].data()), key) != 0) continue;
        bool same = true;
        for (int n = 0; n < 9 && same; ++n) {
            const float value = std::strtof(words[i + 1 + n].c_str(), nullptr);
            same = std::memcmp(&value, &lookup.coefficients[n], sizeof value) == 0;
        }
        if (same) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    PrepareFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::size_t symbolLength = std::min<std::size_t>(data[0] % 80, size - 1);
    InputStruct record{};
    std::memcpy(record.symbol, data + 1, symbolLength);
    const std::string text(reinterpret_cast<const char*>(data) + 1 + symbolLength, size - 1 - symbolLength);
    const std::string path = WriteScratchFile("coefficients.txt", data + 1 + symbolLength, text.size());
    std::snprintf(record.factorFile, sizeof record.factorFile, "%s", path.c_str());

    int result = 1;
    try {
        result = ReadFParam(&record);
    } catch (const RunError& end) {
        if (end.status() != 1) __builtin_trap();  // a broken matching record
        return 0;
    }
    if (result != 0) return 0;
    // The symbol is kept upper-cased, and the coefficients are those of its own record.
    char upper[80];
    std::memcpy(upper, record.symbol, sizeof upper);
    if (std::strcmp(StrUpper(upper), record.symbol) != 0) __builtin_trap();
    std::FILE* file = std::fopen(path.c_str(), "r");
    const CoefficientLookup lookup = FindCoefficientRecord(file, record.symbol);
    std::fclose(file);
    if (lookup.result != CoefficientLookup::kFound ||
        std::memcmp(lookup.coefficients, record.f0Coef, sizeof record.f0Coef) != 0 ||
        !FoundOnItsOwnLines(text, lookup, record.symbol)) {
        __builtin_trap();
    }
    return 0;
}
