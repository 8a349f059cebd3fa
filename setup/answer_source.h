// Where the answers of a run came from: the dialogue, or command-line options. A message about an
// answer names the option when there is one, so that the user of a script knows what to mend.
// The run holds its source and hands it to each step that words a message.
#pragma once

#include <string>

enum class AnswerOption { kTable, kLattice, kWavelength, kSymbol, kPrimary };

class AnswerSource {
public:
    // The dialogue's answers: messages name no option.
    AnswerSource() = default;
    // Answers given as options; `wavelengthOption` is the one that gave the wavelength
    // (--wavelength, or --energy, --energies or --clean-energies, which give it as an energy).
    static AnswerSource Options(const std::string& wavelengthOption);

    bool FromOptions() const { return !wavelengthOption_.empty(); }
    // The option that gave the wavelength; "" for the dialogue.
    const std::string& WavelengthOption() const { return wavelengthOption_; }
    // " (--table)" and the like for answers given as options; "" for the dialogue's answers.
    std::string Note(AnswerOption answer) const;
    // True when the wavelength was given as an energy (messages then give energies too).
    bool WavelengthFromEnergy() const { return FromOptions() && wavelengthOption_ != "--wavelength"; }

private:
    std::string wavelengthOption_;
};
