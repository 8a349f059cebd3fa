// Fuzzes the dialogue: arbitrary bytes as standard input. Each input is answered twice, into
// records pre-filled with two different byte patterns. Either both runs are refused with status 1,
// or both complete and every dialogue field is the same in both: a field the dialogue did not
// actually fill would still show its pattern and differ.
#include <cstring>

#include "fuzz_support.h"
#include "setup/answer_reader.h"
#include "setup/dialogue.h"

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
    return std::memchr(a, '\0', capacity) != nullptr && std::memchr(b, '\0', capacity) != nullptr && std::strcmp(a, b) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    PrepareFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = WriteScratchFile("answers.txt", data, size);
    InputStruct a, b;
    const bool completed = Answer(path, 0xA5, &a);
    if (Answer(path, 0x5A, &b) != completed) __builtin_trap();
    if (!completed) return 0;
    if (!(Same(a.structure, b.structure) && a.structure >= 1 && a.structure <= 4 &&
          SameWord(a.factorFile, b.factorFile, sizeof a.factorFile) && SameWord(a.symbol, b.symbol, sizeof a.symbol) &&
          Same(a.latticeA, b.latticeA) && Same(a.hMax, b.hMax) && Same(a.kMax, b.kMax) && Same(a.lMax, b.lMax) &&
          Same(a.lambda, b.lambda) && Same(a.psiMin, b.psiMin) && Same(a.psiMax, b.psiMax) && Same(a.primaryH, b.primaryH) &&
          Same(a.primaryK, b.primaryK) && Same(a.primaryL, b.primaryL) && Same(a.deltaLambda, b.deltaLambda))) {
        __builtin_trap();
    }
    return 0;
}
