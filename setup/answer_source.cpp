#include "setup/answer_source.h"

#include <string>

namespace {
bool g_fromOptions = false;
std::string g_wavelengthNote;
}  // namespace

void NameOptionsInMessages(const char* wavelengthOption)
{
    g_fromOptions = true;
    g_wavelengthNote = std::string(" (") + wavelengthOption + ")";
}

const char* OptionNote(AnswerOption answer)
{
    if (!g_fromOptions) return "";
    switch (answer) {
        case AnswerOption::kTable: return " (--table)";
        case AnswerOption::kLattice: return " (--lattice)";
        case AnswerOption::kWavelength: return g_wavelengthNote.c_str();
        case AnswerOption::kSymbol: return " (--symbol)";
        case AnswerOption::kPrimary: return " (--primary)";
    }
    return "";
}

bool WavelengthFromEnergy() { return g_fromOptions && g_wavelengthNote != " (--wavelength)"; }
