// Fuzzes the dialogue: arbitrary bytes as standard input. Each input is answered twice, into
// records pre-filled with two different byte patterns. Either both runs are refused with status 1,
// or both complete and every dialogue field is the same in both: a field the dialogue did not
// actually fill would still show its pattern and differ.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "setup/answer_reader.h"
#include "setup/dialogue.h"
#include "setup/input_struct.h"

namespace {

// Answers `path` into a record filled with `pattern`; true when the dialogue completed.
bool Answer(const std::string& path, unsigned char pattern, InputStruct* record)
{
    if (std::freopen(path.c_str(), "r", stdin) == nullptr) __builtin_trap();
    ResetAnswerReader();
    std::memset(record, pattern, sizeof *record);
    try {
        FillInputStruct(record);
    } catch (const RunEnded& end) {
        if (end.status != 1) __builtin_trap();
        return false;
    }
    return true;
}

template <typename T>
bool Same(const T& a, const T& b) { return std::memcmp(&a, &b, sizeof(T)) == 0; }

bool SameWord(const char* a, const char* b, std::size_t capacity)
{
    return std::memchr(a, '\0', capacity) != nullptr && std::memchr(b, '\0', capacity) != nullptr &&
           std::strcmp(a, b) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InterceptEndOfRun();
    SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = WriteScratchFile("answers.txt", data, size);
    InputStruct first, second;
    const bool completed = Answer(path, 0xA5, &first);
    if (Answer(path, 0x5A, &second) != completed) __builtin_trap();
    if (!completed) return 0;

    const bool same =
        Same(first.structure, second.structure) && first.structure != 5 &&
        SameWord(first.factorFile, second.factorFile, sizeof first.factorFile) &&
        Same(first.latticeA, second.latticeA) && Same(first.hMax, second.hMax) &&
        Same(first.kMax, second.kMax) && Same(first.lMax, second.lMax) &&
        Same(first.lambda, second.lambda) &&
        SameWord(first.symbol, second.symbol, sizeof first.symbol) &&
        Same(first.psiMin, second.psiMin) && Same(first.psiMax, second.psiMax) &&
        Same(first.primaryH, second.primaryH) && Same(first.primaryK, second.primaryK) &&
        Same(first.primaryL, second.primaryL) && Same(first.deltaLambda, second.deltaLambda);
    if (!same) __builtin_trap();
    return 0;
}
