#include "setup/answer_source.h"

namespace {
bool g_fromOptions = false;
bool g_fromEnergy = false;
}  // namespace

void NameOptionsInMessages(bool wavelengthFromEnergy)
{
    g_fromOptions = true;
    g_fromEnergy = wavelengthFromEnergy;
}

const char* OptionNote(AnswerOption answer)
{
    if (!g_fromOptions) return "";
    switch (answer) {
        case AnswerOption::kTable: return " (--table)";
        case AnswerOption::kLattice: return " (--lattice)";
        case AnswerOption::kWavelength: return g_fromEnergy ? " (--energy)" : " (--wavelength)";
        case AnswerOption::kSymbol: return " (--symbol)";
        case AnswerOption::kPrimary: return " (--primary)";
    }
    return "";
}

bool WavelengthFromEnergy() { return g_fromEnergy; }
