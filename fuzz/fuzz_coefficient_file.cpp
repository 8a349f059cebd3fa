// Fuzzes the coefficient-file reader: arbitrary bytes as the file, an arbitrary crystal symbol.
// Input layout: the first byte gives the symbol length (at most 79), then the symbol, then the file.
// A record that is found must hold nine numbers that really stand, after its key, on its own
// lines of the file; a broken one may only end the run with status 1.
#include <cctype>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "setup/factor_file.h"

namespace {

// The words of lines `first` to `last` (counted from 1) of `text`.
std::vector<std::string> WordsOfLines(const std::string& text, long first, long last)
{
    std::vector<std::string> words;
    long line = 1;
    std::string word;
    for (const char c : text + "\n") {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            if (line >= first && line <= last) word.push_back(c);
            continue;
        }
        if (!word.empty()) words.push_back(word);
        word.clear();
        if (c == '\n') ++line;
    }
    return words;
}

bool FoundOnItsOwnLines(const std::string& text, const CoefficientLookup& lookup, const char* upperKey)
{
    const std::vector<std::string> words = WordsOfLines(text, lookup.keyLine, lookup.lastLine);
    for (std::size_t i = 0; i + 9 < words.size(); ++i) {
        std::string key = words[i];
        if (std::strcmp(StrUpper(key.data()), upperKey) != 0) continue;
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
    } catch (const RunEnded& end) {
        if (end.status != 1) __builtin_trap();  // a broken matching record
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
