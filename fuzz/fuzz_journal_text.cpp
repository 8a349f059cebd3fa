// Fuzzes the reading of a run's journal, the one file kelto finds in a folder and may act on:
// arbitrary bytes are read without a fault, and a text that is read is exactly what kelto writes
// for what was read, with plain names only.
#include <cstdint>
#include <string>

#include "io/journal_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    const std::optional<Journal> journal = ParseJournal(text, &why);
    if (!journal) {
        if (why.empty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    if (JournalText(*journal) != text || !IsRunId(journal->run) || journal->folders.empty()) __builtin_trap();
    for (const JournalFile& file : journal->files) {
        if (!IsPlainOutputName(file.final) || file.folder >= journal->folders.size()) __builtin_trap();
    }
    return 0;
}
