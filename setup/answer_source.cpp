#include "setup/answer_source.h"

AnswerSource AnswerSource::Options(const std::string& wavelengthOption)
{
    AnswerSource source;
    source.wavelengthOption_ = wavelengthOption;
    return source;
}

std::string AnswerSource::Note(AnswerOption answer) const
{
    if (!FromOptions()) return "";
    switch (answer) {
        case AnswerOption::kTable: return " (--table)";
        case AnswerOption::kLattice: return " (--lattice)";
        case AnswerOption::kWavelength: return " (" + wavelengthOption_ + ")";
        case AnswerOption::kSymbol: return " (--symbol)";
        case AnswerOption::kPrimary: return " (--primary)";
    }
    return "";
}
